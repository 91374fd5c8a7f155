// ts_showdisk for Linux: the LUNs of `multipath -ll` with their paths, or the
// vendor's disks under /sys/block when multipath lists none.
#ifndef TSKIT_SHOWDISK_LUNINFO_LINUX_H
#define TSKIT_SHOWDISK_LUNINFO_LINUX_H

#include <stddef.h>

#include "luninfo.h"

// The token of a listing line from the first occurrence of pattern to the
// next blank or ']', into dest; 0 when the pattern occurs in a non-empty line.
int get_str_by_reg(const char* line, const char* pattern, char* dest, size_t size);
// 0 for a name that can go into a shell command, -1 otherwise.
int filter_the_unsafe_str(const char* text);

// Capacity text of a sysfs sector count.
void size_text_from_sectors(unsigned long long sectors, char* dest, size_t size);
// The dm-N word of a map header, the number of the first digit run of a line.
int dm_word_of_line(const char* line, char* dest, size_t size);
int host_no_of_line(const char* line, char* dest, size_t size);
// Parses one line of `multipath -ll` into g_lunlist; *vendor_map is the
// state between lines, *current the LUN that path and size lines belong to.
int parse_multipath_line(const char* line, int* vendor_map, LunInfo** current);

int get_lun_list_from_dm(void);
LunInfo* create_dev_for_dm(const char* line, const char* dev);
int create_dev_for_sd(LunInfo* lun, const char* line, const char* dev);
int get_lun_list_from_block_dir(void);
int get_sysfs_get_size(const char* dev, char* dest, size_t size);
int get_sysfs_get_hostno(const char* dev, char* dest, size_t size);
int get_porttype_by_host(const char* host_no, char* dest, size_t size);

#endif  // TSKIT_SHOWDISK_LUNINFO_LINUX_H
