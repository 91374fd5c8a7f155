// The host's SCSI transport classes in sysfs. A path that stops answering
// never reports its ports through its port page, but the kernel still knows
// them: an FC HBA port under /sys/class/fc_host/hostH, the remote (array)
// ports it logged into under /sys/class/fc_remote_ports/rport-H:C-R (whose
// scsi_target_id is the T of the path's H:C:T:L), an iSCSI initiator under
// /sys/class/iscsi_host/hostH and each login under
// /sys/class/iscsi_session/sessionK, whose device holds targetH:C:T. The
// same entries say whether that link is up. Only fixed names built from
// numbers are read; nothing reaches a shell.
#include "discovery/tstopology_transport.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "../../common/unique_dir.h"
#include "../../common/unique_fd.h"
#include "boundedfunc.h"

namespace {

constexpr size_t kPathSize = 512;
constexpr size_t kValueSize = 256;
constexpr size_t kFcPortDigits = 16;

char s_root[kPathSize] = "/sys/class";

enum class Transport { kNone, kFc, kIscsi };

// A SCSI target's address, host:channel:target.
using Hct = std::tuple<int, int, int>;

// One iSCSI login: its number K (-1 for an entry not named sessionK) and its
// entry's name.
struct Session {
    int number;
    std::string name;
};

// While discovery builds the phypaths, what the transport classes say is
// read once: every path of a host asks for its host's transport, and every
// path for its session, and on a host of thousands of paths a scan of all
// sessions per path costs more than the paths' own SCSI commands. The
// sessions are read in one pass (each session's device names its targets)
// the first time one is asked for.
struct TransportCache {
    bool on = false;
    bool sessionsRead = false;
    std::map<int, Transport> hosts;
    std::map<Hct, Session> sessions;
};
TransportCache s_cache;

// One sysfs attribute: its text without the newline the kernel ends it with.
bool ReadAttribute(const char* path, char* dest, size_t size) {
    UniqueFd fd(open(path, O_RDONLY));
    if (!fd.Valid() || size == 0) {
        return false;
    }
    const ssize_t count = read(fd.Get(), dest, size - 1);
    if (count <= 0) {
        return false;
    }
    size_t length = static_cast<size_t>(count);
    while (length > 0 && isspace(static_cast<unsigned char>(dest[length - 1])) != 0) {
        --length;
    }
    dest[length] = '\0';
    return length > 0;
}

bool Exists(const char* path) {
    return access(path, F_OK) == 0;
}

Transport ReadTransportOfHost(int host) {
    char path[kPathSize];
    if (sprintf_s(path, sizeof path, "%s/fc_host/host%d", s_root, host) > 0 && Exists(path)) {
        return Transport::kFc;
    }
    if (sprintf_s(path, sizeof path, "%s/iscsi_host/host%d", s_root, host) > 0 && Exists(path)) {
        return Transport::kIscsi;
    }
    return Transport::kNone;
}

Transport TransportOfHost(int host) {
    if (!s_cache.on) {
        return ReadTransportOfHost(host);
    }
    auto it = s_cache.hosts.find(host);
    if (it == s_cache.hosts.end()) {
        it = s_cache.hosts.emplace(host, ReadTransportOfHost(host)).first;
    }
    return it->second;
}

// An attribute of an entry (directory dir) into value.
bool ReadEntry(const char* dir, const char* name, char* value, size_t size) {
    char path[kPathSize];
    return sprintf_s(path, sizeof path, "%s/%s", dir, name) > 0 && ReadAttribute(path, value, size);
}

// The first entry of a class (/sys/class/NAME) whose name starts with
// prefix and that matches, as its directory, into dir.
template <typename Matches>
bool FindClassEntry(const char* className, const char* prefix, Matches matches, char* dir,
                    size_t size) {
    char classDir[kPathSize];
    if (sprintf_s(classDir, sizeof classDir, "%s/%s", s_root, className) < 0) {
        return false;
    }
    UniqueDir stream(opendir(classDir));
    if (!stream.Valid()) {
        return false;
    }
    while (const dirent* entry = readdir(stream.Get())) {
        if (strncmp(entry->d_name, prefix, strlen(prefix)) == 0 &&
            sprintf_s(dir, size, "%s/%s", classDir, entry->d_name) > 0 && matches(dir)) {
            return true;
        }
    }
    return false;
}

// The remote port directory of host:channel whose SCSI target id is target.
bool FindRemotePort(int host, int channel, int target, char* dir, size_t size) {
    char prefix[64];
    if (sprintf_s(prefix, sizeof prefix, "rport-%d:%d-", host, channel) < 0) {
        return false;
    }
    return FindClassEntry(
        "fc_remote_ports", prefix,
        [target](const char* entry) {
            char value[kValueSize];
            return ReadEntry(entry, "scsi_target_id", value, sizeof value) && value[0] != '-' &&
                   strtol(value, nullptr, 10) == target;
        },
        dir, size);
}

// The SCSI target an entry of a session's device names: exactly
// "targetH:C:T", as a search for that name would find it.
bool TargetOfEntry(const char* name, Hct* hct) {
    int host = 0;
    int channel = 0;
    int target = 0;
    char canonical[64];
    if (sscanf(name, "target%d:%d:%d", &host, &channel, &target) != 3 ||
        sprintf_s(canonical, sizeof canonical, "target%d:%d:%d", host, channel, target) < 0 ||
        strcmp(canonical, name) != 0) {
        return false;
    }
    *hct = Hct(host, channel, target);
    return true;
}

// K of a session's entry name "sessionK"; -1 for any other name.
int SessionNumber(const char* name) {
    constexpr size_t kPrefix = 7;  // "session"
    if (strncmp(name, "session", kPrefix) != 0 ||
        isdigit(static_cast<unsigned char>(name[kPrefix])) == 0) {
        return -1;
    }
    char* end = nullptr;
    const long long number = strtoll(name + kPrefix, &end, 10);
    return *end == '\0' && number <= INT32_MAX ? static_cast<int>(number) : -1;
}

// Every session's targets, in one pass over the class. A target that two
// entries claim (the kernel gives a target one session) keeps the first, as
// a search of the class for it would find.
void ReadSessions() {
    s_cache.sessionsRead = true;
    char classDir[kPathSize];
    if (sprintf_s(classDir, sizeof classDir, "%s/iscsi_session", s_root) < 0) {
        return;
    }
    UniqueDir stream(opendir(classDir));
    while (const dirent* entry = stream.Valid() ? readdir(stream.Get()) : nullptr) {
        // Every entry the search would look at, a name without a number too.
        char device[kPathSize];
        if (strncmp(entry->d_name, "session", strlen("session")) != 0 ||
            sprintf_s(device, sizeof device, "%s/%s/device", classDir, entry->d_name) < 0) {
            continue;
        }
        UniqueDir targets(opendir(device));
        while (const dirent* t = targets.Valid() ? readdir(targets.Get()) : nullptr) {
            Hct hct;
            if (TargetOfEntry(t->d_name, &hct)) {
                (void)s_cache.sessions.emplace(
                    hct, Session{SessionNumber(entry->d_name), entry->d_name});
            }
        }
    }
}

// The session holding host:channel:target as discovery's read of the class
// saw it, or null.
const Session* CachedSession(int host, int channel, int target) {
    if (!s_cache.sessionsRead) {
        ReadSessions();
    }
    auto it = s_cache.sessions.find(Hct(host, channel, target));
    return it != s_cache.sessions.end() ? &it->second : nullptr;
}

// The iSCSI session whose device holds the SCSI target host:channel:target.
bool FindSession(int host, int channel, int target, char* dir, size_t size) {
    if (s_cache.on) {
        const Session* session = CachedSession(host, channel, target);
        return session != nullptr &&
               sprintf_s(dir, size, "%s/iscsi_session/%s", s_root, session->name.c_str()) > 0;
    }
    return FindClassEntry(
        "iscsi_session", "session",
        [host, channel, target](const char* entry) {
            char path[kPathSize];
            return sprintf_s(path, sizeof path, "%s/device/target%d:%d:%d", entry, host, channel,
                             target) > 0 &&
                   Exists(path);
        },
        dir, size);
}

// An FC port name attribute in the page's form, into field.
template <size_t N>
void TakeFcPortName(const char* dir, TsText<N>* field) {
    char value[kValueSize];
    char text[kValueSize];
    if (ReadEntry(dir, "port_name", value, sizeof value) &&
        tstopo_FcPortNameText(value, text, sizeof text) == 0) {
        (void)sprintf_s(field->data(), N, "%s", text);
    }
}

void TakeFcPorts(PathInfo* path) {
    DevInfo* dev = &path->stDev;
    char dir[kPathSize];
    if (!tstopo_TextHasValue(dev->acHostWwn.data()) &&
        sprintf_s(dir, sizeof dir, "%s/fc_host/host%d", s_root, path->iHost) > 0) {
        TakeFcPortName(dir, &dev->acHostWwn);
    }
    if (!tstopo_TextHasValue(dev->acTargetWwn.data()) &&
        FindRemotePort(path->iHost, path->iChannel, path->iTarget, dir, sizeof dir)) {
        TakeFcPortName(dir, &dev->acTargetWwn);
    }
}

// The iSCSI host's initiator name; false when it has none. open-iscsi
// leaves the host's attribute unset, and the kernel shows that as "(null)":
// the name is then the session's.
bool HostInitiatorName(int host, char* value, size_t size) {
    char dir[kPathSize];
    return sprintf_s(dir, sizeof dir, "%s/iscsi_host/host%d", s_root, host) > 0 &&
           ReadEntry(dir, "initiatorname", value, size) && value[0] != '\0' &&
           strcmp(value, "(null)") != 0;
}

// iSCSI port names as the page gives them: the initiator's iSCSI name, and
// the target's name with its portal group tag (",t,0x" and four digits).
void TakeIscsiPorts(PathInfo* path) {
    DevInfo* dev = &path->stDev;
    char dir[kPathSize];
    char value[kValueSize];
    // One search of the class serves both ports.
    const bool inSession = FindSession(path->iHost, path->iChannel, path->iTarget, dir, sizeof dir);
    if (!tstopo_TextHasValue(dev->acHostWwn.data()) &&
        (HostInitiatorName(path->iHost, value, sizeof value) ||
         (inSession && ReadEntry(dir, "initiatorname", value, sizeof value)))) {
        (void)sprintf_s(dev->acHostWwn.data(), dev->acHostWwn.size(), "%s", value);
    }
    if (tstopo_TextHasValue(dev->acTargetWwn.data()) || !inSession ||
        !ReadEntry(dir, "targetname", value, sizeof value)) {
        return;
    }
    char tpgt[kValueSize];
    if (ReadEntry(dir, "tpgt", tpgt, sizeof tpgt)) {
        (void)sprintf_s(dev->acTargetWwn.data(), dev->acTargetWwn.size(), "%s,t,0x%04lx", value,
                        strtoul(tpgt, nullptr, 10) & 0xFFFFUL);
    } else {
        (void)sprintf_s(dev->acTargetWwn.data(), dev->acTargetWwn.size(), "%s", value);
    }
}

// The state of the link under a phypath when the transport says it is not
// up; false when it is up or nothing is known.
bool LinkDownState(int host, int channel, int target, char* state, size_t size) {
    char dir[kPathSize];
    switch (TransportOfHost(host)) {
        case Transport::kFc:
            if (sprintf_s(dir, sizeof dir, "%s/fc_host/host%d", s_root, host) > 0 &&
                ReadEntry(dir, "port_state", state, size) && strcmp(state, "Online") != 0) {
                return true;
            }
            return FindRemotePort(host, channel, target, dir, sizeof dir) &&
                   ReadEntry(dir, "port_state", state, size) && strcmp(state, "Online") != 0;
        case Transport::kIscsi:
            return FindSession(host, channel, target, dir, sizeof dir) &&
                   ReadEntry(dir, "state", state, size) && strcmp(state, "LOGGED_IN") != 0;
        case Transport::kNone:
            break;
    }
    return false;
}

}  // namespace

void tstopo_SetTransportRoot(const char* root) {
    (void)sprintf_s(s_root, sizeof s_root, "%s", root != nullptr ? root : "/sys/class");
    tstopo_CacheTransport(s_cache.on ? 1 : 0);
}

void tstopo_CacheTransport(int on) {
    s_cache = TransportCache();
    s_cache.on = on != 0;
}

int tstopo_FcPortNameText(const char* sysfsText, char* dest, size_t destSize) {
    if (sysfsText == nullptr || dest == nullptr || destSize <= kFcPortDigits) {
        return -1;
    }
    const char* digits = sysfsText;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits += 2;
    }
    const size_t count = strlen(digits);
    if (count == 0 || count > kFcPortDigits) {
        return -1;
    }
    for (size_t i = 0; i < count; ++i) {
        if (isxdigit(static_cast<unsigned char>(digits[i])) == 0) {
            return -1;
        }
    }
    const size_t pad = kFcPortDigits - count;
    for (size_t i = 0; i < kFcPortDigits; ++i) {
        dest[i] =
            i < pad ? '0' : static_cast<char>(tolower(static_cast<unsigned char>(digits[i - pad])));
    }
    dest[kFcPortDigits] = '\0';
    return 0;
}

void tstopo_TakePortsFromTransport(PathInfo* path) {
    if (path == nullptr || path->iHctlValid != 1 ||
        (tstopo_TextHasValue(path->stDev.acHostWwn.data()) &&
         tstopo_TextHasValue(path->stDev.acTargetWwn.data()))) {
        return;
    }
    switch (TransportOfHost(path->iHost)) {
        case Transport::kFc:
            TakeFcPorts(path);
            break;
        case Transport::kIscsi:
            TakeIscsiPorts(path);
            break;
        case Transport::kNone:
            break;
    }
}

void tstopo_TakeTransportState(PhypathInfo* phypath) {
    if (phypath == nullptr || phypath->iHctValid != 1) {
        return;
    }
    char state[kValueSize];
    if (LinkDownState(phypath->iHost, phypath->iChannel, phypath->iTarget, state, sizeof state)) {
        (void)snprintf_truncated_s(phypath->acStatus.data(), phypath->acStatus.size(), "%s", state);
    }
}

int tstopo_IscsiSession(int host, int channel, int target) {
    if (TransportOfHost(host) != Transport::kIscsi) {
        return -1;
    }
    if (s_cache.on) {
        const Session* session = CachedSession(host, channel, target);
        return session != nullptr ? session->number : -1;
    }
    char dir[kPathSize];
    return FindSession(host, channel, target, dir, sizeof dir)
               ? SessionNumber(strrchr(dir, '/') + 1)
               : -1;
}

int tstopo_HostFabric(int host, char* dest, size_t destSize) {
    char path[kPathSize];
    char value[kValueSize];
    switch (TransportOfHost(host)) {
        case Transport::kFc:
            // The switch fabric the HBA port logged in to, in the page's form.
            // A port on no fabric (a direct attachment) says 0x0,
            // or all ones: the transport class's value before the driver sets
            // one.
            if (sprintf_s(path, sizeof path, "%s/fc_host/host%d/fabric_name", s_root, host) < 0 ||
                !ReadAttribute(path, value, sizeof value) ||
                tstopo_FcPortNameText(value, dest, destSize) != 0) {
                return -1;
            }
            return strspn(dest, "0") == strlen(dest) || strspn(dest, "fF") == strlen(dest) ? -1 : 0;
        case Transport::kIscsi:
            // The initiator's network portal: the address its sessions leave from.
            if (sprintf_s(path, sizeof path, "%s/iscsi_host/host%d/ipaddress", s_root, host) > 0 &&
                ReadAttribute(path, value, sizeof value) && strcmp(value, "<NULL>") != 0) {
                return sprintf_s(dest, destSize, "%s", value) > 0 ? 0 : -1;
            }
            return -1;
        case Transport::kNone:
            break;
    }
    return -1;
}
