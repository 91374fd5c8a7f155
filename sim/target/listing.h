// The host's multipath listing ("multipath -ll") rendered from a topology,
// in the current multipath-tools format or the older bracketed one.
#ifndef SANSIM_LISTING_H
#define SANSIM_LISTING_H

#include <string>

#include "topology.h"

namespace sansim {

std::string RenderMultipathListing(const Topology& topo);

}  // namespace sansim

#endif  // SANSIM_LISTING_H
