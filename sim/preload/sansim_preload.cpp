// LD_PRELOAD interposer of the simulated SAN host.
//
// Every dynamically linked program started on a simulated host carries this
// library. It refuses the command lines that the host file marks as
// impossible to start: popen returns NULL and system -1, both with EAGAIN,
// as when the C library cannot create the process. Everything else of the
// host (SG_IO on the simulated nodes, their open faults, the audit log) is
// the supervisor's in sansim, which sees the system calls of static and
// dynamic programs alike; a refused system() is the interposer's alone,
// since the C library's system() reports a shell that cannot be started as
// one that exited with status 127. process_record.cpp writes the process log.
//
// The lines come from the host's /dev (host.h), read on first need only:
// every `cat` or `sh` a tool starts inherits LD_PRELOAD and must not pay
// for it.

#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <mutex>
#include <string>

#include <vector>

#include "host.h"
#include "process_record.h"

#define SANSIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using PopenFn = FILE* (*)(const char*, const char*);
using SystemFn = int (*)(const char*);

// The next definition of a symbol (the C library's, or a sanitizer runtime's
// interceptor in front of it). Resolved once, on first use.
template <typename Fn>
Fn Next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

#define SANSIM_REAL(type, name)                   \
    ([]() {                                       \
        static const type fn = Next<type>(#name); \
        return fn;                                \
    }())

struct SimState {
    std::once_flag loadOnce;
    std::vector<std::string> cannotStart;
};

// Never destroyed: popen() and system() may still be called from atexit
// handlers and other libraries' destructors after static destruction.
SimState& State() {
    static SimState* state = new SimState;
    return *state;
}

// The lines the host cannot start, as the runner laid them out when it
// built the host (one a line); none off a simulated host.
const std::vector<std::string>& CannotStartLines() {
    SimState& state = State();
    std::call_once(state.loadOnce, [&state]() {
        const char* path = getenv("SANSIM_TOPOLOGY");
        if (path == nullptr || *path == '\0') {
            return;
        }
        sansim_preload::NoteHostReadStart();
        FILE* file = fopen(sansim::kCannotStartFile, "re");
        if (file != nullptr) {
            char* line = nullptr;
            size_t size = 0;
            ssize_t n;
            while ((n = getline(&line, &size, file)) > 0) {
                state.cannotStart.emplace_back(line, static_cast<size_t>(n) - 1);
            }
            free(line);
            fclose(file);
        }
        sansim_preload::NoteHostReadEnd();
    });
    return state.cannotStart;
}

bool CannotStart(const char* command) {
    if (command == nullptr) {
        return false;
    }
    const auto& lines = CannotStartLines();
    return std::find(lines.begin(), lines.end(), command) != lines.end();
}

}  // namespace

// ---------------------------------------------------------------------------
// Interposed entry points.

SANSIM_EXPORT FILE* popen(const char* command, const char* modes) {
    if (CannotStart(command)) {
        errno = EAGAIN;
        return nullptr;
    }
    return SANSIM_REAL(PopenFn, popen)(command, modes);
}

SANSIM_EXPORT int system(const char* command) {
    if (CannotStart(command)) {
        errno = EAGAIN;
        return -1;
    }
    return SANSIM_REAL(SystemFn, system)(command);
}
