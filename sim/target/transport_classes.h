// The sysfs transport classes of a simulated Linux host: fc_host and
// fc_remote_ports for its FC (and FCoE) SCSI hosts, iscsi_host and
// iscsi_session for its iSCSI ones, named and formatted as the kernel's FC
// and iSCSI transports show them. Computed from the topology alone; the
// runner creates the items on the host's /sys.
#ifndef SANSIM_TRANSPORT_CLASSES_H
#define SANSIM_TRANSPORT_CLASSES_H

#include <string>
#include <vector>

#include "topology.h"

namespace sansim {

// One entry below /sys: a directory, a file and its content, or a symbolic
// link and its (relative) target.
struct SysfsItem {
    enum class Kind { Dir, File, Link };
    Kind kind = Kind::Dir;
    std::string path;  // relative to /sys
    std::string text;  // a file's content, a link's target
};

// The items of the transport classes; the directories above an item are
// made with it. None for a host without "transport_classes" or one that is
// not Linux.
std::vector<SysfsItem> TransportClassItems(const Topology& topo);

}  // namespace sansim

#endif  // SANSIM_TRANSPORT_CLASSES_H
