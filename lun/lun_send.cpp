// The programs' TEST UNIT READY and INQUIRY senders.
#include "lun_send.h"

#include <string.h>

#include "../scsi/scsi_commands.h"

namespace {

void ReportSendFailure(const LunSender& sender, const char* format, const ScsiExchange& exchange) {
    const int err = exchange.request.sysError;
    sender.log(kLunSendReportLevel, format, strerror(err), err);
}

}  // namespace

int lun_SendTur(int fd, const LunSender& sender) {
    ScsiExchange exchange;
    const int result = scsi_TestUnitReady(fd, sender.timeoutMs, kScsiTurAttempts, &exchange);
    if (result == SCSI_SEND_FAILED) {
        ReportSendFailure(sender, sender.turSendFailed, exchange);
    }
    return result == SCSI_GOOD ? 0 : -1;
}

int lun_SendInquiry(int fd, const LunSender& sender, unsigned char evpd, unsigned char page,
                    unsigned char* buffer, int allocLen) {
    ScsiExchange exchange;
    const int result = scsi_Inquiry(fd, evpd, page, buffer, allocLen, sender.timeoutMs, &exchange);
    if (result == SCSI_SEND_FAILED) {
        ReportSendFailure(sender, sender.inquirySendFailed, exchange);
    } else if (result == SCSI_NOT_GOOD) {
        const ScsiRequest& done = exchange.request;
        sender.log(kLunSendReportLevel, sender.inquiryNotGood, static_cast<unsigned int>(page),
                   done.status, done.hostStatus, done.driverStatus);
    }
    return result == SCSI_GOOD ? 0 : -1;
}
