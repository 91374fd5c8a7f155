// Command dispatch of the target emulation: finds the device a node answers
// as, lets its faults act in the order a real request meets them (the ioctl,
// the transport, the device), and answers TEST UNIT READY, INQUIRY and READ
// CAPACITY(10)/(16). Everything else is refused as a disk refuses it.
#include "scsi_target.h"

#include <algorithm>
#include <cerrno>

#include "pages.h"
#include "replay.h"

namespace sansim {
namespace detail {

NodeKind ResolveNode(const Topology& topo, const DeviceRef& ref, Responder* out) {
    *out = Responder();
    if (ref.kind == DeviceRef::Kind::Other) {
        if (ref.other >= topo.others.size()) {
            return NodeKind::Unknown;
        }
        out->other = &topo.others[ref.other];
        out->faults = &out->other->faults;
        return out->other->scsi ? NodeKind::Device : NodeKind::NotScsi;
    }
    if (ref.lun >= topo.luns.size()) {
        return NodeKind::Unknown;
    }
    const Lun& lun = topo.luns[ref.lun];
    out->lun = &lun;
    size_t pathIndex = ref.path;
    if (ref.kind == DeviceRef::Kind::Dm) {
        out->dmFaults = &lun.dmFaults;
        const std::vector<size_t> order = PathsInListingOrder(topo, lun);
        auto active = std::find_if(order.begin(), order.end(),
                                   [&](size_t i) { return lun.paths[i].dmState == "active"; });
        if (active != order.end()) {
            pathIndex = *active;
        } else if (!lun.dmFailsWhenNoActivePath && !order.empty()) {
            pathIndex = order.front();
        } else {
            return NodeKind::NoActivePath;
        }
    }
    if (pathIndex >= lun.paths.size()) {
        return NodeKind::Unknown;
    }
    out->path = &lun.paths[pathIndex];
    out->faults = &out->path->faults;
    out->array = FindArray(topo, lun.array);
    out->port =
        out->array != nullptr ? FindTargetPort(*out->array, out->path->targetPort) : nullptr;
    out->host = FindHost(topo, out->path->host);
    return out->port != nullptr ? NodeKind::Device : NodeKind::Unknown;
}

}  // namespace detail

namespace {

using detail::NodeKind;
using detail::Responder;

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kReadCapacity10 = 0x25;
constexpr uint8_t kServiceActionIn16 = 0x9E;
constexpr uint8_t kReadCapacity16 = 0x10;  // service action of 0x9E

constexpr uint8_t kCheckCondition = 0x02;
constexpr uint16_t kDidNoConnect = 0x01;
constexpr uint16_t kDriverSense = 0x08;

constexpr uint8_t kUnitAttention = 0x06;
constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kAscPowerOnReset = 0x29;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidFieldInCdb = 0x24;

constexpr size_t kFixedSenseSize = 18;
constexpr size_t kDescriptorSenseSize = 8;
constexpr int kMaxCdb = 16;

// Sense data in the form the fault set asks for, cut or zero filled to its
// length as the HBA copies a sense buffer.
std::vector<uint8_t> Sense(const Faults& f, uint8_t key, uint8_t asc, uint8_t ascq) {
    std::vector<uint8_t> s;
    if (f.senseFormat == SenseFormat::Fixed) {
        s.assign(kFixedSenseSize, 0);
        s[0] = 0x70;  // current error, fixed format
        s[2] = key;
        s[7] = static_cast<uint8_t>(kFixedSenseSize - 8);  // additional sense length
        s[12] = asc;
        s[13] = ascq;
    } else {
        s.assign(kDescriptorSenseSize, 0);
        s[0] = 0x72;  // current error, descriptor format
        s[1] = key;
        s[2] = asc;
        s[3] = ascq;
    }
    s.resize(static_cast<size_t>(std::clamp(f.senseLength, 0, 32)), 0);
    return s;
}

void CheckCondition(const Faults& f, uint8_t key, uint8_t asc, ScsiReply* reply) {
    reply->status = kCheckCondition;
    reply->driverStatus = kDriverSense;
    reply->sense = Sense(f, key, asc, 0x00);
}

// Faults met before the device server looks at the command: the ioctl, the
// transport, and a pending UNIT ATTENTION. tur is the index of this TEST UNIT
// READY among the node's, or -1.
bool TransportFault(const Faults& f, int request, int tur, ScsiReply* reply) {
    if (f.ioctlErrno != 0) {
        reply->ioctlErrno = f.ioctlErrno;
        return true;
    }
    if (f.dead) {
        reply->hostStatus = kDidNoConnect;
        return true;
    }
    if (f.hostStatus != 0 && request < f.hostStatusCount) {
        reply->hostStatus = static_cast<uint16_t>(f.hostStatus);
        return true;
    }
    if (tur >= 0 && tur < f.unitAttentionTurs) {
        CheckCondition(f, kUnitAttention, kAscPowerOnReset, reply);
        return true;
    }
    return false;
}

// A dm node with no usable path. On Linux the map never hands the ioctl to
// a device: it keeps retrying while the map queues (the caller sleeps until
// a fatal signal), or fails it with EIO. Elsewhere the node fails as a dead
// path does.
void NoUsablePath(const Topology& topo, const Lun& lun, ScsiReply* reply) {
    if (topo.platform != Platform::Linux) {
        reply->hostStatus = kDidNoConnect;
    } else if (lun.queueIfNoPath) {
        reply->held = true;
    } else {
        reply->ioctlErrno = EIO;
    }
}

void Transfer(const std::vector<uint8_t>& data, size_t limit, ScsiReply* reply) {
    const size_t n = std::min(data.size(), limit);
    reply->data.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
}

void Dispatch(const Responder& r, const uint8_t* c, size_t allocLen, ScsiReply* reply) {
    const Faults& senseForm = detail::SenseSettings(r);
    const uint8_t opcode = c[0];
    if (detail::OpcodeRefused(r, opcode)) {
        CheckCondition(senseForm, kIllegalRequest, kAscInvalidOpcode, reply);
        return;
    }
    switch (opcode) {
        case kTestUnitReady:
            return;
        case kInquiry: {
            const bool evpd = (c[1] & 0x01) != 0;
            const bool cmdDt = (c[1] & 0x02) != 0;
            const int page = c[2];
            const size_t cdbAlloc = static_cast<size_t>(c[3] << 8 | c[4]);
            if (cmdDt || (!evpd && page != 0)) {
                CheckCondition(senseForm, kIllegalRequest, kAscInvalidFieldInCdb, reply);
                return;
            }
            const std::vector<uint8_t> data = detail::BuildPage(r, evpd ? page : kPageStandard);
            if (data.empty()) {
                CheckCondition(senseForm, kIllegalRequest, kAscInvalidFieldInCdb, reply);
                return;
            }
            Transfer(data, std::min(cdbAlloc, allocLen), reply);
            return;
        }
        case kReadCapacity10:
            Transfer(detail::BuildPage(r, kPageCapacity10), allocLen, reply);
            return;
        case kServiceActionIn16: {
            if ((c[1] & 0x1F) != kReadCapacity16) {
                CheckCondition(senseForm, kIllegalRequest, kAscInvalidFieldInCdb, reply);
                return;
            }
            const size_t cdbAlloc = static_cast<size_t>(c[10]) << 24 |
                                    static_cast<size_t>(c[11]) << 16 |
                                    static_cast<size_t>(c[12]) << 8 | c[13];
            Transfer(detail::BuildPage(r, kPageCapacity16), std::min(cdbAlloc, allocLen), reply);
            return;
        }
        default:
            CheckCondition(senseForm, kIllegalRequest, kAscInvalidOpcode, reply);
            return;
    }
}

}  // namespace

ScsiReply ExecuteCommand(const Topology& topo, const DeviceRef& ref, DeviceState* state,
                         const uint8_t* cdb, int cdbLen, int allocLen) {
    if (topo.replay != nullptr && ref.kind == DeviceRef::Kind::Other &&
        ref.other < topo.replay->nodes.size()) {
        return ReplayCommand(topo.replay->nodes[ref.other], state, cdb, cdbLen, allocLen);
    }
    ScsiReply reply;
    Responder r;
    const NodeKind kind = detail::ResolveNode(topo, ref, &r);
    // A loop device or another non-SCSI block driver knows no SG_IO.
    if (kind == NodeKind::NotScsi) {
        reply.ioctlErrno = ENOTTY;
        return reply;
    }
    if (kind == NodeKind::Unknown) {
        reply.ioctlErrno = ENODEV;
        return reply;
    }
    if (cdb == nullptr || cdbLen < 1 || cdbLen > kMaxCdb) {
        reply.ioctlErrno = EINVAL;
        return reply;
    }
    // Bytes past the command's length read as zero.
    uint8_t c[kMaxCdb] = {};
    std::copy(cdb, cdb + cdbLen, c);
    const size_t limit = static_cast<size_t>(std::max(allocLen, 0));

    DeviceState scratch;
    DeviceState* counters = state != nullptr ? state : &scratch;
    const int request = counters->requestsSeen++;
    const int tur = c[0] == kTestUnitReady ? counters->tursSeen++ : -1;

    bool done = false;
    for (const Faults* f : {r.dmFaults, r.faults}) {
        if (!done && f != nullptr) {
            done = TransportFault(*f, request, tur, &reply);
        }
    }
    // A map whose paths all went after its listing was printed: the
    // listing still shows them, the node has none to use.
    const bool lost = r.dmFaults != nullptr && r.dmFaults->pathsLost && r.lun != nullptr;
    if (!done && (kind == NodeKind::NoActivePath || lost)) {
        NoUsablePath(topo, *r.lun, &reply);
        done = true;
    }
    if (reply.ioctlErrno != 0 || reply.held) {
        return reply;
    }
    if (!done) {
        Dispatch(r, c, limit, &reply);
    }
    reply.maskedStatus = static_cast<uint8_t>(reply.status >> 1);
    reply.info = reply.status != 0 || reply.hostStatus != 0 || reply.driverStatus != 0 ? 1 : 0;
    reply.resid = static_cast<int>(limit - reply.data.size());
    return reply;
}

}  // namespace sansim
