// The device tree of a simulated Solaris host: driver nodes with their device
// ids and minor nodes, and the /dev/rdsk and /dev/dsk links of the minors.
// The SCSI devices behind the links are LUN paths or other devices of the
// same topology, named by their node names ("sdb"), which on a Solaris host
// are only handles.
#ifndef SANSIM_SOLARIS_HOST_H
#define SANSIM_SOLARIS_HOST_H

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "topology.h"

namespace sansim {

// Where the runner writes the tree's description, and the variable that
// tells the Solaris services of the host where it is.
constexpr const char* kSolarisTreeFile = "/dev/.sansim/solaris/devtree";
constexpr const char* kSolarisTreeVariable = "SANSIM_SOLARIS_TREE";

struct SolarisMinor {
    std::string name;  // "a", "a,raw"
    bool raw = true;   // a character (raw) minor; else a block minor
    std::string link;  // name under /dev/rdsk (raw) or /dev/dsk (block); empty: none
};

struct SolarisNode {
    std::string driver;          // "ssd", "sd", "dad"
    std::vector<uint8_t> devid;  // the device id's bytes; empty: the node has none
    bool devidValid = true;      // whether devid_valid accepts the id
    std::string device;          // node name of the device that answers on the links
    std::vector<SolarisMinor> minors;
};

struct SolarisTree {
    bool snapshot = true;  // false: no device-tree snapshot can be taken
    std::vector<SolarisNode> nodes;
};

// Reads the "solaris" object of a topology (null: an empty tree) into
// topo->solaris and indexes every link as a node name ("rdsk/c1t0d0s2",
// "dsk/c1t0d0s0") of the device it names. Call after the other devices are
// indexed. On failure returns false with a reason.
bool LoadSolarisTree(const nlohmann::json* v, Topology* topo, std::string* error);

// The description the host's Solaris services read: "node DRIVER DEVID VALID"
// and "minor NAME raw|block LINK" lines, DEVID in hex or "-", LINK a /dev
// path or "-".
std::string RenderSolarisTree(const SolarisTree& tree);

}  // namespace sansim

#endif  // SANSIM_SOLARIS_HOST_H
