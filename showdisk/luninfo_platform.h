// What the shared part of ts_showdisk (luninfo.cpp) and the file of the
// platform it is built for (luninfo_linux.cpp or luninfo_esxi.cpp) give each
// other: the few texts and table rules that differ between Linux and the ESXi
// shell, the steps of the run that only one of them has, and the helpers
// both discoveries use. Not for the programs' users: luninfo.h and the
// platform headers are.
#ifndef TSKIT_SHOWDISK_LUNINFO_PLATFORM_H
#define TSKIT_SHOWDISK_LUNINFO_PLATFORM_H

#include <stddef.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "boundedfunc.h"
#include "luninfo.h"

// What differs between the two builds besides the discovery; each platform
// file defines kPlatform.
struct ShowdiskPlatform {
    // do_inquiry's report when SG_IO itself fails (strerror text, errno).
    const char* inquiry_ioctl_failed;
    // A failed query's report starts with "[query: source line] ".
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

// The run writes one JSON document instead of the table (--json).
bool json_output(void);

// Block device paths, sysfs and listing lines.
constexpr size_t kPathLen = 256;
constexpr size_t kLineLen = 256;

// Printed when g_level is at most threshold (0 verbose, 3 errors).
void ts_log(int threshold, const char* format, ...) BOUNDED_PRINTF(2, 3);
void strip_newline(char* line);

// One attribute query of a record: its field and the report of its failure
// (a format of the node name).
struct Query {
    int (*query)(int, char*, size_t);
    char* field;
    size_t size;
    const char* failure;
};

// "--" into every field of a record whose node does not open.
void set_all_dashes(char* const* fields, const size_t* sizes, size_t count);
// Runs the queries in order; a failed one leaves "--" in its field and is
// reported. Returns the result of the last query.
int run_queries(int fd, const Query* queries, size_t count, const char* dev_name);

// How many records are queried at once (--jobs); 1 queries each record
// when it is taken, as the walk always did.
extern unsigned g_jobs;

// With more than one job, runs get_dev_info on every record on a pool of
// threads, at most one query at a time per node (records of one dev_name
// run one after another, in order), and returns each record's reports; with
// one job, queries nothing and returns an empty list.
std::vector<std::string> query_side_by_side(const std::vector<LunInfo*>& records);
// Runs work on every record on the pool of threads (g_jobs of them), one
// record at a time per node in list order, and returns each record's
// reports.
std::vector<std::string> run_side_by_side(const std::vector<LunInfo*>& records,
                                          void (*work)(LunInfo*));
// The same for any items, each named by its node.
std::vector<std::string> run_side_by_side(const std::vector<std::string_view>& nodes,
                                          const std::function<void(size_t)>& work);
// The reports of the calling thread go into reports (null: written now),
// and reports kept so are written as ts_log would have written them.
void ts_log_capture(std::string* reports);
void ts_log_replay(const std::string& reports);
// Where the walk takes record i: its queries run now (one job), or their
// reports are written now, as ts_log would have written them.
void take_dev_info(LunInfo* record, const std::vector<std::string>& reports, size_t i);

#endif  // TSKIT_SHOWDISK_LUNINFO_PLATFORM_H
