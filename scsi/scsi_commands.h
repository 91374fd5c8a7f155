// The three commands the kit sends: TEST UNIT READY with its retry budget,
// INQUIRY and READ CAPACITY(10)/(16); and the decoding of sense data. The
// senders build the command block and hand it to scsi_PassThrough; they open
// nothing and print nothing: each program words its own messages from the
// request that comes back.
#ifndef TSKIT_SCSI_COMMANDS_H
#define TSKIT_SCSI_COMMANDS_H

#include <cstdint>

#include "scsi_request.h"

enum ScsiResult {
    SCSI_GOOD = 0,          // completed with status, host and driver statuses all 0
    SCSI_SEND_FAILED = -1,  // the pass-through failed: request.sysError says why
    SCSI_NOT_GOOD = -2,     // completed, with an error status
    SCSI_REFUSED = -3,      // not sent: no buffer, or no length to ask for
};

constexpr int kScsiSenseLen = 32;
constexpr int kScsiTurAttempts = 5;
// Bytes of READ CAPACITY(10) and (16) data the kit asks for.
constexpr unsigned int kScsiCapacity10DataLen = 8;
constexpr unsigned int kScsiCapacity16DataLen = 32;

// A command's block and sense buffer, and what came back of its last try.
struct ScsiExchange {
    unsigned char cdb[16];
    unsigned char sense[kScsiSenseLen];
    ScsiRequest request;
};

// Sense key, ASC and ASCQ from fixed (at least 14 bytes written) or
// descriptor (at least 4) sense data; left as the caller set them when the
// sense data is not recognised.
void scsi_DecodeSense(const unsigned char* sense, int written, int* key, int* asc, int* ascq);

// What one completed TEST UNIT READY says.
enum ScsiTurVerdict { SCSI_TUR_READY, SCSI_TUR_RETRY, SCSI_TUR_FAILED };
ScsiTurVerdict scsi_JudgeTur(const ScsiRequest& request);

// TEST UNIT READY, tried again on UNIT ATTENTION and on transport statuses
// worth another try (never after a time-out), at most `attempts` requests in all. SCSI_GOOD when
// the unit is ready, SCSI_SEND_FAILED at once when the pass-through fails (no retry), SCSI_NOT_GOOD
// otherwise. exchange holds the last try.
int scsi_TestUnitReady(int fd, unsigned int timeoutMs, int attempts, ScsiExchange* exchange);

// Fills a 6-byte INQUIRY block: EVPD flag, page code, 16-bit allocation length.
void scsi_InquiryCdb(unsigned char* cdb, unsigned char evpd, unsigned char page, int allocLen);

// The other command blocks the kit sends: TEST UNIT READY (6 bytes), READ
// CAPACITY(10) (10 bytes) and READ CAPACITY(16) asking for
// kScsiCapacity16DataLen bytes (16 bytes).
void scsi_TestUnitReadyCdb(unsigned char* cdb);
void scsi_ReadCapacity10Cdb(unsigned char* cdb);
void scsi_ReadCapacity16Cdb(unsigned char* cdb);

// One INQUIRY into buffer, zero-filled first (allocLen bytes), so bytes the
// device does not return read as 0. For a missing
// buffer or a length of 0 or less: SCSI_REFUSED, nothing sent.
int scsi_Inquiry(int fd, unsigned char evpd, unsigned char page, unsigned char* buffer,
                 int allocLen, unsigned int timeoutMs, ScsiExchange* exchange);

// READ CAPACITY(10): the last block address and the block length.
int scsi_ReadCapacity10(int fd, unsigned int timeoutMs, uint32_t* lastLba, uint32_t* blockLength,
                        ScsiExchange* exchange);

// READ CAPACITY(16) (SERVICE ACTION IN): the 64-bit last block address and
// the block length.
int scsi_ReadCapacity16(int fd, unsigned int timeoutMs, uint64_t* lastLba, uint32_t* blockLength,
                        ScsiExchange* exchange);

#endif  // TSKIT_SCSI_COMMANDS_H
