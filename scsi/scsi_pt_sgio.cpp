// The Linux pass-through: one SG_IO ioctl on the device node. The ESXi shell
// offers the same interface on its /dev/disks nodes.
#include <errno.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <cstring>

#include "scsi_request.h"

namespace {

int SgDirection(ScsiDirection direction) {
    switch (direction) {
        case SCSI_DIR_FROM_DEVICE:
            return SG_DXFER_FROM_DEV;
        case SCSI_DIR_TO_DEVICE:
            return SG_DXFER_TO_DEV;
        case SCSI_DIR_NONE:
            break;
    }
    return SG_DXFER_NONE;
}

}  // namespace

int scsi_PlatformPassThrough(int fd, ScsiRequest* request) {
    sg_io_hdr_t hdr;
    std::memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    hdr.dxfer_direction = SgDirection(request->direction);
    hdr.cmd_len = request->cdbLen;
    hdr.mx_sb_len = request->sense != nullptr ? request->senseLen : 0;
    hdr.sbp = request->sense;
    hdr.dxfer_len = request->dataLen;
    hdr.dxferp = request->data;
    // The kernel reads the command block only.
    hdr.cmdp = const_cast<unsigned char*>(request->cdb);
    hdr.timeout = request->timeoutMs;
    if (ioctl(fd, SG_IO, &hdr) < 0) {
        request->sysError = errno;
        return -1;
    }
    request->status = hdr.status;
    request->hostStatus = hdr.host_status;
    request->driverStatus = hdr.driver_status;
    request->checkReported = (hdr.info & SG_INFO_OK_MASK) != SG_INFO_OK;
    request->senseWritten = hdr.sb_len_wr;
    request->resid = hdr.resid;
    return 0;
}
