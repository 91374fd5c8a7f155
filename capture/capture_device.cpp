// Queries of one device node, every reply recorded as it came.
#include "capture_device.h"

#include <algorithm>

#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "scsi_commands.h"
#include "scsi_request.h"
#include "scsi_withheld.h"
#include "unique_fd.h"

namespace {

// The programs whose commands a capture sends. The Solaris program is
// never captured: tskit-capture runs on Linux and in the ESXi shell.
constexpr LunPlan kCapturedPlans[] = {lun_Plan(kLunToolPlan), lun_Plan(kLunShowdiskPlan)};

// What the programs ask for; the block layer raises it to 7 s.
constexpr unsigned int kTimeoutMs = 10;
constexpr unsigned int kMaxData = 1024;
// TEST UNIT READY sequences recorded at most: more than either program sends
// to one node.
constexpr int kTurSequences = 16;
constexpr unsigned kSlowSequenceMs = 1000;

// A command block built by the kit's own builder, as a string of its bytes.
std::string Cdb(void (*build)(unsigned char*), size_t length) {
    unsigned char cdb[16];
    build(cdb);
    return std::string(reinterpret_cast<const char*>(cdb), length);
}

unsigned ElapsedMs(const timespec& start) {
    timespec now{};
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ms =
        (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
    return ms > 0 ? static_cast<unsigned>(ms) : 0;
}

// Sends cdb once and returns the reply as it came; *request holds the
// completed request for the caller's verdict.
CaptureReply SendOnce(int fd, const std::string& cdb, unsigned int dataLen, ScsiRequest* request) {
    unsigned char data[kMaxData] = {};
    unsigned char sense[kScsiSenseLen] = {};
    *request = ScsiRequest{};
    request->cdb = reinterpret_cast<const unsigned char*>(cdb.data());
    request->cdbLen = static_cast<unsigned char>(cdb.size());
    request->direction = SCSI_DIR_FROM_DEVICE;
    request->data = data;
    request->dataLen = dataLen;
    request->sense = sense;
    request->senseLen = kScsiSenseLen;
    request->timeoutMs = kTimeoutMs;
    timespec start{};
    (void)clock_gettime(CLOCK_MONOTONIC, &start);
    CaptureReply reply;
    if (scsi_PassThrough(fd, request) != 0) {
        reply.ioctlErrno = request->sysError != 0 ? request->sysError : EIO;
        return reply;
    }
    reply.durationMs = ElapsedMs(start);
    reply.status = request->status;
    reply.hostStatus = request->hostStatus;
    reply.driverStatus = request->driverStatus;
    reply.resid = request->resid;
    const unsigned senseLen =
        request->senseWritten < kScsiSenseLen ? request->senseWritten : kScsiSenseLen;
    reply.sense.assign(reinterpret_cast<const char*>(sense), senseLen);
    const int resid = request->resid < 0 ? 0 : request->resid;
    const unsigned got = static_cast<unsigned>(resid) < dataLen ? dataLen - resid : 0;
    reply.data.assign(reinterpret_cast<const char*>(data), got);
    return reply;
}

// The same answer, whatever it took.
bool SameReply(const CaptureReply& a, const CaptureReply& b) {
    return a.ioctlErrno == b.ioctlErrno && a.status == b.status && a.hostStatus == b.hostStatus &&
           a.driverStatus == b.driverStatus && a.resid == b.resid && a.sense == b.sense &&
           a.data == b.data;
}

// One TEST UNIT READY as the programs send it: again after a unit attention
// or a transport status worth another try, at most their budget in all.
// True when the last command timed out: the programs send the device
// nothing more, and neither does the capture.
bool TurSequence(int fd, CaptureCommand* command) {
    for (int attempt = 0; attempt < kScsiTurAttempts; ++attempt) {
        ScsiRequest request{};
        command->replies.push_back(SendOnce(fd, command->cdb, 0, &request));
        if (command->replies.back().ioctlErrno != 0) {
            return false;
        }
        if (scsi_TimedOut(request)) {
            return true;
        }
        if (scsi_JudgeTur(request) != SCSI_TUR_RETRY) {
            return false;
        }
    }
    return false;
}

bool Ready(const CaptureReply& reply) {
    return reply.ioctlErrno == 0 && reply.status == 0 && reply.hostStatus == 0 &&
           reply.driverStatus == 0;
}

// The programs send a TEST UNIT READY ahead of each query, and a unit that
// fails its first ones may pass later ones (a storm of unit attentions, a
// link that comes back). Sequences are recorded until two in a row answer
// alike and the unit is ready, or they are slow; otherwise as many as the
// programs send. A unit that lets one time out gets nothing more: false.
bool RecordTur(int fd, CaptureNode* node) {
    CaptureCommand command;
    command.cdb = Cdb(scsi_TestUnitReadyCdb, 6);
    size_t previous = 0;  // where the sequence before this one began
    for (int sequence = 0; sequence < kTurSequences; ++sequence) {
        const size_t begin = command.replies.size();
        if (TurSequence(fd, &command)) {
            node->commands.push_back(std::move(command));
            return false;
        }
        const size_t length = command.replies.size() - begin;
        unsigned ms = 0;
        for (size_t i = begin; i < command.replies.size(); ++i) {
            ms += command.replies[i].durationMs;
        }
        const auto first = command.replies.begin();
        const bool alike = sequence > 0 && length == begin - previous &&
                           std::equal(first + static_cast<long>(begin), command.replies.end(),
                                      first + static_cast<long>(previous), SameReply);
        if (alike && (Ready(command.replies.back()) || ms >= kSlowSequenceMs)) {
            break;
        }
        previous = begin;
    }
    node->commands.push_back(std::move(command));
    return true;
}

// False when the command timed out: the device gets nothing more.
bool RecordOnce(int fd, std::string cdb, unsigned int dataLen, CaptureNode* node) {
    CaptureCommand command;
    command.cdb = std::move(cdb);
    ScsiRequest request{};
    command.replies.push_back(SendOnce(fd, command.cdb, dataLen, &request));
    const bool timedOut = command.replies.back().ioctlErrno == 0 && scsi_TimedOut(request);
    node->commands.push_back(std::move(command));
    return !timedOut;
}

std::string InquiryCdb(const LunInquiry& inquiry) {
    unsigned char cdb[6];
    scsi_InquiryCdb(cdb, inquiry.evpd, inquiry.page, inquiry.allocLen);
    return std::string(reinterpret_cast<const char*>(cdb), sizeof cdb);
}

}  // namespace

std::vector<LunInquiry> capture_InquiriesOf(const LunPlan* plans, size_t count) {
    std::vector<LunInquiry> list(lun_UnionOfPlans(plans, count, nullptr, 0));
    (void)lun_UnionOfPlans(plans, count, list.data(), list.size());
    return list;
}

std::vector<LunInquiry> capture_Inquiries() {
    return capture_InquiriesOf(kCapturedPlans, sizeof kCapturedPlans / sizeof kCapturedPlans[0]);
}

void capture_QueryNode(const char* name, CaptureNode* out) {
    out->name = name;
    const std::string path = std::string("/dev/") + name;
    if (access(path.c_str(), F_OK) != 0) {
        out->state = CaptureNodeState::Missing;
        return;
    }
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        // sd refuses to open a SCSI device that is not online with ENXIO.
        out->state = errno == EACCES || errno == EPERM ? CaptureNodeState::Unreadable
                     : errno == ENXIO                  ? CaptureNodeState::Offline
                                                       : CaptureNodeState::Vanished;
        return;
    }
    out->state = CaptureNodeState::Present;
    bool answering = RecordTur(fd.Get(), out);
    const std::vector<LunInquiry> inquiries = capture_Inquiries();
    for (size_t i = 0; answering && i < inquiries.size(); ++i) {
        answering = RecordOnce(fd.Get(), InquiryCdb(inquiries[i]), inquiries[i].allocLen, out);
    }
    answering = answering &&
                RecordOnce(fd.Get(), Cdb(scsi_ReadCapacity10Cdb, 10), kScsiCapacity10DataLen, out);
    if (answering) {
        (void)RecordOnce(fd.Get(), Cdb(scsi_ReadCapacity16Cdb, 16), kScsiCapacity16DataLen, out);
    }
}
