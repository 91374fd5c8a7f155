// The host's listing commands (multipath -ll; on ESXi esxcfg-mpath -l,
// esxcfg-scsidevs -l, esxcli software vib list) and the command lines it
// cannot start, laid out once when the host is built.
//
// A fake listing command then prints a file and reads no host file: a
// captured host of large listings is a document of megabytes, and every run
// of a listing command read it whole before. Each command has one file per
// recorded run (a host built from a topology has one); a run takes the next
// file, the last from then on (the runs are counted per host in
// kHostStateDir, which a batch clears between its commands).
#ifndef SANSIM_RUNNER_LISTINGS_H
#define SANSIM_RUNNER_LISTINGS_H

#include <stdio.h>
#include <unistd.h>

#include <string>

#include "topology.h"

namespace sansim {

// Writes the listings and the lines that cannot be started below the /dev
// directory descriptor dev; on failure returns false with a reason.
bool WriteListings(const Topology& topo, int dev, std::string* error);

// Below /dev: one directory a listing command (its command line with blanks
// and slashes made '_'), one file a run ("STATUS WAIT_NS" and a newline,
// then the text), and "count", the number of runs. The fake commands
// (fake_command.cpp) print them. A STATUS of kListingHangs: the run prints
// nothing and waits until a signal ends it.
constexpr const char* kListingsDir = "/dev/.sansim/listings";
constexpr int kListingHangs = -1;

inline std::string ListingKey(const std::string& command) {
    std::string key = command;
    for (char& c : key) {
        c = c == ' ' || c == '/' ? '_' : c;
    }
    return key;
}

// A listing whose path checkers wait on a dead path: nothing is printed,
// and only a signal that ends the process (SIGKILL, or SIGTERM and the like
// left at their default) ends the wait; a caught one does not.
[[noreturn]] inline void HangUntilKilled() {
    fflush(stdout);
    for (;;) {
        pause();
    }
}

// The listing command line that a host's command (self: multipath,
// esxcfg-mpath, esxcfg-scsidevs, esxcli) runs with the words of argv; empty
// for words it does nothing with.
inline std::string ListingCommand(const std::string& self, int argc, char** argv) {
    auto is = [argv](int i, const char* word) { return std::string(argv[i]) == word; };
    if (self == "multipath") {
        return argc == 2 && is(1, "-ll") ? "multipath -ll" : "";
    }
    if (self == "esxcli") {
        return argc == 4 && is(1, "software") && is(2, "vib") && is(3, "list")
                   ? "esxcli software vib list"
                   : "";
    }
    return argc == 2 && is(1, "-l") ? self + " -l" : "";
}

// Off a simulated host (no kHostStateDir), a listing command line renders
// the listing of the host file that SANSIM_TOPOLOGY names, as a host built
// from it prints it; returns its exit status.
int RenderOutsideHost(const std::string& command);

}  // namespace sansim

#endif  // SANSIM_RUNNER_LISTINGS_H
