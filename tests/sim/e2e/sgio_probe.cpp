// Sends one SG_IO request and prints every field the reply sets, so that the
// header a simulated node fills can be compared with what the kernel fills.
//
//   sgio_probe DEVICE CDB_HEX [--len N] [--sb N] [--iov K] [--dir in|none]
//              [--interface C] [--ioctl blkgetsize64] [--timeout MS]
//              [--duration at-least] [--catch usr1]
//              [--kill self|child-keep|child-close|child-held|child-reaped]
//
// CDB_HEX: "12 01 80 00 fc 00" style. --len: dxfer_len (default 0), --sb:
// mx_sb_len (default 32), --iov: scatter the buffer over K equal parts,
// --ioctl: send that request instead of SG_IO, --timeout: the header's
// timeout (default 5000), --duration at-least: a last line saying whether
// the reply's duration is at least the kernel's effective timeout (the
// requested one, 60000 for none, raised to 7000), for a command that timed
// out.
//
// --catch usr1: the request goes from a second thread, and the main thread
// prints "pid=N" and waits for a SIGUSR1 (send it once the request has
// reached the supervisor). Its handler runs there ("caught SIGUSR1"); the
// main thread then sends SIGUSR1 to the waiting thread itself and, once
// that thread either sleeps where only a fatal signal wakes it (state D) or
// has returned, says which, and waits for the ioctl as without the option.
// The handler does not restart calls: an interrupted ioctl ends with EINTR.
//
// --kill self: the request goes from a second thread; once the supervisor
// holds a copy of standard output (the request has reached it), the main
// thread prints "killing myself" and sends this process SIGKILL.
// --kill child-keep, child-close: a child sends the request and writes its
// result to a pipe; child-close first closes every descriptor but the
// device and that pipe. Once the supervisor holds a copy of the pipe, the
// probe kills the child, prints "killed the child", and exits at once
// without waiting for it. child-held: as child-keep, for a request that a
// queueing map holds: the child is killed once the audit log
// (SANSIM_AUDIT) shows the request held. child-reaped: as child-close,
// then the probe asks for the child's exit without waiting ("not waiting:
// nothing yet" or "ended"), and waits for it ("reaped the child: killed").
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/sg.h>
#include <stdio.h>
#include <stdlib.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

bool ParseHex(const char* text, std::vector<uint8_t>* out) {
    char* end = nullptr;
    for (const char* p = text; *p != '\0'; p = end) {
        while (*p == ' ') {
            ++p;
        }
        if (*p == '\0') {
            break;
        }
        unsigned long byte = strtoul(p, &end, 16);
        if (end == p || byte > 0xFF) {
            return false;
        }
        out->push_back(static_cast<uint8_t>(byte));
    }
    return !out->empty();
}

// label[N]=the first bytes (at most 16), then the byte after the N received
// when the buffer has one (0xee: untouched).
void PrintBytes(const char* label, const std::vector<uint8_t>& buffer, size_t n) {
    if (n > buffer.size()) {
        printf("%s: %zu bytes claimed, the buffer has %zu\n", label, n, buffer.size());
        return;
    }
    printf("%s[%zu]=", label, n);
    for (size_t i = 0; i < n && i < 16; ++i) {
        printf(i == 0 ? "%02x" : " %02x", buffer[i]);
    }
    if (n < buffer.size()) {
        printf(" | %02x", buffer[n]);
    }
    printf("\n");
}

volatile sig_atomic_t g_caught = 0;

void OnUsr1(int) {
    g_caught = 1;
}

// The state letter of a thread of this process ('?' once it has ended) and
// whether a SIGUSR1 is pending on it.
char ThreadState(pid_t tid, bool* usr1Pending) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    char state = '?';
    *usr1Pending = false;
    while (std::getline(status, line)) {
        if (line.compare(0, 7, "State:\t") == 0 && line.size() > 7) {
            state = line[7];
        } else if (line.compare(0, 8, "SigPnd:\t") == 0) {
            *usr1Pending = (strtoull(line.c_str() + 8, nullptr, 16) >> (SIGUSR1 - 1) & 1) != 0;
        }
    }
    return state;
}

// Sends SIGUSR1 to the thread in the ioctl and says where that left it.
void SignalSender(pid_t tid, const std::atomic<bool>& returned) {
    syscall(SYS_tgkill, getpid(), tid, SIGUSR1);
    bool pending = false;
    char state = '?';
    while (!returned && (state = ThreadState(tid, &pending)) != 'D') {
        usleep(1000);
    }
    if (returned) {
        printf("ioctl thread: returned\n");
    } else {
        printf("ioctl thread: state %c, SIGUSR1 %s\n", state, pending ? "pending" : "not pending");
    }
    fflush(stdout);
}

// SG_IO from a second thread while this one takes a SIGUSR1 (--catch usr1).
int IoctlWhileSignalled(int fd, sg_io_hdr_t* hdr) {
    struct sigaction action = {};
    action.sa_handler = OnUsr1;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    sigset_t usr1, others;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    std::atomic<pid_t> tid{0};
    std::atomic<bool> returned{false};
    int ret = 0, err = 0;
    std::thread sender([&] {
        tid = static_cast<pid_t>(syscall(SYS_gettid));
        ret = ioctl(fd, SG_IO, hdr);
        err = errno;
        returned = true;
    });
    // Blocked here but in the wait: the handler runs in this thread.
    pthread_sigmask(SIG_BLOCK, &usr1, &others);
    printf("pid=%d\n", static_cast<int>(getpid()));
    fflush(stdout);
    sigdelset(&others, SIGUSR1);
    while (g_caught == 0) {
        sigsuspend(&others);
    }
    printf("caught SIGUSR1\n");
    while (tid == 0) {
        usleep(1000);
    }
    SignalSender(tid, returned);
    sender.join();
    errno = err;
    return ret;
}

// How many descriptors of the supervisor (the processes named sansim) are
// open on the file that fd of this process is open on.
int SupervisorCopies(int fd) {
    struct stat own = {};
    DIR* proc = opendir("/proc");
    if (fstat(fd, &own) != 0 || proc == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = readdir(proc)) {
        const std::string base = std::string("/proc/") + entry->d_name;
        std::string comm;
        std::ifstream commFile(base + "/comm");
        std::getline(commFile, comm);
        DIR* fds = comm == "sansim" ? opendir((base + "/fd").c_str()) : nullptr;
        while (const dirent* f = fds != nullptr ? readdir(fds) : nullptr) {
            struct stat st = {};
            count += f->d_name[0] != '.' && stat((base + "/fd/" + f->d_name).c_str(), &st) == 0 &&
                     st.st_dev == own.st_dev && st.st_ino == own.st_ino;
        }
        if (fds != nullptr) {
            closedir(fds);
        }
    }
    closedir(proc);
    return count;
}

// Waits until the supervisor holds one copy more than before.
void WaitForHold(int fd, int before) {
    while (SupervisorCopies(fd) <= before) {
        usleep(1000);
    }
}

// Waits until the audit log shows a held request.
void WaitForHeldLine() {
    const char* audit = getenv("SANSIM_AUDIT");
    for (;;) {
        std::ifstream log(audit != nullptr ? audit : "");
        std::string line;
        while (std::getline(log, line)) {
            if (line.find(" held=1") != std::string::npos) {
                return;
            }
        }
        usleep(1000);
    }
}

// --kill self.
int KillSelfInCall(int fd, sg_io_hdr_t* hdr) {
    const int before = SupervisorCopies(STDOUT_FILENO);
    std::thread sender([fd, hdr] { ioctl(fd, SG_IO, hdr); });
    WaitForHold(STDOUT_FILENO, before);
    printf("killing myself\n");
    fflush(stdout);
    kill(getpid(), SIGKILL);
    sender.join();
    return 1;
}

void CloseAllBut(int a, int b) {
    for (int fd = 0; fd < 1024; ++fd) {
        if (fd != a && fd != b) {
            close(fd);
        }
    }
}

// --kill child-keep, child-close, child-reaped.
int KillChildInCall(int fd, sg_io_hdr_t* hdr, const std::string& mode) {
    const bool keep = mode != "child-close" && mode != "child-reaped";
    int result[2];
    if (pipe(result) != 0) {
        return 1;
    }
    const int before = SupervisorCopies(result[0]);
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(result[0]);
        if (!keep) {
            CloseAllBut(fd, result[1]);
        }
        const int ret = ioctl(fd, SG_IO, hdr);
        dprintf(result[1], "ret=%d\n", ret);
        _exit(0);
    }
    close(result[1]);
    if (mode == "child-held") {
        WaitForHeldLine();
    } else {
        WaitForHold(result[0], before);
    }
    kill(child, SIGKILL);
    printf("killed the child\n");
    if (mode == "child-reaped") {
        // The kernel reports the exit only once the child's command is
        // done: not yet without waiting, and the wait lasts until then.
        int status = 0;
        printf("not waiting: %s\n",
               waitpid(child, &status, WNOHANG) == 0 ? "nothing yet" : "ended");
        fflush(stdout);
        const bool reaped = waitpid(child, &status, 0) == child;
        printf("reaped the child: %s\n",
               reaped && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? "killed" : "other");
    }
    return 0;
}

bool KnownKillMode(const char* mode) {
    for (const char* known : {"self", "child-keep", "child-close", "child-held", "child-reaped"}) {
        if (strcmp(mode, known) == 0) {
            return true;
        }
    }
    return false;
}

int Usage() {
    fprintf(stderr,
            "usage: sgio_probe DEVICE CDB_HEX [--len N] [--sb N] [--iov K] [--dir in|none] "
            "[--interface C] [--ioctl blkgetsize64] [--timeout MS] [--duration at-least] "
            "[--catch usr1] [--kill self|child-keep|child-close|child-held|child-reaped]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    std::vector<uint8_t> cdb;
    if (!ParseHex(argv[2], &cdb)) {
        return Usage();
    }
    unsigned len = 0, sb = 32, iov = 0;
    int direction = SG_DXFER_FROM_DEV;
    char interface = 'S';
    bool sizeIoctl = false;
    unsigned timeout = 5000;
    bool checkDuration = false;
    bool catchUsr1 = false;
    std::string killMode;
    for (int i = 3; i < argc; ++i) {
        std::string opt = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (value == nullptr) {
            return Usage();
        }
        ++i;
        if (opt == "--len") {
            len = static_cast<unsigned>(atoi(value));
        } else if (opt == "--sb") {
            sb = static_cast<unsigned>(atoi(value));
        } else if (opt == "--iov") {
            iov = static_cast<unsigned>(atoi(value));
        } else if (opt == "--dir") {
            direction = strcmp(value, "none") == 0 ? SG_DXFER_NONE : SG_DXFER_FROM_DEV;
        } else if (opt == "--interface") {
            interface = value[0];
        } else if (opt == "--ioctl" && strcmp(value, "blkgetsize64") == 0) {
            sizeIoctl = true;
        } else if (opt == "--timeout") {
            timeout = static_cast<unsigned>(strtoul(value, nullptr, 10));
        } else if (opt == "--duration" && strcmp(value, "at-least") == 0) {
            checkDuration = true;
        } else if (opt == "--catch" && strcmp(value, "usr1") == 0) {
            catchUsr1 = true;
        } else if (opt == "--kill" && KnownKillMode(value)) {
            killMode = value;
        } else {
            return Usage();
        }
    }

    int fd = open(argv[1], O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        printf("open: %s\n", strerror(errno));
        return 1;
    }
    if (sizeIoctl) {
        uint64_t bytes = 0;
        int ret = ioctl(fd, BLKGETSIZE64, &bytes);
        printf("ret=%d errno=%s\n", ret, ret == 0 ? "-" : strerror(errno));
        close(fd);
        return 0;
    }

    std::vector<uint8_t> data(len, 0xEE);
    std::vector<uint8_t> sense(64, 0xEE);
    std::vector<sg_iovec_t> parts;
    sg_io_hdr_t hdr;
    memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = interface;
    hdr.dxfer_direction = len == 0 ? SG_DXFER_NONE : direction;
    hdr.cmd_len = static_cast<unsigned char>(cdb.size());
    hdr.cmdp = cdb.data();
    hdr.mx_sb_len = static_cast<unsigned char>(sb);
    hdr.sbp = sense.data();
    hdr.dxfer_len = len;
    hdr.dxferp = data.data();
    hdr.timeout = timeout;
    hdr.status = hdr.masked_status = 0xEE;
    hdr.host_status = hdr.driver_status = 0xEEEE;
    hdr.resid = -1;
    hdr.info = 0xEE;
    if (iov > 0 && len > 0) {
        for (unsigned k = 0; k < iov; ++k) {
            unsigned from = len * k / iov, to = len * (k + 1) / iov;
            parts.push_back({data.data() + from, to - from});
        }
        hdr.iovec_count = static_cast<unsigned short>(parts.size());
        hdr.dxferp = parts.data();
    }
    if (killMode == "self") {
        return KillSelfInCall(fd, &hdr);
    }
    if (!killMode.empty()) {
        return KillChildInCall(fd, &hdr, killMode);
    }
    int ret = catchUsr1 ? IoctlWhileSignalled(fd, &hdr) : ioctl(fd, SG_IO, &hdr);
    close(fd);
    if (ret != 0) {
        printf("ret=%d errno=%s\n", ret, strerror(errno));
        return 0;
    }
    printf(
        "ret=0 status=0x%02x masked=0x%02x msg=0x%02x host=0x%04x driver=0x%04x info=0x%x "
        "sb_len_wr=%u resid=%d\n",
        hdr.status, hdr.masked_status, hdr.msg_status, hdr.host_status, hdr.driver_status, hdr.info,
        hdr.sb_len_wr, hdr.resid);
    PrintBytes("data", data, len - static_cast<size_t>(hdr.resid));
    PrintBytes("sense", sense, hdr.sb_len_wr);
    if (checkDuration) {
        const unsigned effective = std::max(timeout == 0 ? 60000u : timeout, 7000u);
        printf("duration %s %u ms\n", hdr.duration >= effective ? "at least" : "below", effective);
    }
    return 0;
}
