// The monitoring form of the run, its clock and the counts over the lists.
#include "rendering/tsmonitor.h"

#include <cstring>
#include <ctime>

#include "../../common/terminal_text.h"
#include "checks/tsalarm.h"
#include "records/tsstate.h"
#include "records/tstopology.h"

namespace {

struct MonitorRun {
    TsMonitorForm form = TS_MONITOR_NONE;
    timespec started = {};
    TsMonitorScan scan = {-1, 0.0};
};

MonitorRun g_run;

double SecondsSince(const timespec& start) {
    timespec now = {};
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) +
           static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

}  // namespace

void tsmonitor_Start(TsMonitorForm form) {
    g_run.form = form;
    (void)clock_gettime(CLOCK_MONOTONIC, &g_run.started);
}

bool tsmonitor_Active() {
    return g_run.form != TS_MONITOR_NONE;
}

void tsmonitor_ScanEnded(int result) {
    g_run.scan.result = result;
    g_run.scan.seconds = SecondsSince(g_run.started);
}

TsMonitorScan tsmonitor_Scan() {
    return g_run.scan;
}

TsMonitorCounts tsmonitor_Count() {
    TsMonitorCounts counts = {};
    counts.listingRead = true;
    for (ListHead* v = g_tsvlunlist.next; v != &g_tsvlunlist; v = v->next) {
        const VlunInfo* vlun = list_entry(v, VlunInfo, stList);
        ++counts.vluns;
        for (ListHead* p = vlun->stPathList.next; p != &vlun->stPathList; p = p->next) {
            ++counts.paths;
            // A path the deadline left unchecked is not known to have failed.
            const TsState state = tsstate_OfDevice(list_entry(p, PathInfo, stList)->stDev);
            counts.pathsFailed += state == TS_STATE_FAILED ? 1 : 0;
        }
    }
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        ++counts.phypaths;
        const TsState state = tsstate_OfPhypath(list_entry(link, PhypathInfo, stNode));
        counts.phypathsFailed += state == TS_STATE_FAILED ? 1 : 0;
    }
    for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
        ++counts.alarms;
        if (list_entry(link, AlarmInfo, stNode)->iType == TS_ALARM_MULTIPATH_INVALID) {
            counts.listingRead = false;
        }
    }
    return counts;
}

void tsmonitor_PutSafe(FILE* out, const char* text, const char* extra) {
    for (const char* c = text; *c != '\0'; ++c) {
        const bool refused = extra != nullptr && strchr(extra, *c) != nullptr;
        (void)fputc(TerminalPrintable(static_cast<unsigned char>(*c)) && !refused ? *c : '?', out);
    }
}
