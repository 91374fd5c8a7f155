// sansim: runs a command on a simulated SAN host.
//
//   sansim run TOPOLOGY [--audit FILE] [--proclog FILE] [--uid N] -- COMMAND [ARG...]
//
// It stays the command's parent and answers the simulated devices' calls of
// every process of the host (supervisor.h); the command's exit status is
// its own.
//
// The same binary is the host's fake `multipath`, product CLIs and, on an
// ESXi host, `esxcfg-mpath`, `esxcfg-scsidevs` and `esxcli`: it looks at the
// name it was started under (the bin directory links those names to it).
#include <errno.h>
#include <time.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../../common/unique_fd.h"
#include "host.h"
#include "esxi_listing.h"
#include "listing.h"
#include "replay.h"
#include "solaris_host.h"
#include "supervisor.h"
#include "topology.h"

extern char** environ;

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitNotFound = sansim::kSupervisedNotFound;

constexpr const char* kRealTools[] = {"sh",       "cat", "readlink", "xargs",
                                      "basename", "awk", "grep",     "which"};
constexpr const char* kPreloadName = "libsansim_preload.so";

void Usage() {
    fprintf(stderr,
            "usage: sansim run TOPOLOGY [--audit FILE] [--proclog FILE] [--uid N] -- COMMAND "
            "[ARG...]\n");
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        return path;
    }
    return std::string(cwd) + "/" + path;
}

// The absolute path a shell would run for name, searching pathVar; empty
// when there is none.
std::string FindProgram(const std::string& name, const std::string& pathVar) {
    if (name.find('/') != std::string::npos) {
        return IsExecutableFile(name) ? Absolute(name) : std::string();
    }
    size_t pos = 0;
    while (pos <= pathVar.size()) {
        size_t end = pathVar.find(':', pos);
        if (end == std::string::npos) {
            end = pathVar.size();
        }
        std::string dir = pathVar.substr(pos, end - pos);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (IsExecutableFile(candidate)) {
            return Absolute(candidate);
        }
        pos = end + 1;
    }
    return {};
}

bool StartsWithDir(const std::string& path, const char* dir) {
    size_t n = strlen(dir);
    return path.compare(0, n, dir) == 0 && (path.size() == n || path[n] == '/');
}

// ---------------------------------------------------------------------------
// The fake commands of the host.

bool LoadHostTopology(const char* command, sansim::Topology* topo) {
    const char* file = getenv("SANSIM_TOPOLOGY");
    if (file == nullptr || *file == '\0') {
        fprintf(stderr, "%s: not on a simulated host (SANSIM_TOPOLOGY is not set)\n", command);
        return false;
    }
    std::string error;
    if (!sansim::LoadTopology(file, topo, &error)) {
        fprintf(stderr, "%s: %s\n", command, error.c_str());
        return false;
    }
    return true;
}

int Print(const std::string& text) {
    return fwrite(text.data(), 1, text.size(), stdout) == text.size() && fflush(stdout) == 0 ? 0
                                                                                             : 1;
}

// A listing command takes the host's listing time before it answers.
void TakeListingTime(const sansim::Topology& topo) {
    const double seconds = static_cast<double>(topo.timing.listingMs) / 1000.0 * topo.timing.scale;
    if (seconds <= 0) {
        return;
    }
    timespec left{
        static_cast<time_t>(seconds),
        static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9)};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// How many times the listing command has run on this host before: a
// counter file per command in the host's private directory, taken under a
// lock, as listing commands of one host may run at once.
size_t CountListingRun(const std::string& command) {
    std::string name = command;
    for (char& c : name) {
        c = c == ' ' || c == '/' ? '_' : c;
    }
    UniqueFd fd(open((std::string(sansim::kHostStateDir) + "/" + name).c_str(),
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

// A captured host's listing command: the recorded run that this run gets.
int ReplayListing(const sansim::Replay& replay, const std::string& command) {
    const sansim::RecordedRun* run = sansim::ListingRun(replay, command, 0);
    if (run == nullptr) {
        fprintf(stderr, "%s: not recorded on this host\n", command.c_str());
        return 1;
    }
    run = sansim::ListingRun(replay, command, CountListingRun(command));
    if (!run->started) {
        return 127;
    }
    return Print(run->text) != 0 ? 1 : run->status;
}

int FakeMultipath(int argc, char** argv) {
    if (argc != 2 || strcmp(argv[1], "-ll") != 0) {
        return 0;
    }
    sansim::Topology topo;
    if (!LoadHostTopology("multipath", &topo)) {
        return 1;
    }
    if (topo.replay != nullptr) {
        return ReplayListing(*topo.replay, "multipath -ll");
    }
    TakeListingTime(topo);
    if (topo.multipath.listFails) {
        return 1;
    }
    return Print(sansim::RenderMultipathListing(topo) +
                 sansim::PaddingLines(topo.multipath.padding));
}

// esxcfg-mpath -l, esxcfg-scsidevs -l, esxcli software vib list.
int FakeEsxi(const std::string& self, int argc, char** argv) {
    bool list = argc == 2 && strcmp(argv[1], "-l") == 0;
    bool vibs = self == "esxcli" && argc == 4 && strcmp(argv[1], "software") == 0 &&
                strcmp(argv[2], "vib") == 0 && strcmp(argv[3], "list") == 0;
    if (self == "esxcli" ? !vibs : !list) {
        fprintf(stderr, "%s: this simulated host knows only the listing\n", self.c_str());
        return 1;
    }
    sansim::Topology topo;
    if (!LoadHostTopology(self.c_str(), &topo)) {
        return 1;
    }
    if (topo.replay != nullptr) {
        return ReplayListing(*topo.replay, vibs ? "esxcli software vib list" : self + " -l");
    }
    TakeListingTime(topo);
    for (const std::string& failing : topo.esxi.failing) {
        if (failing == self) {
            return 1;
        }
    }
    if (self == "esxcli") {
        return Print(sansim::RenderEsxiVibList(topo));
    }
    return Print((self == "esxcfg-mpath" ? sansim::RenderEsxiPathListing(topo)
                                         : sansim::RenderEsxiDeviceListing(topo)) +
                 sansim::PaddingLines(topo.esxi.padding));
}

// ---------------------------------------------------------------------------
// sansim run

struct RunOptions {
    std::string topology;
    std::string audit;
    std::string proclog;  // the processes' own costs, for the scale benchmark
    bool dropToUid = false;
    uid_t uid = 0;
    std::vector<std::string> command;
};

bool ParseUid(const char* text, uid_t* uid) {
    char* end = nullptr;
    errno = 0;
    unsigned long value = strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || value > UINT32_MAX - 1) {
        return false;
    }
    *uid = static_cast<uid_t>(value);
    return true;
}

bool ParseRun(int argc, char** argv, RunOptions* out) {
    int i = 0;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--audit" && i + 1 < argc) {
            out->audit = argv[++i];
        } else if (arg == "--proclog" && i + 1 < argc) {
            out->proclog = argv[++i];
        } else if (arg == "--uid" && i + 1 < argc) {
            if (!ParseUid(argv[++i], &out->uid)) {
                fprintf(stderr, "sansim: --uid wants a user id, not '%s'\n", argv[i]);
                return false;
            }
            out->dropToUid = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "sansim: unknown option %s\n", arg.c_str());
            return false;
        } else if (out->topology.empty()) {
            out->topology = arg;
        } else {
            fprintf(stderr, "sansim: the command follows --\n");
            return false;
        }
    }
    for (; i < argc; ++i) {
        out->command.push_back(argv[i]);
    }
    return !out->topology.empty() && !out->command.empty();
}

bool WriteProcFile(const char* path, const std::string& content) {
    UniqueFd fd(open(path, O_WRONLY | O_CLOEXEC));
    return fd.Valid() &&
           write(fd.Get(), content.data(), content.size()) == static_cast<ssize_t>(content.size());
}

// A private mount namespace: as root directly, otherwise inside a new user
// namespace where the caller is root (or, with --uid of the caller's own
// uid, itself).
bool EnterNamespace(const RunOptions& options) {
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNS) != 0) {
            fprintf(stderr, "sansim: cannot create a private mount namespace: %s\n",
                    strerror(errno));
            return false;
        }
    } else {
        uid_t uid = geteuid();
        gid_t gid = getegid();
        if (options.dropToUid && options.uid != uid) {
            fprintf(stderr,
                    "sansim: --uid %u needs root: without it only the caller's own uid (%u) "
                    "exists on the simulated host\n",
                    static_cast<unsigned>(options.uid), static_cast<unsigned>(uid));
            return false;
        }
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            fprintf(stderr,
                    "sansim: not root, and the kernel does not allow this user a user namespace "
                    "(%s): run sansim as root, or allow unprivileged user namespaces\n",
                    strerror(errno));
            return false;
        }
        uid_t inner = options.dropToUid ? uid : 0;
        gid_t innerGid = options.dropToUid ? gid : 0;
        if (!WriteProcFile("/proc/self/setgroups", "deny") ||
            !WriteProcFile("/proc/self/uid_map",
                           std::to_string(inner) + " " + std::to_string(uid) + " 1\n") ||
            !WriteProcFile("/proc/self/gid_map",
                           std::to_string(innerGid) + " " + std::to_string(gid) + " 1\n")) {
            fprintf(stderr,
                    "sansim: the kernel refuses the uid/gid map of the user namespace: %s\n",
                    strerror(errno));
            return false;
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        fprintf(stderr, "sansim: cannot make the mounts private: %s\n", strerror(errno));
        return false;
    }
    return true;
}

// The primary group of uid, or the number itself for a user unknown here.
gid_t GroupOf(uid_t uid) {
    const passwd* pw = getpwuid(uid);
    return pw != nullptr ? pw->pw_gid : static_cast<gid_t>(uid);
}

bool DropPrivileges(uid_t uid) {
    if (setgroups(0, nullptr) != 0 || setgid(GroupOf(uid)) != 0 || setuid(uid) != 0) {
        fprintf(stderr, "sansim: cannot become uid %u: %s\n", static_cast<unsigned>(uid),
                strerror(errno));
        return false;
    }
    return true;
}

std::string SelfExe() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// libsansim_preload.so: beside the sansim binary, else where it was built.
std::string PreloadLibrary(const std::string& self) {
    std::string beside = DirName(self) + "/" + kPreloadName;
    if (access(beside.c_str(), R_OK) == 0) {
        return beside;
    }
#ifdef SANSIM_PRELOAD_BUILD_PATH
    if (access(SANSIM_PRELOAD_BUILD_PATH, R_OK) == 0) {
        return SANSIM_PRELOAD_BUILD_PATH;
    }
#endif
    return {};
}

// The environment of the command: the caller's, with the host's PATH, the
// interposer and where it finds the topology and the audit log.
std::vector<std::string> CommandEnvironment(const sansim::Topology& topo,
                                            const std::string& topology, const std::string& audit,
                                            const std::string& proclog,
                                            const std::string& preload) {
    std::vector<std::string> env;
    std::string asanOptions;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string var = *entry;
        std::string name = var.substr(0, var.find('='));
        if (name == "ASAN_OPTIONS") {
            asanOptions = var.substr(name.size() + 1);
        } else if (name != "PATH" && name != "LD_PRELOAD" && name != "SANSIM_TOPOLOGY" &&
                   name != "SANSIM_AUDIT" && name != "SANSIM_PROCLOG" &&
                   name != sansim::kSolarisTreeVariable) {
            env.push_back(var);
        }
    }
    env.push_back(std::string("PATH=") + sansim::kHostBinDir);
    env.push_back("SANSIM_TOPOLOGY=" + topology);
    if (!audit.empty()) {
        env.push_back("SANSIM_AUDIT=" + audit);
    }
    if (!proclog.empty()) {
        env.push_back("SANSIM_PROCLOG=" + proclog);
    }
    // The Solaris services of a Solaris host read its device tree there.
    if (topo.platform == sansim::Platform::Solaris) {
        env.push_back(std::string(sansim::kSolarisTreeVariable) + "=" + sansim::kSolarisTreeFile);
    }
    env.push_back("LD_PRELOAD=" + preload);
    // A sanitized program wants its runtime first in the library list.
    env.push_back("ASAN_OPTIONS=" + (asanOptions.empty() ? std::string() : asanOptions + ":") +
                  "verify_asan_link_order=0");
    return env;
}

bool CreateLog(const std::string& path, const char* what, const RunOptions& options) {
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid()) {
        fprintf(stderr, "sansim: cannot create the %s %s: %s\n", what, path.c_str(),
                strerror(errno));
        return false;
    }
    if (options.dropToUid && geteuid() == 0 &&
        fchown(fd.Get(), options.uid, GroupOf(options.uid)) != 0) {
        fprintf(stderr, "sansim: cannot hand the %s to uid %u: %s\n", what,
                static_cast<unsigned>(options.uid), strerror(errno));
        return false;
    }
    return true;
}

int Run(int argc, char** argv) {
    RunOptions options;
    if (!ParseRun(argc, argv, &options)) {
        Usage();
        return kExitUsage;
    }
    sansim::Topology topo;
    std::string error;
    if (!sansim::LoadTopology(options.topology, &topo, &error)) {
        fprintf(stderr, "sansim: %s\n", error.c_str());
        return kExitUsage;
    }
    char resolved[PATH_MAX];
    if (realpath(options.topology.c_str(), resolved) == nullptr) {
        fprintf(stderr, "sansim: %s: %s\n", options.topology.c_str(), strerror(errno));
        return kExitUsage;
    }
    std::string topology = resolved;
    std::string audit = options.audit.empty() ? std::string() : Absolute(options.audit);
    std::string proclog = options.proclog.empty() ? std::string() : Absolute(options.proclog);
    for (const std::string* path : {&topology, &audit, &proclog}) {
        if (StartsWithDir(*path, "/dev") || StartsWithDir(*path, "/sys")) {
            fprintf(stderr, "sansim: %s would be hidden by the simulated /dev and /sys\n",
                    path->c_str());
            return kExitUsage;
        }
    }

    const char* callerPath = getenv("PATH");
    std::string searchPath = callerPath != nullptr ? callerPath : "/usr/local/bin:/usr/bin:/bin";
    std::string command = FindProgram(options.command[0], searchPath);
    if (command.empty()) {
        fprintf(stderr, "sansim: %s: command not found\n", options.command[0].c_str());
        return kExitNotFound;
    }

    sansim::HostPrograms programs;
    programs.fakeCommand = SelfExe();
    std::string preload = PreloadLibrary(programs.fakeCommand);
    if (programs.fakeCommand.empty() || preload.empty()) {
        fprintf(stderr, "sansim: cannot find %s beside %s\n", kPreloadName,
                programs.fakeCommand.c_str());
        return kExitUsage;
    }
    for (const char* tool : kRealTools) {
        std::string path = FindProgram(tool, searchPath + ":/usr/bin:/bin");
        if (!path.empty()) {
            programs.realTools.emplace_back(tool, path);
        }
    }

    if ((!audit.empty() && !CreateLog(audit, "audit log", options)) ||
        (!proclog.empty() && !CreateLog(proclog, "process log", options))) {
        return kExitUsage;
    }
    if (!EnterNamespace(options)) {
        return kExitUsage;
    }
    mode_t savedMask = umask(022);
    if (!sansim::BuildHost(topo, programs, &error)) {
        fprintf(stderr, "sansim: %s\n", error.c_str());
        return kExitUsage;
    }
    umask(savedMask);
    UniqueFd auditFd;
    if (!audit.empty()) {
        auditFd.Reset(open(audit.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
        if (!auditFd.Valid()) {
            fprintf(stderr, "sansim: cannot open the audit log %s: %s\n", audit.c_str(),
                    strerror(errno));
            return kExitUsage;
        }
    }

    std::vector<std::string> env = CommandEnvironment(topo, topology, audit, proclog, preload);
    std::vector<char*> envp;
    for (std::string& var : env) {
        envp.push_back(var.data());
    }
    envp.push_back(nullptr);
    std::vector<char*> args;
    for (std::string& arg : options.command) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);

    sansim::SupervisedRun run;
    run.topo = &topo;
    run.auditFd = auditFd.Get();
    // The supervisor keeps its credentials; the command's process drops them.
    run.prepareChild = [&options, &topology]() {
        if (options.dropToUid && geteuid() != options.uid && !DropPrivileges(options.uid)) {
            return kExitUsage;
        }
        if (access(topology.c_str(), R_OK) != 0) {
            fprintf(stderr, "sansim: %s is not readable by uid %u\n", topology.c_str(),
                    static_cast<unsigned>(geteuid()));
            return kExitUsage;
        }
        return -1;
    };
    run.program = command;
    run.argv = args.data();
    run.envp = envp.data();
    int status = sansim::RunSupervised(run, &error);
    if (status < 0) {
        fprintf(stderr, "sansim: %s\n", error.c_str());
        return kExitUsage;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string self = BaseName(argc > 0 ? argv[0] : "sansim");
    if (self == "multipath") {
        return FakeMultipath(argc, argv);
    }
    if (self == "esxcfg-mpath" || self == "esxcfg-scsidevs" || self == "esxcli") {
        return FakeEsxi(self, argc, argv);
    }
    for (const char* cli : sansim::kProductCliNames) {
        if (self == cli) {
            return 0;
        }
    }
    if (argc >= 2 && strcmp(argv[1], "run") == 0) {
        return Run(argc - 2, argv + 2);
    }
    Usage();
    return kExitUsage;
}
