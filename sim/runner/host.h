// The file system of a simulated host: /dev with the device nodes, /sys with
// the block devices and SCSI hosts, and the hermetic bin directory. Built on
// fresh tmpfs mounts over /dev and /sys, so it needs a private mount
// namespace; nothing outside that namespace changes.
#ifndef SANSIM_RUNNER_HOST_H
#define SANSIM_RUNNER_HOST_H

#include <string>
#include <utility>
#include <vector>

#include "topology.h"

namespace sansim {

// The only directory on PATH inside the host (on the /dev tmpfs).
constexpr const char* kHostBinDir = "/dev/.sansim/bin";
// Where the host's own commands keep what outlives one run (writable by all).
constexpr const char* kHostStateDir = "/dev/.sansim/state";
// The command lines the host cannot start, one a line, for the interposer.
constexpr const char* kCannotStartFile = "/dev/.sansim/cannot_start";

struct HostPrograms {
    std::string fakeCommand;  // sansim-fake: multipath, the ESXi listings and the product CLIs
                              // link to it
    std::vector<std::pair<std::string, std::string>> realTools;  // name -> absolute path
};

// Covers /dev and /sys with the host of topo and fills the bin directory.
// The real /dev/null, /dev/zero, /dev/tty (and random, urandom) stay
// reachable. On failure returns false with a reason.
bool BuildHost(const Topology& topo, const HostPrograms& programs, std::string* error);

}  // namespace sansim

#endif  // SANSIM_RUNNER_HOST_H
