#include "supervisor.h"

#include <asm/unistd.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/openat2.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <scsi/sg.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "../../common/unique_fd.h"
#include "scsi_target.h"
#include "trapped_calls.h"

namespace sansim {
namespace {

// Set in the number of every call of the x32 ABI.
constexpr uint32_t kX32SyscallBit = 0x40000000;
// The kernel reads no more of a path than this.
constexpr size_t kPathMax = 4096;
constexpr size_t kPage = 4096;
// Linux 6.6: the caller and the supervisor hand over on one CPU, which makes
// each answer several times faster than a wake-up on another CPU.
constexpr unsigned long kNotifSetFlags = SECCOMP_IOW(4, uint64_t);
constexpr unsigned long kSyncWakeUp = 1;
// Linux 5.19: once the supervisor has read a call, only a fatal signal ends
// the caller's wait. A caught signal then waits for the answer, as a thread
// in SG_IO on a real host runs no handler before its command ends; a held
// command stays held until its caller is killed.
constexpr unsigned long kWaitKillableRecv = 1UL << 5;

// ---------------------------------------------------------------------------
// The filter.

std::vector<sock_filter> FilterProgram() {
    const uint32_t trapped[] = {__NR_open,     __NR_openat,    __NR_openat2,    __NR_creat,
                                __NR_access,   __NR_faccessat, __NR_faccessat2, __NR_execve,
                                __NR_execveat, __NR_wait4,     __NR_waitid};
    const size_t nTrapped = sizeof trapped / sizeof trapped[0];
    // The three answers close the program; a jump names its target by index.
    const size_t allow = 7 + nTrapped, notify = allow + 1, noSys = allow + 2;
    std::vector<sock_filter> code;
    auto to = [&code](size_t target) { return static_cast<uint8_t>(target - code.size() - 1); };
    code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 0, to(noSys)));
    code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kX32SyscallBit, to(noSys), 0));
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ioctl, 0, 2));
    // The request is an unsigned int to the kernel: its low 32 bits count.
    code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[1])));
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SG_IO, to(notify), to(allow)));
    for (uint32_t nr : trapped) {
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nr, to(notify), 0));
    }
    code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)));
    return code;
}

// ---------------------------------------------------------------------------
// The traced processes: their memory and their /proc entries.

bool ReadMemory(pid_t pid, uint64_t addr, void* out, size_t len) {
    if (len == 0) {
        return true;
    }
    if (addr == 0) {
        return false;
    }
    iovec local{out, len};
    iovec remote{reinterpret_cast<void*>(addr), len};
    return process_vm_readv(pid, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(len);
}

bool WriteMemory(pid_t pid, const std::vector<iovec>& remote, const void* data, size_t len) {
    if (len == 0) {
        return true;
    }
    iovec local{const_cast<void*>(data), len};
    return process_vm_writev(pid, &local, 1, remote.data(), remote.size(), 0) ==
           static_cast<ssize_t>(len);
}

bool WriteMemory(pid_t pid, uint64_t addr, const void* data, size_t len) {
    return WriteMemory(pid, {iovec{reinterpret_cast<void*>(addr), len}}, data, len);
}

// A NUL-terminated string, read a page at a time: the bytes after it may be
// unmapped.
bool ReadString(pid_t pid, uint64_t addr, std::string* out) {
    out->clear();
    if (addr == 0) {
        return false;
    }
    char buf[kPage];
    while (out->size() < kPathMax) {
        size_t chunk = kPage - static_cast<size_t>(addr % kPage);
        if (!ReadMemory(pid, addr, buf, chunk)) {
            return false;
        }
        const void* nul = memchr(buf, '\0', chunk);
        if (nul != nullptr) {
            out->append(buf, static_cast<size_t>(static_cast<const char*>(nul) - buf));
            return true;
        }
        out->append(buf, chunk);
        addr += chunk;
    }
    return false;
}

bool ReadLink(const std::string& link, std::string* target) {
    char buf[kPathMax];
    ssize_t n = readlink(link.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) {
        return false;
    }
    target->assign(buf, static_cast<size_t>(n));
    return true;
}

bool ReadSmallFile(const std::string& path, std::string* text) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return false;
    }
    char buf[kPage];
    ssize_t n = read(fd.Get(), buf, sizeof buf);
    if (n < 0) {
        return false;
    }
    text->assign(buf, static_cast<size_t>(n));
    return true;
}

std::string ProcEntry(pid_t pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

std::string FdEntry(pid_t pid, const char* dir, int fd) {
    return ProcEntry(pid, dir) + "/" + std::to_string(fd);
}

// The process (thread group) of a thread: the counters of a node are its own.
pid_t ProcessOf(pid_t tid) {
    std::string status;
    if (!ReadSmallFile(ProcEntry(tid, "status"), &status)) {
        return tid;
    }
    size_t pos = status.find("\nTgid:");
    if (pos == std::string::npos) {
        return tid;
    }
    long tgid = strtol(status.c_str() + pos + 6, nullptr, 10);
    return tgid > 0 ? static_cast<pid_t>(tgid) : tid;
}

// The node name of a path as the process's open or access sees it: made
// absolute against its working directory or dirfd, without following links.
bool NodeNameAt(pid_t pid, int dirfd, const std::string& path, std::string* name) {
    if (path.empty()) {
        return false;
    }
    if (path[0] == '/') {
        return path.find("dev") != std::string::npos && NodeNameOfPath(path, name);
    }
    std::string base;
    if (!ReadLink(dirfd == AT_FDCWD ? ProcEntry(pid, "cwd") : FdEntry(pid, "fd", dirfd), &base)) {
        return false;
    }
    return NodeNameOfPath(base + "/" + path, name);
}

bool NodeNameOfFd(pid_t pid, int fd, std::string* name) {
    std::string target;
    return ReadLink(FdEntry(pid, "fd", fd), &target) && target.compare(0, 5, "/dev/") == 0 &&
           NodeNameOfPath(target, name);
}

// The descriptor's file status flags, -1 when they cannot be read.
int FlagsOfFd(pid_t pid, int fd) {
    std::string fdinfo;
    int flags = -1;
    if (!ReadSmallFile(FdEntry(pid, "fdinfo", fd), &fdinfo) || !FlagsOfFdInfo(fdinfo, &flags)) {
        return -1;
    }
    return flags;
}

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t NowMs() {
    return NowNs() / 1000000;
}

// The kernel's bounds of an SG_IO timeout on a block device node: none
// given is 60 s, and less than 7 s is raised to 7 s.
constexpr uint32_t kDefaultSgTimeoutMs = 60000;
constexpr uint32_t kMinSgTimeoutMs = 7000;
// The transport status of a command the SCSI layer timed out and aborted.
constexpr uint16_t kDidTimeOut = 0x03;

uint32_t EffectiveTimeoutMs(uint32_t requested) {
    const uint32_t timeout = requested == 0 ? kDefaultSgTimeoutMs : requested;
    return std::max(timeout, kMinSgTimeoutMs);
}

// The path a node's commands reach: a path node itself, or for a dm node
// the first path that its map lists active (the current path); null for
// anything else.
const Path* ServingPath(const Topology& topo, const DeviceRef& ref) {
    if (ref.kind == DeviceRef::Kind::Path) {
        return &topo.luns[ref.lun].paths[ref.path];
    }
    if (ref.kind == DeviceRef::Kind::Dm) {
        for (const Path& path : topo.luns[ref.lun].paths) {
            if (path.dmState == "active") {
                return &path;
            }
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Answers.

struct Answer {
    // Deferred: the answer waits in the supervisor for its time (Timing).
    // Held: the call is never answered (a queueing map without a usable
    // path); the kernel drops it with its caller.
    enum class Kind { Continue, Error, Done, Drop, Deferred, Held } kind = Kind::Continue;
    int error = 0;
    // Kept once the process has the answer (a call that a signal interrupts
    // comes again, and must not count twice).
    std::string audit;
    bool keepState = false;
    pid_t process = 0;
    std::string node;
    DeviceState state;
    bool startOver = false;  // an exec: the process's counters begin anew
};

Answer Continue() {
    return Answer{};
}

Answer Fail(int error) {
    Answer answer;
    answer.kind = Answer::Kind::Error;
    answer.error = error;
    return answer;
}

class Supervisor {
  public:
    Supervisor(const Topology& topo, int listener, int auditFd, const seccomp_notif_sizes& sizes)
        : topo_(topo),
          listener_(listener),
          auditFd_(auditFd),
          request_((std::max<size_t>(sizes.seccomp_notif, sizeof(seccomp_notif)) + 7) / 8),
          response_((std::max<size_t>(sizes.seccomp_notif_resp, sizeof(seccomp_notif_resp)) + 7) /
                    8) {}

    // Receives one notification and answers it (or keeps the answer for
    // its time); false when the listener cannot be read any more.
    bool HandleOne();

    // The real time (CLOCK_MONOTONIC, ns) when the next kept answer is due;
    // -1 when none waits.
    int64_t NextDueNs() const {
        int64_t due = pending_.empty() ? -1 : pending_.begin()->first;
        if (!waits_.empty() && (due < 0 || waits_.begin()->first < due)) {
            due = waits_.begin()->first;
        }
        return due;
    }
    // Sends every kept answer whose time has come, and lets go of the
    // descriptors of the processes whose last one it was.
    void SendDue();
    // The real time (ns) until which the process (thread group) cannot end
    // as the kernel sees it: the due time of its last kept answer; -1 when
    // none waits.
    int64_t HeldUntilNs(pid_t process) const {
        auto it = held_.find(process);
        return it == held_.end() ? -1 : it->second.dueNs;
    }
    // The runner reports the command's exit: on a host with time, once a
    // command has been kept, an audit line says when.
    void LogExit(pid_t process, int status);

  private:
    // An SG_IO answer that waits for the command's time on the host.
    struct Pending {
        uint64_t id = 0;
        pid_t pid = 0;
        uint64_t hdrAddr = 0;
        sg_io_hdr_t hdr{};
        bool dataIn = false;
        ScsiReply reply;
        int64_t startNs = 0;
        int64_t hostUs = 0;  // the command's own time on the host
        Answer answer;
    };
    // What a process holds open while one of its threads waits in a kept
    // SG_IO: a thread in blk_execute_rq sleeps uninterruptibly, so a killed
    // process keeps its files until the command completes or times out.
    struct Held {
        UniqueFd pidfd;
        std::vector<UniqueFd> fds;
        int64_t dueNs = 0;
    };
    void Send(uint64_t id, const Answer& answer);
    void Hold(pid_t process, int64_t dueNs);
    void ReleaseDue(int64_t now);
    void WriteAudit(const std::string& line);
    Answer::Kind PlaceReply(pid_t pid, uint64_t hdrAddr, sg_io_hdr_t hdr, bool dataIn,
                            const ScsiReply& reply, unsigned durationMs);
    // The host time of a command on a node: its service time, or its
    // timeout when the path it reaches is hung.
    int64_t HostDelayUs(const DeviceRef& ref, const sg_io_hdr_t& hdr, bool* hung);
    int64_t HostUs(int64_t realNs) const {
        return static_cast<int64_t>(static_cast<double>(realNs - originNs_) / 1000.0 /
                                    topo_.timing.scale);
    }

    bool StillValid(uint64_t id) const {
        return ioctl(listener_, SECCOMP_IOCTL_NOTIF_ID_VALID, &id) == 0;
    }
    Answer Dispatch(const seccomp_notif& n);
    Answer OnSgIo(const seccomp_notif& n);
    Answer Defer(Pending p, const DeviceRef& ref, const uint8_t* cdb, int allocLen, Answer answer);
    Answer OnOpen(pid_t pid, int dirfd, uint64_t pathAddr, int flags);
    Answer OnAccess(pid_t pid, int dirfd, uint64_t pathAddr, int mode);
    Answer OnExec(pid_t pid, int dirfd, uint64_t pathAddr, uint64_t argvAddr, int flags);
    Answer OnWait(uint64_t id, pid_t child, bool noHang, bool canSayNone);
    void Keep(const Answer& answer);
    // The counters of a node as the process left them (fresh when none).
    DeviceState SavedState(pid_t process, const std::string& node) const;

    const Topology& topo_;
    int listener_;
    int auditFd_;
    std::vector<uint64_t> request_;
    std::vector<uint64_t> response_;
    std::unordered_map<pid_t, std::unordered_map<std::string, DeviceState>> states_;
    std::multimap<int64_t, Pending> pending_;  // by the real time they are due
    std::unordered_map<pid_t, Held> held_;     // by process
    std::multimap<int64_t, uint64_t> waits_;   // waits for a held process, by due time
    bool deferredAny_ = false;
    std::mt19937_64 jitter_{topo_.timing.seed};
    int64_t originNs_ = NowNs();
};

bool Supervisor::HandleOne() {
    auto* n = reinterpret_cast<seccomp_notif*>(request_.data());
    memset(request_.data(), 0, request_.size() * sizeof request_[0]);
    if (ioctl(listener_, SECCOMP_IOCTL_NOTIF_RECV, n) != 0) {
        // ENOENT: the caller was gone before the notification was read.
        return errno == EINTR || errno == ENOENT;
    }
    Answer answer = Dispatch(*n);
    if (answer.kind == Answer::Kind::Held) {
        Keep(answer);
        return true;
    }
    if (answer.kind == Answer::Kind::Drop || answer.kind == Answer::Kind::Deferred) {
        return true;
    }
    Send(n->id, answer);
    return true;
}

void Supervisor::Send(uint64_t id, const Answer& answer) {
    auto* resp = reinterpret_cast<seccomp_notif_resp*>(response_.data());
    memset(response_.data(), 0, response_.size() * sizeof response_[0]);
    resp->id = id;
    if (answer.kind == Answer::Kind::Continue) {
        resp->flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    } else if (answer.kind == Answer::Kind::Error) {
        resp->error = -answer.error;
    }
    if (ioctl(listener_, SECCOMP_IOCTL_NOTIF_SEND, resp) == 0) {
        Keep(answer);
    }
}

void Supervisor::SendDue() {
    const int64_t now = NowNs();
    while (!pending_.empty() && pending_.begin()->first <= now) {
        Pending p = std::move(pending_.begin()->second);
        pending_.erase(pending_.begin());
        // The process must still be the one that asked before its memory is
        // written (it may have been killed while it waited).
        if (!StillValid(p.id)) {
            continue;
        }
        const int64_t endNs = NowNs();
        const auto durationMs = static_cast<unsigned>(static_cast<double>(endNs - p.startNs) / 1e6 /
                                                      topo_.timing.scale);
        p.answer.kind = PlaceReply(p.pid, p.hdrAddr, p.hdr, p.dataIn, p.reply, durationMs);
        if (p.answer.kind == Answer::Kind::Error) {
            p.answer.error = EFAULT;
        }
        // The audit line gains the command's start and end in host time,
        // the thread that asked and the command's own time on the host, from
        // which the benchmark accounts a scaled run's time without the
        // simulator's own work.
        if (!p.answer.audit.empty() && p.answer.audit.back() == '\n') {
            p.answer.audit.pop_back();
            p.answer.audit += " start_us=" + std::to_string(HostUs(p.startNs)) +
                              " end_us=" + std::to_string(HostUs(endNs)) +
                              " tid=" + std::to_string(p.pid) +
                              " own_us=" + std::to_string(p.hostUs) + "\n";
        }
        Send(p.id, p.answer);
    }
    while (!waits_.empty() && waits_.begin()->first <= NowNs()) {
        const uint64_t id = waits_.begin()->second;
        waits_.erase(waits_.begin());
        if (StillValid(id)) {
            Send(id, Continue());
        }
    }
    ReleaseDue(NowNs());
}

int64_t Supervisor::HostDelayUs(const DeviceRef& ref, const sg_io_hdr_t& hdr, bool* hung) {
    const Path* path = ServingPath(topo_, ref);
    *hung = path != nullptr && path->faults.hung;
    if (*hung) {
        return static_cast<int64_t>(EffectiveTimeoutMs(hdr.timeout)) * 1000;
    }
    uint64_t jitter = 0;
    if (topo_.timing.jitterUs > 0) {
        jitter = jitter_() % (topo_.timing.jitterUs + 1);
    }
    return static_cast<int64_t>(topo_.timing.serviceUs + jitter);
}

void Supervisor::WriteAudit(const std::string& line) {
    if (!line.empty() && auditFd_ >= 0) {
        ssize_t written = write(auditFd_, line.data(), line.size());
        (void)written;  // the log is best effort, as every process's own write was
    }
}

// A descriptor whose holder's end is seen elsewhere: a pipe, a socket, a
// file. Device nodes are left alone (a program may hold thousands, and no
// reader waits on them).
bool Holdable(const std::string& target) {
    return target.compare(0, 5, "pipe:") == 0 || target.compare(0, 7, "socket:") == 0 ||
           (target.compare(0, 1, "/") == 0 && target.compare(0, 5, "/dev/") != 0);
}

// Copies of the process's holdable descriptors, taken through its pidfd.
std::vector<UniqueFd> TakeDescriptors(pid_t process, int pidfd) {
    std::vector<UniqueFd> fds;
    const std::string dirName = ProcEntry(process, "fd");
    DIR* dir = opendir(dirName.c_str());
    if (dir == nullptr) {
        return fds;
    }
    while (const dirent* entry = readdir(dir)) {
        std::string target;
        if (entry->d_name[0] == '.' || !ReadLink(dirName + "/" + entry->d_name, &target) ||
            !Holdable(target)) {
            continue;
        }
        const long fd = syscall(SYS_pidfd_getfd, pidfd, atoi(entry->d_name), 0);
        if (fd >= 0) {
            fds.emplace_back(static_cast<int>(fd));
        }
    }
    closedir(dir);
    return fds;
}

// The process's descriptors are taken when its first kept command arrives
// and kept until the last one it has waiting is due; a later command only
// moves that time.
void Supervisor::Hold(pid_t process, int64_t dueNs) {
    auto it = held_.find(process);
    if (it != held_.end()) {
        it->second.dueNs = std::max(it->second.dueNs, dueNs);
        return;
    }
    Held held;
    held.dueNs = dueNs;
    held.pidfd.Reset(static_cast<int>(syscall(SYS_pidfd_open, process, 0)));
    if (held.pidfd.Valid()) {
        held.fds = TakeDescriptors(process, held.pidfd.Get());
    }
    held_.emplace(process, std::move(held));
}

// A wait for a child that a kept command holds: the kernel reports its exit
// only when that command's time has passed (its thread sleeps in SG_IO
// until then, killed or not). A wait that blocks is answered then; one that
// must not block finds nothing yet. Any other wait is the kernel's.
Answer Supervisor::OnWait(uint64_t id, pid_t child, bool noHang, bool canSayNone) {
    auto it = child > 0 ? held_.find(child) : held_.end();
    if (it == held_.end() || it->second.dueNs <= NowNs()) {
        return Continue();
    }
    Answer answer;
    if (noHang) {
        answer.kind = canSayNone ? Answer::Kind::Done : Answer::Kind::Continue;
        return answer;
    }
    waits_.emplace(it->second.dueNs, id);
    answer.kind = Answer::Kind::Deferred;
    return answer;
}

bool Ended(int pidfd) {
    pollfd fd{pidfd, POLLIN, 0};
    return pidfd >= 0 && poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0;
}

// Closes the copies whose time has come. A process that ended before it
// (killed while its command was kept) is released only now: the audit log
// says when.
void Supervisor::ReleaseDue(int64_t now) {
    for (auto it = held_.begin(); it != held_.end();) {
        if (it->second.dueNs > now) {
            ++it;
            continue;
        }
        if (Ended(it->second.pidfd.Get())) {
            WriteAudit("release pid=" + std::to_string(it->first) +
                       " at_us=" + std::to_string(HostUs(NowNs())) + "\n");
        }
        it = held_.erase(it);
    }
}

void Supervisor::LogExit(pid_t process, int status) {
    if (!deferredAny_) {
        return;
    }
    const int code = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    WriteAudit("exit pid=" + std::to_string(process) + " status=" + std::to_string(code) +
               " at_us=" + std::to_string(HostUs(NowNs())) + "\n");
}

void Supervisor::Keep(const Answer& answer) {
    WriteAudit(answer.audit);
    if (answer.startOver) {
        states_.erase(answer.process);
    }
    if (answer.keepState) {
        states_[answer.process][answer.node] = answer.state;
    }
}

DeviceState Supervisor::SavedState(pid_t process, const std::string& node) const {
    auto known = states_.find(process);
    if (known == states_.end()) {
        return DeviceState();
    }
    auto saved = known->second.find(node);
    return saved != known->second.end() ? saved->second : DeviceState();
}

Answer Supervisor::Dispatch(const seccomp_notif& n) {
    const seccomp_data& d = n.data;
    pid_t pid = static_cast<pid_t>(n.pid);
    auto fd = [&d](int i) { return static_cast<int>(d.args[i]); };
    if (d.arch != AUDIT_ARCH_X86_64) {
        return Continue();
    }
    switch (d.nr) {
        case __NR_ioctl:
            return OnSgIo(n);
        case __NR_open:
            return OnOpen(pid, AT_FDCWD, d.args[0], fd(1));
        case __NR_creat:
            return OnOpen(pid, AT_FDCWD, d.args[0], O_CREAT | O_WRONLY | O_TRUNC);
        case __NR_openat:
            return OnOpen(pid, fd(0), d.args[1], fd(2));
        case __NR_openat2: {
            open_how how{};
            if (d.args[3] < sizeof how || !ReadMemory(pid, d.args[2], &how, sizeof how)) {
                return Continue();  // the kernel answers the malformed call itself
            }
            return OnOpen(pid, fd(0), d.args[1], static_cast<int>(how.flags));
        }
        case __NR_access:
            return OnAccess(pid, AT_FDCWD, d.args[0], fd(1));
        case __NR_faccessat:
        case __NR_faccessat2:
            return OnAccess(pid, fd(0), d.args[1], fd(2));
        case __NR_execve:
            return OnExec(pid, AT_FDCWD, d.args[0], d.args[1], 0);
        case __NR_execveat:
            return OnExec(pid, fd(0), d.args[1], d.args[2], fd(4));
        case __NR_wait4:
            // wait4(pid, status, options, rusage): one child named by pid.
            return OnWait(n.id, static_cast<pid_t>(d.args[0]), (d.args[2] & WNOHANG) != 0, true);
        case __NR_waitid:
            // waitid(idtype, id, info, options, rusage): WNOHANG's "none"
            // would have to be written into info, so only the waits that
            // block are kept.
            return d.args[0] == P_PID ? OnWait(n.id, static_cast<pid_t>(d.args[1]),
                                               (d.args[3] & WNOHANG) != 0, false)
                                      : Continue();
        default:
            return Continue();
    }
}

Answer Supervisor::OnOpen(pid_t pid, int dirfd, uint64_t pathAddr, int flags) {
    std::string path, name;
    if (!ReadString(pid, pathAddr, &path) || !NodeNameAt(pid, dirfd, path, &name)) {
        return Continue();
    }
    const DeviceRef* ref = FindDevice(topo_, name);
    if (ref == nullptr) {
        return Continue();
    }
    const Faults& faults = FaultsOf(topo_, *ref);
    Answer answer = faults.vanished                              ? Fail(ENOENT)
                    : faults.offline                             ? Fail(ENXIO)
                    : faults.unreadable && (flags & O_PATH) == 0 ? Fail(EACCES)
                                                                 : Continue();
    answer.audit = OpenAuditLine(name, flags);
    return answer;
}

Answer Supervisor::OnAccess(pid_t pid, int dirfd, uint64_t pathAddr, int mode) {
    if ((mode & (R_OK | W_OK)) == 0) {
        return Continue();  // F_OK and X_OK see the node as it is
    }
    std::string path, name;
    if (!ReadString(pid, pathAddr, &path) || !NodeNameAt(pid, dirfd, path, &name)) {
        return Continue();
    }
    const DeviceRef* ref = FindDevice(topo_, name);
    return ref != nullptr && FaultsOf(topo_, *ref).unreadable ? Fail(EACCES) : Continue();
}

Answer Supervisor::OnExec(pid_t pid, int dirfd, uint64_t pathAddr, uint64_t argvAddr, int flags) {
    std::string filename;
    if (!ReadString(pid, pathAddr, &filename)) {
        return Continue();
    }
    // "sh -c -- LINE" has four words; a fifth pointer that is not NULL makes
    // it no shell start of the C library.
    std::vector<std::string> argv;
    for (uint64_t i = 0; i < 5 && argvAddr != 0; ++i) {
        uint64_t word = 0;
        std::string arg;
        if (!ReadMemory(pid, argvAddr + i * sizeof word, &word, sizeof word) || word == 0 ||
            !ReadString(pid, word, &arg)) {
            break;
        }
        argv.push_back(arg);
    }
    std::string line;
    if (ShellStartOf(filename, argv, &line) &&
        std::find(topo_.cannotStart.begin(), topo_.cannotStart.end(), line) !=
            topo_.cannotStart.end()) {
        return Fail(EAGAIN);
    }

    std::string file;
    if (filename.empty()) {
        if ((flags & AT_EMPTY_PATH) == 0) {
            return Continue();  // the kernel answers ENOENT
        }
        file = FdEntry(pid, "fd", dirfd);
    } else if (filename[0] == '/') {
        file = ProcEntry(pid, "root") + filename;
    } else {
        file = (dirfd == AT_FDCWD ? ProcEntry(pid, "cwd") : FdEntry(pid, "fd", dirfd)) + "/" +
               filename;
    }
    UniqueFd program(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    uint8_t head[20] = {};
    ssize_t got = program.Valid() ? read(program.Get(), head, sizeof head) : -1;
    if (got > 0 && KindOfProgram(head, static_cast<size_t>(got)) == ProgramKind::Foreign) {
        fprintf(stderr,
                "sansim: %s is not an x86-64 program: the simulated host runs 64-bit x86 "
                "programs only\n",
                filename.c_str());
        return Fail(ENOEXEC);
    }
    Answer answer;
    answer.startOver = true;
    answer.process = ProcessOf(pid);
    return answer;
}

// Places reply data in the caller's buffer or scatter list as the kernel's
// SG_IO path copies it; copied is what was placed.
bool PlaceData(pid_t pid, const sg_io_hdr_t& hdr, const std::vector<uint8_t>& data,
               size_t* copied) {
    size_t total = std::min(data.size(), static_cast<size_t>(hdr.dxfer_len));
    *copied = 0;
    if (total == 0 || hdr.dxferp == nullptr) {
        return true;
    }
    uint64_t base = reinterpret_cast<uint64_t>(hdr.dxferp);
    if (hdr.iovec_count == 0) {
        *copied = total;
        return WriteMemory(pid, base, data.data(), total);
    }
    std::vector<sg_iovec_t> parts(hdr.iovec_count);
    if (!ReadMemory(pid, base, parts.data(), parts.size() * sizeof(sg_iovec_t))) {
        return false;
    }
    for (size_t i = 0; i < parts.size() && *copied < total; ++i) {
        size_t n = std::min(parts[i].iov_len, total - *copied);
        if (n > 0 && parts[i].iov_base != nullptr) {
            if (!WriteMemory(pid, reinterpret_cast<uint64_t>(parts[i].iov_base),
                             data.data() + *copied, n)) {
                return false;
            }
        }
        *copied += n;
    }
    return true;
}

// A reply that leaves nothing in the caller's memory: the ioctl fails, or it
// is held. A held command's audit line is written when it arrives, marked
// so that no reader takes it for an answered one.
Answer WithoutReply(const ScsiReply& reply, Answer answer) {
    if (reply.held) {
        answer.kind = Answer::Kind::Held;
        if (!answer.audit.empty() && answer.audit.back() == '\n') {
            answer.audit.insert(answer.audit.size() - 1, " held=1");
        }
        return answer;
    }
    answer.kind = Answer::Kind::Error;
    answer.error = reply.ioctlErrno;
    return answer;
}

// SG_IO on a simulated node: the header, command and buffers are read from
// the caller and the reply written back as the kernel's SCSI ioctl path
// fills them.
Answer Supervisor::OnSgIo(const seccomp_notif& n) {
    pid_t pid = static_cast<pid_t>(n.pid);
    int fd = static_cast<int>(n.data.args[0]);
    std::string name;
    if (!NodeNameOfFd(pid, fd, &name)) {
        return Continue();
    }
    const DeviceRef* ref = FindDevice(topo_, name);
    if (ref == nullptr) {
        return Continue();
    }
    uint64_t hdrAddr = n.data.args[2];
    sg_io_hdr_t hdr{};
    if (!ReadMemory(pid, hdrAddr, &hdr, sizeof hdr) || hdr.cmdp == nullptr) {
        return Fail(EFAULT);
    }
    // As the kernel checks the header: a transfer needs a direction.
    bool dataIn =
        hdr.dxfer_direction == SG_DXFER_FROM_DEV || hdr.dxfer_direction == SG_DXFER_TO_FROM_DEV;
    bool dataOut = hdr.dxfer_direction == SG_DXFER_TO_DEV;
    if (hdr.interface_id != 'S' || hdr.cmd_len == 0 || hdr.cmd_len > 16 ||
        (hdr.dxfer_len != 0 && !dataIn && !dataOut)) {
        return Fail(EINVAL);
    }
    uint8_t cdb[16] = {};
    if (!ReadMemory(pid, reinterpret_cast<uint64_t>(hdr.cmdp), cdb, hdr.cmd_len)) {
        return Fail(EFAULT);
    }

    Answer answer;
    answer.audit =
        ScsiAuditLine(name, cdb, hdr.cmd_len, hdr.dxfer_len, hdr.timeout, FlagsOfFd(pid, fd));
    answer.keepState = true;
    answer.process = ProcessOf(pid);
    answer.node = name;
    answer.state = SavedState(answer.process, name);
    int allocLen = dataIn ? static_cast<int>(std::min(hdr.dxfer_len, 1u << 30)) : 0;
    if (topo_.timing.given) {
        Pending p;
        p.id = n.id;
        p.pid = pid;
        p.hdrAddr = hdrAddr;
        p.hdr = hdr;
        p.dataIn = dataIn;
        return Defer(std::move(p), *ref, cdb, allocLen, std::move(answer));
    }
    int64_t start = NowMs();
    ScsiReply reply;
    const Path* serving = ServingPath(topo_, *ref);
    if (serving != nullptr && serving->faults.hung) {
        // Without time on the host a timeout passes at once: the command
        // completes as the SCSI layer aborts it, DID_TIME_OUT, nothing else.
        reply.hostStatus = kDidTimeOut;
    } else {
        reply = ExecuteCommand(topo_, *ref, &answer.state, cdb, hdr.cmd_len, allocLen);
    }
    if (reply.ioctlErrno != 0 || reply.held) {
        return WithoutReply(reply, std::move(answer));
    }
    // The process must still be the one that asked before its memory is
    // written.
    if (!StillValid(n.id)) {
        answer.kind = Answer::Kind::Drop;
        return answer;
    }
    answer.kind =
        PlaceReply(pid, hdrAddr, hdr, dataIn, reply, static_cast<unsigned>(NowMs() - start));
    if (answer.kind == Answer::Kind::Error) {
        answer.error = EFAULT;
    }
    return answer;
}

// The command takes its time on the host: the answer is kept and sent when
// that time has passed, while other callers are served.
Answer Supervisor::Defer(Pending p, const DeviceRef& ref, const uint8_t* cdb, int allocLen,
                         Answer answer) {
    p.startNs = NowNs();
    bool hung = false;
    const int64_t delayUs = HostDelayUs(ref, p.hdr, &hung);
    p.hostUs = delayUs;
    if (hung) {
        // Nothing reaches the device: after the timeout the SCSI layer
        // aborts the command and SG_IO completes with DID_TIME_OUT, no
        // data, no sense.
        p.reply.hostStatus = kDidTimeOut;
    } else {
        p.reply = ExecuteCommand(topo_, ref, &answer.state, cdb, p.hdr.cmd_len, allocLen);
    }
    if (p.reply.ioctlErrno != 0 || p.reply.held) {
        return WithoutReply(p.reply, std::move(answer));
    }
    p.answer = answer;
    const auto delayNs =
        static_cast<int64_t>(static_cast<double>(delayUs) * 1000.0 * topo_.timing.scale);
    Hold(answer.process, p.startNs + delayNs);
    pending_.emplace(p.startNs + delayNs, std::move(p));
    deferredAny_ = true;
    answer.kind = Answer::Kind::Deferred;
    return answer;
}

// Writes the reply into the caller's buffers and header as the kernel's SG_IO
// path fills them: Done, or Error when the caller's memory cannot be written.
Answer::Kind Supervisor::PlaceReply(pid_t pid, uint64_t hdrAddr, sg_io_hdr_t hdr, bool dataIn,
                                    const ScsiReply& reply, unsigned durationMs) {
    size_t copied = 0;
    if (dataIn && !PlaceData(pid, hdr, reply.data, &copied)) {
        return Answer::Kind::Error;
    }
    size_t senseLen = hdr.sbp == nullptr ? 0 : std::min<size_t>(reply.sense.size(), hdr.mx_sb_len);
    if (senseLen > 0 &&
        !WriteMemory(pid, reinterpret_cast<uint64_t>(hdr.sbp), reply.sense.data(), senseLen)) {
        return Answer::Kind::Error;
    }
    hdr.status = reply.status;
    hdr.masked_status = reply.maskedStatus;
    hdr.msg_status = 0;
    hdr.host_status = reply.hostStatus;
    hdr.driver_status = reply.driverStatus;
    hdr.sb_len_wr = static_cast<unsigned char>(senseLen);
    hdr.resid = dataIn ? static_cast<int>(hdr.dxfer_len - copied) : 0;
    hdr.duration = durationMs;
    hdr.info = reply.info;
    if (reply.status != 0 || reply.hostStatus != 0 || reply.driverStatus != 0) {
        hdr.info |= SG_INFO_CHECK;
    }
    // Only the fields the kernel fills: from the status on, every field is
    // an output.
    constexpr size_t kOut = offsetof(sg_io_hdr_t, status);
    if (!WriteMemory(pid, hdrAddr + kOut, reinterpret_cast<const uint8_t*>(&hdr) + kOut,
                     sizeof hdr - kOut)) {
        return Answer::Kind::Error;
    }
    return Answer::Kind::Done;
}

// ---------------------------------------------------------------------------
// The command's process.

bool SendFd(int sock, int fd) {
    char byte = 0;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
    cmsg->cmsg_level = SOL_SOCKET;
    cmsg->cmsg_type = SCM_RIGHTS;
    cmsg->cmsg_len = CMSG_LEN(sizeof(int));
    memcpy(CMSG_DATA(cmsg), &fd, sizeof fd);
    return sendmsg(sock, &msg, MSG_NOSIGNAL) == 1;
}

// The listener, or -1 when the command's process ended without sending it.
int ReceiveFd(int sock) {
    char byte = 0;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = recvmsg(sock, &msg, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    cmsghdr* cmsg = n == 1 ? CMSG_FIRSTHDR(&msg) : nullptr;
    if (cmsg == nullptr || cmsg->cmsg_level != SOL_SOCKET || cmsg->cmsg_type != SCM_RIGHTS ||
        cmsg->cmsg_len != CMSG_LEN(sizeof(int))) {
        return -1;
    }
    int fd = -1;
    memcpy(&fd, CMSG_DATA(cmsg), sizeof fd);
    return fd;
}

// The filter of this process and every one it starts; the listener, or -1.
// A kernel before 5.19 refuses the killable wait (EINVAL): there a caught
// signal interrupts a call the supervisor has read, and the call comes again.
long InstallFilter(sock_fprog* program) {
    long listener = syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER,
                            SECCOMP_FILTER_FLAG_NEW_LISTENER | kWaitKillableRecv, program);
    if (listener < 0 && errno == EINVAL) {
        listener = syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER,
                           program);
    }
    return listener;
}

// In the forked child: the status to exit with when the command cannot be
// started.
int StartCommand(const SupervisedRun& run, pid_t supervisor, int sock) {
    if (run.prepareChild) {
        int status = run.prepareChild();
        if (status >= 0) {
            return status;
        }
    }
    // After the credentials are final (a change of them clears the signal):
    // the host's command does not outlive its supervisor.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != supervisor) {
        return kSupervisedCannotRun;
    }
    std::vector<sock_filter> code = FilterProgram();
    sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        fprintf(stderr, "sansim: cannot set no_new_privs: %s\n", strerror(errno));
        return kSupervisedCannotRun;
    }
    long listener = InstallFilter(&program);
    if (listener < 0) {
        fprintf(stderr, "sansim: cannot install the seccomp filter: %s\n", strerror(errno));
        return kSupervisedCannotRun;
    }
    bool sent = SendFd(sock, static_cast<int>(listener));
    close(static_cast<int>(listener));
    close(sock);
    if (!sent) {
        fprintf(stderr, "sansim: cannot hand the listener to the supervisor: %s\n",
                strerror(errno));
        return kSupervisedCannotRun;
    }
    execve(run.program.c_str(), run.argv, run.envp);
    int err = errno;
    fprintf(stderr, "sansim: cannot run %s: %s\n", run.program.c_str(), strerror(err));
    return err == ENOENT ? kSupervisedNotFound : kSupervisedCannotRun;
}

// Ends this process as the command ended (or, with signalAsStatus, says
// how as a shell would).
int PassOn(int status, bool signalAsStatus) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status) && signalAsStatus) {
        return 128 + WTERMSIG(status);
    }
    if (WIFSIGNALED(status)) {
        int sig = WTERMSIG(status);
        rlimit noCore{0, 0};
        (void)setrlimit(RLIMIT_CORE, &noCore);
        signal(sig, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        sigprocmask(SIG_UNBLOCK, &set, nullptr);
        raise(sig);
        return 128 + sig;
    }
    return kSupervisedCannotRun;
}

}  // namespace

int RunSupervised(const SupervisedRun& run, std::string* error) {
    seccomp_notif_sizes sizes{};
    if (syscall(SYS_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &sizes) != 0) {
        *error = std::string("this kernel has no seccomp user notification (") + strerror(errno) +
                 "): the simulated host needs Linux 5.5 or later";
        return -1;
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        *error = std::string("socketpair: ") + strerror(errno);
        return -1;
    }
    UniqueFd ours(pair[0]), theirs(pair[1]);
    // Orphans of the host are ours to reap, so that "no child left" means
    // every process of the host has ended.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        *error = std::string("cannot become the host's subreaper: ") + strerror(errno);
        return -1;
    }
    sigset_t handled, saved;
    sigemptyset(&handled);
    for (int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&handled, sig);
    }
    sigprocmask(SIG_BLOCK, &handled, &saved);
    UniqueFd signals(signalfd(-1, &handled, SFD_CLOEXEC));
    if (!signals.Valid()) {
        *error = std::string("signalfd: ") + strerror(errno);
        return -1;
    }
    fflush(nullptr);
    pid_t self = getpid();
    pid_t child = fork();
    if (child < 0) {
        *error = std::string("fork: ") + strerror(errno);
        return -1;
    }
    if (child == 0) {
        ours.Reset();
        signals.Reset();
        sigprocmask(SIG_SETMASK, &saved, nullptr);
        _exit(StartCommand(run, self, theirs.Release()));
    }
    theirs.Reset();
    UniqueFd listener(ReceiveFd(ours.Get()));
    ours.Reset();
    if (listener.Valid()) {
        (void)ioctl(listener.Get(), kNotifSetFlags, kSyncWakeUp);  // older kernels: EINVAL
    }
    Supervisor supervisor(*run.topo, listener.Get(), run.auditFd, sizes);

    int commandStatus = W_EXITCODE(kSupervisedCannotRun, 0);
    bool commandEnded = false;
    for (;;) {
        pid_t reaped;
        int status = 0;
        while ((reaped = waitpid(-1, &status, WNOHANG)) != 0) {
            if (reaped < 0 && errno == EINTR) {
                continue;
            }
            if (reaped < 0) {
                break;
            }
            if (reaped == child) {
                commandStatus = status;
                commandEnded = true;
            }
        }
        // ECHILD: every process of the host has ended. The command's exit is
        // reported once its own kept commands are due: until then the
        // kernel would not have let it finish exiting.
        if (reaped < 0 && supervisor.HeldUntilNs(child) < 0) {
            break;
        }
        pollfd fds[2] = {{signals.Get(), POLLIN, 0}, {listener.Get(), POLLIN, 0}};
        nfds_t count = listener.Valid() ? 2 : 1;
        // Wake up when the next kept answer is due.
        const int64_t due = supervisor.NextDueNs();
        timespec wait{};
        if (due >= 0) {
            const int64_t left = std::max<int64_t>(0, due - NowNs());
            wait.tv_sec = static_cast<time_t>(left / 1000000000);
            wait.tv_nsec = static_cast<long>(left % 1000000000);
        }
        const int ready = ppoll(fds, count, due >= 0 ? &wait : nullptr, nullptr);
        supervisor.SendDue();
        if (ready <= 0) {
            continue;
        }
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            if (!supervisor.HandleOne()) {
                listener.Reset();
            }
        } else if (count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            listener.Reset();  // no process uses the filter any more
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (read(signals.Get(), &info, sizeof info) == sizeof info &&
                info.ssi_signo != SIGCHLD && !commandEnded &&
                (info.ssi_code == SI_USER || info.ssi_code == SI_QUEUE)) {
                // Sent to sansim alone (a terminal signals the whole group).
                kill(child, static_cast<int>(info.ssi_signo));
            }
        }
    }
    if (commandEnded) {
        supervisor.LogExit(child, commandStatus);
    }
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    return PassOn(commandStatus, run.signalAsStatus);
}

}  // namespace sansim
