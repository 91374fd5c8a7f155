// Listing texts laid out when the host is built, and rendered off a host.
#include "listings.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "../../common/unique_fd.h"
#include "esxi_listing.h"
#include "host.h"
#include "listing.h"
#include "replay.h"

namespace sansim {
namespace {

struct ListingRunText {
    int status = 0;
    std::string text;
};

// What a listing command writes on its standard error on every run, beside
// its runs in the command's directory.
constexpr char kWarningsFile[] = "stderr";

bool Fail(std::string* error, const std::string& what) {
    *error = what + ": " + strerror(errno);
    return false;
}

bool WriteAll(int dirfd, const std::string& name, const std::string& content, std::string* error,
              const std::string& shown) {
    UniqueFd fd(openat(dirfd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    size_t done = 0;
    while (fd.Valid() && done < content.size()) {
        ssize_t n = write(fd.Get(), content.data() + done, content.size() - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return (fd.Valid() && done == content.size()) || Fail(error, "cannot write " + shown);
}

bool WriteCommand(int listings, const std::string& command, const std::vector<ListingRunText>& runs,
                  uint64_t waitNs, std::string* error, const std::string& warnings = "") {
    const std::string key = ListingKey(command);
    if (mkdirat(listings, key.c_str(), 0755) != 0) {
        return Fail(error, std::string("cannot create ") + kListingsDir + "/" + key);
    }
    UniqueFd dir(openat(listings, key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) {
        return Fail(error, std::string("cannot open ") + kListingsDir + "/" + key);
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        const std::string head =
            std::to_string(runs[i].status) + " " + std::to_string(waitNs) + "\n";
        if (!WriteAll(dir.Get(), std::to_string(i), head + runs[i].text, error,
                      std::string(kListingsDir) + "/" + key + "/" + std::to_string(i))) {
            return false;
        }
    }
    if (!warnings.empty() &&
        !WriteAll(dir.Get(), kWarningsFile, warnings, error,
                  std::string(kListingsDir) + "/" + key + "/" + kWarningsFile)) {
        return false;
    }
    return WriteAll(dir.Get(), "count", std::to_string(runs.size()) + "\n", error,
                    std::string(kListingsDir) + "/" + key + "/count");
}

// The lines a host's multipath writes on standard error, one a line.
std::string MultipathWarnings(const Topology& topo) {
    std::string text;
    for (const std::string& line : topo.multipath.warnings) {
        text += line + "\n";
    }
    return text;
}

// The host's listing time, as each run of a listing command takes it.
uint64_t ListingWaitNs(const Topology& topo) {
    const double seconds = static_cast<double>(topo.timing.listingMs) / 1000.0 * topo.timing.scale;
    return seconds > 0 ? static_cast<uint64_t>(seconds * 1e9) : 0;
}

bool Names(const std::vector<std::string>& names, const char* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The listing commands a host built from a topology has, and the one run
// each prints.
std::vector<std::pair<std::string, ListingRunText>> RenderedListings(const Topology& topo) {
    std::vector<std::pair<std::string, ListingRunText>> out;
    if (topo.platform == Platform::Linux && topo.multipath.installed) {
        ListingRunText run;
        if (topo.multipath.hang) {
            run.status = kListingHangs;
        } else if (topo.multipath.listFails) {
            run.status = 1;
        } else {
            run.text = RenderMultipathListing(topo) + PaddingLines(topo.multipath.padding);
        }
        out.emplace_back("multipath -ll", run);
    }
    if (topo.platform != Platform::Esxi) {
        return out;
    }
    for (const char* name : kEsxiListingCommands) {
        if (Names(topo.esxi.missing, name)) {
            continue;
        }
        const std::string self = name;
        ListingRunText run;
        if (Names(topo.esxi.hang, name)) {
            run.status = kListingHangs;
        } else if (Names(topo.esxi.failing, name)) {
            run.status = 1;
        } else if (self == "esxcli") {
            run.text = RenderEsxiVibList(topo);
        } else {
            run.text = (self == "esxcfg-mpath" ? RenderEsxiPathListing(topo)
                                               : RenderEsxiDeviceListing(topo)) +
                       PaddingLines(topo.esxi.padding);
        }
        out.emplace_back(self == "esxcli" ? "esxcli software vib list" : self + " -l", run);
    }
    return out;
}

bool WriteRendered(const Topology& topo, int listings, std::string* error) {
    for (const auto& listing : RenderedListings(topo)) {
        const std::string warnings =
            listing.first == "multipath -ll" ? MultipathWarnings(topo) : "";
        if (!WriteCommand(listings, listing.first, {listing.second}, ListingWaitNs(topo), error,
                          warnings)) {
            return false;
        }
    }
    return true;
}

// A captured host's listings: each recorded run in turn, at once.
bool WriteRecorded(const Replay& replay, int listings, std::string* error) {
    for (const RecordedListing& listing : replay.listings) {
        std::vector<ListingRunText> runs;
        for (const RecordedRun& recorded : listing.runs) {
            runs.push_back({recorded.started ? recorded.status : 127, recorded.text});
        }
        if (!runs.empty() && !WriteCommand(listings, listing.command, runs, 0, error)) {
            return false;
        }
    }
    return true;
}

int Print(const char* text, size_t size, int status) {
    if (status == kListingHangs) {
        HangUntilKilled();
    }
    return fwrite(text, 1, size, stdout) == size && fflush(stdout) == 0 ? status : 1;
}

}  // namespace

bool WriteListings(const Topology& topo, int dev, std::string* error) {
    const std::string below = std::string(kListingsDir).substr(strlen("/dev/"));
    if (mkdirat(dev, below.c_str(), 0755) != 0) {
        return Fail(error, std::string("cannot create ") + kListingsDir);
    }
    UniqueFd listings(openat(dev, below.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listings.Valid()) {
        return Fail(error, std::string("cannot open ") + kListingsDir);
    }
    std::string lines;
    for (const std::string& line : topo.cannotStart) {
        lines += line + "\n";
    }
    const std::string cannotStart = std::string(kCannotStartFile).substr(strlen("/dev/"));
    if (!WriteAll(dev, cannotStart, lines, error, kCannotStartFile)) {
        return false;
    }
    return topo.replay != nullptr ? WriteRecorded(*topo.replay, listings.Get(), error)
                                  : WriteRendered(topo, listings.Get(), error);
}

int RenderOutsideHost(const std::string& command) {
    const char* file = getenv("SANSIM_TOPOLOGY");
    if (file == nullptr || *file == '\0') {
        fprintf(stderr, "%s: not on a simulated host (SANSIM_TOPOLOGY is not set)\n",
                command.c_str());
        return 1;
    }
    Topology topo;
    std::string error;
    if (!LoadTopology(file, &topo, &error)) {
        fprintf(stderr, "%s: %s\n", command.c_str(), error.c_str());
        return 1;
    }
    if (topo.replay != nullptr) {
        const RecordedRun* run = ListingRun(*topo.replay, command, 0);
        if (run != nullptr) {
            return run->started ? Print(run->text.data(), run->text.size(), run->status) : 127;
        }
    }
    for (const auto& listing : RenderedListings(topo)) {
        if (listing.first == command) {
            if (command == "multipath -ll") {
                (void)fputs(MultipathWarnings(topo).c_str(), stderr);
            }
            return Print(listing.second.text.data(), listing.second.text.size(),
                         listing.second.status);
        }
    }
    fprintf(stderr, "%s: not recorded on this host\n", command.c_str());
    return 1;
}

}  // namespace sansim
