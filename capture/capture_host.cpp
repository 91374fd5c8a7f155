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

#include <atomic>
#include <string_view>
#include <vector>

#include "capture_device.h"
#include "job_pool.h"
#include "unique_dir.h"
#include "unique_fd.h"
#include "unique_pipe.h"

namespace {

constexpr char kSysRoot[] = "/sys/";
constexpr size_t kMaxAttribute = 65536;
constexpr size_t kMaxListing = 64u << 20;  // a listing past this is cut and said so

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

namespace {

// A listing command writes its warnings (multipath: a daemon it cannot
// reach) on standard error. The capture records what it printed on standard
// output only, and its warnings are not the capture's own: while a line runs,
// the capture's standard error is /dev/null, which the line's shell inherits.
// The listings run before any device is queried, on the one thread there is.
class StderrSilenced {
  public:
    StderrSilenced() : saved_(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3)) {
        UniqueFd null(open("/dev/null", O_WRONLY | O_CLOEXEC));
        silenced_ = saved_.Valid() && null.Valid() && dup2(null.Get(), STDERR_FILENO) >= 0;
    }
    ~StderrSilenced() {
        if (silenced_) {
            (void)dup2(saved_.Get(), STDERR_FILENO);
        }
    }
    StderrSilenced(const StderrSilenced&) = delete;
    StderrSilenced& operator=(const StderrSilenced&) = delete;

  private:
    UniqueFd saved_;
    bool silenced_ = false;
};

}  // namespace

bool capture_RunLine(const char* line, CaptureRun* run, CaptureRecord* record) {
    StderrSilenced silenced;
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

bool capture_LineStarts(const char* line) {
    StderrSilenced silenced;
    UniquePipe pipe(popen(line, "r"));
    if (!pipe.Valid()) {
        return false;
    }
    char buffer[65536];
    while (fread(buffer, 1, sizeof buffer, pipe.Get()) > 0) {
    }
    (void)pipe.Close();
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

namespace {

// One node's record: queried, or, for a held node, its state alone.
void RecordNode(const std::string& name, bool held, CaptureNode* node) {
    if (!held) {
        capture_QueryNode(name.c_str(), node);
        return;
    }
    node->name = name;
    node->state = access(("/dev/" + name).c_str(), F_OK) == 0 ? CaptureNodeState::Present
                                                              : CaptureNodeState::Missing;
}

}  // namespace

// The nodes are recorded side by side, as the programs query them: a hung
// device holds only its own record, for one timeout, not every device after
// it. The records keep the order of the names.
void capture_QueryNodes(const std::vector<std::string>& names,
                        const std::unordered_set<std::string>& held, CaptureRecord* record) {
    std::unordered_set<std::string> seen;
    std::vector<std::string> unique;
    for (const std::string& name : names) {
        if (seen.insert(name).second) {
            unique.push_back(name);
        }
    }
    std::vector<CaptureNode> nodes(unique.size());
    const std::vector<std::string_view> keys(unique.begin(), unique.end());
    const bool progress = isatty(STDERR_FILENO) == 1;
    std::atomic<size_t> recorded{0};
    RunJobsPerNode(keys, kDefaultJobs, [&](size_t i) {
        RecordNode(unique[i], held.count(unique[i]) != 0, &nodes[i]);
        const size_t done = ++recorded;
        if (progress && done % 100 == 0) {
            (void)fprintf(stderr, "tskit-capture: %zu devices recorded\n", done);
        }
    });
    for (CaptureNode& node : nodes) {
        record->nodes.push_back(std::move(node));
    }
}
