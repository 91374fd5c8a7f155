// SCSI target emulation: answers one command of one simulated device node
// the way the Linux SG_IO path reports it. The encoders are written from the
// SCSI standard and the arrays' page layouts; nothing here is shared with the
// tools' decoders.
#ifndef SANSIM_SCSI_TARGET_H
#define SANSIM_SCSI_TARGET_H

#include <cstdint>
#include <string>
#include <vector>

#include "topology.h"

namespace sansim {

// Per-node counters that faults consume (UNIT ATTENTION, host status).
struct DeviceState {
    int tursSeen = 0;
    int requestsSeen = 0;
    std::vector<size_t> repliesServed;  // a captured node: per recorded command
};

// What SG_IO hands back, field by field as the kernel fills sg_io_hdr.
struct ScsiReply {
    int ioctlErrno = 0;          // non-zero: the ioctl itself fails, nothing else is set
    bool held = false;           // the ioctl never returns (a queueing map without a path)
    uint8_t status = 0;          // SCSI status (0x02 CHECK CONDITION)
    uint8_t maskedStatus = 0;    // status >> 1
    uint16_t hostStatus = 0;     // DID_* transport status
    uint16_t driverStatus = 0;   // 0x08 DRIVER_SENSE when sense is returned
    uint32_t info = 0;           // SG_INFO_CHECK (1) when any status is non-zero
    std::vector<uint8_t> data;   // bytes transferred (at most the allocation length)
    std::vector<uint8_t> sense;  // sense bytes returned (sb_len_wr = size)
    int resid = 0;               // allocation length - bytes transferred
};

// Executes one command block on the node of ref. allocLen is dxfer_len.
// A Linux dm node without a usable path answers as the map's table says:
// held when it queues I/O, EIO from the ioctl when it does not.
ScsiReply ExecuteCommand(const Topology& topo, const DeviceRef& ref, DeviceState* state,
                         const uint8_t* cdb, int cdbLen, int allocLen);

// The full, unclipped contents of one VPD page (or kPageStandard) of a node,
// with faults and patches applied; empty when the node does not answer it.
std::vector<uint8_t> EncodePage(const Topology& topo, const DeviceRef& ref, int page);

}  // namespace sansim

#endif  // SANSIM_SCSI_TARGET_H
