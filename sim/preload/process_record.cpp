// The process record: started by the library's constructor, written by its
// destructor (a normal exit; a process that replaces itself with exec or
// ends with _exit writes none). The line:
//
//   proc pid=N ppid=N comm=NAME wall_us=N user_us=N sys_us=N hwm_kib=N
//        sim_kib=N sim_us=N
//
// hwm_kib is the peak resident size of the process; sim_kib and sim_us what
// the interposer's reading of the host's lines into it added to its
// resident size and took.
#include "process_record.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace sansim_preload {
namespace {

long g_startUs = 0;
long g_startUserUs = 0;  // CPU time before this image started: a process
long g_startSysUs = 0;   // that exec'd keeps its account
long g_loadStartUs = 0;
long g_loadStartKib = 0;
long g_simUs = 0;
long g_simKib = 0;

long NowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000L + ts.tv_nsec / 1000;
}

// A "Name:   N kB" value of /proc/self/status, 0 when absent.
long StatusKib(const char* name) {
    int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    char text[4096];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) {
        return 0;
    }
    text[n] = '\0';
    size_t len = strlen(name);
    for (const char* line = text; line != nullptr && *line != '\0';) {
        if (strncmp(line, name, len) == 0 && line[len] == ':') {
            return strtol(line + len + 1, nullptr, 10);
        }
        line = strchr(line, '\n');
        line = line != nullptr ? line + 1 : nullptr;
    }
    return 0;
}

void Comm(char* out, size_t size) {
    snprintf(out, size, "?");
    int fd = open("/proc/self/comm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    ssize_t n = read(fd, out, size - 1);
    close(fd);
    if (n > 0) {
        out[n] = '\0';
        out[strcspn(out, "\n ")] = '\0';
    }
}

long Us(const timeval& tv) {
    return tv.tv_sec * 1000000L + tv.tv_usec;
}

__attribute__((constructor)) void StartRecord() {
    g_startUs = NowUs();
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) {
        g_startUserUs = Us(usage.ru_utime);
        g_startSysUs = Us(usage.ru_stime);
    }
}

__attribute__((destructor)) void WriteRecord() {
    const char* path = getenv("SANSIM_PROCLOG");
    if (path == nullptr || *path == '\0') {
        return;
    }
    int saved = errno;
    rusage usage{};
    (void)getrusage(RUSAGE_SELF, &usage);
    char comm[64];
    Comm(comm, sizeof comm);
    char line[512];
    int len = snprintf(line, sizeof line,
                       "proc pid=%d ppid=%d comm=%s wall_us=%ld user_us=%ld sys_us=%ld "
                       "hwm_kib=%ld sim_kib=%ld sim_us=%ld\n",
                       static_cast<int>(getpid()), static_cast<int>(getppid()), comm,
                       NowUs() - g_startUs, Us(usage.ru_utime) - g_startUserUs,
                       Us(usage.ru_stime) - g_startSysUs, StatusKib("VmHWM"), g_simKib, g_simUs);
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0 && len > 0) {
        ssize_t written = write(fd, line, static_cast<size_t>(len));
        (void)written;  // best effort, as the audit log
    }
    if (fd >= 0) {
        close(fd);
    }
    errno = saved;
}

}  // namespace

void NoteHostReadStart() {
    if (getenv("SANSIM_PROCLOG") == nullptr) {
        return;
    }
    g_loadStartUs = NowUs();
    g_loadStartKib = StatusKib("VmRSS");
}

void NoteHostReadEnd() {
    if (getenv("SANSIM_PROCLOG") == nullptr) {
        return;
    }
    g_simUs += NowUs() - g_loadStartUs;
    g_simKib += StatusKib("VmRSS") - g_loadStartKib;
}

}  // namespace sansim_preload
