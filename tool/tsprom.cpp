// The Prometheus text exposition of check status. Every family has its
// HELP and TYPE lines; a series whose value cannot be known is left out
// rather than written as 0. Label values use the tables' texts, with "--"
// (nothing known) as the empty value.
#include "tsprom.h"

#include <cstdint>
#include <cstring>

#include "../common/query_process.h"
#include "../common/terminal_text.h"
#include "tsalarm.h"
#include "tstopology.h"
#include "tstopology_devices.h"

namespace {

// The path states a vlun's path counts are given for, always all three.
constexpr const char* kPathStates[] = {"active", "failed", "unknown"};

void PutFamily(FILE* out, const char* name, const char* type, const char* help) {
    (void)fprintf(out, "# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

// One label: ",name=\"value\"" (no comma before the first).
void PutLabel(FILE* out, const char* name, const char* value, bool first = false) {
    (void)fprintf(out, "%s%s=\"", first ? "" : ",", name);
    tsprom_PutLabelValue(out, value);
    (void)fputc('"', out);
}

// The state word of a path's status: the table's "--" (not active, for no
// reason known) is "unknown".
const char* PathState(const char* status) {
    if (strcmp(status, "active") == 0 || strcmp(status, "failed") == 0) {
        return status;
    }
    return "unknown";
}

void PutVlunLabels(FILE* out, const VlunInfo& vlun) {
    PutLabel(out, "vlun", vlun.stDev.acDevPath.data(), true);
    PutLabel(out, "wwn", vlun.acDmWwn.data());
}

void PutVlunPaths(FILE* out) {
    PutFamily(out, "tsextool_vlun_paths", "gauge",
              "Paths of a vlun by state: active, failed (its node is missing or unreadable) "
              "or unknown (shown as --: not listed active, or not ready).");
    for (ListHead* v = g_tsvlunlist.next; v != &g_tsvlunlist; v = v->next) {
        const VlunInfo& vlun = *list_entry(v, VlunInfo, stList);
        for (const char* state : kPathStates) {
            unsigned int count = 0;
            for (ListHead* p = vlun.stPathList.next; p != &vlun.stPathList; p = p->next) {
                const DevInfo& dev = list_entry(p, PathInfo, stList)->stDev;
                const char* own = query_NotChecked(dev.acDevPath.data())
                                      ? "unknown"
                                      : PathState(dev.acStatus.data());
                count += strcmp(own, state) == 0 ? 1 : 0;
            }
            (void)fputs("tsextool_vlun_paths{", out);
            PutVlunLabels(out, vlun);
            PutLabel(out, "state", state);
            (void)fprintf(out, "} %u\n", count);
        }
    }
}

void PutVlunCapacity(FILE* out) {
    PutFamily(out, "tsextool_vlun_capacity_bytes", "gauge",
              "Size of a vlun's multipath device in bytes, from /sys/block/dm-N/size.");
    for (ListHead* v = g_tsvlunlist.next; v != &g_tsvlunlist; v = v->next) {
        const VlunInfo& vlun = *list_entry(v, VlunInfo, stList);
        uint64_t bytes = 0;
        if (tstopo_GetDmBytes(vlun.stDev.acDevName.data(), &bytes) != 0) {
            continue;
        }
        (void)fputs("tsextool_vlun_capacity_bytes{", out);
        PutVlunLabels(out, vlun);
        (void)fprintf(out, "} %llu\n", static_cast<unsigned long long>(bytes));
    }
}

void PutPortLabels(FILE* out, const char* arraySn, const char* ctrl, const char* hostWwn,
                   const char* targetWwn) {
    PutLabel(out, "array_sn", arraySn);
    PutLabel(out, "controller", ctrl);
    PutLabel(out, "initiator_port", hostWwn);
    PutLabel(out, "target_port", targetWwn);
}

void PutPathUp(FILE* out) {
    PutFamily(out, "tsextool_path_up", "gauge", "1 when the path is active, else 0.");
    for (ListHead* v = g_tsvlunlist.next; v != &g_tsvlunlist; v = v->next) {
        const VlunInfo& vlun = *list_entry(v, VlunInfo, stList);
        for (ListHead* p = vlun.stPathList.next; p != &vlun.stPathList; p = p->next) {
            const PathInfo& path = *list_entry(p, PathInfo, stList);
            const DevInfo& dev = path.stDev;
            if (query_NotChecked(dev.acDevPath.data())) {
                continue;  // not known: left out, not 0
            }
            (void)fputs("tsextool_path_up{", out);
            PutLabel(out, "path", dev.acDevPath.data(), true);
            PutLabel(out, "vlun", vlun.stDev.acDevPath.data());
            PutLabel(out, "wwn", vlun.acDmWwn.data());
            PutLabel(out, "hctl", path.acHctl.data());
            PutPortLabels(out, dev.acArraySn.data(), dev.acCtrl.data(), dev.acHostWwn.data(),
                          dev.acTargetWwn.data());
            (void)fprintf(out, "} %d\n", strcmp(dev.acStatus.data(), "active") == 0 ? 1 : 0);
        }
    }
}

void PutPhypathUp(FILE* out) {
    PutFamily(out, "tsextool_phypath_up", "gauge",
              "1 when the physical path (initiator port to target port) is active, else 0.");
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        const PhypathInfo& phypath = *list_entry(link, PhypathInfo, stNode);
        (void)fputs("tsextool_phypath_up{", out);
        PutLabel(out, "hct", phypath.acAlias.data(), true);
        PutPortLabels(out, phypath.acArraySn.data(), phypath.acCtrl.data(),
                      phypath.acHostWwn.data(), phypath.acTargetWwn.data());
        (void)fprintf(out, "} %d\n", strcmp(phypath.acStatus.data(), "active") == 0 ? 1 : 0);
    }
}

void PutAlarms(FILE* out) {
    PutFamily(out, "tsextool_alarms", "gauge",
              "Alarms of check status by type (10 no multipath listing, 11 to 13 physical "
              "paths, 14 to 17 vluns, 18 paths).");
    for (unsigned int type = TS_ALARM_MULTIPATH_INVALID; type <= TS_ALARM_PATH_ABNORMAL; ++type) {
        unsigned int count = 0;
        for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
            count += static_cast<unsigned int>(list_entry(link, AlarmInfo, stNode)->iType) == type
                         ? 1
                         : 0;
        }
        (void)fprintf(out, "tsextool_alarms{type=\"%u\"} %u\n", type, count);
    }
}

}  // namespace

void tsprom_PutLabelValue(FILE* out, const char* text) {
    if (strcmp(text, "--") == 0) {
        return;
    }
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\\' || *c == '"') {
            (void)fputc('\\', out);
        }
        (void)fputc(TerminalPrintable(static_cast<unsigned char>(*c)) ? *c : '?', out);
    }
}

void tsprom_Write(FILE* out, const TsMonitorScan& scan) {
    PutFamily(out, "tsextool_scan_success", "gauge",
              "1 when check status discovered and analysed the host, 0 when it could not.");
    const bool cut = query_Outcome() != QUERY_COMPLETE;
    (void)fprintf(out, "tsextool_scan_success %d\n", scan.result == 0 && !cut ? 1 : 0);
    PutFamily(out, "tsextool_scan_duration_seconds", "gauge",
              "Time that the discovery and the analysis took.");
    (void)fprintf(out, "tsextool_scan_duration_seconds %.6f\n", scan.seconds);
    if (query_Seconds() != 0) {
        PutFamily(out, "tsextool_deadline_reached", "gauge",
                  "1 when the run's deadline (--timeout) cut the device queries: the devices "
                  "without answers count as unknown.");
        (void)fprintf(out, "tsextool_deadline_reached %d\n", cut ? 1 : 0);
    }
    if (scan.result != 0 || (cut && query_ListingMissing())) {
        return;
    }
    PutAlarms(out);
    const TsMonitorCounts counts = tsmonitor_Count();
    if (!counts.listingRead) {
        return;
    }
    PutFamily(out, "tsextool_vluns", "gauge", "Vluns in the multipath listing.");
    (void)fprintf(out, "tsextool_vluns %u\n", counts.vluns);
    PutVlunPaths(out);
    PutVlunCapacity(out);
    PutPathUp(out);
    PutPhypathUp(out);
}
