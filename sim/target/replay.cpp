// Loading a capture and answering from it.
#include "replay.h"

#include <algorithm>
#include <cerrno>

#include "../../common/hex_text.h"
#include "scsi_target.h"
#include "topology.h"

namespace sansim {

namespace {

using nlohmann::json;

constexpr int kCaptureVersion = 1;
constexpr size_t kMaxCdb = 16;
constexpr uint8_t kCheckCondition = 0x02;
constexpr uint16_t kDriverSense = 0x08;

class CaptureLoader {
  public:
    bool Load(const json& root, Topology* topo);
    const std::string& error() const { return error_; }

  private:
    bool Fail(const std::string& where, const std::string& what) {
        if (error_.empty()) {
            error_ = where + ": " + what;
        }
        return false;
    }
    const json* Field(const json& obj, const char* key) {
        auto it = obj.find(key);
        return it == obj.end() ? nullptr : &*it;
    }
    bool Text(const json& obj, const std::string& where, const char* key, std::string* out);
    bool Hex(const json& obj, const std::string& where, const char* key, std::vector<uint8_t>* out);
    bool Int(const json& obj, const std::string& where, const char* key, int64_t max, int64_t* out);
    bool ReadCommands(const json& root, Topology* topo);
    bool ReadListings(const json& root, Replay* replay);
    bool ReadCannotStart(const json& root, Topology* topo);
    bool ReadSysfs(const json& root, Replay* replay);
    bool ReadNodes(const json& root, Topology* topo, Replay* replay);
    bool ReadReply(const json& v, const std::string& where, RecordedReply* reply);

    std::string error_;
};

bool CaptureLoader::Text(const json& obj, const std::string& where, const char* key,
                         std::string* out) {
    const json* v = Field(obj, key);
    if (v == nullptr || !v->is_string()) {
        return Fail(where, std::string("expected the text \"") + key + "\"");
    }
    if (!CaptureTextBytes(v->get<std::string>(), out)) {
        return Fail(where + "." + key, "a character above U+00FF");
    }
    return true;
}

bool CaptureLoader::Hex(const json& obj, const std::string& where, const char* key,
                        std::vector<uint8_t>* out) {
    const json* v = Field(obj, key);
    if (v == nullptr) {
        out->clear();
        return true;
    }
    if (!v->is_string() || !ParseHexBytes(v->get<std::string>(), out)) {
        return Fail(where + "." + key, "expected pairs of hex digits");
    }
    return true;
}

bool CaptureLoader::Int(const json& obj, const std::string& where, const char* key, int64_t max,
                        int64_t* out) {
    const json* v = Field(obj, key);
    if (v == nullptr) {
        *out = 0;
        return true;
    }
    if (!v->is_number_integer() || v->get<int64_t>() < 0 || v->get<int64_t>() > max) {
        return Fail(where + "." + key, "expected a whole number from 0 to " + std::to_string(max));
    }
    *out = v->get<int64_t>();
    return true;
}

bool CaptureLoader::ReadCommands(const json& root, Topology* topo) {
    const json* commands = Field(root, "commands");
    if (commands == nullptr || !commands->is_object()) {
        return Fail("commands", "expected an object");
    }
    auto has = [commands](const char* name) {
        auto it = commands->find(name);
        return it != commands->end() && it->is_boolean() && it->get<bool>();
    };
    topo->multipath.installed = has("multipath");
    for (const char* cli : kProductCliNames) {
        if (has(cli)) {
            topo->productCli.emplace_back(cli);
        }
    }
    if (topo->platform == Platform::Esxi) {
        for (const char* name : kEsxiListingCommands) {
            if (!has(name)) {
                topo->esxi.missing.emplace_back(name);
            }
        }
    }
    return true;
}

bool CaptureLoader::ReadListings(const json& root, Replay* replay) {
    const json* listings = Field(root, "listings");
    if (listings == nullptr || !listings->is_array()) {
        return Fail("listings", "expected a list");
    }
    for (size_t i = 0; i < listings->size(); ++i) {
        const json& v = (*listings)[i];
        const std::string where = "listings[" + std::to_string(i) + "]";
        RecordedListing listing;
        const json* runs = v.is_object() ? Field(v, "runs") : nullptr;
        if (!v.is_object() || !Text(v, where, "command", &listing.command) || runs == nullptr ||
            !runs->is_array() || runs->empty()) {
            return Fail(where, "expected a command and its runs");
        }
        for (size_t k = 0; k < runs->size(); ++k) {
            const json& r = (*runs)[k];
            const std::string at = where + ".runs[" + std::to_string(k) + "]";
            RecordedRun run;
            int64_t status = 0;
            const json* started = r.is_object() ? Field(r, "started") : nullptr;
            if (started == nullptr || !started->is_boolean()) {
                return Fail(at, "expected \"started\"");
            }
            run.started = started->get<bool>();
            if (run.started &&
                (!Int(r, at, "status", 255, &status) || !Text(r, at, "text", &run.text))) {
                return false;
            }
            run.status = static_cast<int>(status);
            listing.runs.push_back(std::move(run));
        }
        replay->listings.push_back(std::move(listing));
    }
    return true;
}

bool CaptureLoader::ReadCannotStart(const json& root, Topology* topo) {
    const json* lines = Field(root, "cannot_start");
    if (lines == nullptr) {
        return true;
    }
    if (!lines->is_array()) {
        return Fail("cannot_start", "expected a list of command lines");
    }
    for (size_t i = 0; i < lines->size(); ++i) {
        std::string line;
        if (!(*lines)[i].is_string() || !CaptureTextBytes((*lines)[i].get<std::string>(), &line)) {
            return Fail("cannot_start[" + std::to_string(i) + "]", "expected a command line");
        }
        topo->cannotStart.push_back(std::move(line));
    }
    return true;
}

// A path below /sys: relative, no empty, "." or ".." component.
bool PlainRelativePath(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.back() == '/') {
        return false;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool CaptureLoader::ReadSysfs(const json& root, Replay* replay) {
    const json* sysfs = Field(root, "sysfs");
    if (sysfs == nullptr || !sysfs->is_array()) {
        return Fail("sysfs", "expected a list");
    }
    for (size_t i = 0; i < sysfs->size(); ++i) {
        const json& v = (*sysfs)[i];
        const std::string where = "sysfs[" + std::to_string(i) + "]";
        RecordedSysfs entry;
        const json* type = v.is_object() ? Field(v, "type") : nullptr;
        if (type == nullptr || !type->is_string() || !Text(v, where, "path", &entry.path)) {
            return Fail(where, "expected a path and a type");
        }
        if (!PlainRelativePath(entry.path)) {
            return Fail(where + ".path", "expected a path below /sys without . or ..");
        }
        const std::string kind = type->get<std::string>();
        if (kind == "dir") {
            entry.kind = RecordedSysfs::Kind::Dir;
        } else if (kind == "file" || kind == "link") {
            entry.kind = kind == "file" ? RecordedSysfs::Kind::File : RecordedSysfs::Kind::Link;
            if (!Text(v, where, "text", &entry.text)) {
                return false;
            }
        } else {
            return Fail(where + ".type", "expected dir, file or link");
        }
        replay->sysfs.push_back(std::move(entry));
    }
    return true;
}

bool CaptureLoader::ReadReply(const json& v, const std::string& where, RecordedReply* reply) {
    if (!v.is_object()) {
        return Fail(where, "expected an object");
    }
    int64_t value = 0;
    if (Field(v, "ioctl_errno") != nullptr) {
        if (!Int(v, where, "ioctl_errno", 4095, &value) || value == 0) {
            return Fail(where + ".ioctl_errno", "expected an errno number");
        }
        reply->ioctlErrno = static_cast<int>(value);
        return true;
    }
    if (!Int(v, where, "status", 255, &value)) {
        return false;
    }
    reply->status = static_cast<uint8_t>(value);
    if (!Int(v, where, "host_status", 65535, &value)) {
        return false;
    }
    reply->hostStatus = static_cast<uint16_t>(value);
    if (!Int(v, where, "driver_status", 65535, &value)) {
        return false;
    }
    reply->driverStatus = static_cast<uint16_t>(value);
    if (!Int(v, where, "resid", 1 << 24, &value)) {
        return false;
    }
    reply->resid = static_cast<int>(value);
    if (!Int(v, where, "duration_ms", 1 << 30, &value)) {
        return false;
    }
    reply->durationMs = static_cast<unsigned>(value);
    if (!Hex(v, where, "sense", &reply->sense) || !Hex(v, where, "data", &reply->data)) {
        return false;
    }
    if (reply->sense.size() > 252) {
        return Fail(where + ".sense", "more than 252 bytes");
    }
    return true;
}

bool CaptureLoader::ReadNodes(const json& root, Topology* topo, Replay* replay) {
    const json* nodes = Field(root, "nodes");
    if (nodes == nullptr || !nodes->is_array()) {
        return Fail("nodes", "expected a list");
    }
    for (size_t i = 0; i < nodes->size(); ++i) {
        const json& v = (*nodes)[i];
        const std::string where = "nodes[" + std::to_string(i) + "]";
        RecordedNode node;
        OtherDevice device;
        const json* state = v.is_object() ? Field(v, "state") : nullptr;
        if (state == nullptr || !state->is_string() || !Text(v, where, "name", &node.name)) {
            return Fail(where, "expected a name and a state");
        }
        if (!PlainRelativePath(node.name) || topo->index.count(node.name) != 0) {
            return Fail(where + ".name", "expected a new node name below /dev");
        }
        const std::string s = state->get<std::string>();
        device.faults.missing = s == "missing";
        device.faults.vanished = s == "vanished";
        device.faults.unreadable = s == "unreadable";
        device.faults.offline = s == "offline";
        if (s != "present" && !device.faults.missing && !device.faults.vanished &&
            !device.faults.unreadable && !device.faults.offline) {
            return Fail(where + ".state",
                        "expected present, missing, vanished, unreadable or offline");
        }
        const json* commands = Field(v, "commands");
        if (commands != nullptr && !commands->is_array()) {
            return Fail(where + ".commands", "expected a list");
        }
        for (size_t k = 0; commands != nullptr && k < commands->size(); ++k) {
            const json& c = (*commands)[k];
            const std::string at = where + ".commands[" + std::to_string(k) + "]";
            RecordedCommand command;
            const json* replies = c.is_object() ? Field(c, "replies") : nullptr;
            if (replies == nullptr || !replies->is_array() || replies->empty()) {
                return Fail(at, "expected a cdb and its replies");
            }
            if (!Hex(c, at, "cdb", &command.cdb) || command.cdb.empty() ||
                command.cdb.size() > kMaxCdb) {
                return Fail(at + ".cdb", "expected a command block of 1 to 16 bytes");
            }
            for (size_t r = 0; r < replies->size(); ++r) {
                RecordedReply reply;
                if (!ReadReply((*replies)[r], at + ".replies[" + std::to_string(r) + "]", &reply)) {
                    return false;
                }
                command.replies.push_back(std::move(reply));
            }
            node.commands.push_back(std::move(command));
        }
        device.name = node.name;
        DeviceRef ref;
        ref.kind = DeviceRef::Kind::Other;
        ref.other = topo->others.size();
        topo->index.emplace(node.name, ref);
        topo->others.push_back(std::move(device));
        replay->nodes.push_back(std::move(node));
    }
    return true;
}

bool CaptureLoader::Load(const json& root, Topology* topo) {
    const json* version = Field(root, "version");
    if (version == nullptr || !version->is_number_integer() ||
        version->get<int64_t>() != kCaptureVersion) {
        return Fail("version", "this simulator replays captures of version 1");
    }
    const json* platform = Field(root, "platform");
    if (platform == nullptr || !platform->is_string() ||
        (*platform != "linux" && *platform != "esxi")) {
        return Fail("platform", "expected linux or esxi");
    }
    topo->platform = *platform == "esxi" ? Platform::Esxi : Platform::Linux;
    auto replay = std::make_shared<Replay>();
    if (!ReadCommands(root, topo) || !ReadListings(root, replay.get()) ||
        !ReadCannotStart(root, topo) || !ReadSysfs(root, replay.get()) ||
        !ReadNodes(root, topo, replay.get())) {
        return false;
    }
    // Every /sys entry comes from the record.
    topo->sysBlock = false;
    topo->replay = std::move(replay);
    return true;
}

// The reply of a command that the device does not support: CHECK
// CONDITION, fixed sense, ILLEGAL REQUEST, INVALID FIELD IN CDB.
ScsiReply IllegalRequest(int allocLen) {
    ScsiReply reply;
    reply.status = kCheckCondition;
    reply.maskedStatus = kCheckCondition >> 1;
    reply.driverStatus = kDriverSense;
    reply.info = 1;
    reply.sense.assign(18, 0);
    reply.sense[0] = 0x70;
    reply.sense[2] = 0x05;
    reply.sense[7] = 10;
    reply.sense[12] = 0x24;
    reply.resid = std::max(allocLen, 0);
    return reply;
}

}  // namespace

bool IsCapture(const json& root) {
    auto it = root.find("format");
    return it != root.end() && it->is_string() && *it == "tskit-capture";
}

bool LoadCapture(const json& root, Topology* topo, std::string* error) {
    CaptureLoader loader;
    if (!loader.Load(root, topo)) {
        *error = loader.error();
        return false;
    }
    return true;
}

ScsiReply ReplayCommand(const RecordedNode& node, DeviceState* state, const uint8_t* cdb,
                        int cdbLen, int allocLen) {
    ScsiReply reply;
    if (cdb == nullptr || cdbLen < 1 || cdbLen > static_cast<int>(kMaxCdb)) {
        reply.ioctlErrno = EINVAL;
        return reply;
    }
    for (size_t i = 0; i < node.commands.size(); ++i) {
        const RecordedCommand& command = node.commands[i];
        if (command.cdb.size() != static_cast<size_t>(cdbLen) ||
            !std::equal(command.cdb.begin(), command.cdb.end(), cdb)) {
            continue;
        }
        size_t served = 0;
        if (state != nullptr) {
            if (state->repliesServed.size() < node.commands.size()) {
                state->repliesServed.resize(node.commands.size(), 0);
            }
            served = state->repliesServed[i]++;
        }
        const RecordedReply& r = command.replies[std::min(served, command.replies.size() - 1)];
        reply.ioctlErrno = r.ioctlErrno;
        reply.status = r.status;
        reply.maskedStatus = static_cast<uint8_t>((r.status >> 1) & 0x7f);
        reply.hostStatus = r.hostStatus;
        reply.driverStatus = r.driverStatus;
        reply.info = r.status != 0 || r.hostStatus != 0 || r.driverStatus != 0 ? 1 : 0;
        reply.sense = r.sense;
        const size_t limit = static_cast<size_t>(std::max(allocLen, 0));
        reply.data.assign(r.data.begin(), r.data.begin() + std::min(limit, r.data.size()));
        reply.resid = r.resid;
        return reply;
    }
    return IllegalRequest(allocLen);
}

const RecordedRun* ListingRun(const Replay& replay, const std::string& command, size_t run) {
    for (const RecordedListing& listing : replay.listings) {
        if (listing.command == command) {
            return &listing.runs[std::min(run, listing.runs.size() - 1)];
        }
    }
    return nullptr;
}

bool CaptureTextBytes(const std::string& utf8, std::string* bytes) {
    bytes->clear();
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            bytes->push_back(static_cast<char>(c));
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size() &&
                   (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
            const auto next = static_cast<unsigned char>(utf8[++i]);
            bytes->push_back(static_cast<char>(((c & 0x03) << 6) | (next & 0x3F)));
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace sansim
