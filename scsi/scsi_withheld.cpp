// The devices withheld from for the rest of the run, and why.
#include "scsi_withheld.h"

#include <errno.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

namespace {

// Linux host byte DID_TIME_OUT, and the driver byte DRIVER_TIMEOUT that
// kernels before 5.14 also reported (its low nibble; the high one holds
// suggestions).
constexpr unsigned short kDidTimeOut = 0x03;
constexpr unsigned short kDriverTimeout = 0x06;
constexpr unsigned short kDriverByteMask = 0x0F;

enum class Why { TimedOut, Queueing };

// A block or character node by its type and device number, any other file
// by its file system and inode.
struct DeviceKey {
    uint64_t kind;
    uint64_t a;
    uint64_t b;
    bool operator<(const DeviceKey& o) const {
        return kind != o.kind ? kind < o.kind : a != o.a ? a < o.a : b < o.b;
    }
};

DeviceKey KeyOf(const struct stat& st) {
    if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {
        return {static_cast<uint64_t>(st.st_mode & S_IFMT), static_cast<uint64_t>(st.st_rdev), 0};
    }
    return {0, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::mutex g_lock;
std::map<DeviceKey, Why> g_withheld;
// Read without the lock so that a healthy host pays nothing per command.
std::atomic<bool> g_any{false};

void Withhold(const DeviceKey& key, Why why) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_withheld.emplace(key, why);
    g_any.store(true, std::memory_order_release);
}

// What a timed-out command gives back: no data, no sense, DID_TIME_OUT.
void CompleteAsTimedOut(ScsiRequest* request) {
    request->status = 0;
    request->hostStatus = kDidTimeOut;
    request->driverStatus = 0;
    request->checkReported = true;
    request->senseWritten = 0;
    request->resid = static_cast<int>(request->dataLen);
}

}  // namespace

bool scsi_TimedOut(const ScsiRequest& request) {
    return request.hostStatus == kDidTimeOut ||
           (request.driverStatus & kDriverByteMask) == kDriverTimeout;
}

int scsi_WithholdNode(const char* path) {
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) {
        return -1;
    }
    Withhold(KeyOf(st), Why::Queueing);
    return 0;
}

bool scsi_AnswerWithheld(int fd, ScsiRequest* request, int* result) {
    if (!g_any.load(std::memory_order_acquire)) {
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        return false;
    }
    Why why = Why::TimedOut;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        auto found = g_withheld.find(KeyOf(st));
        if (found == g_withheld.end()) {
            return false;
        }
        why = found->second;
    }
    if (why == Why::Queueing) {
        request->sysError = ENOTCONN;
        *result = -1;
    } else {
        CompleteAsTimedOut(request);
        *result = 0;
    }
    return true;
}

void scsi_NoteAnswer(int fd, const ScsiRequest& request) {
    struct stat st;
    if (scsi_TimedOut(request) && fstat(fd, &st) == 0) {
        Withhold(KeyOf(st), Why::TimedOut);
    }
}

void scsi_ForgetWithheld() {
    std::lock_guard<std::mutex> hold(g_lock);
    g_withheld.clear();
    g_any.store(false, std::memory_order_release);
}
