// The TEST UNIT READY and INQUIRY senders of tsexTool and ts_showdisk: one
// request through the device layer (scsi/), and its failure reported in the
// program's own words through the program's own logger.
#ifndef TSKIT_LUN_SEND_H
#define TSKIT_LUN_SEND_H

#include "lun_plan.h"

// How a program sends and reports: the timeout of each request, its logger,
// and the formats of a failed ioctl (strerror's text, errno) and of an
// INQUIRY that came back with an error status (page, status, host status,
// driver status). Both are reported at threshold kLunSendReportLevel.
struct LunSender {
    unsigned int timeoutMs;
    void (*log)(int threshold, const char* format, ...);
    const char* turSendFailed;
    const char* inquirySendFailed;
    const char* inquiryNotGood;
};
constexpr int kLunSendReportLevel = 3;

// TEST UNIT READY, retried on UNIT ATTENTION and on retryable transport
// errors (kScsiTurAttempts requests in all; a failed ioctl ends at once).
// 0 when the unit is ready, else -1.
int lun_SendTur(int fd, const LunSender& sender);

// One INQUIRY into buffer (allocLen bytes, zero-filled first). 0 when
// status, host status and driver status are all 0, else -1; a missing
// buffer or a length of 0 or less sends nothing and reports nothing.
int lun_SendInquiry(int fd, const LunSender& sender, unsigned char evpd, unsigned char page,
                    unsigned char* buffer, int allocLen);

#endif  // TSKIT_LUN_SEND_H
