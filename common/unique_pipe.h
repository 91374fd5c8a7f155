// Owner of one pipe from popen: pcloses it when the owner goes out of scope,
// so that no return path after a popen leaves the child unreaped.
#ifndef TSKIT_COMMON_UNIQUE_PIPE_H
#define TSKIT_COMMON_UNIQUE_PIPE_H

#include <stdio.h>

class UniquePipe {
  public:
    UniquePipe() = default;
    explicit UniquePipe(FILE* stream) : stream_(stream) {}
    ~UniquePipe() { (void)Close(); }

    UniquePipe(const UniquePipe&) = delete;
    UniquePipe& operator=(const UniquePipe&) = delete;
    UniquePipe(UniquePipe&& other) noexcept : stream_(other.Release()) {}
    UniquePipe& operator=(UniquePipe&& other) noexcept {
        if (this != &other) {
            (void)Close();
            stream_ = other.Release();
        }
        return *this;
    }

    FILE* Get() const { return stream_; }
    bool Valid() const { return stream_ != nullptr; }

    // Gives the stream up without closing it.
    FILE* Release() {
        FILE* stream = stream_;
        stream_ = nullptr;
        return stream;
    }

    // pcloses the owned pipe: the command's wait status, or -1 when there was
    // none (or pclose failed).
    int Close() {
        if (stream_ == nullptr) {
            return -1;
        }
        int status = pclose(stream_);
        stream_ = nullptr;
        return status;
    }

  private:
    FILE* stream_ = nullptr;
};

#endif  // TSKIT_COMMON_UNIQUE_PIPE_H
