// The seam between the command senders and the platform's pass-through.
// Every program of the kit sends every command through scsi_PassThrough, so
// one place sees each command that leaves the host.
#ifndef TSKIT_SCSI_REQUEST_H
#define TSKIT_SCSI_REQUEST_H

#include "scsi_record.h"

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
