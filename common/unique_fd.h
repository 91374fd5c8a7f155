// Owner of one file descriptor: closes it when the owner goes out of scope,
// so that no return path after an open leaks the descriptor.
#ifndef TSKIT_COMMON_UNIQUE_FD_H
#define TSKIT_COMMON_UNIQUE_FD_H

#include <unistd.h>

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }

    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

    // Closes the owned descriptor (if any) and takes fd instead.
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            (void)close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

#endif  // TSKIT_COMMON_UNIQUE_FD_H
