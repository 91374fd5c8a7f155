// Starts one command line the way the tools do and reports what happened:
//   popen_probe popen "multipath -ll"   -> "popen: NULL errno=EAGAIN" or
//                                          "popen: N lines, exit S"
//   popen_probe system "multipath -ll"  -> "system: -1 errno=EAGAIN" or "system: exit S"
// Built with the sanitizers like the tools, so it also shows that a sanitized
// program runs with the interposer in front of its runtime.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

namespace {

const char* ErrnoName(int err) {
    return err == EAGAIN ? "EAGAIN" : strerror(err);
}

int ProbePopen(const char* command) {
    errno = 0;
    FILE* pipe = popen(command, "r");
    if (pipe == nullptr) {
        printf("popen: NULL errno=%s\n", ErrnoName(errno));
        return 0;
    }
    int lines = 0;
    for (int c = fgetc(pipe); c != EOF; c = fgetc(pipe)) {
        lines += c == '\n' ? 1 : 0;
    }
    int status = pclose(pipe);
    printf("popen: %d lines, exit %d\n", lines, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}

int ProbeSystem(const char* command) {
    fflush(stdout);
    errno = 0;
    int status = system(command);
    if (status == -1) {
        printf("system: -1 errno=%s\n", ErrnoName(errno));
    } else {
        printf("system: exit %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: popen_probe popen|system COMMAND\n");
        return 2;
    }
    if (strcmp(argv[1], "popen") == 0) {
        return ProbePopen(argv[2]);
    }
    if (strcmp(argv[1], "system") == 0) {
        return ProbeSystem(argv[2]);
    }
    fprintf(stderr, "popen_probe: unknown mode %s\n", argv[1]);
    return 2;
}
