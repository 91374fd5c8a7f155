// The seam between the command senders and the platform's pass-through.
#include "scsi_request.h"

namespace {

ScsiPassThroughFn g_passThrough = scsi_PlatformPassThrough;

}  // namespace

int scsi_PassThrough(int fd, ScsiRequest* request) {
    return g_passThrough(fd, request);
}

ScsiPassThroughFn scsi_SetPassThrough(ScsiPassThroughFn fn) {
    ScsiPassThroughFn previous = g_passThrough;
    g_passThrough = fn != nullptr ? fn : scsi_PlatformPassThrough;
    return previous;
}
