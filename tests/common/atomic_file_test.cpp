// Tests of the atomic replacement of a file: the target holds its old text
// or the new one, never a part, and no temporary file outlives a failure.
#include "atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(AtomicFiles, CommitReplacesTheTargetWithItsModeAndLeavesNothingElse) {
    AtomicFile file;
    ASSERT_TRUE(file.Open(target_.c_str()));
    ASSERT_TRUE(file.Write("new\n", 4));
    EXPECT_EQ(Read(target_), "old\n") << "the target changed before the commit";
    EXPECT_EQ(Entries(), 2u) << "the temporary file is beside the target";
    ASSERT_TRUE(file.Commit(0644));
    EXPECT_EQ(Read(target_), "new\n");
    struct stat info {};
    ASSERT_EQ(stat(target_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicFiles, AFileNeverCommittedLeavesTheOldTargetAndNoTemporaryFile) {
    {
        AtomicFile file;
        ASSERT_TRUE(file.Open(target_.c_str()));
        ASSERT_TRUE(file.Write("half", 4));
    }
    EXPECT_EQ(Read(target_), "old\n");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicFiles, FailuresAreReportedAndCleanedUp) {
    const std::string missing = dir_ + "/missing/metrics.prom";
    const std::string folder = dir_ + "/folder";
    fs::create_directory(folder);
    const struct {
        std::string path;
        bool opens;
    } kCases[] = {
        {missing, false},
        {dir_ + "/", false},
        {"", false},
        {folder, true},  // the rename over a directory fails at the commit
    };
    for (const auto& c : kCases) {
        AtomicFile file;
        errno = 0;
        const bool opened = file.Open(c.path.c_str());
        EXPECT_EQ(opened, c.opens) << c.path;
        if (opened) {
            EXPECT_TRUE(file.Write("new\n", 4));
            EXPECT_FALSE(file.Commit(0644)) << c.path;
        }
        EXPECT_NE(errno, 0) << c.path;
        EXPECT_EQ(Entries(), 2u) << c.path << ": a temporary file was left";
        EXPECT_EQ(Read(target_), "old\n");
    }
}

TEST_F(AtomicFiles, WritesWithoutAnOpenFileFail) {
    AtomicFile file;
    EXPECT_FALSE(file.Write("x", 1));
    EXPECT_FALSE(file.Commit(0644));
}

}  // namespace
