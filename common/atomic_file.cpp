// The temporary file, the flushes and the rename of an atomic replacement.
#include "atomic_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// ---- temporary names the signal handlers remove ----

// The handlers may run at any instruction: they read only these fixed
// buffers, and a name is filled in before its slot is marked used.
struct TemporarySlot {
    volatile sig_atomic_t used;
    char name[4096];
};

constexpr int kSlots = 4;
constexpr int kCleanedSignals[] = {SIGHUP, SIGINT, SIGTERM};
constexpr int kCleanedCount = sizeof kCleanedSignals / sizeof kCleanedSignals[0];

TemporarySlot g_slots[kSlots];
int g_slotsUsed = 0;
struct sigaction g_previous[kCleanedCount];
bool g_installed[kCleanedCount];

void RemoveTemporariesAndDie(int sig) {
    for (TemporarySlot& slot : g_slots) {
        if (slot.used != 0) {
            (void)unlink(slot.name);
        }
    }
    // Blocked while this handler runs, the signal raised again is taken
    // with the default action as the handler returns: the program ends by
    // it, and every thread sees a fatal signal, also one that waits in
    // the kernel for a queueing map.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    (void)sigemptyset(&fallback.sa_mask);
    (void)sigaction(sig, &fallback, nullptr);
    (void)raise(sig);
}

// Holds the cleaned signals off the calling thread while a temporary file
// comes or goes, so that no handler sees a file without its slot. The
// files are written once the device queries are over, with one thread.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t set;
        (void)sigemptyset(&set);
        for (int sig : kCleanedSignals) {
            (void)sigaddset(&set, sig);
        }
        (void)pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { (void)pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t old_;
};

// The handlers stand only while a temporary file exists: at any other
// time a signal acts as it did before (a thread waiting on a queueing map
// needs it fatal from the start). A signal found ignored stays ignored.
void InstallHandlers() {
    for (int i = 0; i < kCleanedCount; ++i) {
        g_installed[i] = false;
        if (sigaction(kCleanedSignals[i], nullptr, &g_previous[i]) != 0 ||
            g_previous[i].sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action = {};
        action.sa_handler = RemoveTemporariesAndDie;
        (void)sigemptyset(&action.sa_mask);
        for (int sig : kCleanedSignals) {
            (void)sigaddset(&action.sa_mask, sig);
        }
        g_installed[i] = sigaction(kCleanedSignals[i], &action, nullptr) == 0;
    }
}

void RestoreHandlers() {
    for (int i = 0; i < kCleanedCount; ++i) {
        if (g_installed[i]) {
            (void)sigaction(kCleanedSignals[i], &g_previous[i], nullptr);
            g_installed[i] = false;
        }
    }
}

// A slot for name, with the signals held; -1 when all are taken.
int ClaimSlot(const char* name) {
    for (int i = 0; i < kSlots; ++i) {
        if (g_slots[i].used == 0) {
            (void)snprintf(g_slots[i].name, sizeof g_slots[i].name, "%s", name);
            if (g_slotsUsed++ == 0) {
                InstallHandlers();
            }
            g_slots[i].used = 1;
            return i;
        }
    }
    return -1;
}

// With the signals held.
void ReleaseSlot(int* slot) {
    if (*slot < 0) {
        return;
    }
    g_slots[*slot].used = 0;
    *slot = -1;
    if (--g_slotsUsed == 0) {
        RestoreHandlers();
    }
}

// ---- names ----

// The longest last component a Linux file system takes.
constexpr size_t kMaxName = 255;

// Splits path into its directory ("." for none) and its last name.
bool SplitPath(const char* path, char* dir, size_t dirSize, const char** base) {
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) {
        *base = path;
        return snprintf(dir, dirSize, ".") > 0;
    }
    *base = slash + 1;
    const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (length >= dirSize) {
        return false;
    }
    (void)memcpy(dir, path, length);
    dir[length] = '\0';
    return true;
}

// Zero when path may be replaced: absent, a regular file, or a symbolic
// link to a regular file or to nothing. A link into /proc names an open
// descriptor (/dev/stdout), not a file, and is refused whatever it leads
// to. Else the errno of the refusal.
int RefusalOf(const char* path) {
    struct stat st = {};
    if (lstat(path, &st) != 0) {
        return errno == ENOENT ? 0 : errno;
    }
    if (S_ISREG(st.st_mode)) {
        return 0;
    }
    if (S_ISDIR(st.st_mode)) {
        return EISDIR;
    }
    if (!S_ISLNK(st.st_mode)) {
        return ENOTSUP;
    }
    char link[16] = {};
    if (readlink(path, link, sizeof link - 1) >= 0 && strncmp(link, "/proc/", 6) == 0) {
        return ENOTSUP;
    }
    if (stat(path, &st) != 0) {
        return errno == ENOENT ? 0 : errno;
    }
    return S_ISREG(st.st_mode) ? 0 : (S_ISDIR(st.st_mode) ? EISDIR : ENOTSUP);
}

// A hidden name of base's own length: "." + base cut short + "." + 6
// random characters; shorter names than 8 are "." and random characters
// (a name of one byte: one random character). The directory's own name
// limit then holds for the temporary name as it does for the target.
void TemporaryBase(const char* base, char* out) {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr size_t kRandom = 6;
    const size_t length = strlen(base);
    unsigned char noise[kMaxName] = {};
    if (getrandom(noise, length, GRND_NONBLOCK) != static_cast<ssize_t>(length)) {
        // No entropy yet (early boot): the process and the clock still
        // differ between writers, and O_EXCL settles any clash.
        unsigned long long state = static_cast<unsigned long long>(getpid()) << 32 ^
                                   static_cast<unsigned long long>(clock());
        for (size_t i = 0; i < length; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            noise[i] = static_cast<unsigned char>(state >> 56);
        }
    }
    size_t kept = 0;  // characters of base kept after the leading dot
    if (length > kRandom + 1) {
        kept = length - kRandom - 2;
        out[0] = '.';
        (void)memcpy(out + 1, base, kept);
        out[1 + kept] = '.';
        kept += 2;
    } else if (length > 1) {
        out[0] = '.';
        kept = 1;
    }
    for (size_t i = kept; i < length; ++i) {
        out[i] = kChars[noise[i] % (sizeof kChars - 1)];
    }
    out[length] = '\0';
}

}  // namespace

AtomicFile::~AtomicFile() {
    Discard();
}

void AtomicFile::Discard() {
    const SignalsHeld held;
    if (fd_.Valid()) {
        fd_.Reset();
        (void)unlink(temp_);
    }
    ReleaseSlot(&slot_);
    temp_[0] = '\0';
}

bool AtomicFile::Open(const char* path) {
    Discard();
    const char* base = nullptr;
    const size_t length = strlen(path);
    if (length >= sizeof target_) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (length == 0 || !SplitPath(path, dir_, sizeof dir_, &base) || base[0] == '\0') {
        errno = EINVAL;
        return false;
    }
    if (strlen(base) > kMaxName) {
        errno = ENAMETOOLONG;
        return false;
    }
    const int refusal = RefusalOf(path);
    if (refusal != 0) {
        errno = refusal;
        return false;
    }
    (void)memcpy(target_, path, length + 1);
    const size_t dirLength = strlen(dir_);
    if (dirLength + 1 + strlen(base) >= sizeof temp_) {
        errno = ENAMETOOLONG;
        return false;
    }
    (void)memcpy(temp_, dir_, dirLength);
    temp_[dirLength] = '/';
    for (int attempt = 0; attempt < 100; ++attempt) {
        TemporaryBase(base, temp_ + dirLength + 1);
        const SignalsHeld held;
        fd_.Reset(open(temp_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd_.Valid()) {
            slot_ = ClaimSlot(temp_);
            if (slot_ >= 0) {
                return true;
            }
            fd_.Reset();
            (void)unlink(temp_);
            errno = EMFILE;
            break;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    const int saved = errno;
    temp_[0] = '\0';
    errno = saved;
    return false;
}

bool AtomicFile::Write(const char* text, size_t length) {
    if (!fd_.Valid()) {
        errno = EBADF;
        return false;
    }
    while (length > 0) {
        const ssize_t n = write(fd_.Get(), text, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        text += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool AtomicFile::Commit(mode_t mode) {
    if (!fd_.Valid()) {
        errno = EBADF;
        return false;
    }
    bool ok = fchmod(fd_.Get(), mode) == 0 && fsync(fd_.Get()) == 0;
    int saved = errno;
    if (close(fd_.Release()) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    const SignalsHeld held;
    // The name may have become a device or a directory while the text was
    // written; the check stands as near to the rename as it can.
    const int refusal = ok ? RefusalOf(target_) : 0;
    if (refusal != 0) {
        ok = false;
        saved = refusal;
    }
    if (ok && rename(temp_, target_) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        (void)unlink(temp_);
    }
    ReleaseSlot(&slot_);
    temp_[0] = '\0';
    if (!ok) {
        errno = saved;
        return false;
    }
    // The rename reaches the disk with the directory. The target holds the
    // whole new text already, so a directory that cannot be flushed costs
    // only the durability of the rename across a power loss.
    UniqueFd dir(open(dir_, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) {
        (void)fsync(dir.Get());
    }
    return true;
}
