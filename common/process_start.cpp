// The standard descriptors and the closed pipe of a program's start.
#include "process_start.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_brokenPipeStatus = 1;
bool g_brokenPipeCaught = false;

// Async-signal-safe: _exit and a read of a sig_atomic_t alone. Buffered
// output is dropped, as its reader is gone.
void ExitOnSignal(int) {
    _exit(g_brokenPipeStatus);
}

bool IsClosed(int fd) {
    return fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

}  // namespace

void process_HoldStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (!IsClosed(fd)) {
            continue;
        }
        // open takes the lowest free number, which is fd itself: every
        // lower one is held already.
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0 && null != fd) {
            (void)dup2(null, fd);
            (void)close(null);
        }
    }
}

void process_ExitOnBrokenPipe(int status) {
    g_brokenPipeStatus = status;
    if (g_brokenPipeCaught) {
        return;
    }
    struct sigaction action = {};
    action.sa_handler = ExitOnSignal;
    (void)sigemptyset(&action.sa_mask);
    g_brokenPipeCaught = sigaction(SIGPIPE, &action, nullptr) == 0;
}
