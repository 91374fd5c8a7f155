// The host side of a capture: PATH, the listing commands and /sys.
#include "capture_host.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "capture_device.h"
#include "unique_dir.h"
#include "unique_fd.h"
#include "unique_pipe.h"

namespace {

constexpr char kSysRoot[] = "/sys/";
constexpr size_t kMaxAttribute = 65536;
constexpr size_t kMaxListing = 64u << 20;  // a listing past this is cut and said so

// The programs' command lines of the listing: tsexTool's read, ts_showdisk's
// read, and tsexTool's check whether the listing runs at all.
constexpr const char* kListingReads[] = {"multipath -ll", "multipath -ll 2>/dev/null"};
constexpr const char kListingCheck[] = "multipath -ll >/dev/null 2>&1";

// The commands the programs look for on PATH.
constexpr const char* kLinuxCommands[] = {"multipath", "tsadm", "tsadmin", "tsTools"};

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
    {"iscsi_host", {"initiatorname", nullptr}, nullptr},
    {"iscsi_session", {"targetname", "tpgt", "state", nullptr}, "device"},
};

bool ReadAttribute(const std::string& path, std::string* text) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return false;
    }
    text->clear();
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd.Get(), buffer, sizeof buffer)) > 0 && text->size() < kMaxAttribute) {
        text->append(buffer, static_cast<size_t>(got));
    }
    return got >= 0;
}

std::vector<std::string> Parts(const std::string& rel) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos) {
            end = rel.size();
        }
        if (end > start) {
            parts.push_back(rel.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

// The place below /sys that a path resolves to; false outside /sys.
bool Resolve(const std::string& rel, std::string* out) {
    char real[PATH_MAX];
    if (realpath((kSysRoot + rel).c_str(), real) == nullptr ||
        strncmp(real, kSysRoot, sizeof kSysRoot - 1) != 0) {
        return false;
    }
    *out = real + sizeof kSysRoot - 1;
    return true;
}

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

void SysfsRecorder::Add(CaptureSysfs::Kind kind, const std::string& rel, std::string text) {
    if (!seen_.insert(rel).second) {
        return;
    }
    CaptureSysfs entry;
    entry.kind = kind;
    entry.path = rel;
    entry.text = std::move(text);
    record_->sysfs.push_back(std::move(entry));
}

bool SysfsRecorder::Record(const std::string& rel) {
    const std::vector<std::string> parts = Parts(rel);
    std::string done;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] == "." || parts[i] == "..") {
            return false;
        }
        const std::string here = done.empty() ? parts[i] : done + "/" + parts[i];
        const bool last = i + 1 == parts.size();
        struct stat st {};
        if (lstat((kSysRoot + here).c_str(), &st) != 0) {
            return false;
        }
        if (S_ISLNK(st.st_mode)) {
            char target[PATH_MAX];
            const ssize_t len = readlink((kSysRoot + here).c_str(), target, sizeof target - 1);
            if (len <= 0) {
                return false;
            }
            Add(CaptureSysfs::Kind::Link, here, std::string(target, static_cast<size_t>(len)));
            // A link whose target is gone is all there is to record.
            if (!Resolve(here, &done)) {
                return last;
            }
            if (lstat((kSysRoot + done).c_str(), &st) != 0) {
                return last;
            }
        } else {
            done = here;
        }
        if (last) {
            std::string text;
            if (S_ISDIR(st.st_mode)) {
                Add(CaptureSysfs::Kind::Dir, done, {});
            } else if (S_ISREG(st.st_mode) && ReadAttribute(kSysRoot + done, &text)) {
                Add(CaptureSysfs::Kind::File, done, std::move(text));
            }
        } else if (!S_ISDIR(st.st_mode)) {
            return false;
        }
    }
    return !parts.empty();
}

std::vector<std::string> SysfsRecorder::Names(const std::string& rel) {
    std::vector<std::string> names;
    UniqueDir dir(opendir((kSysRoot + rel).c_str()));
    if (!dir.Valid()) {
        return names;
    }
    while (const dirent* entry = readdir(dir.Get())) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    return names;
}

bool capture_OnPath(const char* name) {
    const char* path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        if (access((dir + "/" + name).c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool capture_RunLine(const char* line, CaptureRun* run, CaptureRecord* record) {
    UniquePipe pipe(popen(line, "r"));
    if (!pipe.Valid()) {
        return false;
    }
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe.Get())) > 0) {
        if (run->text.size() < kMaxListing) {
            run->text.append(buffer, got);
        }
    }
    if (run->text.size() >= kMaxListing) {
        record->errors.push_back({line, "the output was cut at 64 MiB"});
    }
    const int status = pipe.Close();
    run->started = true;
    run->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

void capture_RunListing(const char* command, const char* const* lines, size_t count,
                        CaptureRecord* record) {
    CaptureListing listing;
    listing.command = command;
    for (size_t i = 0; i < count; ++i) {
        CaptureRun run;
        if (capture_RunLine(lines[i], &run, record)) {
            listing.runs.push_back(std::move(run));
        } else {
            record->cannotStart.emplace_back(lines[i]);
        }
    }
    if (listing.runs.empty()) {
        CaptureRun run;
        run.started = false;
        listing.runs.push_back(std::move(run));
    }
    record->listings.push_back(std::move(listing));
}

void capture_LinuxHost(CaptureRecord* record) {
    record->platform = "linux";
    for (const char* name : kLinuxCommands) {
        record->commands.push_back({name, capture_OnPath(name)});
    }
    // Each of the programs' lines of the listing once: the reads give the
    // runs, and a line that cannot be started is recorded as such.
    if (record->commands.front().present) {
        capture_RunListing("multipath -ll", kListingReads,
                           sizeof kListingReads / sizeof kListingReads[0], record);
        if (system(kListingCheck) == -1) {
            record->cannotStart.emplace_back(kListingCheck);
        }
    }
    SysfsRecorder sys(record);
    std::vector<std::string> names;
    RecordBlock(&sys, &names);
    RecordClasses(&sys);
    for (const CaptureListing& listing : record->listings) {
        for (const CaptureRun& run : listing.runs) {
            ListingNodes(run.text, &names);
        }
    }
    std::unordered_set<std::string> queried;
    const bool progress = isatty(STDERR_FILENO) == 1;
    for (const std::string& name : names) {
        if (queried.insert(name).second) {
            CaptureNode node;
            capture_QueryNode(name.c_str(), &node);
            record->nodes.push_back(std::move(node));
            if (progress && record->nodes.size() % 100 == 0) {
                (void)fprintf(stderr, "tskit-capture: %zu devices recorded\n",
                              record->nodes.size());
            }
        }
    }
}
