// tsexTool readers of the host's SCSI transport classes in sysfs
// (/sys/class/fc_host, fc_remote_ports, iscsi_host, iscsi_session), for
// links whose devices do not answer: the kernel still knows their ports and
// whether the link is up.
#ifndef TSEXTOOL_TSTOPOLOGY_TRANSPORT_H
#define TSEXTOOL_TSTOPOLOGY_TRANSPORT_H

#include <cstddef>

#include "records/tstopology.h"

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
// The number K of the iSCSI session (iscsi_session/sessionK) that holds the
// SCSI target host:channel:target: each login of an initiator is a physical
// path of its own, even to a target port that another login reaches too.
// -1 when the host is no iSCSI initiator or no session holds the target.
int tstopo_IscsiSession(int host, int channel, int target);
// While on, each host's transport and the sessions' targets are read from
// sysfs once and kept (a pass over every session for each path would cost
// more than the paths' own commands on a large host); off forgets them, so
// that the next discovery reads the links as they are then.
void tstopo_CacheTransport(int on);
// Where the transport classes are read from ("/sys/class"); tests point it
// elsewhere.
void tstopo_SetTransportRoot(const char* root);

#endif  // TSEXTOOL_TSTOPOLOGY_TRANSPORT_H
