// Whether a command is installed, by PATH alone (common/search_path): what
// the shell would run is found, what it would not is not.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "search_path.h"

namespace {

class SearchPath : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/search_path_testXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        bin_ = root_ + "/bin";
        other_ = root_ + "/other";
        ASSERT_EQ(mkdir(bin_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(other_.c_str(), 0755), 0);
    }
    void TearDown() override {
        for (const std::string& file : files_) {
            (void)unlink(file.c_str());
            (void)rmdir(file.c_str());
        }
        (void)rmdir(bin_.c_str());
        (void)rmdir(other_.c_str());
        (void)rmdir(root_.c_str());
    }
    void File(const std::string& path, mode_t mode) {
        FILE* f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        (void)fclose(f);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        files_.push_back(path);
    }
    std::string root_, bin_, other_;
    std::vector<std::string> files_;
};

TEST_F(SearchPath, FindsAnExecutableRegularFileInAnyEntry) {
    File(other_ + "/multipath", 0755);
    EXPECT_TRUE(SearchPathHasIn("multipath", (bin_ + ":" + other_).c_str()));
    EXPECT_TRUE(SearchPathHasIn("multipath", other_.c_str()));
    EXPECT_FALSE(SearchPathHasIn("multipath", bin_.c_str()));
    EXPECT_FALSE(SearchPathHasIn("tsadm", (bin_ + ":" + other_).c_str()));
}

TEST_F(SearchPath, FollowsALinkToAnExecutable) {
    File(other_ + "/real", 0755);
    ASSERT_EQ(symlink((other_ + "/real").c_str(), (bin_ + "/tsadm").c_str()), 0);
    files_.push_back(bin_ + "/tsadm");
    EXPECT_TRUE(SearchPathHasIn("tsadm", bin_.c_str()));
}

// What the shell would not run is no command: a directory, a file without
// an execute bit, a dangling link.
TEST_F(SearchPath, SkipsWhatCannotRun) {
    ASSERT_EQ(mkdir((bin_ + "/multipath").c_str(), 0755), 0);
    files_.push_back(bin_ + "/multipath");
    File(bin_ + "/tsadm", 0644);
    ASSERT_EQ(symlink((root_ + "/none").c_str(), (bin_ + "/tsTools").c_str()), 0);
    files_.push_back(bin_ + "/tsTools");
    for (const char* name : {"multipath", "tsadm", "tsTools"}) {
        // Root may execute any file with an execute bit, and none without.
        EXPECT_FALSE(SearchPathHasIn(name, bin_.c_str())) << name;
    }
    File(other_ + "/multipath", 0700);
    EXPECT_TRUE(SearchPathHasIn("multipath", (bin_ + ":" + other_).c_str()));
}

// An empty entry (leading, trailing or doubled colon) is the current
// directory, as for the shell.
TEST_F(SearchPath, EmptyEntryIsTheCurrentDirectory) {
    File(bin_ + "/multipath", 0755);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(bin_.c_str()), 0);
    const bool leading = SearchPathHasIn("multipath", (":" + other_).c_str());
    const bool doubled = SearchPathHasIn("multipath", (other_ + "::" + other_).c_str());
    const bool trailing = SearchPathHasIn("multipath", (other_ + ":").c_str());
    const bool none = SearchPathHasIn("multipath", other_.c_str());
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(leading);
    EXPECT_TRUE(doubled);
    EXPECT_TRUE(trailing);
    EXPECT_FALSE(none);
}

TEST_F(SearchPath, NameWithASlashOrEmptyIsNeverSearched) {
    File(bin_ + "/multipath", 0755);
    EXPECT_FALSE(SearchPathHasIn("bin/multipath", root_.c_str()));
    EXPECT_FALSE(SearchPathHasIn("", bin_.c_str()));
    EXPECT_FALSE(SearchPathHasIn(nullptr, bin_.c_str()));
}

TEST_F(SearchPath, ReadsPathOfTheEnvironment) {
    File(bin_ + "/tsadmin", 0755);
    const char* saved = getenv("PATH");
    const std::string keep = saved != nullptr ? saved : "";
    ASSERT_EQ(setenv("PATH", bin_.c_str(), 1), 0);
    const bool found = SearchPathHas("tsadmin");
    const bool other = SearchPathHas("tsTools");
    ASSERT_EQ(setenv("PATH", keep.c_str(), 1), 0);
    EXPECT_TRUE(found);
    EXPECT_FALSE(other);
}

}  // namespace
