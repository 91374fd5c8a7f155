// A simulated host set up once, and the commands run on it one after another.
#include "session.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../../common/unique_fd.h"
#include "solaris_host.h"
#include "supervisor.h"

extern char** environ;

namespace sansim {
namespace {

constexpr const char* kPreloadName = "libsansim_preload.so";
constexpr const char* kFakeCommandName = "sansim-fake";

std::string DirName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') {
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

bool WriteProcFile(const char* path, const std::string& content) {
    UniqueFd fd(open(path, O_WRONLY | O_CLOEXEC));
    return fd.Valid() &&
           write(fd.Get(), content.data(), content.size()) == static_cast<ssize_t>(content.size());
}

bool Fail(std::string* error, const std::string& what) {
    *error = what;
    return false;
}

// A private mount namespace: as root directly, otherwise inside a new user
// namespace where the caller is root (or, with otherUid of the caller's own
// uid, itself).
bool EnterNamespace(bool otherUid, uid_t wanted, std::string* error) {
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNS) != 0) {
            return Fail(error,
                        std::string("cannot create a private mount namespace: ") + strerror(errno));
        }
    } else {
        uid_t uid = geteuid();
        gid_t gid = getegid();
        if (otherUid && wanted != uid) {
            return Fail(error, "--uid " + std::to_string(wanted) +
                                   " needs root: without it only the caller's own uid (" +
                                   std::to_string(uid) + ") exists on the simulated host");
        }
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return Fail(error, std::string("not root, and the kernel does not allow this user a "
                                           "user namespace (") +
                                   strerror(errno) +
                                   "): run sansim as root, or allow unprivileged user namespaces");
        }
        uid_t inner = otherUid ? uid : 0;
        gid_t innerGid = otherUid ? gid : 0;
        if (!WriteProcFile("/proc/self/setgroups", "deny") ||
            !WriteProcFile("/proc/self/uid_map",
                           std::to_string(inner) + " " + std::to_string(uid) + " 1\n") ||
            !WriteProcFile("/proc/self/gid_map",
                           std::to_string(innerGid) + " " + std::to_string(gid) + " 1\n")) {
            return Fail(error,
                        std::string("the kernel refuses the uid/gid map of the user namespace: ") +
                            strerror(errno));
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return Fail(error, std::string("cannot make the mounts private: ") + strerror(errno));
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

bool Overrides(const std::vector<std::string>& env, const std::string& name) {
    for (const std::string& var : env) {
        if (var.compare(0, var.find('='), name) == 0) {
            return true;
        }
    }
    return false;
}

// The environment of the command: the caller's, with the host's PATH, the
// interposer and where it finds the topology and the audit log, then the
// command's own variables.
std::vector<std::string> CommandEnvironment(const Topology& topo, const std::string& topology,
                                            const HostCommand& command,
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
                   name != kSolarisTreeVariable && !Overrides(command.env, name)) {
            env.push_back(var);
        }
    }
    env.push_back(std::string("PATH=") + kHostBinDir);
    env.push_back("SANSIM_TOPOLOGY=" + topology);
    if (!command.audit.empty()) {
        env.push_back("SANSIM_AUDIT=" + command.audit);
    }
    if (!command.proclog.empty()) {
        env.push_back("SANSIM_PROCLOG=" + command.proclog);
    }
    // The Solaris services of a Solaris host read its device tree there.
    if (topo.platform == Platform::Solaris) {
        env.push_back(std::string(kSolarisTreeVariable) + "=" + kSolarisTreeFile);
    }
    env.push_back("LD_PRELOAD=" + preload);
    // A sanitized program wants its runtime first in the library list.
    env.push_back("ASAN_OPTIONS=" + (asanOptions.empty() ? std::string() : asanOptions + ":") +
                  "verify_asan_link_order=0");
    for (const std::string& var : command.env) {
        env.push_back(var);
    }
    return env;
}

bool CreateLog(const std::string& path, const char* what, const HostCommand& command, UniqueFd* out,
               std::string* error) {
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid()) {
        return Fail(error,
                    std::string("cannot create the ") + what + " " + path + ": " + strerror(errno));
    }
    if (command.dropToUid && geteuid() == 0 &&
        fchown(fd.Get(), command.uid, GroupOf(command.uid)) != 0) {
        return Fail(error, std::string("cannot hand the ") + what + " to uid " +
                               std::to_string(command.uid) + ": " + strerror(errno));
    }
    *out = std::move(fd);
    return true;
}

// The listing commands count their runs in the host's state directory; a
// new command starts them from the first run again.
void ClearHostState() {
    DIR* dir = opendir(kHostStateDir);
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            (void)unlinkat(dirfd(dir), entry->d_name, 0);
        }
    }
    closedir(dir);
}

// In the command's process: its standard descriptors as the command says.
bool PlaceStdio(const HostCommand& command) {
    const int wanted[3] = {command.stdinFd, command.stdoutFd, command.stderrFd};
    for (int target = 0; target < 3; ++target) {
        if (wanted[target] == kClosed) {
            (void)close(target);
        } else if (wanted[target] >= 0 && dup2(wanted[target], target) < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool StartsWithDir(const std::string& path, const char* dir) {
    size_t n = strlen(dir);
    return path.compare(0, n, dir) == 0 && (path.size() == n || path[n] == '/');
}

bool HostSession::Load(const std::string& file, std::string* error) {
    if (!LoadTopology(file, &topo_, error)) {
        return false;
    }
    char resolved[PATH_MAX];
    if (realpath(file.c_str(), resolved) == nullptr) {
        return Fail(error, file + ": " + strerror(errno));
    }
    file_ = resolved;
    if (StartsWithDir(file_, "/dev") || StartsWithDir(file_, "/sys")) {
        return Fail(error, file_ + " would be hidden by the simulated /dev and /sys");
    }
    const char* callerPath = getenv("PATH");
    searchPath_ = callerPath != nullptr ? callerPath : "/usr/local/bin:/usr/bin:/bin";
    const std::string self = SelfExe();
    programs_.fakeCommand = DirName(self) + "/" + kFakeCommandName;
    preload_ = PreloadLibrary(self);
    if (self.empty() || access(programs_.fakeCommand.c_str(), X_OK) != 0) {
        return Fail(error, std::string("cannot find ") + kFakeCommandName + " beside " + self);
    }
    if (preload_.empty()) {
        return Fail(error, std::string("cannot find ") + kPreloadName + " beside " + self);
    }
    for (const char* tool : kShellTools) {
        std::string path = FindProgram(tool, searchPath_ + ":/usr/bin:/bin");
        if (!path.empty()) {
            programs_.realTools.emplace_back(tool, path);
        }
    }
    return true;
}

bool HostSession::Resolve(HostCommand* command, std::string* error) const {
    std::string program =
        command->argv.empty() ? std::string() : FindProgram(command->argv[0], searchPath_);
    if (program.empty()) {
        return Fail(error, (command->argv.empty() ? std::string() : command->argv[0]) +
                               ": command not found");
    }
    command->argv[0] = program;
    return true;
}

bool HostSession::PlaceLogs(HostCommand* command, std::string* error) const {
    command->audit = Absolute(command->audit);
    command->proclog = Absolute(command->proclog);
    for (const std::string* path : {&command->audit, &command->proclog}) {
        if (StartsWithDir(*path, "/dev") || StartsWithDir(*path, "/sys")) {
            return Fail(error, *path + " would be hidden by the simulated /dev and /sys");
        }
    }
    return true;
}

bool HostSession::Open(bool otherUid, uid_t uid, std::string* error) {
    if (!EnterNamespace(otherUid, uid, error)) {
        return false;
    }
    mode_t savedMask = umask(022);
    bool built = BuildHost(topo_, programs_, error);
    umask(savedMask);
    return built;
}

int HostSession::Run(const HostCommand& command, std::string* error) {
    ClearHostState();
    UniqueFd auditFd, proclogFd;
    if ((!command.audit.empty() &&
         !CreateLog(command.audit, "audit log", command, &auditFd, error)) ||
        (!command.proclog.empty() &&
         !CreateLog(command.proclog, "process log", command, &proclogFd, error))) {
        return -1;
    }
    proclogFd.Reset();  // the host's processes append to it by name
    if (auditFd.Valid()) {
        auditFd.Reset(open(command.audit.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
        if (!auditFd.Valid()) {
            *error = "cannot open the audit log " + command.audit + ": " + strerror(errno);
            return -1;
        }
    }
    std::vector<std::string> env = CommandEnvironment(topo_, file_, command, preload_);
    std::vector<char*> envp;
    for (std::string& var : env) {
        envp.push_back(var.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> words = command.argv;
    std::vector<char*> args;
    for (std::string& arg : words) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);

    SupervisedRun run;
    run.topo = &topo_;
    run.auditFd = auditFd.Get();
    run.signalAsStatus = command.signalAsStatus;
    // The supervisor keeps its credentials; the command's process drops them.
    const std::string& topology = file_;
    run.prepareChild = [&command, &topology]() {
        if (!PlaceStdio(command)) {
            return kExitUsage;
        }
        if (command.dropToUid && geteuid() != command.uid && !DropPrivileges(command.uid)) {
            return kExitUsage;
        }
        if (access(topology.c_str(), R_OK) != 0) {
            fprintf(stderr, "sansim: %s is not readable by uid %u\n", topology.c_str(),
                    static_cast<unsigned>(geteuid()));
            return kExitUsage;
        }
        return -1;
    };
    run.program = words[0];
    run.argv = args.data();
    run.envp = envp.data();
    return RunSupervised(run, error);
}

}  // namespace sansim
