// sansim: runs a command on a simulated SAN host.
//
//   sansim run TOPOLOGY [--audit FILE] [--proclog FILE] [--uid N] -- COMMAND [ARG...]
//   sansim batch TOPOLOGY PLAN      many commands on one start of the host (batch.h)
//   sansim expand TOPOLOGY          the host with its base and overlays laid out
//
// It stays the command's parent and answers the simulated devices' calls of
// every process of the host (supervisor.h); the command's exit status is
// its own.
//
// The host's own commands are sansim-fake (fake_command.cpp); off a host it
// hands a listing command to this binary under the command's name.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "batch.h"
#include "listings.h"
#include "overlay.h"
#include "session.h"
#include "supervisor.h"
#include "topology.h"

namespace {

using sansim::kExitUsage;
constexpr int kExitNotFound = sansim::kSupervisedNotFound;

void Usage() {
    fprintf(stderr,
            "usage: sansim run TOPOLOGY [--audit FILE] [--proclog FILE] [--uid N] -- COMMAND "
            "[ARG...]\n"
            "       sansim batch TOPOLOGY PLAN\n"
            "       sansim expand TOPOLOGY\n");
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---------------------------------------------------------------------------
// The host's listing commands off a host: sansim-fake hands them over
// (fake_command.cpp), and the listing of SANSIM_TOPOLOGY's host is rendered.

int FakeListing(const std::string& self, int argc, char** argv) {
    const std::string command = sansim::ListingCommand(self, argc, argv);
    if (!command.empty()) {
        return sansim::RenderOutsideHost(command);
    }
    if (self != "multipath") {
        fprintf(stderr, "%s: this simulated host knows only the listing\n", self.c_str());
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// sansim run

struct RunOptions {
    std::string topology;
    sansim::HostCommand command;
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
            out->command.audit = argv[++i];
        } else if (arg == "--proclog" && i + 1 < argc) {
            out->command.proclog = argv[++i];
        } else if (arg == "--uid" && i + 1 < argc) {
            if (!ParseUid(argv[++i], &out->command.uid)) {
                fprintf(stderr, "sansim: --uid wants a user id, not '%s'\n", argv[i]);
                return false;
            }
            out->command.dropToUid = true;
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
        out->command.argv.push_back(argv[i]);
    }
    return !out->topology.empty() && !out->command.argv.empty();
}

int Run(int argc, char** argv) {
    RunOptions options;
    if (!ParseRun(argc, argv, &options)) {
        Usage();
        return kExitUsage;
    }
    sansim::HostSession host;
    std::string error;
    if (!host.Load(options.topology, &error) || !host.PlaceLogs(&options.command, &error)) {
        fprintf(stderr, "sansim: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!host.Resolve(&options.command, &error)) {
        fprintf(stderr, "sansim: %s\n", error.c_str());
        return kExitNotFound;
    }
    if (!host.Open(options.command.dropToUid, options.command.uid, &error)) {
        fprintf(stderr, "sansim: %s\n", error.c_str());
        return kExitUsage;
    }
    int status = host.Run(options.command, &error);
    if (status < 0) {
        fprintf(stderr, "sansim: %s\n", error.c_str());
        return kExitUsage;
    }
    return status;
}

// sansim expand: the host a file describes, its base and overlays laid out
// as one document, for review.
int Expand(int argc, char** argv) {
    if (argc != 1) {
        fprintf(stderr, "usage: sansim expand TOPOLOGY\n");
        return kExitUsage;
    }
    nlohmann::json host;
    std::string error;
    sansim::Topology topo;
    if (!sansim::ReadHostDocument(argv[0], &host, &error) ||
        !sansim::LoadTopology(argv[0], &topo, &error)) {
        fprintf(stderr, "sansim: %s\n", error.c_str());
        return kExitUsage;
    }
    const std::string text = host.dump(2) + "\n";
    return fwrite(text.data(), 1, text.size(), stdout) == text.size() && fflush(stdout) == 0 ? 0
                                                                                             : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string self = BaseName(argc > 0 ? argv[0] : "sansim");
    if (self == "multipath" || self == "esxcfg-mpath" || self == "esxcfg-scsidevs" ||
        self == "esxcli") {
        return FakeListing(self, argc, argv);
    }
    if (argc >= 2 && strcmp(argv[1], "run") == 0) {
        return Run(argc - 2, argv + 2);
    }
    if (argc >= 2 && strcmp(argv[1], "batch") == 0) {
        return sansim::RunBatch(argc - 2, argv + 2);
    }
    if (argc >= 2 && strcmp(argv[1], "expand") == 0) {
        return Expand(argc - 2, argv + 2);
    }
    Usage();
    return kExitUsage;
}
