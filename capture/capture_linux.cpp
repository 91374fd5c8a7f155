// tskit-capture for Linux: multipath -ll through tsexTool's and ts_showdisk's
// own lines, /sys/block, the SCSI hosts and the FC and iSCSI transport
// classes, then every sdX and dm-N node of /sys/block and of the listing.
#include <ctype.h>

#include <sstream>

#include "capture_host.h"
#include "listing_commands.h"
#include "listing_text.h"
#include "lun_vendor.h"

extern constexpr char kCaptureUsage[] =
    "Usage: tskit-capture [--map MAPFILE] [--anonymize] FILE\n"
    "Records what tsexTool and ts_showdisk read on this host (listings, /sys\n"
    "entries, and each device's replies to the commands they send) into FILE,\n"
    "or to standard output when FILE is -.\n"
    "  --map MAPFILE  with --anonymize: the mapping goes to MAPFILE (needed\n"
    "                 with -)\n"
    "  --anonymize    replace serial numbers, WWNs, port and iSCSI names, IP\n"
    "                 addresses, LUN, array and map names; the mapping goes\n"
    "                 to FILE.map\n";

namespace {

// The programs' command lines of the listing: tsexTool's read, ts_showdisk's
// read, and tsexTool's check whether the listing runs at all.
constexpr const char* kListingReads[] = {kMultipathListing, kMultipathListingQuiet};

// The commands the programs look for on PATH.
constexpr const char* kLinuxCommands[] = {"multipath", kLunProductClis[0], kLunProductClis[1],
                                          kLunProductClis[2]};
static_assert(sizeof(kLunProductClis) / sizeof(kLunProductClis[0]) == 3,
              "every product program is looked for");

// What the programs read of each transport class entry, and where below it
// they look for its SCSI targets (targetH:C:T entries), if they do.
struct ClassAttributes {
    const char* className;
    const char* attributes[6];
    const char* targetDir;
};
constexpr ClassAttributes kTransportClasses[] = {
    {"fc_host", {"port_name", "node_name", "port_state", "speed", "fabric_name", nullptr}, nullptr},
    {"fc_remote_ports",
     {"port_name", "node_name", "port_state", "scsi_target_id", nullptr},
     nullptr},
    {"iscsi_host", {"initiatorname", "ipaddress", nullptr}, nullptr},
    {"iscsi_session", {"targetname", "tpgt", "state", "initiatorname", nullptr}, "device"},
};

// The length of a dm-N or sdX name that starts at text[at], or 0.
size_t DevNameLength(const std::string& text, size_t at) {
    const bool dm = text.compare(at, 3, "dm-") == 0;
    if (!dm && text.compare(at, 2, "sd") != 0) {
        return 0;
    }
    const size_t first = at + (dm ? 3 : 2);
    size_t end = first;
    while (end < text.size() && (dm ? isdigit(static_cast<unsigned char>(text[end])) != 0
                                    : (text[end] >= 'a' && text[end] <= 'z'))) {
        ++end;
    }
    return end > first ? end - at : 0;
}

// The dm-N and sdX names a listing mentions, in the order it does.
void ListingNodes(const std::string& text, std::vector<std::string>* names) {
    size_t i = 0;
    while (i < text.size()) {
        const bool boundary = i == 0 || !(isalnum(static_cast<unsigned char>(text[i - 1])) ||
                                          text[i - 1] == '-' || text[i - 1] == '_');
        const size_t len = boundary ? DevNameLength(text, i) : 0;
        if (len > 0 &&
            (i + len == text.size() || isalnum(static_cast<unsigned char>(text[i + len])) == 0)) {
            names->push_back(text.substr(i, len));
            i += len;
        } else {
            ++i;
        }
    }
}

// The dm nodes of the maps of a listing that queue I/O and have no usable
// path, of any vendor, as the programs find them: a pass-through to one
// would never return.
void AddHeldMaps(const std::string& text, std::unordered_set<std::string>* held) {
    std::istringstream lines(text);
    std::string line;
    HeldMaps maps;
    char dm[64];
    while (std::getline(lines, line)) {
        if (HeldMapsNoteLine(&maps, line.c_str(), dm, sizeof dm)) {
            held->insert(dm);
        }
    }
    if (HeldMapsEnd(&maps, dm, sizeof dm)) {
        held->insert(dm);
    }
}

void RecordBlock(SysfsRecorder* sys, std::vector<std::string>* nodes) {
    if (!sys->Record("block")) {
        return;
    }
    for (const std::string& name : sys->Names("block")) {
        const std::string entry = "block/" + name;
        sys->Record(entry);
        sys->Record(entry + "/size");
        sys->Record(entry + "/device");
        nodes->push_back(name);
    }
}

void RecordClasses(SysfsRecorder* sys) {
    if (sys->Record("class/scsi_host")) {
        for (const std::string& host : sys->Names("class/scsi_host")) {
            sys->Record("class/scsi_host/" + host);
            sys->Record("class/scsi_host/" + host + "/proc_name");
        }
    }
    for (const ClassAttributes& cls : kTransportClasses) {
        const std::string dir = std::string("class/") + cls.className;
        if (!sys->Record(dir)) {
            continue;
        }
        for (const std::string& name : sys->Names(dir)) {
            const std::string entry = dir + "/" + name;
            sys->Record(entry);
            for (const char* const* attr = cls.attributes; *attr != nullptr; ++attr) {
                sys->Record(entry + "/" + *attr);
            }
            if (cls.targetDir == nullptr) {
                continue;
            }
            const std::string targets = entry + "/" + cls.targetDir;
            sys->Record(targets);
            for (const std::string& child : sys->Names(targets)) {
                if (child.compare(0, 6, "target") == 0) {
                    sys->Record(targets + "/" + child);
                }
            }
        }
    }
}

}  // namespace

void capture_Host(CaptureRecord* record) {
    record->platform = "linux";
    for (const char* name : kLinuxCommands) {
        record->commands.push_back({name, capture_OnPath(name)});
    }
    // Each of the programs' lines of the listing once: the reads give the
    // runs, and a line that cannot be started is recorded as such.
    if (record->commands.front().present) {
        capture_RunListing("multipath -ll", kListingReads,
                           sizeof kListingReads / sizeof kListingReads[0], record);
        if (!capture_LineStarts(kMultipathCheck)) {
            record->cannotStart.emplace_back(kMultipathCheck);
        }
    }
    SysfsRecorder sys(record);
    std::vector<std::string> names;
    RecordBlock(&sys, &names);
    RecordClasses(&sys);
    std::unordered_set<std::string> held;
    for (const CaptureListing& listing : record->listings) {
        for (const CaptureRun& run : listing.runs) {
            ListingNodes(run.text, &names);
            AddHeldMaps(run.text, &held);
        }
    }
    capture_QueryNodes(names, held, record);
}
