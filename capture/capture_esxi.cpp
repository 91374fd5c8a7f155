// tskit-capture for the ESXi shell: the three listings ts_showdisk reads
// (esxcfg-mpath -l, esxcfg-scsidevs -l, esxcli software vib list), each run
// once as its bare command, then the /dev/disks node of every device the
// device listing names. The ESXi shell has no /sys to record.
#include "capture_host.h"
#include "listing_commands.h"

extern constexpr char kCaptureUsage[] =
    "Usage: tskit-capture [--map MAPFILE] [--anonymize] FILE\n"
    "Records what ts_showdisk reads on this ESXi host (listings and each\n"
    "device's replies to the commands it sends) into FILE, or to standard\n"
    "output when FILE is -.\n"
    "  --map MAPFILE  with --anonymize: the mapping goes to MAPFILE (needed\n"
    "                 with -)\n"
    "  --anonymize    replace serial numbers, WWNs, port and iSCSI names, LUN\n"
    "                 and array names; the mapping goes to FILE.map\n";

namespace {

// Each listing command, its words, and ts_showdisk's own line that runs it
// through a filter. The capture keeps the whole output of
// the words, and whether the program's line could be started.
struct EsxiListing {
    const char* command;
    const char* words;
    const char* programLine;
};
constexpr EsxiListing kEsxiListings[] = {
    {"esxcfg-mpath", "esxcfg-mpath -l", kEsxiPathListing},
    {"esxcfg-scsidevs", "esxcfg-scsidevs -l", kEsxiDeviceListing},
    {"esxcli", "esxcli software vib list", kEsxiProductProbe},
};
constexpr size_t kDeviceListing = 1;  // esxcfg-scsidevs -l

// A node name ts_showdisk could open below /dev/disks: no directory part.
bool PlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// The device listing names each device on a line of its own at the left
// margin, its attributes indented below it; ts_showdisk opens
// /dev/disks/LINE for each such line it keeps.
void DeviceNodes(const std::string& text, std::vector<std::string>* names, CaptureRecord* record) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == ' ' || line[0] == '\t') {
            continue;
        }
        if (PlainName(line)) {
            names->push_back("disks/" + line);
        } else {
            record->errors.push_back({"esxcfg-scsidevs -l", "a device name with a /: " + line});
        }
    }
}

}  // namespace

void capture_Host(CaptureRecord* record) {
    record->platform = "esxi";
    std::vector<std::string> names;
    for (size_t i = 0; i < sizeof kEsxiListings / sizeof kEsxiListings[0]; ++i) {
        const EsxiListing& listing = kEsxiListings[i];
        record->commands.push_back({listing.command, capture_OnPath(listing.command)});
        if (!capture_LineStarts(listing.programLine)) {
            record->cannotStart.emplace_back(listing.programLine);
        }
        if (!record->commands.back().present) {
            continue;
        }
        capture_RunListing(listing.words, &listing.words, 1, record);
        if (i == kDeviceListing) {
            for (const CaptureRun& run : record->listings.back().runs) {
                DeviceNodes(run.text, &names, record);
            }
        }
    }
    capture_QueryNodes(names, {}, record);
}
