// tsexTool's --json document: the vluns with their rows and paths, the
// paths, the physical paths with the paths over them, the devices and the
// alarms, each member a cell of the table that shows it.
#include "rendering/tsjson.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../common/deadline_json.h"
#include "../../common/json_writer.h"
#include "../../common/query_process.h"
#include "checks/tsalarm.h"
#include "discovery/tsioctrl.h"
#include "discovery/tstopology_devices.h"
#include "records/tsrows.h"
#include "records/tsstate.h"
#include "records/tstopology.h"
#include "rendering/tsnagios.h"
#include "tslog.h"

namespace {

constexpr int kSchemaVersion = 2;
constexpr size_t kMaxMessages = 8;
constexpr size_t kMessageSize = 320;
// The diagnostics of a verbose run; what does not fit is counted.
constexpr size_t kLogSize = 64 * 1024;

struct Collected {
    bool active = false;
    bool discovering = false;
    TsJsonView view = TS_JSON_NONE;
    char name[256] = {};
    char command[256] = {};
    // Whole, however long: a message says what the table form prints.
    std::string messages[kMaxMessages];
    size_t messageCount = 0;
    char log[kLogSize] = {};
    size_t logLength = 0;
    size_t logDropped = 0;
    TsJsonCheck check = {false, {"", ""}, {}};
};

Collected g_collected;

void CollectLog(const char* text) {
    const size_t length = strlen(text);
    if (g_collected.logLength + length >= kLogSize) {
        ++g_collected.logDropped;
        return;
    }
    (void)memcpy(g_collected.log + g_collected.logLength, text, length);
    g_collected.logLength += length;
    // The message's own line end ends its string; a newline a device's text
    // brought inside it stays in the string (escaped), not a line of its own.
    if (length > 0 && text[length - 1] == '\n') {
        g_collected.log[g_collected.logLength - 1] = '\0';
    }
}

// A cell's text: null where the table shows "--" (nothing known), else the
// text as the cell holds it, an empty one and "--/--" included, so that the
// table can be read back from the document.
void KeyCell(JsonWriter& json, const char* key, const char* text) {
    if (strcmp(text, "--") == 0) {
        json.KeyNull(key);
    } else {
        json.KeyString(key, text);
    }
}

// A state in the machine forms' words, and the table's cell beside it.
void KeyState(JsonWriter& json, TsState state, const char* cell) {
    json.KeyString("status", tsstate_Name(state));
    KeyCell(json, "status_text", cell);
}

// A device's state: "unknown" for a node the run's deadline left without
// its answers (never "failed": the deadline is ours, not the host's).
void KeyStatus(JsonWriter& json, const DevInfo& dev) {
    KeyState(json, tsstate_OfDevice(dev), dev.acStatus.data());
}

// A number member from a decimal text, null when the text is not one.
void KeyDecimal(JsonWriter& json, const char* key, const char* text) {
    char* end = nullptr;
    const bool digits = text[0] >= '0' && text[0] <= '9';
    const unsigned long long value = digits ? strtoull(text, &end, 10) : 0;
    if (!digits || *end != '\0') {
        json.KeyNull(key);
        return;
    }
    json.KeyUnsigned(key, value);
}

void KeyNumberOrNull(JsonWriter& json, const char* key, bool valid, int value) {
    if (valid) {
        json.KeyInt(key, value);
    } else {
        json.KeyNull(key);
    }
}

// The cells every path and physical path shows about its array port.
void PutPortCells(JsonWriter& json, const char* ctrl, const char* arrayName, const char* arraySn,
                  const char* portType, const char* portId, const char* hostWwn,
                  const char* targetWwn) {
    KeyCell(json, "controller", ctrl);
    KeyCell(json, "array_name", arrayName);
    KeyCell(json, "array_sn", arraySn);
    KeyCell(json, "port_type", portType);
    KeyCell(json, "port_id", portId);
    KeyCell(json, "initiator_port", hostWwn);
    KeyCell(json, "target_port", targetWwn);
}

// The exact size behind a Capacity cell, from the cell's own source: the
// kernel's size of the device (/sys/block/NAME/size), else the record's
// READ CAPACITY answer when the cell is its text, else for a path showing
// the listing's size its vlun's map; null when the cell is "--" or none of
// them gives the size.
bool CapacityBytes(const DevInfo& dev, const VlunInfo* vlun, uint64_t* bytes) {
    if (!tstopo_TextHasValue(dev.acCapacity.data())) {
        return false;
    }
    if (tstopo_GetBlockBytes(dev.acDevName.data(), bytes) == 0) {
        return true;
    }
    TsText<16> answered = {};
    FormatCapacityText(dev.ullCapacityBytes, &answered);
    if (dev.ullCapacityBytes != 0 && strcmp(answered.data(), dev.acCapacity.data()) == 0) {
        *bytes = dev.ullCapacityBytes;
        return true;
    }
    return vlun != nullptr && tstopo_GetBlockBytes(vlun->stDev.acDevName.data(), bytes) == 0;
}

void KeyCapacityBytes(JsonWriter& json, const DevInfo& dev, const VlunInfo* vlun) {
    uint64_t bytes = 0;
    if (CapacityBytes(dev, vlun, &bytes)) {
        json.KeyUnsigned("capacity_bytes", bytes);
    } else {
        json.KeyNull("capacity_bytes");
    }
}

// What a record says of its LUN on its own (a path's queried values).
void PutIdentity(JsonWriter& json, const DevInfo& dev, const VlunInfo* vlun) {
    KeyCell(json, "lun_name", dev.acLunName.data());
    KeyCell(json, "lun_wwn", dev.acLunWwn.data());
    KeyCell(json, "vendor_product", dev.acVidPid.data());
    KeyCell(json, "ctrl_own_work", tsrows_OwnWorkShown(dev));
    KeyCell(json, "dev_lun_id", dev.acDevLunId.data());
    KeyDecimal(json, "dev_lun_id_number", dev.acDevLunId.data());
    KeyCell(json, "capacity", dev.acCapacity.data());
    KeyCapacityBytes(json, dev, vlun);
}

void PutPath(JsonWriter& json, const VlunInfo& vlun, const PathInfo& path) {
    const DevInfo& dev = path.stDev;
    const bool hctl = path.iHctlValid == 1;
    json.BeginObject();
    KeyCell(json, "hctl", path.acHctl.data());
    KeyNumberOrNull(json, "host", hctl, path.iHost);
    KeyNumberOrNull(json, "channel", hctl, path.iChannel);
    KeyNumberOrNull(json, "target", hctl, path.iTarget);
    KeyNumberOrNull(json, "lun", hctl, path.iLun);
    KeyCell(json, "vlun", vlun.stDev.acDevPath.data());
    KeyCell(json, "path", dev.acDevPath.data());
    KeyStatus(json, dev);
    PutPortCells(json, dev.acCtrl.data(), dev.acArrayName.data(), dev.acArraySn.data(),
                 dev.acPortType.data(), dev.acPortId.data(), dev.acHostWwn.data(),
                 dev.acTargetWwn.data());
    PutIdentity(json, dev, &vlun);
    json.EndObject();
}

void PutPaths(JsonWriter& json, const VlunInfo& vlun) {
    json.Key("paths");
    json.BeginArray();
    for (ListHead* link = vlun.stPathList.next; link != &vlun.stPathList; link = link->next) {
        PutPath(json, vlun, *list_entry(link, PathInfo, stList));
    }
    json.EndArray();
}

// One row of the vlun table: the merged values of the paths to one array.
void PutVlunRow(JsonWriter& json, const VlunInfo& vlun, const DevInfo& row, const char* vidPid,
                const char* ownWork) {
    json.BeginObject();
    KeyState(json, tsstate_OfRow(vlun, row.acStatus.data()), row.acStatus.data());
    KeyCell(json, "lun_name", row.acLunName.data());
    KeyCell(json, "vendor_product", vidPid);
    KeyCell(json, "ctrl_own_work", ownWork);
    KeyCell(json, "array_name", row.acArrayName.data());
    KeyCell(json, "array_sn", row.acArraySn.data());
    KeyCell(json, "dev_lun_id", row.acDevLunId.data());
    KeyDecimal(json, "dev_lun_id_number", row.acDevLunId.data());
    json.EndObject();
}

void PutVlun(JsonWriter& json, const VlunInfo& vlun) {
    json.BeginObject();
    KeyCell(json, "vlun", vlun.stDev.acDevPath.data());
    KeyCell(json, "dm_name", vlun.stDev.acDevName.data());
    KeyCell(json, "alias", vlun.acAlias.data());
    KeyCell(json, "wwn", vlun.acDmWwn.data());
    if (tstopo_TextHasValue(vlun.acDmWwn.data())) {
        json.KeyString("wwid", (std::string("3") + vlun.acDmWwn.data()).c_str());
    } else {
        json.KeyNull("wwid");
    }
    json.KeyString("status", tsstate_Name(tsstate_OfVlun(vlun)));
    KeyCell(json, "capacity", vlun.acDmSize.data());
    uint64_t bytes = 0;
    if (tstopo_GetBlockBytes(vlun.stDev.acDevName.data(), &bytes) == 0) {
        json.KeyUnsigned("capacity_bytes", bytes);
    } else {
        json.KeyNull("capacity_bytes");
    }
    json.KeyBool("dual_array", vlun.stDev.iDualArray != 0);
    json.Key("rows");
    json.BeginArray();
    if (list_empty(&vlun.stPathList)) {
        PutVlunRow(json, vlun, vlun.stDev, vlun.acDmVidPid.data(), tsrows_OwnWorkShown(vlun.stDev));
    } else {
        DevInfo rows[2];
        const int count = tsrows_MergeVlunRows(vlun, rows);
        for (int i = 0; i < count; ++i) {
            PutVlunRow(json, vlun, rows[i], rows[i].acVidPid.data(), rows[i].acOwnWork.data());
        }
    }
    json.EndArray();
    PutPaths(json, vlun);
    json.EndObject();
}

void PutVluns(JsonWriter& json, const VlunInfo* only) {
    json.Key("vluns");
    json.BeginArray();
    for (ListHead* link = g_tsvlunlist.next; link != &g_tsvlunlist; link = link->next) {
        const VlunInfo* vlun = list_entry(link, VlunInfo, stList);
        if (only == nullptr || vlun == only) {
            PutVlun(json, *vlun);
        }
    }
    json.EndArray();
}

// Calls visit with every path of every vlun, in list order.
template <typename Visit>
void VisitPaths(Visit visit) {
    for (ListHead* v = g_tsvlunlist.next; v != &g_tsvlunlist; v = v->next) {
        const VlunInfo& vlun = *list_entry(v, VlunInfo, stList);
        for (ListHead* p = vlun.stPathList.next; p != &vlun.stPathList; p = p->next) {
            visit(vlun, *list_entry(p, PathInfo, stList));
        }
    }
}

void PutAllPaths(JsonWriter& json) {
    json.Key("paths");
    json.BeginArray();
    VisitPaths([&json](const VlunInfo& vlun, const PathInfo& path) { PutPath(json, vlun, path); });
    json.EndArray();
}

// The paths that discovery merged into a physical path.
void PutPathsOver(JsonWriter& json, const PhypathInfo* phypath) {
    json.Key("paths");
    json.BeginArray();
    VisitPaths([&json, phypath](const VlunInfo& vlun, const PathInfo& path) {
        if (path.pstPhypath != phypath) {
            return;
        }
        json.BeginObject();
        KeyCell(json, "path", path.stDev.acDevPath.data());
        KeyCell(json, "hctl", path.acHctl.data());
        KeyCell(json, "vlun", vlun.stDev.acDevPath.data());
        KeyStatus(json, path.stDev);
        json.EndObject();
    });
    json.EndArray();
}

void PutPhypaths(JsonWriter& json) {
    json.Key("phypaths");
    json.BeginArray();
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        const PhypathInfo& phypath = *list_entry(link, PhypathInfo, stNode);
        const bool hct = phypath.iHctValid == 1;
        json.BeginObject();
        KeyCell(json, "hct", phypath.acAlias.data());
        KeyNumberOrNull(json, "host", hct, phypath.iHost);
        KeyNumberOrNull(json, "channel", hct, phypath.iChannel);
        KeyNumberOrNull(json, "target", hct, phypath.iTarget);
        KeyState(json, tsstate_OfPhypath(&phypath), phypath.acStatus.data());
        PutPortCells(json, phypath.acCtrl.data(), phypath.acArrayName.data(),
                     phypath.acArraySn.data(), phypath.acPortType.data(), phypath.acPortId.data(),
                     phypath.acHostWwn.data(), phypath.acTargetWwn.data());
        PutPathsOver(json, &phypath);
        json.EndObject();
    }
    json.EndArray();
}

void PutDevices(JsonWriter& json) {
    json.Key("devices");
    json.BeginArray();
    for (ListHead* link = g_tsdevicelist.next; link != &g_tsdevicelist; link = link->next) {
        const DevInfo& dev = *list_entry(link, DevInfo, stNode);
        json.BeginObject();
        KeyCell(json, "device", dev.acDevPath.data());
        KeyCell(json, "lun_name", dev.acLunName.data());
        KeyCell(json, "wwn", dev.acLunWwn.data());
        KeyStatus(json, dev);
        KeyCell(json, "capacity", dev.acCapacity.data());
        KeyCapacityBytes(json, dev, nullptr);
        KeyCell(json, "vendor_product", dev.acVidPid.data());
        KeyCell(json, "ctrl_own_work", tsrows_OwnWorkShown(dev));
        KeyCell(json, "array_name", dev.acArrayName.data());
        KeyCell(json, "array_sn", dev.acArraySn.data());
        KeyCell(json, "dev_lun_id", dev.acDevLunId.data());
        KeyDecimal(json, "dev_lun_id_number", dev.acDevLunId.data());
        json.EndObject();
    }
    json.EndArray();
}

// A device's kernel name as the document names every device: its node.
void KeyNode(JsonWriter& json, const char* key, const char* name) {
    if (strcmp(name, "--") == 0 || name[0] == '\0') {
        json.KeyNull(key);
        return;
    }
    const std::string node = std::string("/dev/") + name;
    json.KeyString(key, node.c_str());
}

void PutAlarmSubject(JsonWriter& json, const AlarmInfo& alarm) {
    json.Key("subject");
    json.BeginObject();
    const unsigned int type = static_cast<unsigned int>(alarm.iType);
    if (type >= TS_ALARM_PHYPATH_ABNORMAL && type <= TS_ALARM_PHYPATH_ONE_CTRL) {
        const AlarmPhypathSubject& s = alarm.unSubject.stPhypath;
        json.KeyString("kind", "phypath");
        KeyCell(json, "controller", s.acCtrl.data());
        KeyCell(json, "initiator_port", s.acHostWwn.data());
        KeyCell(json, "target_port", s.acTargetWwn.data());
        KeyCell(json, "array_name", s.acArrayName.data());
        KeyCell(json, "array_sn", s.acArraySn.data());
    } else if (type >= TS_ALARM_VLUN_ALL_PATHS_DOWN && type <= TS_ALARM_VLUN_WWN_CHANGED) {
        const AlarmVlunSubject& s = alarm.unSubject.stVlun;
        json.KeyString("kind", "vlun");
        KeyNode(json, "vlun", s.acAlias.data());
        KeyCell(json, "wwn", s.acWwn.data());
        if (type == TS_ALARM_VLUN_WWN_CHANGED) {
            KeyCell(json, "new_wwn", s.acNewWwn.data());
        }
        KeyCell(json, "array_sn", s.acArraySn.data());
        KeyCell(json, "controller", s.acCtrl.data());
    } else if (type == TS_ALARM_PATH_ABNORMAL) {
        const AlarmPathSubject& s = alarm.unSubject.stPath;
        json.KeyString("kind", "path");
        KeyNode(json, "path", s.acAlias.data());
        KeyNode(json, "vlun", s.acVlunAlias.data());
        KeyCell(json, "vlun_wwn", s.acVlunWwn.data());
        KeyCell(json, "controller", s.acCtrl.data());
        KeyCell(json, "initiator_port", s.acHostWwn.data());
        KeyCell(json, "target_port", s.acTargetWwn.data());
    } else {
        json.KeyString("kind", "host");
    }
    json.EndObject();
}

void PutAlarms(JsonWriter& json) {
    json.Key("alarms");
    json.BeginArray();
    for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
        const AlarmInfo& alarm = *list_entry(link, AlarmInfo, stNode);
        json.BeginObject();
        json.KeyInt("type", alarm.iType);
        json.KeyString("level", alarm.acLevel.data());
        json.KeyString("severity", tsnagios_AlarmSeverity(alarm.iType));
        json.KeyString("description", alarm.acDescription.data());
        PutAlarmSubject(json, alarm);
        json.EndObject();
    }
    json.EndArray();
}

// The messages the table form prints when a list is empty.
void AddEmptyMessages() {
    const char* name = g_collected.name[0] != '\0' ? g_collected.name : nullptr;
    char text[kMessageSize];
    const auto noDevice = [&]() {
        (void)snprintf(text, sizeof text, "There is no device[%s].", name);
        tsjson_AddMessage(text);
    };
    switch (g_collected.view) {
        case TS_JSON_VLUNS:
            if (list_empty(&g_tsvlunlist)) {
                tsjson_AddMessage("There is no vlun.");
            }
            break;
        case TS_JSON_VLUN_PATHS: {
            const VlunInfo* vlun = tstopo_GetVlunByDevname(name);
            if (vlun == nullptr) {
                noDevice();
            } else if (list_empty(&vlun->stPathList)) {
                (void)snprintf(text, sizeof text, "There is no path in device[%s].", name);
                tsjson_AddMessage(text);
            }
            break;
        }
        case TS_JSON_PATHS:
            if (!tsrows_AnyVlunHasPath()) {
                name != nullptr ? noDevice() : tsjson_AddMessage("There is no path.");
            }
            break;
        case TS_JSON_PHYPATHS:
            if (list_empty(&g_tsphypathlist)) {
                tsjson_AddMessage("There is no phypath.");
            }
            break;
        case TS_JSON_DEVICES:
            if (list_empty(&g_tsdevicelist)) {
                name != nullptr ? noDevice() : tsjson_AddMessage("There is no device.");
            }
            break;
        case TS_JSON_ALARMS:
            if (list_empty(&g_tsalarmlist)) {
                tsjson_AddMessage("There is no alarm.");
            }
            break;
        case TS_JSON_REDUNDANCY:
        case TS_JSON_FAILOVER:
        case TS_JSON_NONE:
            break;
    }
}

void PutNames(JsonWriter& json, const char* key, const std::vector<std::string>& names) {
    json.Key(key);
    json.BeginArray();
    for (const std::string& name : names) {
        json.String(name.c_str());
    }
    json.EndArray();
}

void PutComponent(JsonWriter& json, const TsJsonComponent& component) {
    json.BeginObject();
    json.KeyString("kind", component.kind);
    json.KeyString("name", component.name.c_str());
    json.EndObject();
}

// check redundancy and check failover: what the check handed over.
void PutCheck(JsonWriter& json, const TsJsonCheck& check) {
    if (check.failover) {
        json.Key("component");
        PutComponent(json, check.component);
    }
    json.Key(check.failover ? "failover" : "redundancy");
    json.BeginArray();
    for (const TsJsonCheckVlun& v : check.vluns) {
        json.BeginObject();
        json.KeyString("name", v.name.c_str());
        json.KeyString("path", v.path.c_str());
        if (v.wwn.empty()) {
            json.KeyNull("wwn");
        } else {
            json.KeyString("wwn", v.wwn.c_str());
        }
        json.KeyUnsigned("active_paths", v.activePaths);
        if (check.failover) {
            json.KeyBool("loses_all_paths", v.remaining.empty());
            json.Key("remaining_paths");
            json.BeginArray();
            for (const TsJsonRemainingPath& path : v.remaining) {
                json.BeginObject();
                json.KeyString("path", path.path.c_str());
                json.KeyString("hctl", path.hctl.c_str());
                json.EndObject();
            }
            json.EndArray();
        } else {
            PutNames(json, "hbas", v.hbas);
            PutNames(json, "fabrics", v.fabrics);
            PutNames(json, "target_ports", v.targetPorts);
            PutNames(json, "controllers", v.controllers);
            json.Key("single_points");
            json.BeginArray();
            for (const TsJsonComponent& point : v.singlePoints) {
                PutComponent(json, point);
            }
            json.EndArray();
        }
        json.EndObject();
    }
    json.EndArray();
}

// The view's name in the document; null for none.
const char* ViewName(TsJsonView view) {
    static const char* const kNames[] = {nullptr,   "vluns",  "vlun_paths", "paths",   "phypaths",
                                         "devices", "alarms", "redundancy", "failover"};
    return kNames[view];
}

void PutView(JsonWriter& json) {
    const char* name = ViewName(g_collected.view);
    if (name == nullptr) {
        json.KeyNull("view");
    } else {
        json.KeyString("view", name);
    }
    switch (g_collected.view) {
        case TS_JSON_VLUNS:
            PutVluns(json, nullptr);
            break;
        case TS_JSON_VLUN_PATHS: {
            const VlunInfo* vlun = tstopo_GetVlunByDevname(g_collected.name);
            json.Key("vluns");
            json.BeginArray();
            if (vlun != nullptr) {
                PutVlun(json, *vlun);
            }
            json.EndArray();
            break;
        }
        case TS_JSON_PATHS:
            PutAllPaths(json);
            break;
        case TS_JSON_PHYPATHS:
            PutPhypaths(json);
            break;
        case TS_JSON_DEVICES:
            PutDevices(json);
            break;
        case TS_JSON_ALARMS:
            PutAlarms(json);
            break;
        case TS_JSON_REDUNDANCY:
        case TS_JSON_FAILOVER:
            PutCheck(json, g_collected.check);
            break;
        case TS_JSON_NONE:
            break;
    }
}

void PutStrings(JsonWriter& json, const char* key, const char* const* texts, size_t count) {
    json.Key(key);
    json.BeginArray();
    for (size_t i = 0; i < count; ++i) {
        json.String(texts[i]);
    }
    json.EndArray();
}

// The collected diagnostics, a string a message (without its line end).
void PutLog(JsonWriter& json) {
    json.Key("log");
    json.BeginArray();
    char* line = g_collected.log;
    char* end = g_collected.log + g_collected.logLength;
    while (line < end) {
        char* ending = static_cast<char*>(memchr(line, '\0', static_cast<size_t>(end - line)));
        char* stop = ending != nullptr ? ending : end;
        const char saved = *stop;
        *stop = '\0';
        json.String(line);
        *stop = saved;
        line = stop + 1;
    }
    json.EndArray();
    json.KeyUnsigned("log_dropped", g_collected.logDropped);
}

}  // namespace

void tsjson_Start(int argc, const char* const* argv) {
    g_collected.active = true;
    size_t used = 0;
    for (int i = 0; i < argc; ++i) {
        const int n = snprintf(g_collected.command + used, sizeof g_collected.command - used,
                               "%s%s", i > 0 ? " " : "", argv[i]);
        if (n < 0 || static_cast<size_t>(n) >= sizeof g_collected.command - used) {
            break;
        }
        used += static_cast<size_t>(n);
    }
    tsprint_SetLogSink(CollectLog);
}

void tsjson_Discovering() {
    g_collected.discovering = true;
}

bool tsjson_Active() {
    return g_collected.active;
}

void tsjson_SetView(TsJsonView view, const char* name) {
    g_collected.view = view;
    (void)snprintf(g_collected.name, sizeof g_collected.name, "%s", name != nullptr ? name : "");
}

void tsjson_AddMessage(const char* text) {
    if (g_collected.messageCount < kMaxMessages) {
        g_collected.messages[g_collected.messageCount++] = text;
    }
}

void tsjson_SetCheck(const TsJsonCheck& check) {
    g_collected.check = check;
}

int tsjson_Finish(int status) {
    const bool cut = query_Outcome() != QUERY_COMPLETE;
    if (!g_collected.active || (!g_collected.discovering && g_collected.view == TS_JSON_NONE &&
                                g_collected.messageCount == 0 && !cut)) {
        return status;
    }
    AddEmptyMessages();
    JsonWriter json(stdout);
    json.BeginObject();
    json.KeyInt("schema_version", kSchemaVersion);
    json.KeyString("program", "tsexTool");
    json.KeyString("command", g_collected.command);
    json.KeyInt("exit_status", status);
    PutView(json);
    const char* messages[kMaxMessages];
    for (size_t i = 0; i < g_collected.messageCount; ++i) {
        messages[i] = g_collected.messages[i].c_str();
    }
    PutStrings(json, "messages", messages, g_collected.messageCount);
    PutLog(json);
    PutDeadlineMember(json);
    json.EndObject();
    return json.Finish() ? status : 1;
}
