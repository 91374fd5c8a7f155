// Internal to the target emulation: the device a node answers as, and the
// page encoders the command dispatcher and EncodePage share.
#ifndef SANSIM_PAGES_H
#define SANSIM_PAGES_H

#include <cstdint>
#include <vector>

#include "topology.h"

namespace sansim {
namespace detail {

// The device behind a node. A dm node answers as one of its paths; the dm's
// own faults are consulted before the path's.
struct Responder {
    const Lun* lun = nullptr;    // set for LUN paths and dm nodes
    const Path* path = nullptr;  // the path that answers
    const Array* array = nullptr;
    const TargetPort* port = nullptr;
    const ScsiHost* host = nullptr;
    const OtherDevice* other = nullptr;  // set for another vendor's device
    const Faults* dmFaults = nullptr;    // the dm node's own faults
    const Faults* faults = nullptr;      // the answering device's faults
};

enum class NodeKind {
    Device,        // a device answers
    NoActivePath,  // a dm node with no path to answer through (see ExecuteCommand)
    NotScsi,       // SG_IO is not a request this block device knows
    Unknown,       // the reference names nothing in the topology
};

NodeKind ResolveNode(const Topology& topo, const DeviceRef& ref, Responder* out);

// The encoded page (VPD code or a pseudo page) with page length, qualifier and
// patch faults applied; empty when the device does not support it or it is
// one of the missing pages.
std::vector<uint8_t> BuildPage(const Responder& r, int page);

// Whether a fault refuses this operation code.
bool OpcodeRefused(const Responder& r, int opcode);

// The fault set whose sense form and length a device-level refusal uses: the
// dm node's when it sets them, else the answering device's.
const Faults& SenseSettings(const Responder& r);

}  // namespace detail
}  // namespace sansim

#endif  // SANSIM_PAGES_H
