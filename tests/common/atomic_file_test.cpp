// Tests of the atomic replacement of a file where the end-to-end check of
// --textfile (tests/monitor/check_textfile.py: the replacement, its mode,
// write, directory and rename failures) cannot reach: a file never
// committed, names with no file in them, use without a file, names that
// are not regular files, the length of the temporary name, and the signals
// that end a writer while its temporary file exists.
#include "atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <algorithm>

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
    // The one entry of the directory that is not in kept.
    std::string Other(const std::vector<std::string>& kept) const {
        std::string other;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename();
            if (std::find(kept.begin(), kept.end(), name) == kept.end()) {
                other = name;
            }
        }
        return other;
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

TEST_F(AtomicFiles, NamesThatAreNotRegularFilesAreRefusedAndLeftAlone) {
    const std::string fifo = dir_ + "/fifo";
    const std::string sub = dir_ + "/sub";
    const std::string toNull = dir_ + "/to-null";
    const std::string toStdout = dir_ + "/stdout";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    ASSERT_EQ(symlink("/dev/null", toNull.c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/fd/1", toStdout.c_str()), 0);
    const struct {
        std::string path;
        int error;
    } cases[] = {{"/dev/null", ENOTSUP}, {fifo, ENOTSUP},     {sub, EISDIR},
                 {toNull, ENOTSUP},      {toStdout, ENOTSUP}, {"/dev/stdout", ENOTSUP}};
    for (const auto& c : cases) {
        AtomicFile file;
        errno = 0;
        EXPECT_FALSE(file.Open(c.path.c_str())) << c.path;
        EXPECT_EQ(errno, c.error) << c.path;
    }
    EXPECT_EQ(Entries(), 5u) << "a temporary file was created";
    struct stat st = {};
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(AtomicFiles, ANameThatBecomesAFifoBeforeTheCommitIsNotReplaced) {
    AtomicFile file;
    ASSERT_TRUE(file.Open(target_.c_str()));
    ASSERT_TRUE(file.Write("new\n", 4));
    ASSERT_EQ(unlink(target_.c_str()), 0);
    ASSERT_EQ(mkfifo(target_.c_str(), 0600), 0);
    EXPECT_FALSE(file.Commit(0644));
    EXPECT_EQ(errno, ENOTSUP);
    struct stat st = {};
    ASSERT_EQ(lstat(target_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(Entries(), 1u) << "the temporary file was left";
}

TEST_F(AtomicFiles, ALinkIsReplacedItselfAndItsTargetKeepsItsText) {
    const std::string link = dir_ + "/link.prom";
    const std::string dangling = dir_ + "/dangling.prom";
    ASSERT_EQ(symlink(target_.c_str(), link.c_str()), 0);
    ASSERT_EQ(symlink((dir_ + "/nowhere").c_str(), dangling.c_str()), 0);
    for (const std::string& path : {link, dangling}) {
        AtomicFile file;
        ASSERT_TRUE(file.Open(path.c_str())) << path;
        ASSERT_TRUE(file.Write("new\n", 4));
        ASSERT_TRUE(file.Commit(0644)) << path;
        struct stat st = {};
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << path << " is still a link";
        EXPECT_EQ(Read(path), "new\n");
    }
    EXPECT_EQ(Read(target_), "old\n");
    EXPECT_FALSE(fs::exists(dir_ + "/nowhere"));
}

// The temporary name is hidden where it can be, never longer than the
// target's, so that every name the directory takes (255 bytes) works.
TEST_F(AtomicFiles, TheTemporaryNameIsNoLongerThanTheTargetsUpTo255Bytes) {
    for (size_t length : {1u, 2u, 7u, 8u, 9u, 13u, 254u, 255u}) {
        const std::string name(length, 'n');
        const std::string path = dir_ + "/" + name;
        AtomicFile file;
        ASSERT_TRUE(file.Open(path.c_str())) << length;
        const std::string temp = Other({"metrics.prom", name});
        EXPECT_EQ(temp.size(), length) << temp;
        if (length >= 2) {
            EXPECT_EQ(temp[0], '.') << temp;
        }
        if (length >= 9) {
            EXPECT_EQ(temp.substr(1, length - 8), name.substr(0, length - 8)) << temp;
        }
        ASSERT_TRUE(file.Write("new\n", 4));
        ASSERT_TRUE(file.Commit(0644)) << length;
        EXPECT_EQ(Read(path), "new\n");
        ASSERT_EQ(unlink(path.c_str()), 0);
    }
    AtomicFile file;
    errno = 0;
    EXPECT_FALSE(file.Open((dir_ + "/" + std::string(256, 'n')).c_str()));
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(Entries(), 1u);
}

// A writer that a signal ends between the temporary file and the rename:
// its status, and what it leaves in the directory.
int WriterEndedBy(const std::string& target, int sig, bool ignored) {
    const pid_t child = fork();
    if (child == 0) {
        if (ignored) {
            (void)signal(sig, SIG_IGN);
        }
        AtomicFile file;
        if (!file.Open(target.c_str()) || !file.Write("new\n", 4)) {
            _exit(20);
        }
        (void)raise(sig);
        // Only an ignored signal comes here; after the commit the signal
        // acts as it did before the file was opened.
        struct sigaction after = {};
        const bool kept = file.Commit(0644) && sigaction(sig, nullptr, &after) == 0 &&
                          after.sa_handler == SIG_IGN;
        _exit(kept ? 0 : 21);
    }
    int status = 0;
    (void)waitpid(child, &status, 0);
    return status;
}

TEST_F(AtomicFiles, ATerminatingSignalRemovesTheTemporaryFileAndStillEndsTheWriter) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        const int status = WriterEndedBy(target_, sig, false);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << strsignal(sig) << status;
        EXPECT_EQ(Entries(), 1u) << strsignal(sig) << ": the temporary file was left";
        EXPECT_EQ(Read(target_), "old\n");
    }
    const int status = WriterEndedBy(target_, SIGHUP, true);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(Read(target_), "new\n");
}

TEST_F(AtomicFiles, TheSignalsActAsBeforeOnceNoTemporaryFileExists) {
    {
        AtomicFile file;
        ASSERT_TRUE(file.Open(target_.c_str()));
        struct sigaction during = {};
        ASSERT_EQ(sigaction(SIGTERM, nullptr, &during), 0);
        EXPECT_NE(during.sa_handler, SIG_DFL);
    }
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction after = {};
        ASSERT_EQ(sigaction(sig, nullptr, &after), 0);
        EXPECT_EQ(after.sa_handler, SIG_DFL) << strsignal(sig);
    }
}

}  // namespace
