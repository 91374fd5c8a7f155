// What the shared part of ts_showdisk (the run, queries and table) and the
// file of the platform it is built for (luninfo_linux.cpp or
// luninfo_esxi.cpp) give each other: the few texts and table rules that
// differ between Linux and the ESXi shell, and the steps of the run that only
// one of them has. Not for the programs' users: luninfo.h and the platform
// headers are.
#ifndef TSKIT_SHOWDISK_LUNINFO_PLATFORM_H
#define TSKIT_SHOWDISK_LUNINFO_PLATFORM_H

#include <stddef.h>

#include "luninfo.h"

// What differs between the two builds besides the discovery; each platform
// file defines kPlatform.
struct ShowdiskPlatform {
    // do_inquiry's report when SG_IO itself fails (strerror text, errno).
    const char* inquiry_ioctl_failed;
    // A failed query's report starts with "[query: line] " (lunquery.cpp).
    bool query_report_names_query;
    // The first argument may also be --version or -L, and any other is
    // invalid; without it, other arguments are ignored.
    bool esxi_arguments;
    // Paths are queried like their LUN: a path row shows the path's own
    // texts, the LUN's where the path's are "--". Paths that are not
    // queried show what the path listing says (state, adapter, transport)
    // and the LUN's attributes.
    bool paths_queried;
    // A LUN without paths has a row of its own.
    bool lun_rows;
    // The table closes with a rule, and the multipath note when g_isdm is 1.
    bool table_end;
    // True when the host has the vendor's multipath product installed.
    bool (*product_installed)(void);
    const char* lun_list_failed;
    const char* lun_info_failed;
    // The --json document's platform member.
    const char* json_platform;
    // The --help text: the options of the build.
    const char* help_text;
};

extern const ShowdiskPlatform kPlatform;

// The platform's steps of the run around the shared ones: before the LUNs are
// listed (false ends the run with status 1), and after the table.
bool list_paths_first(void);
void free_lists(void);

// The exact size in bytes of a LUN, where the discovery read one (the sysfs
// sector count); false where it has only the rounded capacity text.
bool capacity_bytes_of(const LunInfo* lun, unsigned long long* bytes);

// Block device paths, sysfs and listing lines.
constexpr size_t kPathLen = 256;
constexpr size_t kLineLen = 256;

#endif  // TSKIT_SHOWDISK_LUNINFO_PLATFORM_H
