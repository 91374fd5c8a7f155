// The commands of a batch plan, run on one start of the host.
#include "batch.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "../../common/unique_fd.h"
#include "session.h"

namespace sansim {
namespace {

using nlohmann::json;

struct PlannedCommand {
    HostCommand command;
    std::string stdoutFile;  // empty: /dev/null
    std::string stderrFile;
    std::string statusFile;
};

bool Fail(std::string* error, const std::string& what) {
    *error = what;
    return false;
}

bool TextMember(const json& item, const char* key, std::string* out, std::string* error) {
    auto it = item.find(key);
    if (it == item.end()) {
        return true;
    }
    if (!it->is_string() || it->get<std::string>().empty()) {
        return Fail(error, std::string(key) + ": expected a file name");
    }
    *out = it->get<std::string>();
    return true;
}

bool ReadCommand(const json& item, PlannedCommand* out, std::string* error) {
    if (!item.is_object()) {
        return Fail(error, "expected an object");
    }
    for (auto it = item.begin(); it != item.end(); ++it) {
        static const char* const kKnown[] = {"argv",  "stdout",  "stderr", "status",
                                             "audit", "proclog", "uid",    "env"};
        bool known = false;
        for (const char* key : kKnown) {
            known = known || it.key() == key;
        }
        if (!known) {
            return Fail(error, it.key() + ": unknown key");
        }
    }
    auto argv = item.find("argv");
    if (argv == item.end() || !argv->is_array() || argv->empty()) {
        return Fail(error, "argv: expected a list of words");
    }
    for (const json& word : *argv) {
        if (!word.is_string()) {
            return Fail(error, "argv: expected a list of words");
        }
        out->command.argv.push_back(word.get<std::string>());
    }
    auto env = item.find("env");
    if (env != item.end()) {
        if (!env->is_array()) {
            return Fail(error, "env: expected a list of NAME=VALUE");
        }
        for (const json& var : *env) {
            if (!var.is_string() || var.get<std::string>().find('=') == std::string::npos ||
                var.get<std::string>()[0] == '=') {
                return Fail(error, "env: expected a list of NAME=VALUE");
            }
            out->command.env.push_back(var.get<std::string>());
        }
    }
    auto uid = item.find("uid");
    if (uid != item.end()) {
        if (!uid->is_number_unsigned() || uid->get<uint64_t>() >= UINT32_MAX) {
            return Fail(error, "uid: expected a user id");
        }
        out->command.dropToUid = true;
        out->command.uid = static_cast<uid_t>(uid->get<uint64_t>());
    }
    out->command.signalAsStatus = true;
    return TextMember(item, "stdout", &out->stdoutFile, error) &&
           TextMember(item, "stderr", &out->stderrFile, error) &&
           TextMember(item, "status", &out->statusFile, error) &&
           TextMember(item, "audit", &out->command.audit, error) &&
           TextMember(item, "proclog", &out->command.proclog, error);
}

bool ReadPlan(const std::string& file, std::vector<PlannedCommand>* out, std::string* error) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        return Fail(error, file + ": cannot read the plan");
    }
    json plan = json::parse(text.str(), nullptr, false);
    if (plan.is_discarded() || !plan.is_array()) {
        return Fail(error, file + ": expected a JSON list of commands");
    }
    for (size_t i = 0; i < plan.size(); ++i) {
        PlannedCommand command;
        if (!ReadCommand(plan[i], &command, error)) {
            *error = file + ": [" + std::to_string(i) + "]." + *error;
            return false;
        }
        out->push_back(std::move(command));
    }
    return true;
}

// Devices the caller names (/dev/full): opened before the host's /dev
// covers the caller's, and kept for every command that names them.
class CallerDevices {
  public:
    bool Open(const std::vector<PlannedCommand>& plan, std::string* error) {
        for (const PlannedCommand& planned : plan) {
            for (const std::string* name : {&planned.stdoutFile, &planned.stderrFile}) {
                if (!StartsWithDir(*name, "/dev") || fds_.count(*name) != 0) {
                    continue;
                }
                UniqueFd fd(open(name->c_str(), O_WRONLY | O_CLOEXEC));
                if (!fd.Valid()) {
                    return Fail(error, "cannot open " + *name + ": " + strerror(errno));
                }
                fds_[*name] = std::move(fd);
            }
        }
        return true;
    }
    int Find(const std::string& name) const {
        auto it = fds_.find(name);
        return it == fds_.end() ? -1 : it->second.Get();
    }

  private:
    std::map<std::string, UniqueFd> fds_;
};

// The descriptor a command's standard output or error goes to.
bool OutputFd(const std::string& name, const CallerDevices& devices, UniqueFd* owned, int* fd,
              std::string* error) {
    if (name == "closed") {
        *fd = kClosed;
        return true;
    }
    if (name.empty()) {
        owned->Reset(open("/dev/null", O_WRONLY | O_CLOEXEC));
    } else if (StartsWithDir(name, "/dev")) {
        *fd = devices.Find(name);
        return true;
    } else {
        owned->Reset(open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    }
    if (!owned->Valid()) {
        return Fail(error, "cannot create " + name + ": " + strerror(errno));
    }
    *fd = owned->Get();
    return true;
}

// The host's /sys covers the caller's, and its /dev too but for the devices
// opened beforehand: files there would be the host's, not the caller's.
bool OutputsReachable(const PlannedCommand& planned, std::string* error) {
    for (const std::string* name :
         {&planned.stdoutFile, &planned.stderrFile, &planned.statusFile}) {
        const bool device = name != &planned.statusFile && StartsWithDir(*name, "/dev");
        if (StartsWithDir(*name, "/sys") || (!device && StartsWithDir(*name, "/dev"))) {
            return Fail(error, *name + " would be hidden by the simulated /dev and /sys");
        }
    }
    return true;
}

bool WriteStatus(const std::string& file, int status, std::string* error) {
    if (file.empty()) {
        return true;
    }
    std::ofstream out(file, std::ios::trunc);
    out << status << "\n";
    out.close();
    return out ? true : Fail(error, "cannot write " + file);
}

bool RunOne(HostSession* host, PlannedCommand* planned, const CallerDevices& devices,
            std::string* error) {
    UniqueFd input(open("/dev/null", O_RDONLY | O_CLOEXEC));
    UniqueFd output, errors;
    HostCommand& command = planned->command;
    command.stdinFd = input.Get();
    if (!input.Valid() ||
        !OutputFd(planned->stdoutFile, devices, &output, &command.stdoutFd, error) ||
        !OutputFd(planned->stderrFile, devices, &errors, &command.stderrFd, error)) {
        return error->empty() ? Fail(error, "cannot open /dev/null") : false;
    }
    const int status = host->Run(command, error);
    return status >= 0 && WriteStatus(planned->statusFile, status, error);
}

}  // namespace

int RunBatch(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: sansim batch TOPOLOGY PLAN\n");
        return kExitUsage;
    }
    std::string error;
    std::vector<PlannedCommand> plan;
    HostSession host;
    if (!ReadPlan(argv[1], &plan, &error) || !host.Load(argv[0], &error)) {
        fprintf(stderr, "sansim: %s\n", error.c_str());
        return kExitUsage;
    }
    bool otherUid = false;
    uid_t uid = 0;
    for (PlannedCommand& planned : plan) {
        if (!host.Resolve(&planned.command, &error) || !host.PlaceLogs(&planned.command, &error) ||
            !OutputsReachable(planned, &error)) {
            fprintf(stderr, "sansim: %s\n", error.c_str());
            return kExitUsage;
        }
        if (planned.command.dropToUid && geteuid() != 0) {
            if (otherUid && planned.command.uid != uid) {
                fprintf(stderr, "sansim: without root a batch runs as one uid only\n");
                return kExitUsage;
            }
            otherUid = true;
            uid = planned.command.uid;
        }
    }
    CallerDevices devices;
    if (!devices.Open(plan, &error) || !host.Open(otherUid, uid, &error)) {
        fprintf(stderr, "sansim: %s\n", error.c_str());
        return kExitUsage;
    }
    for (PlannedCommand& planned : plan) {
        if (!RunOne(&host, &planned, devices, &error)) {
            fprintf(stderr, "sansim: %s: %s\n", planned.command.argv[0].c_str(), error.c_str());
            return kExitUsage;
        }
    }
    return 0;
}

}  // namespace sansim
