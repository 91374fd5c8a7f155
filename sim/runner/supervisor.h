// The supervisor of a simulated host: runs the command under a seccomp
// filter whose user notifications it answers, so that a program sees the
// simulated devices whether it is linked statically or dynamically.
//
// The filter traps, for 64-bit x86 calls only:
//   ioctl(fd, SG_IO, ...)       answered with the target emulation when fd is
//                               a simulated node (never, while a queueing map
//                               has no usable path), else run by the kernel;
//   open, openat, openat2, creat the open of a simulated node is audited and
//                               fails as its faults say (vanished, unreadable);
//   access, faccessat, faccessat2 reading access to an unreadable node fails;
//   execve, execveat            the C library's "sh -c LINE" start of a line
//                               the host cannot start fails (EAGAIN), and so
//                               does a program of another ABI (ENOEXEC);
// every other call, and every call above on anything else, is run by the
// kernel unchanged. Calls of the 32-bit and x32 ABIs fail with ENOSYS, as on
// a kernel built without them: their SG_IO header has another layout, and
// the host does not simulate it.
//
// The filter is inherited: every process the command starts (sh, cat, the
// fake multipath, ...) is supervised the same way.
#ifndef SANSIM_RUNNER_SUPERVISOR_H
#define SANSIM_RUNNER_SUPERVISOR_H

#include <functional>
#include <string>

#include "topology.h"

namespace sansim {

struct SupervisedRun {
    const Topology* topo = nullptr;
    int auditFd = -1;  // the audit log, open for appending; -1 for none
    // Run in the child before the filter is installed (dropping privileges
    // and the like): -1 to go on, else the status the child exits with.
    std::function<int()> prepareChild;
    // A command ended by a signal: true returns 128 + the signal, false
    // ends this process by the same signal.
    bool signalAsStatus = false;
    std::string program;  // absolute path to exec
    char** argv = nullptr;
    char** envp = nullptr;
};

// Status the run ends with when the command cannot be run at all.
constexpr int kSupervisedCannotRun = 126;
constexpr int kSupervisedNotFound = 127;

// Forks, runs the command under the filter, and answers its processes'
// trapped calls until every process of the host has ended (sansim is their
// subreaper) and the command's own kept commands are due (a killed
// process cannot finish exiting before). Returns the command's exit
// status; when a signal ended the
// command, ends this process with the same signal (or returns 128 + it, as
// signalAsStatus says). On a failure to set up
// returns -1 with a reason.
int RunSupervised(const SupervisedRun& run, std::string* error);

}  // namespace sansim

#endif  // SANSIM_RUNNER_SUPERVISOR_H
