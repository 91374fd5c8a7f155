// One start of a simulated host and the commands run on it.
//
// Open loads the host file, enters a private mount namespace and builds the
// host's /dev and /sys once; Run then runs one command on it under the
// supervisor, and may be called again: each command sees the host as a
// fresh start would (the supervisor's per-device state begins anew, and the
// listing commands' run counters are cleared), and starts only after every
// process of the one before it has ended.
#ifndef SANSIM_RUNNER_SESSION_H
#define SANSIM_RUNNER_SESSION_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "host.h"
#include "topology.h"

namespace sansim {

// Exit statuses of sansim itself.
constexpr int kExitUsage = 2;

struct HostCommand {
    std::vector<std::string> argv;  // argv[0] as the caller's PATH finds it
    std::string audit;              // the audit log, started afresh; empty for none
    std::string proclog;            // the process log, started afresh; empty for none
    bool dropToUid = false;
    uid_t uid = 0;
    std::vector<std::string> env;  // NAME=VALUE set for this command alone
    // Descriptors the command gets as its standard input, output and error;
    // -1 leaves the caller's, kClosed closes it.
    int stdinFd = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
    // A command ended by a signal: true gives 128 + the signal, false ends
    // sansim by the same signal (a lone run passes it on).
    bool signalAsStatus = false;
};
constexpr int kClosed = -2;

class HostSession {
  public:
    // Loads file and checks what a run needs; it enters no namespace yet.
    bool Load(const std::string& file, std::string* error);
    // Finds argv[0] of command with the caller's PATH, as Run will run it;
    // false (with a reason) when it is not found. Call it before Open: the
    // host's /dev and /sys cover the caller's afterwards.
    bool Resolve(HostCommand* command, std::string* error) const;
    // Makes the command's log names absolute, and checks that the host's
    // /dev and /sys will not hide them.
    bool PlaceLogs(HostCommand* command, std::string* error) const;
    // Enters the namespace and builds the host (root, or a user namespace
    // whose only user is uid when otherUid is set).
    bool Open(bool otherUid, uid_t uid, std::string* error);
    // Runs one command; its exit status, or -1 with a reason.
    int Run(const HostCommand& command, std::string* error);

  private:
    Topology topo_;
    std::string file_;  // the host file, absolute
    HostPrograms programs_;
    std::string preload_;
    std::string searchPath_;
};

// Whether path lies in dir or is dir.
bool StartsWithDir(const std::string& path, const char* dir);

}  // namespace sansim

#endif  // SANSIM_RUNNER_SESSION_H
