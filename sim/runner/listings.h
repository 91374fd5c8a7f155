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

#include <string>

#include "topology.h"

namespace sansim {

// Writes the listings and the lines that cannot be started below the /dev
// directory descriptor dev; on failure returns false with a reason.
bool WriteListings(const Topology& topo, int dev, std::string* error);

// The fake command's run of a listing command line: prints its text and
// returns its exit status (127 for a run the host could not start).
int ServeListing(const std::string& command);

}  // namespace sansim

#endif  // SANSIM_RUNNER_LISTINGS_H
