// The Solaris services over libdevinfo, libdevid and the USCSI ioctl: one
// call each. Built on SunOS only.
#include <devid.h>
#include <fcntl.h>
#include <libdevinfo.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/param.h>
#include <sys/scsi/impl/uscsi.h>
#include <sys/types.h>
#include <unistd.h>

#include "solaris_platform.h"

namespace {

// di_walk_minor calls a function of libdevinfo's own signature; this one
// hands each minor on to the walker of the current walk.
TS_MinorWalker g_walker = nullptr;

int ForwardMinor(di_node_t node, di_minor_t minor, void* arg) {
    return g_walker(static_cast<TS_DiNode>(node), static_cast<TS_DiMinor>(minor), arg);
}

}  // namespace

TS_DiSnapshot TS_PlatDiInit(const char* root, unsigned int flags) {
    di_node_t node = di_init(root, flags);
    return node == DI_NODE_NIL ? nullptr : static_cast<TS_DiSnapshot>(node);
}

int TS_PlatDiWalkMinor(TS_DiSnapshot snapshot, const char* minorType, unsigned int flags, void* arg,
                       TS_MinorWalker walker) {
    g_walker = walker;
    const int result =
        di_walk_minor(static_cast<di_node_t>(snapshot), minorType, flags, arg, ForwardMinor);
    g_walker = nullptr;
    return result;
}

void TS_PlatDiFini(TS_DiSnapshot snapshot) {
    di_fini(static_cast<di_node_t>(snapshot));
}

const char* TS_PlatDiNodeName(TS_DiNode node) {
    return di_node_name(static_cast<di_node_t>(node));
}

TS_DevId TS_PlatDiDevid(TS_DiNode node) {
    return static_cast<TS_DevId>(di_devid(static_cast<di_node_t>(node)));
}

const char* TS_PlatDiMinorName(TS_DiMinor minor) {
    return di_minor_name(static_cast<di_minor_t>(minor));
}

int TS_PlatDiMinorSpectype(TS_DiMinor minor) {
    return static_cast<int>(di_minor_spectype(static_cast<di_minor_t>(minor)));
}

int TS_PlatDevidValid(TS_DevId devid) {
    return devid_valid(static_cast<ddi_devid_t>(devid));
}

size_t TS_PlatDevidSizeof(TS_DevId devid) {
    return devid_sizeof(static_cast<ddi_devid_t>(devid));
}

int TS_PlatDevidToNmlist(const char* dir, TS_DevId devid, const char* minorName,
                         TS_NameList* list) {
    devid_nmlist_t* names = nullptr;
    const int result =
        devid_deviceid_to_nmlist(const_cast<char*>(dir), static_cast<ddi_devid_t>(devid),
                                 const_cast<char*>(minorName), &names);
    *list = static_cast<TS_NameList>(names);
    return result;
}

const char* TS_PlatNmlistPath(TS_NameList list, size_t i) {
    const devid_nmlist_t* names = static_cast<const devid_nmlist_t*>(list);
    return names == nullptr || names[i].dev == NODEV ? nullptr : names[i].devname;
}

void TS_PlatDevidFreeNmlist(TS_NameList list) {
    devid_free_nmlist(static_cast<devid_nmlist_t*>(list));
}

// The flags are Solaris's own numbers already.
int TS_PlatOpen(const char* path, int flags) {
    return open(path, flags);
}

int TS_PlatUscsiCmd(int fd, TS_UscsiCmd* cmd) {
    struct uscsi_cmd ucmd;
    memset(&ucmd, 0, sizeof ucmd);
    ucmd.uscsi_flags = cmd->uscsi_flags;
    ucmd.uscsi_timeout = cmd->uscsi_timeout;
    ucmd.uscsi_cdb = cmd->uscsi_cdb;
    ucmd.uscsi_cdblen = cmd->uscsi_cdblen;
    ucmd.uscsi_bufaddr = cmd->uscsi_bufaddr;
    ucmd.uscsi_buflen = cmd->uscsi_buflen;
    ucmd.uscsi_rqbuf = cmd->uscsi_rqbuf;
    ucmd.uscsi_rqlen = cmd->uscsi_rqlen;
    const int result = ioctl(fd, USCSICMD, &ucmd);
    cmd->uscsi_status = ucmd.uscsi_status;
    cmd->uscsi_resid = ucmd.uscsi_resid;
    return result == 0 ? 0 : -1;
}
