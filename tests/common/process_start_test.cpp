// Tests of a program's start: the standard descriptors held before any
// file is opened, and the status a closed pipe gives.
#include "process_start.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Runs body in a child; its exit status, or 128 + the signal that ended it.
template <typename Body>
int InChild(Body body) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    int status = 0;
    (void)waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// 0 when fd is /dev/null open read-only, else a number that tells why not.
int ReadOnlyNull(int fd) {
    struct stat st = {};
    struct stat null = {};
    if (fstat(fd, &st) != 0 || stat("/dev/null", &null) != 0) {
        return 10 + fd;
    }
    if (!S_ISCHR(st.st_mode) || st.st_rdev != null.st_rdev) {
        return 20 + fd;
    }
    return (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY ? 0 : 30 + fd;
}

TEST(ProcessStart, ClosedStandardDescriptorsHoldNullAndNoFileTakesTheirNumbers) {
    for (int closed : {0b001, 0b010, 0b100, 0b101, 0b111}) {
        const int status = InChild([closed] {
            struct stat before[3] = {};
            for (int fd = 0; fd <= 2; ++fd) {
                if ((closed & (1 << fd)) != 0) {
                    (void)close(fd);
                } else if (fstat(fd, &before[fd]) != 0) {
                    return 1;
                }
            }
            process_HoldStandardDescriptors();
            for (int fd = 0; fd <= 2; ++fd) {
                struct stat now = {};
                if ((closed & (1 << fd)) != 0) {
                    const int why = ReadOnlyNull(fd);
                    if (why != 0) {
                        return why;
                    }
                } else if (fstat(fd, &now) != 0 || now.st_ino != before[fd].st_ino ||
                           now.st_dev != before[fd].st_dev) {
                    return 40 + fd;  // an open descriptor was replaced
                }
            }
            // The next file opened read-write gets a number above 2.
            const int disk = open("/dev/zero", O_RDWR);
            return disk > 2 ? 0 : 50;
        });
        EXPECT_EQ(status, 0) << "closed set " << closed;
    }
}

// A writer to a pipe whose reader is gone.
int StatusOfBrokenPipe(int status) {
    return InChild([status] {
        process_ExitOnBrokenPipe(1);
        process_ExitOnBrokenPipe(status);  // the later status stands
        int ends[2];
        if (pipe(ends) != 0) {
            return 99;
        }
        (void)close(ends[0]);
        (void)write(ends[1], "x", 1);
        return 98;  // the write came back
    });
}

TEST(ProcessStart, AClosedPipeEndsTheProgramWithItsStatusNotTheSignal) {
    EXPECT_EQ(StatusOfBrokenPipe(1), 1);
    EXPECT_EQ(StatusOfBrokenPipe(3), 3);
}

TEST(ProcessStart, TheBrokenPipeSignalIsCaughtSoThatCommandsGetItsDefault) {
    const int status = InChild([] {
        process_ExitOnBrokenPipe(1);
        struct sigaction now = {};
        if (sigaction(SIGPIPE, nullptr, &now) != 0) {
            return 2;
        }
        // exec resets a caught signal, never an ignored one.
        return now.sa_handler != SIG_IGN && now.sa_handler != SIG_DFL ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
