// LD_PRELOAD interposer of the simulated SAN host.
//
// Every program started on a simulated host carries this library. It answers
// ioctl(SG_IO) on descriptors of simulated device nodes (/dev/NAME, empty
// regular files in the runner's private /dev) with the target emulation, and
// passes every other call to the C library unchanged. It also applies the
// open faults (`unreadable`, `vanished`), refuses the command lines that the
// topology marks as impossible to start (popen, system), and writes the audit
// log.
//
// The topology (SANSIM_TOPOLOGY) is loaded on first need only: every `cat` or
// `sh` a tool starts inherits LD_PRELOAD and must not pay for it.
//
// What the SCSI clients need of a node: sg3-utils opens it with O_NONBLOCK
// (read-only; sg_readcap read-write unless given -R), fstat()s the
// descriptor (a regular file is fine: it only looks for sg character devices
// to use their own interface), then sends SG_IO. No other ioctl
// (SG_GET_VERSION_NUM and the like are only asked of sg character devices)
// is needed, so everything but SG_IO goes to the kernel, which answers ENOTTY
// for a regular file as it would for most requests a disk does not know.
//
// Nodes are recognised by name: for SG_IO by the path of the descriptor
// (/proc/self/fd/N), for open and access by the path as given, made absolute
// and normalised without following symbolic links.

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scsi_target.h"
#include "process_record.h"
#include "topology.h"

#define SANSIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);
using Open2Fn = int (*)(const char*, int);
using OpenAt2Fn = int (*)(int, const char*, int);
using AccessFn = int (*)(const char*, int);
using FaccessatFn = int (*)(int, const char*, int, int);
using IoctlFn = int (*)(int, unsigned long, ...);
using PopenFn = FILE* (*)(const char*, const char*);
using SystemFn = int (*)(const char*);

// The next definition of a symbol (the C library's, or a sanitizer runtime's
// interceptor in front of it). Resolved once, on first use.
template <typename Fn>
Fn Next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

#define SANSIM_REAL(type, name)                   \
    ([]() {                                       \
        static const type fn = Next<type>(#name); \
        return fn;                                \
    }())

// ---------------------------------------------------------------------------
// Process state: the topology (loaded once) and the per-node counters.

struct SimState {
    std::once_flag loadOnce;
    bool loaded = false;
    sansim::Topology topo;
    std::mutex deviceMutex;
    std::unordered_map<std::string, sansim::DeviceState> devices;
};

// Never destroyed: open() and ioctl() may still be called from atexit
// handlers and other libraries' destructors after static destruction.
SimState& State() {
    static SimState* state = new SimState;
    return *state;
}

// Set while this thread loads the topology: the loader's own file opens must
// not ask for the topology again.
thread_local bool tLoading = false;

const sansim::Topology* LoadedTopology() {
    if (tLoading) {
        return nullptr;
    }
    SimState& state = State();
    std::call_once(state.loadOnce, [&state]() {
        const char* path = getenv("SANSIM_TOPOLOGY");
        if (path == nullptr || *path == '\0') {
            return;
        }
        tLoading = true;
        std::string error;
        sansim_preload::NoteTopologyLoadStart();
        state.loaded = sansim::LoadTopology(path, &state.topo, &error);
        sansim_preload::NoteTopologyLoadEnd();
        tLoading = false;
        if (!state.loaded) {
            fprintf(stderr, "sansim preload: %s\n", error.c_str());
        }
    });
    return state.loaded ? &state.topo : nullptr;
}

// ---------------------------------------------------------------------------
// Node names.

// The node name NAME when the normalised absolute path is "/dev/NAME"; NAME
// may hold directories ("disks/naa.6...").
bool NodeNameOfPath(std::string_view path, std::string* name) {
    std::vector<std::string_view> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        std::string_view part = path.substr(pos, end - pos);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    if (parts.size() < 2 || parts[0] != "dev") {
        return false;
    }
    name->assign(parts[1]);
    for (size_t i = 2; i < parts.size(); ++i) {
        name->append("/").append(parts[i]);
    }
    return true;
}

bool ReadLink(const char* link, std::string* target) {
    char buf[4096];
    ssize_t n = readlink(link, buf, sizeof buf);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) {
        return false;
    }
    target->assign(buf, static_cast<size_t>(n));
    return true;
}

// The node name of a path as open() or faccessat() would see it.
bool NodeNameAt(int dirfd, const char* path, std::string* name) {
    if (path == nullptr || *path == '\0') {
        return false;
    }
    std::string_view given(path);
    if (given[0] == '/') {
        if (given.find("dev") == std::string_view::npos) {
            return false;  // the common case, decided without a system call
        }
        return NodeNameOfPath(given, name);
    }
    std::string base;
    if (dirfd == AT_FDCWD) {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) == nullptr) {
            return false;
        }
        base = cwd;
    } else {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
        if (!ReadLink(link, &base)) {
            return false;
        }
    }
    base += '/';
    base += given;
    return NodeNameOfPath(base, name);
}

bool NodeNameOfFd(int fd, std::string* name) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string target;
    return ReadLink(link, &target) && target.compare(0, 5, "/dev/") == 0 &&
           NodeNameOfPath(target, name);
}

using sansim::FaultsOf;

// The simulated device a path names, or nullptr (also before a topology).
const sansim::DeviceRef* DeviceAt(int dirfd, const char* path, std::string* name,
                                  const sansim::Topology** topo) {
    if (!NodeNameAt(dirfd, path, name)) {
        return nullptr;
    }
    *topo = LoadedTopology();
    return *topo == nullptr ? nullptr : sansim::FindDevice(**topo, *name);
}

// ---------------------------------------------------------------------------
// Audit log: one line per event, the file opened for each line so that every
// process of the host appends to the same log.

void Audit(const char* line, int len) {
    const char* path = getenv("SANSIM_AUDIT");
    if (path == nullptr || *path == '\0' || len <= 0) {
        return;
    }
    int saved = errno;
    int fd = SANSIM_REAL(OpenFn, open)(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t written = write(fd, line, static_cast<size_t>(len));
        (void)written;  // the log is best effort; the program must not notice it
        close(fd);
    }
    errno = saved;
}

const char* AccessName(int flags) {
    switch (flags & O_ACCMODE) {
        case O_RDONLY:
            return "ro";
        case O_WRONLY:
            return "wo";
        default:
            return "rw";
    }
}

void AuditOpen(const std::string& name, int flags) {
    char line[512];
    int len = snprintf(line, sizeof line, "open /dev/%s access=%s flags=0x%x\n", name.c_str(),
                       AccessName(flags), static_cast<unsigned>(flags));
    Audit(line, std::min(len, static_cast<int>(sizeof line) - 1));
}

void AuditScsi(const std::string& name, int fd, const sg_io_hdr_t& hdr, const uint8_t* cdb) {
    bool inquiry = cdb[0] == 0x12 && hdr.cmd_len >= 3;
    int flags = fcntl(fd, F_GETFL);
    char line[512];
    int len = snprintf(line, sizeof line,
                       "scsi /dev/%s op=0x%02x evpd=%d page=0x%02x alloc=%u timeout=%u access=%s\n",
                       name.c_str(), cdb[0], inquiry ? (cdb[1] & 1) : 0, inquiry ? cdb[2] : 0,
                       hdr.dxfer_len, hdr.timeout, flags < 0 ? "?" : AccessName(flags));
    Audit(line, std::min(len, static_cast<int>(sizeof line) - 1));
}

// ---------------------------------------------------------------------------
// open and access faults.

// Decides an open of a simulated node: audits it and returns the errno its
// faults impose, 0 to let the C library open the node.
int OpenFault(int dirfd, const char* path, int flags) {
    std::string name;
    const sansim::Topology* topo = nullptr;
    const sansim::DeviceRef* ref = DeviceAt(dirfd, path, &name, &topo);
    if (ref == nullptr) {
        return 0;
    }
    AuditOpen(name, flags);
    const sansim::Faults& faults = FaultsOf(*topo, *ref);
    if (faults.vanished) {
        return ENOENT;
    }
    if (faults.unreadable && (flags & O_PATH) == 0) {
        return EACCES;
    }
    return 0;
}

bool NeedsMode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

int AccessFault(int dirfd, const char* path, int mode) {
    if ((mode & (R_OK | W_OK)) == 0) {
        return 0;  // F_OK and X_OK see the node as it is
    }
    std::string name;
    const sansim::Topology* topo = nullptr;
    const sansim::DeviceRef* ref = DeviceAt(dirfd, path, &name, &topo);
    if (ref == nullptr || !FaultsOf(*topo, *ref).unreadable) {
        return 0;
    }
    return EACCES;
}

// ---------------------------------------------------------------------------
// SG_IO.

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Copies reply data to the caller's buffer or scatter list; returns the
// number of bytes placed.
size_t CopyIn(const sg_io_hdr_t& hdr, const std::vector<uint8_t>& data) {
    size_t total = std::min(data.size(), static_cast<size_t>(hdr.dxfer_len));
    if (total == 0 || hdr.dxferp == nullptr) {
        return 0;
    }
    if (hdr.iovec_count == 0) {
        memcpy(hdr.dxferp, data.data(), total);
        return total;
    }
    const auto* iov = static_cast<const sg_iovec_t*>(hdr.dxferp);
    size_t done = 0;
    for (unsigned i = 0; i < hdr.iovec_count && done < total; ++i) {
        size_t n = std::min(iov[i].iov_len, total - done);
        if (n > 0 && iov[i].iov_base != nullptr) {
            memcpy(iov[i].iov_base, data.data() + done, n);
        }
        done += n;
    }
    return done;
}

// Answers SG_IO on a simulated node as the kernel's SCSI ioctl path fills the
// header. Returns false when fd is not a simulated node.
bool HandleSgIo(int fd, void* arg, int* result) {
    std::string name;
    if (!NodeNameOfFd(fd, &name)) {
        return false;
    }
    const sansim::Topology* topo = LoadedTopology();
    const sansim::DeviceRef* ref = topo == nullptr ? nullptr : sansim::FindDevice(*topo, name);
    if (ref == nullptr) {
        return false;
    }
    auto* hdr = static_cast<sg_io_hdr_t*>(arg);
    *result = -1;
    if (hdr == nullptr || hdr->cmdp == nullptr) {
        errno = EFAULT;
        return true;
    }
    // As the kernel checks the header: a transfer needs a direction.
    bool dataIn =
        hdr->dxfer_direction == SG_DXFER_FROM_DEV || hdr->dxfer_direction == SG_DXFER_TO_FROM_DEV;
    bool dataOut = hdr->dxfer_direction == SG_DXFER_TO_DEV;
    if (hdr->interface_id != 'S' || hdr->cmd_len == 0 || hdr->cmd_len > 16 ||
        (hdr->dxfer_len != 0 && !dataIn && !dataOut)) {
        errno = EINVAL;
        return true;
    }
    uint8_t cdb[16] = {};
    memcpy(cdb, hdr->cmdp, hdr->cmd_len);
    AuditScsi(name, fd, *hdr, cdb);

    int allocLen = dataIn ? static_cast<int>(std::min(hdr->dxfer_len, 1u << 30)) : 0;
    int64_t start = NowMs();
    sansim::ScsiReply reply;
    {
        SimState& state = State();
        std::lock_guard<std::mutex> lock(state.deviceMutex);
        reply =
            sansim::ExecuteCommand(*topo, *ref, &state.devices[name], cdb, hdr->cmd_len, allocLen);
    }
    if (reply.ioctlErrno != 0) {
        errno = reply.ioctlErrno;
        return true;
    }

    size_t copied = dataIn ? CopyIn(*hdr, reply.data) : 0;
    hdr->status = reply.status;
    hdr->masked_status = reply.maskedStatus;
    hdr->msg_status = 0;
    hdr->host_status = reply.hostStatus;
    hdr->driver_status = reply.driverStatus;
    size_t senseLen =
        hdr->sbp == nullptr ? 0 : std::min<size_t>(reply.sense.size(), hdr->mx_sb_len);
    if (senseLen > 0) {
        memcpy(hdr->sbp, reply.sense.data(), senseLen);
    }
    hdr->sb_len_wr = static_cast<unsigned char>(senseLen);
    hdr->resid = dataIn ? static_cast<int>(hdr->dxfer_len - copied) : 0;
    hdr->duration = static_cast<unsigned>(NowMs() - start);
    hdr->info = reply.info;
    if (reply.status != 0 || reply.hostStatus != 0 || reply.driverStatus != 0) {
        hdr->info |= SG_INFO_CHECK;
    }
    *result = 0;
    return true;
}

// ---------------------------------------------------------------------------
// Command lines that cannot be started.

bool CannotStart(const char* command) {
    if (command == nullptr) {
        return false;
    }
    const sansim::Topology* topo = LoadedTopology();
    if (topo == nullptr) {
        return false;
    }
    const auto& lines = topo->cannotStart;
    return std::find(lines.begin(), lines.end(), command) != lines.end();
}

mode_t ModeArg(va_list ap) {
    return static_cast<mode_t>(va_arg(ap, int));
}

}  // namespace

// ---------------------------------------------------------------------------
// Interposed entry points.

SANSIM_EXPORT int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (NeedsMode(flags)) {
        va_list ap;
        va_start(ap, flags);
        mode = ModeArg(ap);
        va_end(ap);
    }
    if (int err = OpenFault(AT_FDCWD, path, flags)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(OpenFn, open)(path, flags, mode);
}

SANSIM_EXPORT int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (NeedsMode(flags)) {
        va_list ap;
        va_start(ap, flags);
        mode = ModeArg(ap);
        va_end(ap);
    }
    if (int err = OpenFault(AT_FDCWD, path, flags)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(OpenFn, open64)(path, flags, mode);
}

SANSIM_EXPORT int openat(int dirfd, const char* path, int flags, ...) {
    mode_t mode = 0;
    if (NeedsMode(flags)) {
        va_list ap;
        va_start(ap, flags);
        mode = ModeArg(ap);
        va_end(ap);
    }
    if (int err = OpenFault(dirfd, path, flags)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(OpenAtFn, openat)(dirfd, path, flags, mode);
}

SANSIM_EXPORT int openat64(int dirfd, const char* path, int flags, ...) {
    mode_t mode = 0;
    if (NeedsMode(flags)) {
        va_list ap;
        va_start(ap, flags);
        mode = ModeArg(ap);
        va_end(ap);
    }
    if (int err = OpenFault(dirfd, path, flags)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(OpenAtFn, openat64)(dirfd, path, flags, mode);
}

// The checked variants that _FORTIFY_SOURCE builds call when no mode is given.
SANSIM_EXPORT int __open_2(const char* path, int flags) {
    if (int err = OpenFault(AT_FDCWD, path, flags)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(Open2Fn, __open_2)(path, flags);
}

SANSIM_EXPORT int __open64_2(const char* path, int flags) {
    if (int err = OpenFault(AT_FDCWD, path, flags)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(Open2Fn, __open64_2)(path, flags);
}

SANSIM_EXPORT int __openat_2(int dirfd, const char* path, int flags) {
    if (int err = OpenFault(dirfd, path, flags)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(OpenAt2Fn, __openat_2)(dirfd, path, flags);
}

SANSIM_EXPORT int __openat64_2(int dirfd, const char* path, int flags) {
    if (int err = OpenFault(dirfd, path, flags)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(OpenAt2Fn, __openat64_2)(dirfd, path, flags);
}

SANSIM_EXPORT int access(const char* path, int mode) noexcept {
    if (int err = AccessFault(AT_FDCWD, path, mode)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(AccessFn, access)(path, mode);
}

SANSIM_EXPORT int euidaccess(const char* path, int mode) noexcept {
    if (int err = AccessFault(AT_FDCWD, path, mode)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(AccessFn, euidaccess)(path, mode);
}

SANSIM_EXPORT int eaccess(const char* path, int mode) noexcept {
    if (int err = AccessFault(AT_FDCWD, path, mode)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(AccessFn, eaccess)(path, mode);
}

SANSIM_EXPORT int faccessat(int dirfd, const char* path, int mode, int flags) noexcept {
    if (int err = AccessFault(dirfd, path, mode)) {
        errno = err;
        return -1;
    }
    return SANSIM_REAL(FaccessatFn, faccessat)(dirfd, path, mode, flags);
}

SANSIM_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (request == SG_IO) {
        int saved = errno;
        int result = 0;
        if (HandleSgIo(fd, arg, &result)) {
            return result;
        }
        errno = saved;
    }
    return SANSIM_REAL(IoctlFn, ioctl)(fd, request, arg);
}

SANSIM_EXPORT FILE* popen(const char* command, const char* modes) {
    if (CannotStart(command)) {
        errno = EAGAIN;
        return nullptr;
    }
    return SANSIM_REAL(PopenFn, popen)(command, modes);
}

SANSIM_EXPORT int system(const char* command) {
    if (CannotStart(command)) {
        errno = EAGAIN;
        return -1;
    }
    return SANSIM_REAL(SystemFn, system)(command);
}
