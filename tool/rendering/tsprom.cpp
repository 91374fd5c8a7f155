// The Prometheus text exposition of check status. Every family has its
// HELP and TYPE lines; a series whose value cannot be known is left out
// rather than written as 0. Label values use the tables' texts, with "--"
// (nothing known) as the empty value.
#include "rendering/tsprom.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "../../common/atomic_file.h"
#include "../../common/query_process.h"
#include "../../common/terminal_text.h"
#include "checks/tsalarm.h"
#include "discovery/tstopology_devices.h"
#include "records/tsrows.h"
#include "records/tsstate.h"
#include "records/tstopology.h"
#include "rendering/tsnagios.h"

namespace {

// A textfile is read by the exporter's user, not only by root.
constexpr mode_t kTextfileMode = 0644;

// One series per label set: a listing that names a path twice, or an
// analysis that raises one alarm twice, still gives one line.
class Exposition {
  public:
    explicit Exposition(FILE* out) : out_(out) {}

    void Family(const char* name, const char* help) {
        (void)fprintf(out_, "# HELP %s %s\n# TYPE %s gauge\n", name, help, name);
    }

    // labels: ",name=\"value\"" each, as Label builds them.
    void Series(const char* name, const std::string& labels, unsigned long long value) {
        std::string line = name;
        if (!labels.empty()) {
            line += "{" + labels.substr(1) + "}";
        }
        if (!seen_.insert(line).second) {
            return;
        }
        (void)fprintf(out_, "%s %llu\n", line.c_str(), value);
    }

  private:
    FILE* out_;
    std::set<std::string> seen_;
};

// A label; "--" and the missing pair "--/--" (nothing known) are empty.
void Label(std::string& labels, const char* name, const char* value) {
    if (strcmp(value, "--/--") == 0) {
        value = "--";
    }
    labels += ",";
    labels += name;
    labels += "=\"";
    tsprom_AppendLabelValue(labels, value);
    labels += "\"";
}

// A vlun's identity: its dm name and the listing's WWID (the digit 3 and
// the 32 of the WWN column), neither of which a path's health changes.
std::string VlunIdentity(const VlunInfo& vlun) {
    std::string labels;
    Label(labels, "device", vlun.stDev.acDevName.data());
    const bool known = tstopo_TextHasValue(vlun.acDmWwn.data());
    Label(labels, "wwid", known ? (std::string("3") + vlun.acDmWwn.data()).c_str() : "--");
    return labels;
}

// A path's identity: its kernel name and H:C:T:L, both from the listing.
std::string PathIdentity(const PathInfo& path) {
    std::string labels;
    Label(labels, "device", path.stDev.acDevName.data());
    Label(labels, "hctl", path.acHctl.data());
    return labels;
}

std::string PhypathIdentity(const PhypathInfo& phypath) {
    std::string labels;
    Label(labels, "hct", phypath.acAlias.data());
    return labels;
}

void PortLabels(std::string& labels, const char* ctrl, const char* arrayName, const char* arraySn,
                const char* portType, const char* portId, const char* hostWwn,
                const char* targetWwn) {
    Label(labels, "controller", ctrl);
    Label(labels, "array_name", arrayName);
    Label(labels, "array_sn", arraySn);
    Label(labels, "port_type", portType);
    Label(labels, "port_id", portId);
    Label(labels, "initiator_port", hostWwn);
    Label(labels, "target_port", targetWwn);
}

// A state set: 1 on the current state, 0 on the others.
void PutStateSet(Exposition& out, const char* name, const std::string& identity, TsState state) {
    for (int s = 0; s < kTsStateCount; ++s) {
        std::string labels = identity;
        Label(labels, "state", tsstate_Name(static_cast<TsState>(s)));
        out.Series(name, labels, s == state ? 1 : 0);
    }
}

// An up gauge: 1 active, 0 failed, left out while unknown (not 0).
void PutUp(Exposition& out, const char* name, const std::string& identity, TsState state) {
    if (state != TS_STATE_UNKNOWN) {
        out.Series(name, identity, state == TS_STATE_ACTIVE ? 1 : 0);
    }
}

template <typename Visit>
void ForEachVlun(Visit visit) {
    for (ListHead* v = g_tsvlunlist.next; v != &g_tsvlunlist; v = v->next) {
        visit(*list_entry(v, VlunInfo, stList));
    }
}

template <typename Visit>
void ForEachPath(Visit visit) {
    ForEachVlun([&visit](const VlunInfo& vlun) {
        for (ListHead* p = vlun.stPathList.next; p != &vlun.stPathList; p = p->next) {
            visit(vlun, *list_entry(p, PathInfo, stList));
        }
    });
}

template <typename Visit>
void ForEachPhypath(Visit visit) {
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        visit(*list_entry(link, PhypathInfo, stNode));
    }
}

void PutVlunInfo(Exposition& out) {
    out.Family("tsextool_vlun_info",
               "A vlun's descriptive labels, always 1: its multipath alias and what its "
               "paths report of the LUN (the vlun table's first row).");
    ForEachVlun([&out](const VlunInfo& vlun) {
        DevInfo rows[2];
        const bool paths = !list_empty(&vlun.stPathList);
        const DevInfo& row = paths && tsrows_MergeVlunRows(vlun, rows) > 0 ? rows[0] : vlun.stDev;
        std::string labels = VlunIdentity(vlun);
        Label(labels, "alias", vlun.acAlias.data());
        Label(labels, "lun_name", row.acLunName.data());
        Label(labels, "vendor_product", paths ? row.acVidPid.data() : vlun.acDmVidPid.data());
        Label(labels, "array_name", row.acArrayName.data());
        Label(labels, "array_sn", row.acArraySn.data());
        out.Series("tsextool_vlun_info", labels, 1);
    });
}

void PutVlunState(Exposition& out) {
    out.Family("tsextool_vlun_state",
               "A vlun's state as a state set: active when one of its paths is, failed "
               "when all of them are failed, unknown otherwise.");
    ForEachVlun([&out](const VlunInfo& vlun) {
        PutStateSet(out, "tsextool_vlun_state", VlunIdentity(vlun), tsstate_OfVlun(vlun));
    });
}

void PutVlunPaths(Exposition& out) {
    out.Family("tsextool_vlun_paths",
               "Paths of a vlun by state: active, failed (node missing or unreadable, no "
               "answer to TEST UNIT READY, a command timed out) or unknown (not asked "
               "before the run's deadline).");
    ForEachVlun([&out](const VlunInfo& vlun) {
        unsigned int counts[kTsStateCount] = {};
        for (ListHead* p = vlun.stPathList.next; p != &vlun.stPathList; p = p->next) {
            ++counts[tsstate_OfDevice(list_entry(p, PathInfo, stList)->stDev)];
        }
        for (int s = 0; s < kTsStateCount; ++s) {
            std::string labels = VlunIdentity(vlun);
            Label(labels, "state", tsstate_Name(static_cast<TsState>(s)));
            out.Series("tsextool_vlun_paths", labels, counts[s]);
        }
    });
}

void PutVlunCapacity(Exposition& out) {
    out.Family("tsextool_vlun_capacity_bytes",
               "Size of a vlun's multipath device in bytes, from /sys/block/dm-N/size.");
    ForEachVlun([&out](const VlunInfo& vlun) {
        uint64_t bytes = 0;
        if (tstopo_GetBlockBytes(vlun.stDev.acDevName.data(), &bytes) == 0) {
            out.Series("tsextool_vlun_capacity_bytes", VlunIdentity(vlun), bytes);
        }
    });
}

void PutPathInfo(Exposition& out) {
    out.Family("tsextool_path_info",
               "A path's descriptive labels, always 1: its vlun and what the path reports "
               "of its array port and LUN (empty while it does not answer).");
    ForEachPath([&out](const VlunInfo& vlun, const PathInfo& path) {
        const DevInfo& dev = path.stDev;
        std::string labels = PathIdentity(path);
        Label(labels, "vlun", vlun.stDev.acDevName.data());
        PortLabels(labels, dev.acCtrl.data(), dev.acArrayName.data(), dev.acArraySn.data(),
                   dev.acPortType.data(), dev.acPortId.data(), dev.acHostWwn.data(),
                   dev.acTargetWwn.data());
        Label(labels, "lun_name", dev.acLunName.data());
        Label(labels, "vendor_product", dev.acVidPid.data());
        out.Series("tsextool_path_info", labels, 1);
    });
}

void PutPathState(Exposition& out) {
    out.Family("tsextool_path_state",
               "A path's state as a state set: active, failed or unknown (not asked "
               "before the run's deadline).");
    ForEachPath([&out](const VlunInfo&, const PathInfo& path) {
        PutStateSet(out, "tsextool_path_state", PathIdentity(path), tsstate_OfDevice(path.stDev));
    });
}

void PutPathUp(Exposition& out) {
    out.Family("tsextool_path_up",
               "1 when the path is active, 0 when it failed; left out while unknown.");
    ForEachPath([&out](const VlunInfo&, const PathInfo& path) {
        PutUp(out, "tsextool_path_up", PathIdentity(path), tsstate_OfDevice(path.stDev));
    });
}

void PutPhypaths(Exposition& out) {
    out.Family("tsextool_phypath_info",
               "A physical path's descriptive labels, always 1: its array port and the "
               "initiator port it leaves from.");
    ForEachPhypath([&out](const PhypathInfo& phypath) {
        std::string labels = PhypathIdentity(phypath);
        PortLabels(labels, phypath.acCtrl.data(), phypath.acArrayName.data(),
                   phypath.acArraySn.data(), phypath.acPortType.data(), phypath.acPortId.data(),
                   phypath.acHostWwn.data(), phypath.acTargetWwn.data());
        out.Series("tsextool_phypath_info", labels, 1);
    });
    out.Family("tsextool_phypath_state",
               "A physical path's state as a state set: active when one of its paths is, "
               "failed when all of them are failed, unknown otherwise.");
    ForEachPhypath([&out](const PhypathInfo& phypath) {
        PutStateSet(out, "tsextool_phypath_state", PhypathIdentity(phypath),
                    tsstate_OfPhypath(&phypath));
    });
    out.Family("tsextool_phypath_up",
               "1 when the physical path is active, 0 when it failed; left out while unknown.");
    ForEachPhypath([&out](const PhypathInfo& phypath) {
        PutUp(out, "tsextool_phypath_up", PhypathIdentity(phypath), tsstate_OfPhypath(&phypath));
    });
}

// The alarm types' names, from 10 on.
constexpr const char* kAlarmNames[] = {
    "multipath_unavailable",  "phypath_abnormal",    "phypath_no_redundancy",
    "phypath_one_controller", "vlun_all_paths_down", "vlun_no_redundancy",
    "vlun_one_controller",    "vlun_wwn_changed",    "path_abnormal",
};

std::string AlarmTypeLabels(unsigned int type) {
    std::string labels;
    Label(labels, "type", std::to_string(type).c_str());
    Label(labels, "name", kAlarmNames[type - TS_ALARM_MULTIPATH_INVALID]);
    Label(labels, "severity", tsnagios_AlarmSeverity(static_cast<int>(type)));
    return labels;
}

// What an alarm is about: the kernel name of its vlun or path, the port
// pair of its physical path (initiator,target), nothing for the host.
std::string AlarmSubject(const AlarmInfo& alarm) {
    const unsigned int type = static_cast<unsigned int>(alarm.iType);
    std::string labels;
    if (type >= TS_ALARM_PHYPATH_ABNORMAL && type <= TS_ALARM_PHYPATH_ONE_CTRL) {
        const AlarmPhypathSubject& s = alarm.unSubject.stPhypath;
        Label(labels, "kind", "phypath");
        Label(labels, "subject",
              (std::string(s.acHostWwn.data()) + "," + s.acTargetWwn.data()).c_str());
        Label(labels, "array_sn", s.acArraySn.data());
    } else if (type >= TS_ALARM_VLUN_ALL_PATHS_DOWN && type <= TS_ALARM_VLUN_WWN_CHANGED) {
        Label(labels, "kind", "vlun");
        Label(labels, "subject", alarm.unSubject.stVlun.acAlias.data());
        Label(labels, "array_sn", alarm.unSubject.stVlun.acArraySn.data());
    } else if (type == TS_ALARM_PATH_ABNORMAL) {
        Label(labels, "kind", "path");
        Label(labels, "subject", alarm.unSubject.stPath.acAlias.data());
        Label(labels, "array_sn", "--");
    } else {
        Label(labels, "kind", "host");
        Label(labels, "subject", "--");
        Label(labels, "array_sn", "--");
    }
    return labels;
}

void PutAlarms(Exposition& out) {
    out.Family("tsextool_alarms",
               "Alarms of check status by type, with the type's name and the severity "
               "--nagios rates it with.");
    for (unsigned int type = TS_ALARM_MULTIPATH_INVALID; type <= TS_ALARM_PATH_ABNORMAL; ++type) {
        unsigned int count = 0;
        for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
            count += static_cast<unsigned int>(list_entry(link, AlarmInfo, stNode)->iType) == type
                         ? 1
                         : 0;
        }
        out.Series("tsextool_alarms", AlarmTypeLabels(type), count);
    }
    out.Family("tsextool_alarm", "One alarm of check status, always 1, with what it is about.");
    for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
        const AlarmInfo& alarm = *list_entry(link, AlarmInfo, stNode);
        const unsigned int type = static_cast<unsigned int>(alarm.iType);
        out.Series("tsextool_alarm", AlarmTypeLabels(type) + AlarmSubject(alarm), 1);
    }
}

}  // namespace

void tsprom_AppendLabelValue(std::string& labels, const char* text) {
    if (strcmp(text, "--") == 0) {
        return;
    }
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\\' || *c == '"') {
            labels += '\\';
        }
        labels += TerminalPrintable(static_cast<unsigned char>(*c)) ? *c : '?';
    }
}

void tsprom_PutLabelValue(FILE* out, const char* text) {
    std::string value;
    tsprom_AppendLabelValue(value, text);
    (void)fputs(value.c_str(), out);
}

void tsprom_Write(FILE* out, const TsMonitorScan& scan) {
    Exposition exposition(out);
    const bool cut = query_Outcome() != QUERY_COMPLETE;
    exposition.Family("tsextool_build_info",
                      "The release of tsexTool that wrote these metrics, always 1.");
    std::string release;
    Label(release, "version", TSKIT_RELEASE_VERSION);
    exposition.Series("tsextool_build_info", release, 1);
    exposition.Family("tsextool_scan_success",
                      "1 when check status discovered and analysed the host, 0 when it could "
                      "not.");
    exposition.Series("tsextool_scan_success", "", scan.result == 0 && !cut ? 1 : 0);
    exposition.Family("tsextool_scan_duration_seconds",
                      "Time that the discovery and the analysis took.");
    (void)fprintf(out, "tsextool_scan_duration_seconds %.6f\n", scan.seconds);
    if (query_Seconds() != 0) {
        exposition.Family("tsextool_deadline_reached",
                          "1 when the run's deadline (--timeout) cut the device queries: the "
                          "devices without answers count as unknown.");
        exposition.Series("tsextool_deadline_reached", "", cut ? 1 : 0);
    }
    if (scan.result != 0 || (cut && query_ListingMissing())) {
        return;
    }
    PutAlarms(exposition);
    const TsMonitorCounts counts = tsmonitor_Count();
    if (!counts.listingRead) {
        return;
    }
    exposition.Family("tsextool_vluns", "Vluns in the multipath listing.");
    exposition.Series("tsextool_vluns", "", counts.vluns);
    PutVlunInfo(exposition);
    PutVlunState(exposition);
    PutVlunPaths(exposition);
    PutVlunCapacity(exposition);
    PutPathInfo(exposition);
    PutPathState(exposition);
    PutPathUp(exposition);
    PutPhypaths(exposition);
}

// The exposition, rendered in memory first so that a textfile is written
// in one piece.
int tsprom_Finish(const TsMonitorScan& scan, const char* textfile) {
    char* text = nullptr;
    size_t length = 0;
    FILE* memory = open_memstream(&text, &length);
    if (memory == nullptr) {
        (void)fputs("Error: no memory for the metrics.\n", stdout);
        return 1;
    }
    tsprom_Write(memory, scan);
    const bool rendered = fflush(memory) == 0 && ferror(memory) == 0;
    (void)fclose(memory);
    int status = scan.result == 0 && query_Outcome() == QUERY_COMPLETE ? 0 : 1;
    if (!rendered) {
        (void)fputs("Error: no memory for the metrics.\n", stdout);
        status = 1;
    } else if (textfile == nullptr) {
        (void)fwrite(text, 1, length, stdout);
    } else {
        AtomicFile file;
        if (!file.Open(textfile) || !file.Write(text, length) || !file.Commit(kTextfileMode)) {
            (void)fprintf(stdout, "Error: cannot write the textfile %s: %s.\n",
                          TerminalSafeText(textfile).c_str(), strerror(errno));
            status = 1;
        }
    }
    free(text);
    return status;
}
