// The /dev of a simulated Solaris host: the raw and block links of its
// device tree, and the tree's description for the host's Solaris services.
#ifndef SANSIM_RUNNER_HOST_SOLARIS_H
#define SANSIM_RUNNER_HOST_SOLARIS_H

#include <string>

#include "topology.h"

namespace sansim {

// Creates /dev/rdsk/NAME and /dev/dsk/NAME (relative to the /dev directory
// descriptor dev) and, when the tree can be snapshotted, its description.
bool BuildSolarisDev(const Topology& topo, int dev, std::string* error);

}  // namespace sansim

#endif  // SANSIM_RUNNER_HOST_SOLARIS_H
