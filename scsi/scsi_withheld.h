// Devices the kit sends nothing more to in this run. A device that let one
// command time out is most likely a hung target or controller: each further
// command would wait out the block layer's timeout again (SG_IO raises any
// timeout below 7 s to 7 s), so every later command to it completes at once
// as timed out, without reaching the host's SCSI layer. A dm map that queues
// I/O and has no usable path never returns a pass-through at all (the kernel
// retries it until the process is killed); the programs read that from the
// multipath listing and withhold its node before they query it, and every
// command to it then fails as the kernel's own verdict for that map does,
// "not connected".
//
// A device is known by its device number (a block or character node) or,
// for anything else, by its file, so that closing and opening the node
// again does not make it new. Safe to use from the query pool's threads.
#ifndef TSKIT_SCSI_WITHHELD_H
#define TSKIT_SCSI_WITHHELD_H

#include "scsi_record.h"

// Whether a completed request timed out: the SCSI layer aborted it with host
// status DID_TIME_OUT, or an older kernel's driver status says
// DRIVER_TIMEOUT.
bool scsi_TimedOut(const ScsiRequest& request);

// Withholds every command from the node at path for the rest of the run:
// each fails with ENOTCONN, unsent. 0, or -1 when the node cannot be
// looked at (then nothing can be opened there to send to either).
int scsi_WithholdNode(const char* path);

// Called by scsi_PassThrough around each command. scsi_AnswerWithheld
// returns true, with the request completed (0 in *result) or failed (-1),
// when fd's device gets no more commands; scsi_NoteAnswer remembers a
// device whose command just timed out.
bool scsi_AnswerWithheld(int fd, ScsiRequest* request, int* result);
void scsi_NoteAnswer(int fd, const ScsiRequest& request);

// Forgets every withheld device (tests).
void scsi_ForgetWithheld();

#endif  // TSKIT_SCSI_WITHHELD_H
