// A file replaced whole or not at all: the new text goes to a temporary file
// in the target's own directory (so that the rename stays on one file
// system), which is flushed to the disk and then renamed over the target. A
// reader of the target sees the old text or the new one, never a part.
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

    // Creates the temporary file ".NAME.XXXXXX" beside path. False (errno
    // set) when the directory cannot take it or the name is too long.
    bool Open(const char* path);
    // Writes the whole text; false (errno set) on a short or failed write.
    bool Write(const char* text, size_t length);
    // Sets mode, flushes the data to the disk, renames the temporary file
    // over the target and flushes the directory. False (errno set) when
    // any step fails: the target then keeps its old text.
    bool Commit(mode_t mode);

  private:
    void Discard();

    UniqueFd fd_;
    char target_[4096] = {};
    char temp_[4096] = {};
    char dir_[4096] = {};
};

#endif  // TSKIT_COMMON_ATOMIC_FILE_H
