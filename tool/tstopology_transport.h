// tsexTool readers of the host's SCSI transport classes in sysfs
// (/sys/class/fc_host, fc_remote_ports, iscsi_host, iscsi_session), for
// links whose devices do not answer: the kernel still knows their ports and
// whether the link is up.
#ifndef TSEXTOOL_TSTOPOLOGY_TRANSPORT_H
#define TSEXTOOL_TSTOPOLOGY_TRANSPORT_H

#include <cstddef>

#include "tstopology.h"

// A path without initiator or target port identifiers from its port page
// takes them from there through its H:C:T, in the form the page gives them.
void tstopo_TakePortsFromTransport(PathInfo* path);
// A phypath whose link the transport reports down (an FC host port or
// remote port not Online, an iSCSI session not LOGGED_IN) shows that state.
void tstopo_TakeTransportState(PhypathInfo* phypath);
// The page's form of an FC port name that sysfs shows as "0x..." (16
// lower-case hex digits); -1 when the text is no port name.
int tstopo_FcPortNameText(const char* sysfsText, char* dest, size_t destSize);
// The fabric of SCSI host host: an FC HBA's fabric_name (in the page's
// form of a port name), an iSCSI initiator's ipaddress. -1 when the host has
// neither or sysfs does not say.
int tstopo_HostFabric(int host, char* dest, size_t destSize);
// Where the transport classes are read from ("/sys/class"); tests point it
// elsewhere.
void tstopo_SetTransportRoot(const char* root);

#endif  // TSEXTOOL_TSTOPOLOGY_TRANSPORT_H
