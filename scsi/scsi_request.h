// One SCSI command on its way to a device and back: the command block, the
// data buffer and its direction, the sense buffer and the time-out going in;
// what the pass-through says of the command coming back. Every program of the
// kit sends every command through scsi_PassThrough, so one place sees each
// command that leaves the host.
#ifndef TSKIT_SCSI_REQUEST_H
#define TSKIT_SCSI_REQUEST_H

#include <cstdint>

enum ScsiDirection {
    SCSI_DIR_NONE = 0,
    SCSI_DIR_FROM_DEVICE = 1,
    SCSI_DIR_TO_DEVICE = 2,
};

struct ScsiRequest {
    // Going in.
    const unsigned char* cdb;
    unsigned char cdbLen;
    ScsiDirection direction;
    unsigned char* data;
    unsigned int dataLen;
    unsigned char* sense;  // may be null: no sense data is asked for
    unsigned char senseLen;
    unsigned int timeoutMs;

    // Coming back, valid when scsi_PassThrough returned 0.
    unsigned char status;         // SCSI status byte
    unsigned short hostStatus;    // transport verdict (DID_* on Linux)
    unsigned short driverStatus;  // low-level driver verdict
    bool checkReported;           // some error or sense was reported
    unsigned char senseWritten;   // bytes of sense data returned
    int resid;                    // data bytes not transferred

    // Set when scsi_PassThrough returned -1: the system's error number.
    int sysError;
};

// A pass-through: 0 when the command reached the device and came back (the
// statuses say how it went), -1 with request->sysError when the system call
// itself failed.
using ScsiPassThroughFn = int (*)(int fd, ScsiRequest* request);

// Sends one command through the installed pass-through (the platform's own
// unless a test installed another).
int scsi_PassThrough(int fd, ScsiRequest* request);

// Installs fn in place of the platform's pass-through (nullptr puts the
// platform's back) and returns the one installed before.
ScsiPassThroughFn scsi_SetPassThrough(ScsiPassThroughFn fn);

// A run's journal of commands (common/query_process.h). answer, when set,
// answers every command in place of the device: true with *result. sent and
// answered see each command that goes out and its outcome.
struct ScsiJournal {
    bool (*answer)(int fd, ScsiRequest* request, int* result);
    void (*sent)(int fd, const ScsiRequest& request);
    void (*answered)(int fd, const ScsiRequest& request, int result);
};

// Installs journal (nullptr: none). The journal outlives the run.
void scsi_SetJournal(const ScsiJournal* journal);

// The platform's pass-through, one file per platform: SG_IO on Linux (and
// the ESXi shell), USCSI on SunOS.
int scsi_PlatformPassThrough(int fd, ScsiRequest* request);

#endif  // TSKIT_SCSI_REQUEST_H
