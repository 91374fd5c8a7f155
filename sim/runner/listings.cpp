// Listing texts laid out at build time, and the fake commands that print them.
#include "listings.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

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

// Below /dev: one directory a command, one file a run ("STATUS WAIT_NS"
// and a newline, then the text), and "count", the number of runs.
constexpr const char* kListingsDir = ".sansim/listings";

struct ListingRunText {
    int status = 0;
    std::string text;
};

bool Fail(std::string* error, const std::string& what) {
    *error = what + ": " + strerror(errno);
    return false;
}

std::string KeyOf(const std::string& command) {
    std::string key = command;
    for (char& c : key) {
        c = c == ' ' || c == '/' ? '_' : c;
    }
    return key;
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
                  uint64_t waitNs, std::string* error) {
    const std::string key = KeyOf(command);
    if (mkdirat(listings, key.c_str(), 0755) != 0) {
        return Fail(error, std::string("cannot create /dev/") + kListingsDir + "/" + key);
    }
    UniqueFd dir(openat(listings, key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) {
        return Fail(error, std::string("cannot open /dev/") + kListingsDir + "/" + key);
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        const std::string head =
            std::to_string(runs[i].status) + " " + std::to_string(waitNs) + "\n";
        if (!WriteAll(dir.Get(), std::to_string(i), head + runs[i].text, error,
                      std::string("/dev/") + kListingsDir + "/" + key + "/" + std::to_string(i))) {
            return false;
        }
    }
    return WriteAll(dir.Get(), "count", std::to_string(runs.size()) + "\n", error,
                    std::string("/dev/") + kListingsDir + "/" + key + "/count");
}

// The host's listing time, as each run of a listing command takes it.
uint64_t ListingWaitNs(const Topology& topo) {
    const double seconds = static_cast<double>(topo.timing.listingMs) / 1000.0 * topo.timing.scale;
    return seconds > 0 ? static_cast<uint64_t>(seconds * 1e9) : 0;
}

// The listing commands a host built from a topology has, and the one run
// each prints.
std::vector<std::pair<std::string, ListingRunText>> RenderedListings(const Topology& topo) {
    std::vector<std::pair<std::string, ListingRunText>> out;
    if (topo.platform == Platform::Linux && topo.multipath.installed) {
        ListingRunText run;
        if (topo.multipath.listFails) {
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
        bool missing = false;
        bool failing = false;
        for (const std::string& m : topo.esxi.missing) {
            missing = missing || m == name;
        }
        for (const std::string& f : topo.esxi.failing) {
            failing = failing || f == name;
        }
        if (missing) {
            continue;
        }
        const std::string self = name;
        ListingRunText run;
        if (failing) {
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
        if (!WriteCommand(listings, listing.first, {listing.second}, ListingWaitNs(topo), error)) {
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

// How many times the listing command has run on this host before: a
// counter file per command in the host's state directory, taken under a
// lock, as listing commands of one host may run at once.
size_t CountListingRun(const std::string& command) {
    UniqueFd fd(open((std::string(kHostStateDir) + "/" + KeyOf(command)).c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd.Valid() || flock(fd.Get(), LOCK_EX) != 0) {
        return 0;
    }
    char text[32] = {};
    const ssize_t got = pread(fd.Get(), text, sizeof text - 1, 0);
    const size_t runs = got > 0 ? strtoul(text, nullptr, 10) : 0;
    const std::string next = std::to_string(runs + 1);
    (void)!pwrite(fd.Get(), next.data(), next.size(), 0);
    return runs;
}

bool ReadAll(int dirfd, const char* name, std::string* out) {
    UniqueFd fd(openat(dirfd, name, O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return false;
    }
    char buf[65536];
    ssize_t n;
    while ((n = read(fd.Get(), buf, sizeof buf)) > 0) {
        out->append(buf, static_cast<size_t>(n));
    }
    return n == 0;
}

int Print(const char* text, size_t size, int status) {
    return fwrite(text, 1, size, stdout) == size && fflush(stdout) == 0 ? status : 1;
}

// Off a simulated host the fake command renders the listing of the host
// file that SANSIM_TOPOLOGY names, as a host built from it would print it.
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
            return Print(listing.second.text.data(), listing.second.text.size(),
                         listing.second.status);
        }
    }
    fprintf(stderr, "%s: not recorded on this host\n", command.c_str());
    return 1;
}

void Wait(uint64_t ns) {
    timespec left{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (ns > 0 && nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

bool WriteListings(const Topology& topo, int dev, std::string* error) {
    if (mkdirat(dev, kListingsDir, 0755) != 0) {
        return Fail(error, std::string("cannot create /dev/") + kListingsDir);
    }
    UniqueFd listings(openat(dev, kListingsDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listings.Valid()) {
        return Fail(error, std::string("cannot open /dev/") + kListingsDir);
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

int ServeListing(const std::string& command) {
    const std::string dirName = std::string("/dev/") + kListingsDir + "/" + KeyOf(command);
    UniqueFd dir(open(dirName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid() && errno == ENOENT && access(kHostStateDir, F_OK) != 0) {
        return RenderOutsideHost(command);
    }
    std::string count;
    if (!dir.Valid() || !ReadAll(dir.Get(), "count", &count)) {
        fprintf(stderr, "%s: not recorded on this host\n", command.c_str());
        return 1;
    }
    const size_t runs = strtoul(count.c_str(), nullptr, 10);
    size_t run = runs > 1 ? CountListingRun(command) : 0;
    run = run < runs ? run : runs - 1;
    std::string file;
    if (runs == 0 || !ReadAll(dir.Get(), std::to_string(run).c_str(), &file)) {
        fprintf(stderr, "%s: cannot read run %zu of %s\n", command.c_str(), run, dirName.c_str());
        return 1;
    }
    const size_t eol = file.find('\n');
    char* end = nullptr;
    const int status = static_cast<int>(strtol(file.c_str(), &end, 10));
    Wait(strtoull(end, nullptr, 10));
    return status == 127 ? status : Print(file.data() + eol + 1, file.size() - eol - 1, status);
}

}  // namespace sansim
