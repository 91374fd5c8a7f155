// The capture document, written member by member in the order
// docs/capture.md lists them.
#include "capture_record.h"

#include "hex_text.h"
#include "json_writer.h"

namespace {

constexpr int kCaptureVersion = 1;

const char* StateName(CaptureNodeState state) {
    switch (state) {
        case CaptureNodeState::Missing:
            return "missing";
        case CaptureNodeState::Vanished:
            return "vanished";
        case CaptureNodeState::Unreadable:
            return "unreadable";
        case CaptureNodeState::Offline:
            return "offline";
        case CaptureNodeState::Present:
            break;
    }
    return "present";
}

const char* KindName(CaptureSysfs::Kind kind) {
    switch (kind) {
        case CaptureSysfs::Kind::File:
            return "file";
        case CaptureSysfs::Kind::Link:
            return "link";
        case CaptureSysfs::Kind::Dir:
            break;
    }
    return "dir";
}

void WriteListings(const CaptureRecord& record, JsonWriter* json) {
    json->Key("listings");
    json->BeginArray();
    for (const CaptureListing& listing : record.listings) {
        json->BeginObject();
        json->KeyBytes("command", listing.command.data(), listing.command.size());
        json->Key("runs");
        json->BeginArray();
        for (const CaptureRun& run : listing.runs) {
            json->BeginObject();
            json->KeyBool("started", run.started);
            if (run.started) {
                json->KeyInt("status", run.status);
                json->KeyBytes("text", run.text.data(), run.text.size());
            }
            json->EndObject();
        }
        json->EndArray();
        json->EndObject();
    }
    json->EndArray();
}

void WriteSysfs(const CaptureRecord& record, JsonWriter* json) {
    json->Key("sysfs");
    json->BeginArray();
    for (const CaptureSysfs& entry : record.sysfs) {
        json->BeginObject();
        json->KeyBytes("path", entry.path.data(), entry.path.size());
        json->KeyString("type", KindName(entry.kind));
        if (entry.kind != CaptureSysfs::Kind::Dir) {
            json->KeyBytes("text", entry.text.data(), entry.text.size());
        }
        json->EndObject();
    }
    json->EndArray();
}

void WriteReply(const CaptureReply& reply, JsonWriter* json) {
    json->BeginObject();
    if (reply.ioctlErrno != 0) {
        json->KeyInt("ioctl_errno", reply.ioctlErrno);
    } else {
        json->KeyInt("status", reply.status);
        json->KeyInt("host_status", reply.hostStatus);
        json->KeyInt("driver_status", reply.driverStatus);
        json->KeyInt("resid", reply.resid);
        json->KeyInt("duration_ms", reply.durationMs);
        json->KeyString("sense", HexTextOf(reply.sense).c_str());
        json->KeyString("data", HexTextOf(reply.data).c_str());
    }
    json->EndObject();
}

void WriteNodes(const CaptureRecord& record, JsonWriter* json) {
    json->Key("nodes");
    json->BeginArray();
    for (const CaptureNode& node : record.nodes) {
        json->BeginObject();
        json->KeyBytes("name", node.name.data(), node.name.size());
        json->KeyString("state", StateName(node.state));
        json->Key("commands");
        json->BeginArray();
        for (const CaptureCommand& command : node.commands) {
            json->BeginObject();
            json->KeyString("cdb", HexTextOf(command.cdb).c_str());
            json->Key("replies");
            json->BeginArray();
            for (const CaptureReply& reply : command.replies) {
                WriteReply(reply, json);
            }
            json->EndArray();
            json->EndObject();
        }
        json->EndArray();
        json->EndObject();
    }
    json->EndArray();
}

void WriteErrors(const CaptureRecord& record, JsonWriter* json) {
    json->Key("errors");
    json->BeginArray();
    for (const CaptureError& error : record.errors) {
        json->BeginObject();
        json->KeyBytes("where", error.where.data(), error.where.size());
        json->KeyBytes("error", error.error.data(), error.error.size());
        json->EndObject();
    }
    json->EndArray();
}

}  // namespace

bool capture_WriteJson(const CaptureRecord& record, FILE* out) {
    JsonWriter json(out);
    json.BeginObject();
    json.KeyString("format", "tskit-capture");
    json.KeyInt("version", kCaptureVersion);
    json.KeyString("platform", record.platform);
    json.KeyBool("anonymized", record.anonymized);
    if (!record.captureId.empty()) {
        json.KeyString("capture_id", record.captureId.c_str());
    }
    json.Key("commands");
    json.BeginObject();
    for (const CaptureCommandPresence& command : record.commands) {
        json.KeyBool(command.name, command.present);
    }
    json.EndObject();
    WriteListings(record, &json);
    json.Key("cannot_start");
    json.BeginArray();
    for (const std::string& line : record.cannotStart) {
        json.Bytes(line.data(), line.size());
    }
    json.EndArray();
    WriteSysfs(record, &json);
    WriteNodes(record, &json);
    WriteErrors(record, &json);
    json.EndObject();
    return json.Finish() && ferror(out) == 0;
}
