// ts_showdisk for the ESXi shell: the paths of `esxcfg-mpath -l` first, then
// the vendor's LUNs of `esxcfg-scsidevs -l`, each with its paths; the
// attributes of every LUN from its node under /dev/disks (paths are not
// queried: they show what the path listing says).
#include "luninfo_esxi.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <string_view>

#include "../common/listing_commands.h"
#include "../common/listing_line.h"
#include "../common/query_process.h"
#include "../common/unique_fd.h"
#include "../common/unique_pipe.h"
#include "boundedfunc.h"
#include "luninfo_platform.h"
#include "lunquery.h"
#include "showdisk_log.h"

namespace {

// The product's package among the installed ones.
bool esxi_product_installed(void) {
    return query_System(kEsxiProductProbe) == 0;
}

}  // namespace

// The ESXi build words a failed INQUIRY's SG_IO like its TEST UNIT READY's,
// "tur" included, as administrators' scripts have always seen it.
extern constexpr ShowdiskPlatform kPlatform = {
    "tur ioctl(SG_IO) failed: %s (errno=%d)\n",  // inquiry_ioctl_failed
    true,                                        // query_report_names_query
    true,                                        // esxi_arguments
    false,                                       // paths_queried
    false,                                       // lun_rows
    false,                                       // table_end
    esxi_product_installed,                      // product_installed
    "Get lun list failed\n",                     // lun_list_failed
    "Get lun info failed\n",                     // lun_info_failed
    "esxi",                                      // json_platform
    "Usage: ts_showdisk [--jobs N] [--timeout SECONDS] [--json] [-v | --version | -l | -L]\n"
    "       ts_showdisk --help\n"
    "Lists the LUNs of the QELMAR arrays that the host sees, with their paths.\n"
    "  --jobs N       query at most N devices at once (1 to 1024, default 32)\n"
    "  --timeout SECONDS\n"
    "                 answer within SECONDS (1 to 3600) even while a device or the\n"
    "                 listing hangs; what did not answer is not checked (exit 1)\n"
    "  --json         one JSON document on standard output instead of the table\n"
    "  --help         this text\n"
    "  -v, --version  the version\n"
    "  -l, -L         diagnostic messages as well\n",  // help_text
};

// ---- discovery: esxcfg-mpath -l, esxcfg-scsidevs -l, /dev/disks ----

list_head g_pathlist = {&g_pathlist, &g_pathlist};

namespace {

const size_t kShortValue = 63;  // characters kept of a name or a device
const size_t kStateValue = 7;
const size_t kTransportValue = 31;

// A text of at most limit characters into a field (zero-filled before).
void put_text(char* dest, size_t size, std::string_view text, size_t limit) {
    (void)memset_s(dest, size, 0, size);
    const size_t len = std::min({text.size(), limit, size - 1});
    if (len > 0) {
        (void)memcpy_s(dest, size - 1, text.data(), len);
    }
}

// The adapter number of a runtime name: the decimal digits 5 characters in
// (vmhba2:C0:T0:L1 gives 2; a non-digit there gives 0). Taken only from a
// name longer than 5 characters (deliberate: a shorter one has nothing
// there to read).
void host_no_of_runtime_name(const char* name, char* dest, size_t size) {
    if (strlen(name) <= 5) {
        return;
    }
    long value = 0;
    for (const char* p = name + 5; *p >= '0' && *p <= '9'; ++p) {
        if (value < 100000000L) {
            value = value * 10 + (*p - '0');
        }
    }
    (void)sprintf_s(dest, size, "%d", static_cast<int>(value));
}

bool run_listing(const char* command, int (*per_line)(const char*, void*), void* state) {
    ListingPipe pipe(command);
    if (!pipe.Valid()) {
        ts_log(3, "popen failed\n");
        return false;
    }
    char line[kLineLen];
    while (fgets(line, sizeof(line), pipe.Get()) != nullptr) {
        strip_newline(line);
        if (per_line(line, state) != 0) {
            return false;
        }
    }
    return true;
}

int path_line_step(const char* line, void* state) {
    return path_list_line(line, static_cast<PathListEntry**>(state));
}

int lun_line_step(const char* line, void* state) {
    return lun_list_line(line, static_cast<LunInfo**>(state));
}

}  // namespace

PathListEntry* path_entry_of(list_head* link) {
    return list_entry(link, PathListEntry, node);
}

// A value line whose colon ends it gives an empty value (deliberate: the
// character behind the colon is skipped, and there is nothing behind it).
void value_of_line(const char* line, char* dest, size_t size, size_t limit) {
    if (dest == nullptr || size == 0) {
        return;
    }
    put_text(dest, size, EsxiLineValue(line, "", EsxiValue::kAfterFirstColon).text, limit);
}

int path_list_line(const char* line, PathListEntry** current) {
    if (line == nullptr) {
        return 0;
    }
    const LineSpan runtime = EsxiLineValue(line, "Runtime", EsxiValue::kAfterFirstColon);
    if (runtime.found) {
        PathListEntry* entry = static_cast<PathListEntry*>(calloc(1, sizeof(PathListEntry)));
        if (entry == nullptr) {
            ts_log(3, "alloc mem failed for pPath\n");
            return -1;
        }
        list_add_tail(&entry->node, &g_pathlist);
        *current = entry;
        put_text(entry->runtime_name, sizeof(entry->runtime_name), runtime.text, kShortValue);
        host_no_of_runtime_name(entry->runtime_name, entry->host_no, sizeof(entry->host_no));
        return 0;
    }
    struct Label {
        const char* label;
        size_t offset;
        size_t size;
        size_t limit;
    };
    static const Label kLabels[] = {
        {"Device:", offsetof(PathListEntry, device), sizeof(PathListEntry::device), kShortValue},
        {"State:", offsetof(PathListEntry, state), sizeof(PathListEntry::state), kStateValue},
        {"Transport:", offsetof(PathListEntry, transport), sizeof(PathListEntry::transport),
         kTransportValue},
    };
    for (const Label& l : kLabels) {
        const LineSpan value = EsxiLineValue(line, l.label, EsxiValue::kAfterFirstColon);
        if (!value.found) {
            continue;
        }
        if (*current == nullptr) {
            ts_log(3, "alloc mem failed for pPath\n");
            return -1;
        }
        put_text(reinterpret_cast<char*>(*current) + l.offset, l.size, value.text, l.limit);
        return 0;
    }
    return 0;
}

int create_path_list(void) {
    PathListEntry* current = nullptr;
    if (!run_listing(kEsxiPathListing, path_line_step, &current)) {
        free_pathlist();
        return -1;
    }
    return 0;
}

namespace {

// The path entries sorted by device, listing order kept within a device, so
// that a LUN finds its paths without walking the whole list: a host of 2,048
// LUNs over 8 paths would otherwise compare 33 million names. Built for the
// LUN listing and dropped after it; without it (no memory) the list is
// walked, with the same result.
struct IndexedPath {
    const PathListEntry* entry;
    size_t position;  // in the listing: ties keep the listing order
};

struct PathIndex {
    IndexedPath* entries = nullptr;
    size_t count = 0;
};
PathIndex s_path_index;

int compare_by_device(const void* a, const void* b) {
    const IndexedPath* x = static_cast<const IndexedPath*>(a);
    const IndexedPath* y = static_cast<const IndexedPath*>(b);
    int order = strcmp(x->entry->device, y->entry->device);
    if (order != 0) {
        return order;
    }
    return x->position < y->position ? -1 : (x->position > y->position ? 1 : 0);
}

bool attach_path(LunInfo* lun, const PathListEntry* entry) {
    LunInfo* path = static_cast<LunInfo*>(calloc(1, sizeof(LunInfo)));
    if (path == nullptr) {
        ts_log(3, "alloc mem failed for pdev.\n");
        return false;
    }
    INIT_LIST_HEAD(&path->paths);
    list_add_tail(&path->node, &lun->paths);
    put_text(path->host_no, sizeof(path->host_no), entry->host_no, 7);
    put_text(path->path_status, sizeof(path->path_status), entry->state, 7);
    put_text(path->port_type, sizeof(path->port_type), entry->transport, 31);
    put_text(path->dev_name, sizeof(path->dev_name), entry->runtime_name, 255);
    return true;
}

}  // namespace

void index_path_list(void) {
    drop_path_index();
    size_t count = 0;
    for (list_head* l = g_pathlist.next; l != &g_pathlist; l = l->next) {
        ++count;
    }
    if (count == 0) {
        return;
    }
    IndexedPath* entries = static_cast<IndexedPath*>(calloc(count, sizeof(IndexedPath)));
    if (entries == nullptr) {
        return;
    }
    size_t i = 0;
    for (list_head* l = g_pathlist.next; l != &g_pathlist; l = l->next, ++i) {
        entries[i].entry = path_entry_of(l);
        entries[i].position = i;
    }
    qsort(entries, count, sizeof(entries[0]), compare_by_device);
    s_path_index.entries = entries;
    s_path_index.count = count;
}

void drop_path_index(void) {
    free(static_cast<void*>(s_path_index.entries));
    s_path_index.entries = nullptr;
    s_path_index.count = 0;
}

void get_path_info_from_pathlist(LunInfo* lun) {
    if (s_path_index.entries == nullptr) {
        for (list_head* l = g_pathlist.next; l != &g_pathlist; l = l->next) {
            const PathListEntry* entry = path_entry_of(l);
            if (strcmp(entry->device, lun->dev_name) == 0 && !attach_path(lun, entry)) {
                return;
            }
        }
        return;
    }
    // First entry of the device, then every entry of it.
    size_t low = 0;
    size_t high = s_path_index.count;
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        if (strcmp(s_path_index.entries[mid].entry->device, lun->dev_name) < 0) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    for (size_t i = low; i < s_path_index.count &&
                         strcmp(s_path_index.entries[i].entry->device, lun->dev_name) == 0;
         ++i) {
        if (!attach_path(lun, s_path_index.entries[i].entry)) {
            return;
        }
    }
}

int lun_list_line(const char* line, LunInfo** current) {
    if (line == nullptr) {
        return 0;
    }
    if (EsxiDeviceLine(line, EsxiDevice::kNaaAnywhere).found) {
        LunInfo* lun = static_cast<LunInfo*>(calloc(1, sizeof(LunInfo)));
        if (lun == nullptr) {
            ts_log(3, "alloc mem failed for pdev\n");
            return -1;
        }
        INIT_LIST_HEAD(&lun->paths);
        list_add_tail(&lun->node, &g_lunlist);
        (void)sprintf_s(lun->dev_name, sizeof(lun->dev_name), "%s", line);
        *current = lun;
        get_path_info_from_pathlist(lun);
        return 0;
    }
    const LineSpan size = EsxiLineValue(line, "Size:", EsxiValue::kAfterFirstColon);
    if (size.found) {
        if (*current == nullptr) {
            ts_log(3, "alloc mem failed for pdev\n");
            return -1;
        }
        put_text((*current)->capacity, sizeof((*current)->capacity), size.text, kShortValue);
    }
    return 0;
}

int get_lun_list_from_system(void) {
    LunInfo* current = nullptr;
    index_path_list();
    bool read = run_listing(kEsxiDeviceListing, lun_line_step, &current);
    drop_path_index();
    if (!read) {
        free_lunlist();
        return -1;
    }
    return 0;
}

// Fails when the device listing could not be read to its end (deliberate:
// that is an error, not a host without disks).
int get_lun_list(void) {
    if (get_lun_list_from_system() != 0) {
        return -1;
    }
    if (list_empty(&g_lunlist)) {
        ts_log(1, "Get no disk from esxcfg-scsidevs -l\n");
    }
    return 0;
}

int get_dev_info(LunInfo* lun) {
    if (lun == nullptr) {
        return -1;
    }
    char node[kPathLen];
    (void)memset_s(node, sizeof(node), 0, sizeof(node));
    (void)sprintf_s(node, sizeof(node), "/dev/disks/%s", lun->dev_name);
    // Read-only, and non-blocking so that a device without a medium or a
    // slow open does not hold the queries of the LUNs after it.
    UniqueFd fd(query_OpenDevice(node, O_RDONLY | O_NONBLOCK));
    if (!fd.Valid()) {
        ts_log(1, "open %s failed\n", lun->dev_name);
        char* const fields[] = {lun->lun_name, lun->wwn,         lun->ctrl,
                                lun->vendor,   lun->host_lun_id, lun->array_name};
        const size_t sizes[] = {sizeof(lun->lun_name),    sizeof(lun->wwn),
                                sizeof(lun->ctrl),        sizeof(lun->vendor),
                                sizeof(lun->host_lun_id), sizeof(lun->array_name)};
        set_all_dashes(fields, sizes, std::size(fields));
        return -1;
    }
    const Query queries[] = {
        {get_lun_name, lun->lun_name, sizeof(lun->lun_name), "get lun name for %s failed\n"},
        {get_wwn, lun->wwn, sizeof(lun->wwn), "get wwn for %s failed\n"},
        {get_tpg, lun->ctrl, sizeof(lun->ctrl), "get tpg id for %s failed\n"},
        {get_vid, lun->vendor, sizeof(lun->vendor), "get vendor id for %s failed\n"},
        {get_host_lunID, lun->host_lun_id, sizeof(lun->host_lun_id),
         "get host lun id for %s failed\n"},
        {get_array_name, lun->array_name, sizeof(lun->array_name),
         "get array name for %s failed\n"},
    };
    (void)run_queries(fd.Get(), queries, std::size(queries), lun->dev_name);
    return 0;
}

int get_info(void) {
    std::vector<LunInfo*> luns;
    for (list_head* l = g_lunlist.next; l != &g_lunlist; l = l->next) {
        luns.push_back(lun_of(l));
    }
    // Queried side by side first (nothing when one job), then reported in
    // list order.
    const std::vector<std::string> reports = query_side_by_side(luns);
    for (size_t i = 0; i < luns.size(); ++i) {
        take_dev_info(luns[i], reports, i);
    }
    return 0;
}

void free_pathlist(void) {
    drop_path_index();
    while (!list_empty(&g_pathlist)) {
        PathListEntry* entry = path_entry_of(g_pathlist.next);
        list_del(&entry->node);
        free(entry);
    }
}

// The paths are listed before the LUNs, so that each LUN gets its paths when
// it is created.
bool list_paths_first(void) {
    INIT_LIST_HEAD(&g_pathlist);
    if (create_path_list() != 0) {
        ts_log(3, "Get path list failed\n");
        return false;
    }
    return true;
}

// esxcfg-scsidevs lists a size in megabytes, never the byte count.
bool capacity_bytes_of(const LunInfo* /*lun*/, unsigned long long* /*bytes*/) {
    return false;
}

void free_lists(void) {
    free_lunlist();
    free_pathlist();
}
