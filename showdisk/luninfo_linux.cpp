// ts_showdisk for Linux: the vendor's LUNs of `multipath -ll` with their
// paths, or its disks under /sys/block when multipath lists none; the
// attributes of every LUN and path from their block device nodes.
#include "luninfo_linux.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <deque>
#include <iterator>
#include <string>
#include <vector>

#include "../common/listing_commands.h"
#include "../common/listing_line.h"
#include "../common/listing_text.h"
#include "../common/unique_dir.h"
#include "../common/query_process.h"
#include "../common/unique_fd.h"
#include "../common/unique_pipe.h"
#include "boundedfunc.h"
#include "lun_vendor.h"
#include "luninfo_platform.h"
#include "lunquery.h"
#include "search_path.h"
#include "scsi_withheld.h"
#include "showdisk_log.h"

// Each LUN, then its paths (defined with get_info).
std::vector<LunInfo*> records_in_order(void);

namespace {

// The product's CLI on the search path, found as the shell would find it:
// a host without `which` must not read as a host without the product.
bool linux_product_installed(void) {
    return SearchPathHas(kLunProductClis[0]);
}

}  // namespace

extern constexpr ShowdiskPlatform kPlatform = {
    "ioctl(SG_IO) failed: %s (errno=%d)\n",  // inquiry_ioctl_failed
    false,                                   // query_report_names_query
    false,                                   // esxi_arguments
    true,                                    // paths_queried
    true,                                    // lun_rows
    true,                                    // table_end
    linux_product_installed,                 // product_installed
    "get lun list failed\n",                 // lun_list_failed
    "get lun info failed\n",                 // lun_info_failed
    "linux",                                 // json_platform
    "Usage: ts_showdisk [--jobs N] [--timeout SECONDS] [--json] [-v | -l]\n"
    "       ts_showdisk --help\n"
    "Lists the LUNs of the QELMAR and ZUNTA arrays that the host sees, with\n"
    "their paths.\n"
    "  --jobs N  query at most N devices at once (1 to 1024, default 32)\n"
    "  --timeout SECONDS\n"
    "            answer within SECONDS (1 to 3600) even while a device or the\n"
    "            listing hangs; what did not answer is not checked (exit 1)\n"
    "  --json    one JSON document on standard output instead of the table\n"
    "  --help    this text\n"
    "  -v        the version\n"
    "  -l        diagnostic messages as well\n",  // help_text
};

namespace {

// The listing reader's token buffer.
const size_t kTokenLen = 64;

// The vendor field as get_vid keeps it: a name at its start is enough.
bool is_vendor_id(const char* vid) {
    return lun_VendorFieldIsVendor(vid);
}

// First line of a shell command's output, newline stripped; false when the
// command cannot be started or prints nothing.
bool first_line_of(const char* command, char* line, size_t size) {
    UniquePipe pipe(popen(command, "r"));
    if (!pipe.Valid()) {
        ts_log(3, "popen failed\n");
        return false;
    }
    if (fgets(line, static_cast<int>(size), pipe.Get()) == nullptr) {
        return false;
    }
    strip_newline(line);
    return true;
}

}  // namespace

// ---- text helpers ----

// ts_showdisk's readings of the shared line reader: a token also ends at "]"
// ([size=10G][features=0]) and is copied onto the caller's zeros.
int get_str_by_reg(const char* line, const char* pattern, char* dest, size_t size) {
    if (line == nullptr || line[0] == '\0' || pattern == nullptr) {
        return -1;
    }
    return CopyLineSpan(LineWordAt(line, pattern, WordEnd::kBlankOrBracket), SpanCopy::kOntoZeros,
                        dest, size);
}

// Besides the five shell separators && || & | ;, refuses every character
// outside letters, digits and . _ - : ! + (deliberate: $, backquotes, quotes,
// redirections and blanks would otherwise reach the shell), as tsexTool does.
int filter_the_unsafe_str(const char* text) {
    return IsShellSafeName(text) ? 0 : -1;
}

// ---- discovery: multipath -ll, /sys/block ----

void size_text_from_sectors(unsigned long long sectors, char* dest, size_t size) {
    (void)SizeTextFromSectors(sectors, dest, size);
}

// The dm name of a header is its first word that is "dm-" followed by digits
// (deliberate: an alias holding "dm-" cannot name the map). Tabs separate
// words here too, where tsexTool splits its listing at blanks only.
int dm_word_of_line(const char* line, char* dest, size_t size) {
    return DmWordOfLine(line, kSplitAtBlanksAndTabs, dest, size);
}

// The first digits of the line, read until the number has ten digits and
// capped at INT_MAX.
int host_no_of_line(const char* line, char* dest, size_t size) {
    const LineSpan digits = PathLineHostDigits(line);
    if (!digits.found) {
        return -1;
    }
    long value = 0;
    for (const char c : digits.text) {
        if (value < 1000000000L) {
            value = value * 10 + (c - '0');
        }
    }
    if (value > 2147483647L) {
        value = 2147483647L;
    }
    (void)sprintf_s(dest, size, "%d", static_cast<int>(value));
    return 0;
}

LunInfo* create_dev_for_dm(const char* line, const char* dev) {
    LunInfo* lun = static_cast<LunInfo*>(calloc(1, sizeof(LunInfo)));
    if (lun == nullptr) {
        ts_log(3, "alloc mem failed for pdev\n");
        return nullptr;
    }
    (void)sprintf_s(lun->dev_name, sizeof(lun->dev_name), "/dev/%s", dev);
    INIT_LIST_HEAD(&lun->paths);
    list_add_tail(&lun->node, &g_lunlist);
    ts_log(0, "get device %s\n", dev);
    // The header names a vendor (parse_multipath_line saw to it); a line
    // naming none is taken for the last of them, as it always was.
    const char* vendor = lun_VendorNamedIn(line);
    (void)sprintf_s(lun->vendor, sizeof(lun->vendor), "%s",
                    vendor != nullptr ? vendor : kLunVendorNames[kLunVendorCount - 1]);
    return lun;
}

namespace {

// While the listing is read with more than one job, the paths' readiness
// checks wait to run side by side after it, and the reports written
// between two checks are kept in order (a deque keeps each in place).
std::vector<LunInfo*>* s_readiness = nullptr;
std::deque<std::string>* s_between = nullptr;

// TEST UNIT READY on the path's node: a node that opens and fails is
// failed, and so is one that sd refuses with ENXIO: its SCSI device is not
// online (offline, or transport-offline once an iSCSI session or an FC
// remote port is given up), though dm may not have failed it yet. A node
// that does not open for another reason stays as the listing said.
void check_readiness(LunInfo* path) {
    // Read-only, and non-blocking so that a node without a medium or a slow
    // open does not hold the scan.
    UniqueFd fd(query_OpenDevice(path->dev_name, O_RDONLY | O_NONBLOCK));
    if ((fd.Valid() && do_tur(fd.Get()) != 0) || (!fd.Valid() && errno == ENXIO)) {
        (void)sprintf_s(path->path_status, sizeof(path->path_status), "%s", "failed");
    }
}

}  // namespace

int create_dev_for_sd(LunInfo* lun, const char* line, const char* dev) {
    LunInfo* path = static_cast<LunInfo*>(calloc(1, sizeof(LunInfo)));
    if (path == nullptr) {
        ts_log(3, "alloc mem failed for ppath\n");
        return -1;
    }
    (void)sprintf_s(path->dev_name, sizeof(path->dev_name), "/dev/%s", dev);
    INIT_LIST_HEAD(&path->paths);
    list_add_tail(&path->node, &lun->paths);
    ts_log(0, "get device %s\n", dev);
    (void)sprintf_s(path->vendor, sizeof(path->vendor), "%s", lun->vendor);
    if (CopyLineSpan(PathLineActive(line, WordEnd::kBlankOrBracket), SpanCopy::kOntoZeros,
                     path->path_status, sizeof(path->path_status)) != 0) {
        (void)sprintf_s(path->path_status, sizeof(path->path_status), "%s", "failed");
    }
    if (s_readiness == nullptr) {
        check_readiness(path);
    } else {
        s_readiness->push_back(path);
        ts_log_capture(&s_between->emplace_back());
    }
    (void)host_no_of_line(line, path->host_no, sizeof(path->host_no));
    return 0;
}

namespace {

// A map header: a LUN when the line names a vendor and has a dm word of its
// own; any other header creates nothing, and its path lines must not join
// the previous map.
int take_map_header(const char* line, int* vendor_map, LunInfo** current) {
    char token[kTokenLen];
    (void)memset_s(token, sizeof(token), 0, sizeof(token));
    if (!lun_LineNamesVendor(line) || dm_word_of_line(line, token, sizeof(token)) != 0) {
        *vendor_map = 0;
        return 0;
    }
    *vendor_map = 1;
    *current = create_dev_for_dm(line, token);
    return *current == nullptr ? -1 : 0;
}

// The size word went through the 64-byte token: one longer than 63
// characters leaves the capacity empty.
void take_map_size(const MapSize& size, LunInfo* lun) {
    char value[kTokenLen];
    (void)memset_s(value, sizeof(value), 0, sizeof(value));
    if (size.word.text.size() < sizeof(value)) {
        (void)CopyLineSpan(size.value, SpanCopy::kOntoZeros, value, sizeof(value));
    }
    (void)snprintf_s(lun->capacity, sizeof(lun->capacity), sizeof(lun->capacity) - 1, "%s", value);
}

}  // namespace

int parse_multipath_line(const char* line, int* vendor_map, LunInfo** current) {
    if (line == nullptr || line[0] == '\0') {
        return 0;
    }
    if (IsMapHeader(line, HeaderLine::kHoldsDm)) {
        return take_map_header(line, vendor_map, current);
    }
    char token[kTokenLen];
    (void)memset_s(token, sizeof(token), 0, sizeof(token));
    if (CopyLineSpan(PathLineDevice(line, WordEnd::kBlankOrBracket), SpanCopy::kOntoZeros, token,
                     sizeof(token)) == 0) {
        // An sd word too long for the token buffer comes out empty; its path
        // would be "/dev/", which opens (a directory), so such a line names
        // no path.
        if (*vendor_map != 0 && *current != nullptr && token[0] != '\0') {
            return create_dev_for_sd(*current, line, token);
        }
        return 0;
    }
    const MapSize size = MapSizeOfLine(line, SizeReading::kBlankOrBracket);
    if (size.word.found && *vendor_map != 0 && *current != nullptr) {
        take_map_size(size, *current);
    }
    return 0;
}

namespace {

// A map that queues I/O and has no usable path holds any pass-through to its
// dm node until the process is killed: its node is withheld, whoever's map
// it is (the /sys/block walk may come to it), and a LUN row of it shows what
// a LUN that does not answer shows.
void withhold_map(const char* dm) {
    char node[kPathLen];
    if (sprintf_s(node, sizeof(node), "/dev/%s", dm) < 0) {
        return;
    }
    (void)scsi_WithholdNode(node);
    ts_log(0, "skip %s: it queues I/O without a usable path\n", node);
}

int read_listing(FILE* listing) {
    char line[kLineLen];
    int vendor_map = 0;
    LunInfo* current = nullptr;
    HeldMaps maps;
    char held[kTokenLen];
    while (fgets(line, sizeof(line), listing) != nullptr) {
        strip_newline(line);
        // A header ends the map before it, as parse_multipath_line reads it.
        if (HeldMapsNoteLine(&maps, line, held, sizeof(held))) {
            withhold_map(held);
        }
        if (parse_multipath_line(line, &vendor_map, &current) != 0) {
            return -1;
        }
    }
    if (HeldMapsEnd(&maps, held, sizeof(held))) {
        withhold_map(held);
    }
    return 0;
}

// The reports of the records' queries when they already ran beside the
// readiness checks (see read_listing_side_by_side); get_info writes them.
std::vector<std::string> s_queried;

// The listing read with the paths' readiness checks side by side: the
// checks run once the listing is read, together with the queries of every
// LUN and path of it, so that a hung path and the dm node it serves (whose
// queries wait for it as well) take one timeout, not one after the other.
// Every report is then written in the order the reading one check after
// another would have written it; the queries' reports when get_info takes
// each record.
int read_listing_side_by_side(FILE* listing) {
    std::vector<LunInfo*> paths;
    std::deque<std::string> between(1);
    s_readiness = &paths;
    s_between = &between;
    ts_log_capture(&between.back());
    const int result = read_listing(listing);
    ts_log_capture(nullptr);
    s_readiness = nullptr;
    s_between = nullptr;
    // A listing that could not be read whole leaves no records to query.
    const std::vector<LunInfo*> records =
        result == 0 ? records_in_order() : std::vector<LunInfo*>();
    std::vector<std::string_view> nodes;
    for (const LunInfo* record : paths) {
        nodes.emplace_back(record->dev_name);
    }
    for (const LunInfo* record : records) {
        nodes.emplace_back(record->dev_name);
    }
    std::vector<std::string> reports = run_side_by_side(nodes, [&](size_t i) {
        if (i < paths.size()) {
            check_readiness(paths[i]);
        } else {
            (void)get_dev_info(records[i - paths.size()]);
        }
    });
    for (size_t i = 0; i < between.size(); ++i) {
        ts_log_replay(between[i]);
        if (i < paths.size()) {
            ts_log_replay(reports[i]);
        }
    }
    s_queried.assign(std::make_move_iterator(reports.begin() + static_cast<long>(paths.size())),
                     std::make_move_iterator(reports.end()));
    return result;
}

}  // namespace

int get_lun_list_from_dm(void) {
    // The program writes nothing on standard error, and neither may what it
    // starts: a host without multipath would have its shell say so there.
    ListingPipe pipe(kMultipathListingQuiet);
    if (!pipe.Valid()) {
        ts_log(3, "popen failed\n");
        return -1;
    }
    const int result =
        g_jobs > 1 ? read_listing_side_by_side(pipe.Get()) : read_listing(pipe.Get());
    if (result != 0) {
        free_lunlist();
        return -1;
    }
    return 0;
}

namespace {
// Set when the /sys/block fallback could not open its directory.
bool s_block_dir_unopened = false;

// The exact sizes of the LUNs found in /sys/block, kept for the --json
// document only (the table prints the rounded text): a LUN record has no room
// for it, and its size is what the allocation checks count.
struct CapacityNote {
    ListHead node;
    const LunInfo* lun;
    unsigned long long bytes;
};
ListHead s_capacity_notes = {&s_capacity_notes, &s_capacity_notes};

void note_capacity(const LunInfo* lun, unsigned long long bytes) {
    auto* note = static_cast<CapacityNote*>(calloc(1, sizeof(CapacityNote)));
    if (note == nullptr) {
        return;  // the document then says null: the size is not known exactly
    }
    note->lun = lun;
    note->bytes = bytes;
    list_add_tail(&note->node, &s_capacity_notes);
}

void free_capacity_notes(void) {
    while (!list_empty(&s_capacity_notes)) {
        ListHead* link = s_capacity_notes.next;
        list_del(link);
        free(list_entry(link, CapacityNote, node));
    }
}

// The sector count of a size file whose line is decimal digits alone, and its
// bytes fit 64 bits; the table's text is made all the same.
bool exact_bytes_of_size_line(const char* line, unsigned long long* bytes) {
    const size_t len = strlen(line);
    if (len == 0 || len > 19 || strspn(line, "0123456789") != len) {
        return false;
    }
    const unsigned long long sectors = strtoull(line, nullptr, 10);
    if (sectors > ~0ULL / 512) {
        return false;
    }
    *bytes = sectors * 512;
    return true;
}

int sysfs_size(const char* dev, char* dest, size_t size, unsigned long long* bytes, bool* exact);
}  // namespace

namespace {

// The exact size of a multipath LUN: the sector count the kernel gives its
// map in /sys/block/dm-N/size (the listing's size is rounded). Read
// directly, never through a shell: the name is checked to be dm- and digits.
bool dm_bytes_of(const char* node, unsigned long long* bytes) {
    static const char kPrefix[] = "/dev/dm-";
    const size_t prefix = sizeof(kPrefix) - 1;
    const size_t digits = strlen(node) - prefix;
    if (strncmp(node, kPrefix, prefix) != 0 || digits == 0 || digits > 9 ||
        strspn(node + prefix, "0123456789") != digits) {
        return false;
    }
    char path[kPathLen];
    if (sprintf_s(path, sizeof(path), "/sys/block/%s/size", node + strlen("/dev/")) < 0) {
        return false;
    }
    UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
    char line[32];
    const ssize_t got = fd.Valid() ? read(fd.Get(), line, sizeof(line) - 1) : -1;
    if (got <= 0) {
        return false;
    }
    line[got] = '\0';
    line[strcspn(line, "\n")] = '\0';
    return exact_bytes_of_size_line(line, bytes);
}

}  // namespace

bool capacity_bytes_of(const LunInfo* lun, unsigned long long* bytes) {
    for (const ListHead* l = s_capacity_notes.next; l != &s_capacity_notes; l = l->next) {
        const CapacityNote* note = list_entry(const_cast<ListHead*>(l), CapacityNote, node);
        if (note->lun == lun) {
            *bytes = note->bytes;
            return true;
        }
    }
    return dm_bytes_of(lun->dev_name, bytes);
}

namespace {

// An entry of /sys/block and the vendor its node answered with (empty when
// it does not open or answer).
struct BlockEntry {
    std::string name;
    std::string node;
    char vid[16];
};

// Opens the entry's node and asks it for its vendor.
void identify_entry(BlockEntry* entry) {
    (void)memset_s(entry->vid, sizeof(entry->vid), 0, sizeof(entry->vid));
    // Read-only and non-blocking: every entry is tried, so an optical
    // drive without a medium or a slow node must not hold the walk.
    UniqueFd fd(query_OpenDevice(entry->node.c_str(), O_RDONLY | O_NONBLOCK));
    if (!fd.Valid()) {
        ts_log(1, "open %s failed\n", entry->node.c_str());
        return;
    }
    if (get_vid(fd.Get(), entry->vid, sizeof(entry->vid)) != 0) {
        entry->vid[0] = '\0';
    }
}

// The directories of /sys/block with their node names, in directory order.
bool block_entries(std::vector<BlockEntry>* entries) {
    UniqueDir dir(opendir("/sys/block"));
    if (!dir.Valid()) {
        return false;
    }
    for (dirent* entry = readdir(dir.Get()); entry != nullptr; entry = readdir(dir.Get())) {
        const char* name = entry->d_name;
        // Skipped before anything is opened: "." and ".." and entries that
        // are not directories.
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
            continue;
        }
        char path[kPathLen];
        struct stat st;
        if (sprintf_s(path, sizeof(path), "/sys/block/%s", name) < 0 || stat(path, &st) != 0 ||
            !S_ISDIR(st.st_mode) || sprintf_s(path, sizeof(path), "/dev/%s", name) < 0) {
            continue;
        }
        entries->push_back(BlockEntry{name, path, {}});
    }
    return true;
}

// A LUN record for an entry of the vendor; false when no memory is left.
bool keep_block_entry(const BlockEntry& entry) {
    LunInfo* lun = static_cast<LunInfo*>(calloc(1, sizeof(LunInfo)));
    if (lun == nullptr) {
        ts_log(3, "alloc mem failed for pdev\n");
        free_lunlist();
        free_capacity_notes();
        return false;
    }
    const char* name = entry.name.c_str();
    (void)sprintf_s(lun->dev_name, sizeof(lun->dev_name), "%s", entry.node.c_str());
    (void)memcpy_s(lun->vendor, sizeof(lun->vendor), entry.vid, sizeof(entry.vid));
    INIT_LIST_HEAD(&lun->paths);
    list_add_tail(&lun->node, &g_lunlist);
    ts_log(0, "get device %s from block dir.\n", name);
    unsigned long long bytes = 0;
    bool exact = false;
    if (sysfs_size(name, lun->capacity, sizeof(lun->capacity), &bytes, &exact) != 0) {
        ts_log(3, "get size failed for %s\n", name);
    } else if (exact && json_output()) {
        note_capacity(lun, bytes);
    }
    (void)get_sysfs_get_hostno(name, lun->host_no, sizeof(lun->host_no));
    return true;
}

// Runs identify_entry on the entries side by side.
std::vector<std::string> identify_side_by_side(std::vector<BlockEntry>* entries) {
    std::vector<std::string_view> nodes;
    for (const BlockEntry& entry : *entries) {
        nodes.emplace_back(entry.node);
    }
    return run_side_by_side(nodes, [entries](size_t i) { identify_entry(&(*entries)[i]); });
}

}  // namespace

int get_lun_list_from_block_dir(void) {
    std::vector<BlockEntry> entries;
    if (!block_entries(&entries)) {
        s_block_dir_unopened = true;
        return -1;
    }
    // With more than one job the nodes are asked side by side first; their
    // reports are written where the walk reaches each entry.
    const std::vector<std::string> reports =
        g_jobs > 1 ? identify_side_by_side(&entries) : std::vector<std::string>();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (reports.empty()) {
            identify_entry(&entries[i]);
        } else {
            ts_log_replay(reports[i]);
        }
        if (!is_vendor_id(entries[i].vid)) {
            continue;
        }
        if (!keep_block_entry(entries[i])) {
            return -1;
        }
    }
    return 0;
}

// Fails only when the /sys/block fallback could not open its directory
// (deliberate: a host without /sys/block is an error, not "no disk").
int get_lun_list(void) {
    (void)get_lun_list_from_dm();
    if (!list_empty(&g_lunlist)) {
        return 0;
    }
    ts_log(1, "get no disk from multipath -ll\n");
    s_block_dir_unopened = false;
    (void)get_lun_list_from_block_dir();
    g_isdm = 1;
    return s_block_dir_unopened ? -1 : 0;
}

int get_sysfs_get_size(const char* dev, char* dest, size_t size) {
    unsigned long long bytes = 0;
    bool exact = false;
    return sysfs_size(dev, dest, size, &bytes, &exact);
}

namespace {

int sysfs_size(const char* dev, char* dest, size_t size, unsigned long long* bytes, bool* exact) {
    if (filter_the_unsafe_str(dev) != 0) {
        return -1;
    }
    char command[kPathLen];
    if (sprintf_s(command, sizeof(command), "cat /sys/block/%s/size 2>/dev/null", dev) < 0) {
        return -1;
    }
    char line[kLineLen];
    (void)memset_s(line, sizeof(line), 0, sizeof(line));
    if (!first_line_of(command, line, sizeof(line))) {
        return -1;
    }
    // strtoull, where tsexTool takes the leading digits only: leading blanks
    // are skipped and a sign is taken ("-1" wraps to the largest count).
    size_text_from_sectors(strtoull(line, nullptr, 10), dest, size);
    *exact = exact_bytes_of_size_line(line, bytes);
    return 0;
}

}  // namespace

int get_sysfs_get_hostno(const char* dev, char* dest, size_t size) {
    if (filter_the_unsafe_str(dev) != 0) {
        return -1;
    }
    // A block device without a device link (a dm map, a loop device) gives
    // readlink nothing to print: xargs -r then starts no basename, which
    // would complain on standard error about its missing operand.
    static const char kFormat[] =
        "readlink /sys/block/%s/device 2>/dev/null | xargs -r basename 2>/dev/null"
        " | awk -F ':' '{print $1}' 2>/dev/null";
    // The redirections take no room from the name: every name that fitted
    // the plain pipeline in kPathLen bytes still fits.
    static const char kPlainFormat[] =
        "readlink /sys/block/%s/device | xargs basename | awk -F ':' '{print $1}'";
    char command[kPathLen + sizeof(kFormat) - sizeof(kPlainFormat)];
    if (sprintf_s(command, sizeof(command), kFormat, dev) < 0) {
        return -1;
    }
    char line[kLineLen];
    (void)memset_s(line, sizeof(line), 0, sizeof(line));
    if (!first_line_of(command, line, sizeof(line))) {
        return -1;
    }
    (void)sprintf_s(dest, size, "%d", static_cast<int>(strtol(line, nullptr, 10)));
    return 0;
}

int get_porttype_by_host(const char* host_no, char* dest, size_t size) {
    if (filter_the_unsafe_str(host_no) != 0) {
        return -1;
    }
    char command[kPathLen];
    (void)memset_s(command, sizeof(command), 0, sizeof(command));
    if (sprintf_s(command, sizeof(command), "cat /sys/class/scsi_host/host%s/proc_name 2>/dev/null",
                  host_no) < 0) {
        return -1;
    }
    char line[kLineLen];
    (void)memset_s(line, sizeof(line), 0, sizeof(line));
    if (!first_line_of(command, line, sizeof(line))) {
        return -1;
    }
    const char* type = strncmp(line, "iscsi", 5) == 0 ? "iSCSI" : "FC";
    if (size == 0) {
        return -1;
    }
    (void)memset_s(dest, size, 0, size);
    (void)strncpy_s(dest, size, type, strlen(type) < size - 1 ? strlen(type) : size - 1);
    return 0;
}

int get_dev_info(LunInfo* lun) {
    if (lun == nullptr) {
        return -1;
    }
    // Read-only, and non-blocking so that a node without a medium or a slow
    // open does not hold the queries of the records after it.
    UniqueFd fd(query_OpenDevice(lun->dev_name, O_RDONLY | O_NONBLOCK));
    if (!fd.Valid()) {
        char* const fields[] = {lun->lun_name,    lun->wwn,        lun->ctrl,
                                lun->host_lun_id, lun->array_name, lun->port_type};
        const size_t sizes[] = {sizeof(lun->lun_name),   sizeof(lun->wwn),
                                sizeof(lun->ctrl),       sizeof(lun->host_lun_id),
                                sizeof(lun->array_name), sizeof(lun->port_type)};
        set_all_dashes(fields, sizes, std::size(fields));
        ts_log(1, "open %s failed\n", lun->dev_name);
        return -1;
    }
    const Query queries[] = {
        {get_lun_name, lun->lun_name, sizeof(lun->lun_name), "get lun name for %s failed\n"},
        {get_wwn, lun->wwn, sizeof(lun->wwn), "get wwn for %s failed\n"},
        {get_tpg, lun->ctrl, sizeof(lun->ctrl), "get tpg id for %s failed\n"},
        {get_host_lunID, lun->host_lun_id, sizeof(lun->host_lun_id),
         "get host lun id for %s failed\n"},
        {get_array_name, lun->array_name, sizeof(lun->array_name),
         "get array name for %s failed\n"},
        {get_port_type, lun->port_type, sizeof(lun->port_type), "get port type for %s failed\n"},
    };
    // The port type query runs last.
    int port_type_result = run_queries(fd.Get(), queries, std::size(queries), lun->dev_name);
    if (port_type_result == 0 && strncmp(lun->port_type, "--", 2) == 0) {
        ts_log(1, "get port type by host for dev %s.\n", lun->dev_name);
        (void)get_porttype_by_host(lun->host_no, lun->port_type, sizeof(lun->port_type));
    }
    return 0;
}

// Each LUN, then its paths: the order of the queries and of their reports.
std::vector<LunInfo*> records_in_order(void) {
    std::vector<LunInfo*> records;
    for (list_head* l = g_lunlist.next; l != &g_lunlist; l = l->next) {
        LunInfo* lun = lun_of(l);
        records.push_back(lun);
        for (list_head* p = lun->paths.next; p != &lun->paths; p = p->next) {
            records.push_back(lun_of(p));
        }
    }
    return records;
}

int get_info(void) {
    // Queried side by side first (nothing when one job; already, beside the
    // readiness checks, after a listing), then reported in list order with
    // each record's own reports.
    std::vector<std::string> reports;
    reports.swap(s_queried);
    if (reports.empty()) {
        reports = query_side_by_side(records_in_order());
    }
    size_t next = 0;
    for (list_head* l = g_lunlist.next; l != &g_lunlist; l = l->next) {
        LunInfo* lun = lun_of(l);
        ts_log(0, "get info for lun %s.\n", lun->dev_name);
        take_dev_info(lun, reports, next++);
        for (list_head* p = lun->paths.next; p != &lun->paths; p = p->next) {
            LunInfo* path = lun_of(p);
            ts_log(0, "get info for lun %s, path %s\n", lun->dev_name, path->dev_name);
            take_dev_info(path, reports, next++);
        }
    }
    return 0;
}

// Nothing is listed ahead of the LUNs: multipath names each map's paths.
bool list_paths_first(void) {
    return true;
}

void free_lists(void) {
    free_lunlist();
    free_capacity_notes();
}
