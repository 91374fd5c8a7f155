// The SunOS pass-through: one USCSI command through the Solaris platform
// layer (the USCSICMD ioctl on SunOS, its substitute on a simulated host).
// The ssd driver fails the ioctl itself (EIO) for a command that ended with
// a status other than GOOD, so a command that comes back here went well.
#include <errno.h>

#include <cstring>

#include "solaris/solaris_platform.h"
#include "scsi_request.h"

namespace {

constexpr unsigned int kMsPerSecond = 1000;

// USCSI counts whole seconds; a part second is a second.
short TimeoutSeconds(unsigned int timeoutMs) {
    const unsigned int seconds = timeoutMs / kMsPerSecond + (timeoutMs % kMsPerSecond != 0 ? 1 : 0);
    return static_cast<short>(seconds > 0x7FFF ? 0x7FFF : seconds);
}

}  // namespace

int scsi_PlatformPassThrough(int fd, ScsiRequest* request) {
    TS_UscsiCmd cmd;
    std::memset(&cmd, 0, sizeof cmd);
    // Anything that is not a write is read, a command without data included.
    cmd.uscsi_flags = request->direction == SCSI_DIR_TO_DEVICE ? TS_USCSI_WRITE : TS_USCSI_READ;
    cmd.uscsi_flags |= TS_USCSI_ISOLATE;
    cmd.uscsi_timeout = TimeoutSeconds(request->timeoutMs);
    // USCSI reads the command block only.
    cmd.uscsi_cdb = reinterpret_cast<char*>(const_cast<unsigned char*>(request->cdb));
    cmd.uscsi_cdblen = request->cdbLen;
    cmd.uscsi_bufaddr = reinterpret_cast<char*>(request->data);
    cmd.uscsi_buflen = request->dataLen;
    // No request-sense buffer: without USCSI_RQENABLE the driver would not
    // fill it, and the kit decides by the ioctl's result alone on SunOS.
    if (TS_PlatUscsiCmd(fd, &cmd) != 0) {
        request->sysError = errno;
        return -1;
    }
    request->status = static_cast<unsigned char>(cmd.uscsi_status);
    request->hostStatus = 0;
    request->driverStatus = 0;
    request->checkReported = cmd.uscsi_status != 0;
    request->senseWritten = 0;
    request->resid = static_cast<int>(cmd.uscsi_resid);
    return 0;
}
