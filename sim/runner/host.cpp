// Lays out /dev and /sys of a simulated host. Everything is created relative
// to directory descriptors, so a host of many thousand paths costs a few
// system calls per node.
#include "host.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "../../common/unique_fd.h"
#include "host_solaris.h"
#include "listings.h"
#include "replay.h"
#include "transport_classes.h"

namespace sansim {
namespace {

bool Fail(std::string* error, const std::string& what) {
    *error = what + ": " + strerror(errno);
    return false;
}

bool MountTmpfs(const char* where, unsigned long flags, std::string* error) {
    if (mount("sansim", where, "tmpfs", flags, "mode=0755") != 0) {
        return Fail(error, std::string("cannot mount a tmpfs on ") + where);
    }
    return true;
}

bool OpenDir(int dirfd, const char* path, UniqueFd* out, std::string* error) {
    *out = UniqueFd(openat(dirfd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return out->Valid() || Fail(error, std::string("cannot open ") + path);
}

bool MakeDir(int dirfd, const std::string& path, std::string* error) {
    if (mkdirat(dirfd, path.c_str(), 0755) != 0 && errno != EEXIST) {
        return Fail(error, "cannot create " + path);
    }
    return true;
}

// mkdir -p relative to dirfd, remembering what already exists.
class DirMaker {
  public:
    explicit DirMaker(int dirfd) : dirfd_(dirfd) {}

    bool Make(const std::string& path, std::string* error) {
        if (made_.count(path) != 0) {
            return true;
        }
        size_t slash = path.rfind('/');
        if (slash != std::string::npos && !Make(path.substr(0, slash), error)) {
            return false;
        }
        if (!MakeDir(dirfd_, path, error)) {
            return false;
        }
        made_.insert(path);
        return true;
    }

  private:
    int dirfd_;
    std::unordered_set<std::string> made_;
};

bool WriteFile(int dirfd, const std::string& path, std::string_view content, mode_t mode,
               std::string* error) {
    UniqueFd fd(openat(dirfd, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (!fd.Valid()) {
        return Fail(error, "cannot create " + path);
    }
    if (!content.empty() &&
        write(fd.Get(), content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
        return Fail(error, "cannot write " + path);
    }
    return true;
}

bool Symlink(const std::string& target, int dirfd, const std::string& path, std::string* error) {
    if (symlinkat(target.c_str(), dirfd, path.c_str()) != 0 && errno != EEXIST) {
        return Fail(error, "cannot create the link " + path);
    }
    return true;
}

std::string Hctl(int host, int channel, int target, int lun) {
    return std::to_string(host) + ":" + std::to_string(channel) + ":" + std::to_string(target) +
           ":" + std::to_string(lun);
}

// Directory of a SCSI device under /sys/devices, as its device link points to it.
std::string ScsiDevicePath(int host, int channel, int target, int lun) {
    std::string h = std::to_string(host);
    return "devices/platform/host" + h + "/target" + h + ":" + std::to_string(channel) + ":" +
           std::to_string(target) + "/" + Hctl(host, channel, target, lun);
}

std::string ScsiHostPath(int host) {
    std::string h = std::to_string(host);
    return "devices/platform/host" + h + "/scsi_host/host" + h;
}

// ---------------------------------------------------------------------------
// /dev

// The real devices that stay on the host's /dev; null is required.
constexpr const char* kRealDevices[] = {"null", "zero", "tty", "random", "urandom"};

struct HeldDevice {
    const char* name;
    UniqueFd fd;
};

// Holds the real devices by descriptor: once /dev is covered they are bound
// from /proc/self/fd/N.
bool HoldRealDevices(const Topology& topo, std::vector<HeldDevice>* held, std::string* error) {
    for (const char* name : kRealDevices) {
        if (FindDevice(topo, name) != nullptr) {
            continue;  // the topology simulates a node of that name
        }
        UniqueFd fd(open((std::string("/dev/") + name).c_str(), O_PATH | O_CLOEXEC));
        if (fd.Valid()) {
            held->push_back({name, std::move(fd)});
        } else if (strcmp(name, "null") == 0) {
            return Fail(error, "cannot open /dev/null");
        }
    }
    return true;
}

// Device nodes: empty regular files; the supervisor answers their SG_IO.
bool MakeDevNodes(const Topology& topo, int dev, std::string* error) {
    DirMaker dirs(dev);
    auto makeNode = [&](const std::string& name) {
        size_t slash = name.rfind('/');
        if (slash != std::string::npos && !dirs.Make(name.substr(0, slash), error)) {
            return false;
        }
        return mknodat(dev, name.c_str(), S_IFREG | 0600, 0) == 0 || errno == EEXIST ||
               Fail(error, "cannot create /dev/" + name);
    };
    for (const auto& entry : topo.index) {
        if (!FaultsOf(topo, entry.second).missing && !makeNode(entry.first)) {
            return false;
        }
    }
    for (const std::string& name : topo.cannedNodes) {
        if (!makeNode(name)) {
            return false;
        }
    }
    return true;
}

bool FinishDev(const Topology& topo, const HostPrograms& programs,
               const std::vector<HeldDevice>& held, int dev, std::string* error) {
    for (const HeldDevice& device : held) {
        char source[64];
        snprintf(source, sizeof source, "/proc/self/fd/%d", device.fd.Get());
        std::string target = std::string("/dev/") + device.name;
        if (!WriteFile(dev, device.name, {}, 0600, error)) {
            return false;
        }
        if (mount(source, target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            return Fail(error, "cannot bind the real " + target);
        }
    }
    if (!Symlink("/proc/self/fd", dev, "fd", error) ||
        !Symlink("/proc/self/fd/0", dev, "stdin", error) ||
        !Symlink("/proc/self/fd/1", dev, "stdout", error) ||
        !Symlink("/proc/self/fd/2", dev, "stderr", error) || !MakeDir(dev, "shm", error)) {
        return false;
    }
    if (fchmodat(dev, "shm", 01777, 0) != 0) {
        return Fail(error, "cannot set the mode of /dev/shm");
    }

    // The hermetic bin directory.
    std::string bin = std::string(kHostBinDir).substr(strlen("/dev/"));
    if (!MakeDir(dev, bin.substr(0, bin.find('/')), error) || !MakeDir(dev, bin, error)) {
        return false;
    }
    UniqueFd binDir;
    if (!OpenDir(dev, bin.c_str(), &binDir, error)) {
        return false;
    }
    const std::string state = std::string(kHostStateDir).substr(strlen("/dev/"));
    if (!MakeDir(dev, state, error)) {
        return false;
    }
    if (fchmodat(dev, state.c_str(), 01777, 0) != 0) {
        return Fail(error, std::string("cannot set the mode of ") + kHostStateDir);
    }
    if (!WriteListings(topo, dev, error)) {
        return false;
    }
    // An ESXi host has its own listing commands and no multipath.
    if (topo.platform == Platform::Esxi) {
        for (const char* name : kEsxiListingCommands) {
            bool missing = false;
            for (const std::string& m : topo.esxi.missing) {
                missing = missing || m == name;
            }
            if (!missing && !Symlink(programs.fakeCommand, binDir.Get(), name, error)) {
                return false;
            }
        }
    } else if (topo.multipath.installed &&
               !Symlink(programs.fakeCommand, binDir.Get(), "multipath", error)) {
        return false;
    }
    for (const std::string& cli : topo.productCli) {
        if (!Symlink(programs.fakeCommand, binDir.Get(), cli, error)) {
            return false;
        }
    }
    for (const auto& tool : programs.realTools) {
        if (std::find(topo.toolsMissing.begin(), topo.toolsMissing.end(), tool.first) !=
            topo.toolsMissing.end()) {
            continue;  // a minimal image without it
        }
        if (!Symlink(tool.second, binDir.Get(), tool.first, error)) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// /sys

// The size files of a host: nodes of one size share one file (a hard link
// costs one system call, a written file three).
class SizeFiles {
  public:
    explicit SizeFiles(int block) : block_(block) {}

    bool Make(const std::string& name, uint64_t sectors, std::string* error) {
        std::string path = name + "/size";
        auto it = first_.find(sectors);
        if (it != first_.end()) {
            return linkat(block_, it->second.c_str(), block_, path.c_str(), 0) == 0 ||
                   Fail(error, "cannot create " + path);
        }
        if (!WriteFile(block_, path, std::to_string(sectors) + "\n", 0444, error)) {
            return false;
        }
        first_.emplace(sectors, path);
        return true;
    }

  private:
    int block_;
    std::unordered_map<uint64_t, std::string> first_;
};

// One /sys/block entry, and the directory its device link points to.
struct BlockEntry {
    const std::string* name;
    const DeviceRef* ref;
    std::string scsiDevice;  // "devices/platform/hostH/targetH:C:T/H:C:T:L", empty if none
};

// The block entries of the host; the directories above their SCSI devices
// (few: one per target) are made here, the devices themselves later.
bool PlanBlockEntries(const Topology& topo, DirMaker* sysDirs, std::vector<BlockEntry>* out,
                      std::string* error) {
    if (topo.platform == Platform::Esxi) {
        return true;  // no sysfs in the ESXi shell
    }
    out->reserve(topo.index.size());
    for (const auto& entry : topo.index) {
        const DeviceRef& ref = entry.second;
        BlockEntry block{&entry.first, &ref, {}};
        if (ref.kind == DeviceRef::Kind::Path) {
            const Path& path = topo.luns[ref.lun].paths[ref.path];
            block.scsiDevice = ScsiDevicePath(path.host, path.channel, path.target, path.lun);
        } else if (ref.kind == DeviceRef::Kind::Other && topo.others[ref.other].scsi) {
            const OtherDevice& other = topo.others[ref.other];
            block.scsiDevice = ScsiDevicePath(other.host, other.channel, other.target, other.lun);
        }
        if (!block.scsiDevice.empty() &&
            !sysDirs->Make(block.scsiDevice.substr(0, block.scsiDevice.rfind('/')), error)) {
            return false;
        }
        out->push_back(std::move(block));
    }
    std::sort(out->begin(), out->end(),
              [](const BlockEntry& a, const BlockEntry& b) { return *a.name > *b.name; });
    return true;
}

// The /sys/block entries themselves, one after the other, so that a program
// walking the directory meets them in the same order on every run: in name
// order, as tmpfs lists the newest entry first and they are made last name
// first (their contents are made in parallel afterwards).
bool MakeBlockNames(const Topology& topo, const std::vector<BlockEntry>& entries, int block,
                    std::string* error) {
    for (const BlockEntry& entry : entries) {
        const bool made = FaultsOf(topo, *entry.ref).sysfsNotDir
                              ? WriteFile(block, *entry.name, "\n", 0444, error)
                              : MakeDir(block, *entry.name, error);
        if (!made) {
            return false;
        }
    }
    return true;
}

// In the entries: /sys/block/NAME/size, and for SCSI nodes
// /sys/block/NAME/device -> ../../devices/platform/hostH/targetH:C:T/H:C:T:L
bool MakeBlockEntries(const Topology& topo, const BlockEntry* first, const BlockEntry* last,
                      int sys, int block, std::string* error) {
    SizeFiles sizes(block);
    for (const BlockEntry* entry = first; entry != last; ++entry) {
        const std::string& name = *entry->name;
        const Faults& faults = FaultsOf(topo, *entry->ref);
        if (faults.sysfsNotDir) {
            continue;  // a plain file, made with the names
        }
        bool sized = faults.sysfsSizeGiven
                         ? WriteFile(block, name + "/size", faults.sysfsSize, 0444, error)
                         : sizes.Make(name, NodeSectors(topo, *entry->ref), error);
        if (!sized) {
            return false;
        }
        if (!entry->scsiDevice.empty() &&
            (!MakeDir(sys, entry->scsiDevice, error) ||
             !Symlink("../../" + entry->scsiDevice, block, name + "/device", error))) {
            return false;
        }
    }
    return true;
}

// /sys/class/scsi_host/hostN -> ../../devices/platform/hostN/scsi_host/hostN
bool MakeScsiHosts(const Topology& topo, int sys, DirMaker* sysDirs, std::string* error) {
    UniqueFd scsiHosts;
    if (!sysDirs->Make("class/scsi_host", error) ||
        !OpenDir(sys, "class/scsi_host", &scsiHosts, error)) {
        return false;
    }
    for (const ScsiHost& host : topo.hosts) {
        std::string dir = ScsiHostPath(host.number);
        if (!sysDirs->Make(dir, error) ||
            !WriteFile(sys, dir + "/proc_name", host.driver + "\n", 0444, error) ||
            !Symlink("../../" + dir, scsiHosts.Get(), "host" + std::to_string(host.number),
                     error)) {
            return false;
        }
    }
    return true;
}

// The FC and iSCSI transport classes under /sys/class and the SCSI hosts'
// devices, for a host that has them.
bool MakeTransportClasses(const Topology& topo, int sys, DirMaker* sysDirs, std::string* error) {
    for (const SysfsItem& item : TransportClassItems(topo)) {
        const size_t slash = item.path.rfind('/');
        if (slash != std::string::npos && !sysDirs->Make(item.path.substr(0, slash), error)) {
            return false;
        }
        bool made = true;
        switch (item.kind) {
            case SysfsItem::Kind::Dir:
                made = sysDirs->Make(item.path, error);
                break;
            case SysfsItem::Kind::File:
                made = WriteFile(sys, item.path, item.text, 0444, error);
                break;
            case SysfsItem::Kind::Link:
                made = Symlink(item.text, sys, item.path, error);
                break;
        }
        if (!made) {
            return false;
        }
    }
    return true;
}

// A captured host's /sys, entry by entry. A directory lists its newest entry
// first, so the entries are made last first: every directory then lists its
// entries in the order they were recorded, which is the order the captured
// host listed them. The directories above an entry are made with it.
bool MakeRecordedSysfs(const Replay& replay, int sys, DirMaker* sysDirs, std::string* error) {
    for (auto it = replay.sysfs.rbegin(); it != replay.sysfs.rend(); ++it) {
        const size_t slash = it->path.rfind('/');
        if (slash != std::string::npos && !sysDirs->Make(it->path.substr(0, slash), error)) {
            return false;
        }
        bool made = true;
        switch (it->kind) {
            case RecordedSysfs::Kind::Dir:
                made = sysDirs->Make(it->path, error);
                break;
            case RecordedSysfs::Kind::File:
                made = WriteFile(sys, it->path, it->text, 0444, error);
                break;
            case RecordedSysfs::Kind::Link:
                made = Symlink(it->text, sys, it->path, error);
                break;
        }
        if (!made) {
            return false;
        }
    }
    return true;
}

// Runs the tasks on threads of their own (the first on this one) and
// returns the first failure. Creating many entries is all the set-up costs;
// in different directories it proceeds in parallel.
bool RunTogether(const std::vector<std::function<bool(std::string*)>>& tasks, std::string* error) {
    std::vector<std::string> errors(tasks.size());
    std::vector<char> ok(tasks.size(), 0);
    std::vector<std::thread> threads;
    for (size_t i = 1; i < tasks.size(); ++i) {
        threads.emplace_back([&, i]() { ok[i] = tasks[i](&errors[i]) ? 1 : 0; });
    }
    ok[0] = tasks.empty() || tasks[0](&errors[0]) ? 1 : 0;
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (size_t i = 0; i < tasks.size(); ++i) {
        if (!ok[i]) {
            *error = errors[i];
            return false;
        }
    }
    return true;
}

}  // namespace

bool BuildHost(const Topology& topo, const HostPrograms& programs, std::string* error) {
    std::vector<HeldDevice> held;
    if (!HoldRealDevices(topo, &held, error) || !MountTmpfs("/dev", MS_NOSUID | MS_NOEXEC, error) ||
        !MountTmpfs("/sys", MS_NOSUID | MS_NODEV | MS_NOEXEC, error)) {
        return false;
    }
    UniqueFd dev, sys, block;
    if (!OpenDir(AT_FDCWD, "/dev", &dev, error) || !OpenDir(AT_FDCWD, "/sys", &sys, error)) {
        return false;
    }
    // A Solaris host: the device tree's links in /dev, nothing in /sys.
    if (topo.platform == Platform::Solaris) {
        return BuildSolarisDev(topo, dev.Get(), error) &&
               FinishDev(topo, programs, held, dev.Get(), error);
    }
    DirMaker sysDirs(sys.Get());
    // A captured host: its recorded /sys and nodes, nothing made up.
    if (topo.replay != nullptr) {
        return MakeRecordedSysfs(*topo.replay, sys.Get(), &sysDirs, error) &&
               MakeDevNodes(topo, dev.Get(), error) &&
               FinishDev(topo, programs, held, dev.Get(), error);
    }
    std::vector<BlockEntry> entries;
    if (!sysDirs.Make("block", error) || !OpenDir(sys.Get(), "block", &block, error) ||
        !sysDirs.Make("devices/platform", error) ||
        !MakeScsiHosts(topo, sys.Get(), &sysDirs, error) ||
        !MakeTransportClasses(topo, sys.Get(), &sysDirs, error) ||
        !PlanBlockEntries(topo, &sysDirs, &entries, error) ||
        !MakeBlockNames(topo, entries, block.Get(), error)) {
        return false;
    }

    // The bulk: a /dev node and a /sys/block entry per node, /sys/block in
    // two halves.
    const BlockEntry* begin = entries.data();
    const BlockEntry* middle = begin + entries.size() / 2;
    const BlockEntry* end = begin + entries.size();
    std::vector<std::function<bool(std::string*)>> tasks = {
        [&](std::string* e) {
            return MakeBlockEntries(topo, begin, middle, sys.Get(), block.Get(), e);
        },
        [&](std::string* e) {
            return MakeBlockEntries(topo, middle, end, sys.Get(), block.Get(), e);
        },
        [&](std::string* e) { return MakeDevNodes(topo, dev.Get(), e); },
    };
    if (!RunTogether(tasks, error) || !FinishDev(topo, programs, held, dev.Get(), error)) {
        return false;
    }
    // A host without /sys/block: the entries move aside, their device links
    // stay valid.
    if ((!topo.sysBlock || topo.platform == Platform::Esxi) &&
        renameat(sys.Get(), "block", sys.Get(), ".block") != 0) {
        return Fail(error, "cannot hide /sys/block");
    }
    return true;
}

}  // namespace sansim
