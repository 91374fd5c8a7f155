// The seam between the command senders and the platform's pass-through:
// a device that stopped answering gets nothing more (scsi_withheld.h).
#include "scsi_request.h"

#include "scsi_withheld.h"

namespace {

ScsiPassThroughFn g_passThrough = scsi_PlatformPassThrough;

}  // namespace

int scsi_PassThrough(int fd, ScsiRequest* request) {
    int result = 0;
    if (scsi_AnswerWithheld(fd, request, &result)) {
        return result;
    }
    result = g_passThrough(fd, request);
    if (result == 0) {
        scsi_NoteAnswer(fd, *request);
    }
    return result;
}

ScsiPassThroughFn scsi_SetPassThrough(ScsiPassThroughFn fn) {
    ScsiPassThroughFn previous = g_passThrough;
    g_passThrough = fn != nullptr ? fn : scsi_PlatformPassThrough;
    return previous;
}
