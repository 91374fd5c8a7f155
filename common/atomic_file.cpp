// The temporary file, the flushes and the rename of an atomic replacement.
#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

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

}  // namespace

AtomicFile::~AtomicFile() {
    Discard();
}

void AtomicFile::Discard() {
    if (fd_.Valid()) {
        fd_.Reset();
        (void)unlink(temp_);
    }
    temp_[0] = '\0';
}

bool AtomicFile::Open(const char* path) {
    Discard();
    const char* base = nullptr;
    const size_t length = strlen(path);
    if (length == 0 || length >= sizeof target_ || !SplitPath(path, dir_, sizeof dir_, &base) ||
        base[0] == '\0') {
        errno = length >= sizeof target_ ? ENAMETOOLONG : EINVAL;
        return false;
    }
    (void)memcpy(target_, path, length + 1);
    const int n = snprintf(temp_, sizeof temp_, "%s/.%s.XXXXXX", dir_, base);
    if (n < 0 || static_cast<size_t>(n) >= sizeof temp_) {
        temp_[0] = '\0';
        errno = ENAMETOOLONG;
        return false;
    }
    fd_.Reset(mkostemp(temp_, O_CLOEXEC));
    if (!fd_.Valid()) {
        temp_[0] = '\0';
        return false;
    }
    return true;
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
    if (ok && rename(temp_, target_) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        (void)unlink(temp_);
        temp_[0] = '\0';
        errno = saved;
        return false;
    }
    temp_[0] = '\0';
    // The rename reaches the disk with the directory. The target holds the
    // whole new text already, so a directory that cannot be flushed costs
    // only the durability of the rename across a power loss.
    UniqueFd dir(open(dir_, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) {
        (void)fsync(dir.Get());
    }
    return true;
}
