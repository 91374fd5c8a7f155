// sansim-fake: the host's own commands. The host's bin directory links
// `multipath`, the product CLIs and, on an ESXi host, `esxcfg-mpath`,
// `esxcfg-scsidevs` and `esxcli` to it; it looks at the name it was started
// under.
//
// A listing command prints the run that sansim laid out for it when it
// built the host (listings.h). The tools start a listing in nearly every
// run, so this program is small and built without sanitizers: it reads a
// file and a counter, and nothing of the host file. Off a host (no
// /dev/.sansim) it hands the command to sansim beside it, which renders the
// listing of the host file that SANSIM_TOPOLOGY names.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "../../common/unique_fd.h"
#include "host.h"
#include "listings.h"

namespace {

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// How many times the listing command has run on this host before: a
// counter file per command in the host's state directory, taken under a
// lock, as listing commands of one host may run at once.
size_t CountListingRun(const std::string& command) {
    UniqueFd fd(
        open((std::string(sansim::kHostStateDir) + "/" + sansim::ListingKey(command)).c_str(),
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

void Wait(uint64_t ns) {
    timespec left{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (ns > 0 && nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// Off a host: sansim beside this program takes the same command.
int HandOver(char** argv) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        return 1;
    }
    std::string path(self, static_cast<size_t>(n));
    path = path.substr(0, path.rfind('/') + 1) + "sansim";
    execv(path.c_str(), argv);
    fprintf(stderr, "%s: cannot run %s: %s\n", BaseName(argv[0]).c_str(), path.c_str(),
            strerror(errno));
    return 1;
}

// The run of a listing command line: prints its text and returns its exit
// status (127 for a run the host could not start).
int ServeListing(const std::string& command) {
    const std::string dirName =
        std::string(sansim::kListingsDir) + "/" + sansim::ListingKey(command);
    UniqueFd dir(open(dirName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string count;
    if (!dir.Valid() || !ReadAll(dir.Get(), "count", &count)) {
        fprintf(stderr, "%s: not recorded on this host\n", command.c_str());
        return 1;
    }
    // multipath's warnings come first, on standard error, as it writes them
    // before it lists the maps.
    std::string warnings;
    if (ReadAll(dir.Get(), "stderr", &warnings) && !warnings.empty()) {
        (void)fwrite(warnings.data(), 1, warnings.size(), stderr);
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
    if (status == sansim::kListingHangs) {
        sansim::HangUntilKilled();
    }
    Wait(strtoull(end, nullptr, 10));
    if (status == 127) {
        return status;
    }
    const size_t size = file.size() - eol - 1;
    return fwrite(file.data() + eol + 1, 1, size, stdout) == size && fflush(stdout) == 0 ? status
                                                                                         : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string self = BaseName(argc > 0 ? argv[0] : "");
    const bool esxi = self == "esxcfg-mpath" || self == "esxcfg-scsidevs" || self == "esxcli";
    if (self != "multipath" && !esxi) {
        return 0;  // a product CLI: present, and nothing more
    }
    const std::string command = sansim::ListingCommand(self, argc, argv);
    if (command.empty()) {
        if (esxi) {
            fprintf(stderr, "%s: this simulated host knows only the listing\n", self.c_str());
            return 1;
        }
        return 0;
    }
    if (access(sansim::kHostStateDir, F_OK) != 0) {
        return HandOver(argv);
    }
    return ServeListing(command);
}
