// Owner of one open directory stream: closes it when the owner goes out of
// scope, so that no return path after an opendir leaks the stream.
#ifndef TSKIT_COMMON_UNIQUE_DIR_H
#define TSKIT_COMMON_UNIQUE_DIR_H

#include <dirent.h>

class UniqueDir {
  public:
    explicit UniqueDir(DIR* dir) : dir_(dir) {}
    ~UniqueDir() {
        if (dir_ != nullptr) {
            (void)closedir(dir_);
        }
    }
    UniqueDir(const UniqueDir&) = delete;
    UniqueDir& operator=(const UniqueDir&) = delete;

    DIR* Get() const { return dir_; }
    bool Valid() const { return dir_ != nullptr; }

  private:
    DIR* dir_;
};

#endif  // TSKIT_COMMON_UNIQUE_DIR_H
