// The "multipath -ll" listing of a simulated host. One map per LUN: the header
// names the map, its WWID, dm node and the array's vendor and product; the
// paths entering the working controller form the active path group, the
// others an enabled one. The HCTL, device and device number columns are as
// wide as their widest entry on the host, as multipath lays them out.
#include "listing.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace sansim {
namespace {

// Priorities an ALUA prioritizer gives optimized and non-optimized paths.
constexpr int kActiveGroupPrio = 50;
constexpr int kEnabledGroupPrio = 10;

// Disk index of an sd name: sda 0 .. sdz 25, sdaa 26 ...
uint64_t SdIndex(const std::string& name) {
    uint64_t index = 0;
    for (size_t i = 2; i < name.size(); ++i) {
        index = index * 26 + static_cast<uint64_t>(name[i] - 'a' + 1);
    }
    return index == 0 ? 0 : index - 1;
}

// The sd driver's numbering: 16 minors per disk; disks go to the majors 8,
// 65..71 and 128..135 by turns of 16, and past 256 disks the minor carries the
// rest of the index.
std::string SdDevNumber(const std::string& name) {
    static const int kMajors[16] = {8,   65,  66,  67,  68,  69,  70,  71,
                                    128, 129, 130, 131, 132, 133, 134, 135};
    const uint64_t index = SdIndex(name);
    const int major = kMajors[(index >> 4) & 0xF];
    const uint64_t minor = ((index & 0xF) << 4) | (index & 0xFFF00);
    return std::to_string(major) + ":" + std::to_string(minor);
}

std::string Hctl(const Path& p) {
    return std::to_string(p.host) + ":" + std::to_string(p.channel) + ":" +
           std::to_string(p.target) + ":" + std::to_string(p.lun);
}

// Binary units from kilobytes up; a whole value prints without decimals,
// any other with one.
std::string SizeText(uint64_t bytes) {
    static const char kUnits[] = {'K', 'M', 'G', 'T', 'P', 'E'};
    size_t unit = 0;
    uint64_t scale = 1024;
    while (unit + 1 < sizeof kUnits && bytes / scale >= 1024) {
        scale *= 1024;
        ++unit;
    }
    char text[32];
    if (bytes % scale == 0) {
        std::snprintf(text, sizeof text, "%llu%c", static_cast<unsigned long long>(bytes / scale),
                      kUnits[unit]);
        return text;
    }
    double value = static_cast<double>(bytes) / static_cast<double>(scale);
    // 1023.96M rounds to 1024.0M: print it as the next unit does.
    if (value >= 1023.95 && unit + 1 < sizeof kUnits) {
        value /= 1024;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f%c", value, kUnits[unit]);
    return text;
}

std::string Trim(const std::string& text) {
    const size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

struct Columns {
    size_t hctl = 0, dev = 0, devt = 0;
};

// A path group's priority is that of its usable paths; with none it is 0.
int GroupPrio(const Lun& lun, const std::vector<size_t>& group, int prio) {
    for (size_t i : group) {
        const std::string& checker = lun.paths[i].checkerState;
        if (checker == "ready" || checker == "ghost") {
            return prio;
        }
    }
    return 0;
}

std::string PathColumns(const Path& p, const Columns& w) {
    return Pad(Hctl(p), w.hctl) + " " + Pad(p.sd, w.dev) + " " + Pad(SdDevNumber(p.sd), w.devt);
}

void RenderMap(const Topology& topo, const Lun& lun, ListingFormat format, const Columns& w,
               std::string* out) {
    const Array* array = FindArray(topo, lun.array);
    const std::string vendor = array != nullptr ? Trim(array->vendor) : std::string();
    const std::string product = array != nullptr ? Trim(array->product) : std::string();
    const std::string size = lun.listingSize.empty() ? SizeText(lun.sizeBytes) : lun.listingSize;

    std::string header = lun.alias.empty() ? lun.wwid : lun.alias + " (" + lun.wwid + ")";
    *out += header + " " + lun.dm + " " + vendor + "," + product + "\n";
    const bool current = format == ListingFormat::Current;
    // The map's feature arguments: their count, then the words.
    const std::string features = lun.queueIfNoPath ? "1 queue_if_no_path" : "0";
    if (current) {
        *out += "size=" + size + " features='" + features + "' hwhandler='1 alua' wp=rw\n";
    } else {
        *out += "[size=" + size + "][features=" + features + "][hwhandler=1 alua][rw]\n";
    }

    size_t activeCount = 0;
    const std::vector<size_t> order = PathsInListingOrder(topo, lun, &activeCount);
    struct Group {
        std::vector<size_t> paths;
        int prio;
        const char* status;
    };
    std::vector<Group> groups;
    const auto split = order.begin() + static_cast<std::ptrdiff_t>(activeCount);
    if (split != order.begin()) {
        groups.push_back({std::vector<size_t>(order.begin(), split), kActiveGroupPrio, "active"});
    }
    if (split != order.end()) {
        groups.push_back({std::vector<size_t>(split, order.end()), kEnabledGroupPrio, "enabled"});
    }

    for (size_t g = 0; g < groups.size(); ++g) {
        const Group& group = groups[g];
        const bool lastGroup = g + 1 == groups.size();
        const std::string prio = std::to_string(GroupPrio(lun, group.paths, group.prio));
        if (current) {
            *out += std::string(lastGroup ? "`-+- " : "|-+- ") +
                    "policy='service-time 0' prio=" + prio + " status=" + group.status + "\n";
        } else {
            *out += "\\_ round-robin 0 [prio=" + prio + "][" + group.status + "]\n";
        }
        for (size_t k = 0; k < group.paths.size(); ++k) {
            const Path& p = lun.paths[group.paths[k]];
            const bool lastPath = k + 1 == group.paths.size();
            if (current) {
                *out += std::string(lastGroup ? "  " : "| ") + (lastPath ? "`- " : "|- ") +
                        PathColumns(p, w) + " " + p.dmState + " " + p.checkerState + " " +
                        p.deviceState + "\n";
            } else {
                *out +=
                    " \\_ " + PathColumns(p, w) + " [" + p.dmState + "][" + p.checkerState + "]\n";
            }
        }
    }
}

}  // namespace

std::string RenderMultipathListing(const Topology& topo) {
    if (!topo.multipath.cannedListing.empty()) {
        std::ifstream in(topo.multipath.cannedListing, std::ios::binary);
        std::ostringstream text;
        if (in) {
            text << in.rdbuf();
        }
        return text.str();
    }
    Columns widths;
    for (const Lun& lun : topo.luns) {
        for (const Path& p : lun.paths) {
            widths.hctl = std::max(widths.hctl, Hctl(p).size());
            widths.dev = std::max(widths.dev, p.sd.size());
            widths.devt = std::max(widths.devt, SdDevNumber(p.sd).size());
        }
    }
    std::string out;
    for (const Lun& lun : topo.luns) {
        RenderMap(topo, lun, topo.multipath.format, widths, &out);
    }
    return out;
}

}  // namespace sansim
