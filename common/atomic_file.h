// A file replaced whole or not at all: the new text goes to a temporary file
// in the target's own directory (so that the rename stays on one file
// system), which is flushed to the disk and then renamed over the target. A
// reader of the target sees the old text or the new one, never a part.
//
// Only a regular file is ever replaced: a name that holds a device, a pipe,
// a socket or a directory (/dev/null, /dev/stdout) is refused before
// anything is created. A symbolic link is replaced itself, never written
// through, when it leads to a regular file or to nothing.
//
// While a temporary file exists, SIGHUP, SIGINT and SIGTERM remove it and
// then end the program by the same signal, as they would have; a signal the
// program was started with ignored stays ignored. Only SIGKILL (or a power
// loss) can leave a temporary file behind.
#ifndef TSKIT_COMMON_ATOMIC_FILE_H
#define TSKIT_COMMON_ATOMIC_FILE_H

#include <sys/types.h>

#include <cstddef>

#include "unique_fd.h"

class AtomicFile {
  public:
    AtomicFile() = default;
    // A temporary file that was never committed is removed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file beside path: a hidden name no longer than
    // path's last component (".NAME.XXXXXX" with NAME cut to keep the
    // length), so that any name the directory takes can be replaced. False
    // (errno set) when path is refused (EISDIR for a directory, ENOTSUP for
    // any other file that is not a regular one) or the directory cannot
    // take the temporary file.
    bool Open(const char* path);
    // Writes the whole text; false (errno set) on a short or failed write.
    bool Write(const char* text, size_t length);
    // Sets mode, flushes the data to the disk, renames the temporary file
    // over the target and flushes the directory. False (errno set) when
    // any step fails or the target is no longer a name Open accepts: the
    // target then keeps its old text.
    bool Commit(mode_t mode);

  private:
    void Discard();

    UniqueFd fd_;
    int slot_ = -1;  // where the signal handlers find the temporary name
    char target_[4096] = {};
    char temp_[4096] = {};
    char dir_[4096] = {};
};

#endif  // TSKIT_COMMON_ATOMIC_FILE_H
