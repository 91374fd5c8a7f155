// Lays out /dev of a simulated Solaris host. A Solaris host has no /sys: its
// disks are found through the device tree, whose description goes to
// kSolarisTreeFile. The links are empty regular files like every simulated
// node; the supervisor answers their SG_IO.
#include "host_solaris.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../../common/unique_fd.h"
#include "solaris_host.h"

namespace sansim {
namespace {

bool Fail(std::string* error, const std::string& what) {
    *error = what + ": " + strerror(errno);
    return false;
}

bool MakeDir(int dirfd, const std::string& path, std::string* error) {
    if (mkdirat(dirfd, path.c_str(), 0755) != 0 && errno != EEXIST) {
        return Fail(error, "cannot create /dev/" + path);
    }
    return true;
}

bool WriteTree(int dev, const std::string& text, std::string* error) {
    const std::string file = std::string(kSolarisTreeFile).substr(strlen("/dev/"));
    const std::string dir = file.substr(0, file.rfind('/'));
    if (!MakeDir(dev, dir.substr(0, dir.find('/')), error) || !MakeDir(dev, dir, error)) {
        return false;
    }
    UniqueFd fd(openat(dev, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0444));
    if (!fd.Valid()) {
        return Fail(error, std::string("cannot create ") + kSolarisTreeFile);
    }
    if (write(fd.Get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        return Fail(error, std::string("cannot write ") + kSolarisTreeFile);
    }
    return true;
}

}  // namespace

bool BuildSolarisDev(const Topology& topo, int dev, std::string* error) {
    if (!MakeDir(dev, "rdsk", error) || !MakeDir(dev, "dsk", error)) {
        return false;
    }
    if (topo.solaris == nullptr) {
        return true;
    }
    // A device that is "missing" stays in the device tree without its /dev
    // links, so the device-id library finds no name for it either.
    SolarisTree tree = *topo.solaris;
    for (SolarisNode& node : tree.nodes) {
        const DeviceRef* ref = node.device.empty() ? nullptr : FindDevice(topo, node.device);
        if (ref != nullptr && FaultsOf(topo, *ref).missing) {
            for (SolarisMinor& minor : node.minors) {
                minor.link.clear();
            }
        }
    }
    for (const SolarisNode& node : tree.nodes) {
        for (const SolarisMinor& minor : node.minors) {
            if (minor.link.empty()) {
                continue;
            }
            const std::string name = (minor.raw ? "rdsk/" : "dsk/") + minor.link;
            if (mknodat(dev, name.c_str(), S_IFREG | 0600, 0) != 0 && errno != EEXIST) {
                return Fail(error, "cannot create /dev/" + name);
            }
        }
    }
    return !tree.snapshot || WriteTree(dev, RenderSolarisTree(tree), error);
}

}  // namespace sansim
