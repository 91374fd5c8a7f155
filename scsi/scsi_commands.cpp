// The command senders and the sense decoder.
#include "scsi_commands.h"

#include "boundedfunc.h"
#include "scsi_bytes.h"
#include "scsi_withheld.h"

namespace {

constexpr unsigned char kOpTestUnitReady = 0x00;
constexpr unsigned char kOpInquiry = 0x12;
constexpr unsigned char kOpReadCapacity10 = 0x25;
constexpr unsigned char kOpServiceActionIn16 = 0x9E;
constexpr unsigned char kSaReadCapacity16 = 0x10;

constexpr unsigned char kSixByteCdb = 6;
constexpr unsigned char kTenByteCdb = 10;
constexpr unsigned char kSixteenByteCdb = 16;

constexpr int kSenseKeyUnitAttention = 6;
// Transport statuses after which the sense data decides: DID_OK,
// DID_NO_CONNECT, DID_BAD_TARGET, DID_ABORT and DID_TRANSPORT_FAILFAST (15).
// Every other one (busy bus, reset, ...) is worth another try, except a
// time-out (scsi_JudgeTur).
constexpr unsigned int kSenseDecidesHostStatusMask = 0x8033;

bool SenseDecides(unsigned int hostStatus) {
    return hostStatus <= 15 && ((kSenseDecidesHostStatusMask >> hostStatus) & 1U) != 0;
}

// A zeroed exchange for a command of cdbLen bytes reading dataLen bytes
// into data.
void Prepare(ScsiExchange* exchange, unsigned char cdbLen, unsigned char* data,
             unsigned int dataLen, unsigned int timeoutMs) {
    (void)memset_s(exchange, sizeof *exchange, 0, sizeof *exchange);
    ScsiRequest& request = exchange->request;
    request.cdb = exchange->cdb;
    request.cdbLen = cdbLen;
    // Every command of the kit reads, TEST UNIT READY (no data) included:
    // it goes out as a read of no bytes.
    request.direction = SCSI_DIR_FROM_DEVICE;
    request.data = data;
    request.dataLen = dataLen;
    request.sense = exchange->sense;
    request.senseLen = kScsiSenseLen;
    request.timeoutMs = timeoutMs;
}

int Send(int fd, ScsiExchange* exchange) {
    ScsiRequest& request = exchange->request;
    if (scsi_PassThrough(fd, &request) != 0) {
        return SCSI_SEND_FAILED;
    }
    const bool good = request.status == 0 && request.hostStatus == 0 && request.driverStatus == 0;
    return good ? SCSI_GOOD : SCSI_NOT_GOOD;
}

}  // namespace

void scsi_DecodeSense(const unsigned char* sense, int written, int* key, int* asc, int* ascq) {
    if (sense == nullptr || written < 4) {
        return;
    }
    if (sense[0] == 0x72 || sense[0] == 0x73) {
        *key = sense[1] & 0x0F;
        *asc = sense[2];
        *ascq = sense[3];
        return;
    }
    const int format = sense[0] & 0x7F;
    if (written >= 14 && (format == 0x70 || format == 0x71)) {
        *key = sense[2] & 0x0F;
        *asc = sense[12];
        *ascq = sense[13];
    }
}

ScsiTurVerdict scsi_JudgeTur(const ScsiRequest& request) {
    if (!request.checkReported) {
        return SCSI_TUR_READY;
    }
    // Another try would wait out the same timeout, and the device gets no
    // more commands in this run anyway.
    if (scsi_TimedOut(request)) {
        return SCSI_TUR_FAILED;
    }
    if (!SenseDecides(request.hostStatus)) {
        return SCSI_TUR_RETRY;
    }
    int key = 0;
    int asc = 0;
    int ascq = 0;
    scsi_DecodeSense(request.sense, request.senseWritten, &key, &asc, &ascq);
    return key == kSenseKeyUnitAttention ? SCSI_TUR_RETRY : SCSI_TUR_FAILED;
}

int scsi_TestUnitReady(int fd, unsigned int timeoutMs, int attempts, ScsiExchange* exchange) {
    while (attempts > 0) {
        Prepare(exchange, kSixByteCdb, nullptr, 0, timeoutMs);
        scsi_TestUnitReadyCdb(exchange->cdb);
        if (scsi_PassThrough(fd, &exchange->request) != 0) {
            return SCSI_SEND_FAILED;
        }
        switch (scsi_JudgeTur(exchange->request)) {
            case SCSI_TUR_READY:
                return SCSI_GOOD;
            case SCSI_TUR_RETRY:
                --attempts;
                break;
            case SCSI_TUR_FAILED:
                return SCSI_NOT_GOOD;
        }
    }
    return SCSI_NOT_GOOD;
}

void scsi_TestUnitReadyCdb(unsigned char* cdb) {
    (void)memset_s(cdb, kSixByteCdb, 0, kSixByteCdb);
    cdb[0] = kOpTestUnitReady;
}

void scsi_ReadCapacity10Cdb(unsigned char* cdb) {
    (void)memset_s(cdb, kTenByteCdb, 0, kTenByteCdb);
    cdb[0] = kOpReadCapacity10;
}

void scsi_ReadCapacity16Cdb(unsigned char* cdb) {
    (void)memset_s(cdb, kSixteenByteCdb, 0, kSixteenByteCdb);
    cdb[0] = kOpServiceActionIn16;
    cdb[1] = kSaReadCapacity16;
    // Allocation length in bytes 10..13, most significant first.
    cdb[13] = kScsiCapacity16DataLen;
}

void scsi_InquiryCdb(unsigned char* cdb, unsigned char evpd, unsigned char page, int allocLen) {
    (void)memset_s(cdb, kSixByteCdb, 0, kSixByteCdb);
    cdb[0] = kOpInquiry;
    cdb[1] = evpd;
    cdb[2] = page;
    cdb[3] = static_cast<unsigned char>((allocLen >> 8) & 0xFF);
    cdb[4] = static_cast<unsigned char>(allocLen & 0xFF);
}

int scsi_Inquiry(int fd, unsigned char evpd, unsigned char page, unsigned char* buffer,
                 int allocLen, unsigned int timeoutMs, ScsiExchange* exchange) {
    if (buffer == nullptr || allocLen <= 0) {
        return SCSI_REFUSED;
    }
    const size_t size = static_cast<size_t>(allocLen);
    (void)memset_s(buffer, size, 0, size);
    Prepare(exchange, kSixByteCdb, buffer, static_cast<unsigned int>(allocLen), timeoutMs);
    scsi_InquiryCdb(exchange->cdb, evpd, page, allocLen);
    return Send(fd, exchange);
}

int scsi_ReadCapacity10(int fd, unsigned int timeoutMs, uint32_t* lastLba, uint32_t* blockLength,
                        ScsiExchange* exchange) {
    unsigned char data[kScsiCapacity10DataLen] = {};
    Prepare(exchange, kTenByteCdb, data, sizeof data, timeoutMs);
    scsi_ReadCapacity10Cdb(exchange->cdb);
    const int result = Send(fd, exchange);
    exchange->request.data = nullptr;  // data lives on this frame only
    if (result == SCSI_GOOD) {
        *lastLba = scsi_Be32(data);
        *blockLength = scsi_Be32(data + 4);
    }
    return result;
}

int scsi_ReadCapacity16(int fd, unsigned int timeoutMs, uint64_t* lastLba, uint32_t* blockLength,
                        ScsiExchange* exchange) {
    unsigned char data[kScsiCapacity16DataLen] = {};
    Prepare(exchange, kSixteenByteCdb, data, sizeof data, timeoutMs);
    scsi_ReadCapacity16Cdb(exchange->cdb);
    const int result = Send(fd, exchange);
    exchange->request.data = nullptr;
    if (result == SCSI_GOOD) {
        *lastLba = scsi_Be64(data);
        *blockLength = scsi_Be32(data + 8);
    }
    return result;
}
