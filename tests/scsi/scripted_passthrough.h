// A pass-through that answers from a script instead of a device: the tests
// install it with scsi_SetPassThrough, queue replies, and read back every
// request that was sent. A request with no reply queued completes with GOOD
// status and no data.
#ifndef TSKIT_TESTS_SCRIPTED_PASSTHROUGH_H
#define TSKIT_TESTS_SCRIPTED_PASSTHROUGH_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <vector>

#include "scsi_request.h"

namespace scripted {

using Bytes = std::vector<unsigned char>;

struct Reply {
    int err = 0;  // the pass-through fails with this system error
    unsigned char status = 0;
    unsigned short hostStatus = 0;
    unsigned short driverStatus = 0;
    Bytes sense;
    Bytes data;
};

struct Request {
    int fd;
    ScsiRequest request;  // as it was handed over
    Bytes cdb;
};

inline std::deque<Reply> g_replies;
inline std::vector<Request> g_requests;

inline int PassThrough(int fd, ScsiRequest* request) {
    g_requests.push_back({fd, *request, Bytes(request->cdb, request->cdb + request->cdbLen)});
    Reply reply;
    if (!g_replies.empty()) {
        reply = g_replies.front();
        g_replies.pop_front();
    }
    if (reply.err != 0) {
        request->sysError = reply.err;
        return -1;
    }
    const size_t n = std::min<size_t>(reply.data.size(), request->dataLen);
    if (n > 0) {
        std::memcpy(request->data, reply.data.data(), n);
    }
    const size_t s =
        request->sense != nullptr ? std::min<size_t>(reply.sense.size(), request->senseLen) : 0;
    if (s > 0) {
        std::memcpy(request->sense, reply.sense.data(), s);
    }
    request->senseWritten = static_cast<unsigned char>(s);
    request->status = reply.status;
    request->hostStatus = reply.hostStatus;
    request->driverStatus = reply.driverStatus;
    request->checkReported = reply.status != 0 || reply.hostStatus != 0 || reply.driverStatus != 0;
    request->resid = static_cast<int>(request->dataLen - n);
    return 0;
}

inline Reply Data(const Bytes& data) {
    Reply r;
    r.data = data;
    return r;
}

inline Reply CheckCondition(const Bytes& sense) {
    Reply r;
    r.status = 2;
    r.driverStatus = 8;
    r.sense = sense;
    return r;
}

inline Reply HostStatus(unsigned short status) {
    Reply r;
    r.hostStatus = status;
    return r;
}

inline Reply Fails(int err) {
    Reply r;
    r.err = err;
    return r;
}

// Fixed-format sense data of length bytes (18 in full).
inline Bytes FixedSense(unsigned char key, unsigned char asc, size_t length = 18,
                        unsigned char ascq = 0, unsigned char code = 0x70) {
    Bytes s(18, 0);
    s[0] = code;
    s[2] = key;
    s[7] = 10;
    s[12] = asc;
    s[13] = ascq;
    s.resize(length);
    return s;
}

// Fixture: the script is installed for each test and the platform's
// pass-through put back after it.
class ScriptedTest : public testing::Test {
  protected:
    void SetUp() override {
        g_replies.clear();
        g_requests.clear();
        previous_ = scsi_SetPassThrough(PassThrough);
    }
    void TearDown() override { scsi_SetPassThrough(previous_); }
    static void Script(std::initializer_list<Reply> replies) {
        g_replies.assign(replies.begin(), replies.end());
    }
    static const std::vector<Request>& Requests() { return g_requests; }
    static std::vector<int> Opcodes() {
        std::vector<int> ops(g_requests.size());
        std::transform(g_requests.begin(), g_requests.end(), ops.begin(),
                       [](const Request& r) { return r.cdb[0]; });
        return ops;
    }

  private:
    ScsiPassThroughFn previous_ = nullptr;
};

}  // namespace scripted

#endif  // TSKIT_TESTS_SCRIPTED_PASSTHROUGH_H
