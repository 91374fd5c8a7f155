// The listings of a simulated ESXi host, rendered from a topology in the
// layouts the ESXi shell prints: the path listing (`esxcfg-mpath -l`), the
// SCSI device listing (`esxcfg-scsidevs -l`) and the installed software
// packages (`esxcli software vib list`). A canned file of the topology is
// printed in place of the first two.
#ifndef SANSIM_ESXI_LISTING_H
#define SANSIM_ESXI_LISTING_H

#include <string>

#include "topology.h"

namespace sansim {

std::string RenderEsxiPathListing(const Topology& topo);
std::string RenderEsxiDeviceListing(const Topology& topo);
std::string RenderEsxiVibList(const Topology& topo);

}  // namespace sansim

#endif  // SANSIM_ESXI_LISTING_H
