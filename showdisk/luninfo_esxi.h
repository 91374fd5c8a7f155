// ts_showdisk for the ESXi shell: the paths of `esxcfg-mpath -l`, the vendor's
// LUNs of `esxcfg-scsidevs -l` with their paths, the LUNs' nodes under
// /dev/disks.
#ifndef TSKIT_SHOWDISK_LUNINFO_ESXI_H
#define TSKIT_SHOWDISK_LUNINFO_ESXI_H

#include <stddef.h>

#include "luninfo.h"

// One path of the ESXi path listing.
struct PathListEntry {
    list_head node;
    char runtime_name[256];
    char device[256];
    char state[8];
    char host_no[8];
    char transport[32];
};

extern list_head g_pathlist;
PathListEntry* path_entry_of(list_head* link);

// The value of a listing line: what follows the character behind its first
// colon, at most limit characters, into dest.
void value_of_line(const char* line, char* dest, size_t size, size_t limit);
// One line of each listing; *current is the entry (LUN) the value lines
// belong to. 0, or -1 for an allocation failure or a value line before any
// entry (LUN).
int path_list_line(const char* line, PathListEntry** current);
int lun_list_line(const char* line, LunInfo** current);

int create_path_list(void);
// The index of g_pathlist by device that get_path_info_from_pathlist uses
// while it exists (the LUN listing builds and drops it); without it the
// list is walked. Both give the same paths in the same order.
void index_path_list(void);
void drop_path_index(void);
void get_path_info_from_pathlist(LunInfo* lun);
int get_lun_list_from_system(void);
void free_pathlist(void);

#endif  // TSKIT_SHOWDISK_LUNINFO_ESXI_H
