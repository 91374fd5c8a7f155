// The Solaris services the disk listing uses: the device-tree snapshot and its
// walk over minor nodes (libdevinfo), device ids and their /dev names
// (libdevid), opening a raw node and the USCSI pass-through. Each operation
// keeps the calling convention of the Solaris function it stands for, so the
// SunOS implementation is one call per operation. Handles are opaque: a
// device id handle points at the id's bytes, as ddi_devid_t does.
#ifndef TSKIT_SCSI_SOLARIS_PLATFORM_H
#define TSKIT_SCSI_SOLARIS_PLATFORM_H

#include <stddef.h>

typedef void* TS_DiSnapshot;  // di_node_t of the tree root; nullptr: DI_NODE_NIL
typedef void* TS_DiNode;      // di_node_t
typedef void* TS_DiMinor;     // di_minor_t
typedef void* TS_DevId;       // ddi_devid_t: points at the id's bytes
typedef void* TS_NameList;    // devid_nmlist_t array

// Walk callback answers, as libdevinfo numbers them.
#define TS_DI_WALK_CONTINUE 0
#define TS_DI_WALK_TERMINATE -3

// Mode of a character (raw) minor node, S_IFCHR as Solaris numbers it.
#define TS_S_IFCHR 0x2000

// Open flags as Solaris numbers them.
#define TS_O_RDWR 0x02
#define TS_O_NONBLOCK 0x80

// uscsi_flags bits.
#define TS_USCSI_WRITE 0x00
#define TS_USCSI_ISOLATE 0x04
#define TS_USCSI_READ 0x08

// The fields of the Solaris uscsi_cmd record that a command uses.
struct TS_UscsiCmd {
    int uscsi_flags;
    short uscsi_status;
    short uscsi_timeout;  // seconds
    char* uscsi_cdb;
    char* uscsi_bufaddr;
    size_t uscsi_buflen;
    size_t uscsi_resid;
    unsigned char uscsi_cdblen;
    unsigned char uscsi_rqlen;
    char* uscsi_rqbuf;
};

typedef int (*TS_MinorWalker)(TS_DiNode node, TS_DiMinor minor, void* arg);

// di_init: a snapshot of the tree from root, or nullptr when none can be had.
TS_DiSnapshot TS_PlatDiInit(const char* root, unsigned int flags);
// di_walk_minor: calls walker for every minor node of minorType, in tree
// order, while it answers TS_DI_WALK_CONTINUE. 0, or -1 when the walk failed.
int TS_PlatDiWalkMinor(TS_DiSnapshot snapshot, const char* minorType, unsigned int flags, void* arg,
                       TS_MinorWalker walker);
// di_fini: releases the snapshot and every device id taken from it.
void TS_PlatDiFini(TS_DiSnapshot snapshot);

const char* TS_PlatDiNodeName(TS_DiNode node);
// di_devid: nullptr when the node has none.
TS_DevId TS_PlatDiDevid(TS_DiNode node);
const char* TS_PlatDiMinorName(TS_DiMinor minor);
// di_minor_spectype: TS_S_IFCHR for a character minor.
int TS_PlatDiMinorSpectype(TS_DiMinor minor);

// devid_valid: 1 for a well-formed id.
int TS_PlatDevidValid(TS_DevId devid);
// devid_sizeof: the id's size in bytes.
size_t TS_PlatDevidSizeof(TS_DevId devid);
// devid_deviceid_to_nmlist: 0 and the names under dir of the nodes with this
// id and minor name; anything else is failure.
int TS_PlatDevidToNmlist(const char* dir, TS_DevId devid, const char* minorName, TS_NameList* list);
// The device path of entry i, or nullptr at the entry that ends the list
// (device number NODEV).
const char* TS_PlatNmlistPath(TS_NameList list, size_t i);
// devid_free_nmlist.
void TS_PlatDevidFreeNmlist(TS_NameList list);

// open(2) with Solaris flags: a descriptor, or -1 with errno set.
int TS_PlatOpen(const char* path, int flags);
// ioctl(fd, USCSICMD, cmd): 0 when the command completed, else -1 with errno
// set.
int TS_PlatUscsiCmd(int fd, TS_UscsiCmd* cmd);

#endif  // TSKIT_SCSI_SOLARIS_PLATFORM_H
