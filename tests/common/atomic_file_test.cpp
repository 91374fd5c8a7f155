// Tests of the atomic replacement of a file where the end-to-end check of
// --textfile (tests/monitor/check_textfile.py: the replacement, its mode,
// write, directory and rename failures) cannot reach: a file never
// committed, names with no file in them, and use without a file.
#include "atomic_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class AtomicFiles : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/atomic_file_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        target_ = dir_ + "/metrics.prom";
        std::ofstream(target_) << "old\n";
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    size_t Entries() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }

    std::string dir_;
    std::string target_;
};

TEST_F(AtomicFiles, AFileNeverCommittedLeavesTheOldTargetAndNoTemporaryFile) {
    {
        AtomicFile file;
        ASSERT_TRUE(file.Open(target_.c_str()));
        ASSERT_TRUE(file.Write("half", 4));
    }
    EXPECT_EQ(Read(target_), "old\n");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicFiles, NamesWithoutAFileAreRefused) {
    for (const std::string& path : {dir_ + "/", std::string(), std::string(5000, 'x')}) {
        AtomicFile file;
        errno = 0;
        EXPECT_FALSE(file.Open(path.c_str())) << path;
        EXPECT_NE(errno, 0) << path;
        EXPECT_EQ(Entries(), 1u) << path << ": a file was left";
    }
}

TEST_F(AtomicFiles, WritesWithoutAnOpenFileFail) {
    AtomicFile file;
    EXPECT_FALSE(file.Write("x", 1));
    EXPECT_FALSE(file.Commit(0644));
}

}  // namespace
