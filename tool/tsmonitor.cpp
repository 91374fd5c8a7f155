// The monitoring form of the run, its clock and the counts over the lists.
#include "tsmonitor.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "../common/atomic_file.h"
#include "../common/query_process.h"
#include "../common/terminal_text.h"
#include "tsalarm.h"
#include "tsnagios.h"
#include "tsprom.h"
#include "tsstate.h"
#include "tstopology.h"

namespace {

// A textfile is read by the exporter's user, not only by root.
constexpr mode_t kTextfileMode = 0644;

struct MonitorRun {
    TsMonitorForm form = TS_MONITOR_NONE;
    const char* textfile = nullptr;
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

// The exposition, rendered in memory first so that a textfile is written
// in one piece.
int FinishPrometheus() {
    char* text = nullptr;
    size_t length = 0;
    FILE* memory = open_memstream(&text, &length);
    if (memory == nullptr) {
        (void)fputs("Error: no memory for the metrics.\n", stdout);
        return 1;
    }
    tsprom_Write(memory, g_run.scan);
    const bool rendered = fflush(memory) == 0 && ferror(memory) == 0;
    (void)fclose(memory);
    int status = g_run.scan.result == 0 && query_Outcome() == QUERY_COMPLETE ? 0 : 1;
    if (!rendered) {
        (void)fputs("Error: no memory for the metrics.\n", stdout);
        status = 1;
    } else if (g_run.textfile == nullptr) {
        (void)fwrite(text, 1, length, stdout);
    } else {
        AtomicFile file;
        if (!file.Open(g_run.textfile) || !file.Write(text, length) ||
            !file.Commit(kTextfileMode)) {
            (void)fprintf(stdout, "Error: cannot write the textfile %s: %s.\n",
                          TerminalSafeText(g_run.textfile).c_str(), strerror(errno));
            status = 1;
        }
    }
    free(text);
    return status;
}

}  // namespace

void tsmonitor_Start(TsMonitorForm form, const char* textfile) {
    g_run.form = form;
    g_run.textfile = textfile;
    (void)clock_gettime(CLOCK_MONOTONIC, &g_run.started);
}

bool tsmonitor_Active() {
    return g_run.form != TS_MONITOR_NONE;
}

int tsmonitor_Refuse(const char* reason) {
    if (g_run.form == TS_MONITOR_NAGIOS) {
        tsnagios_WriteRefusal(stdout, reason);
        return TS_NAGIOS_UNKNOWN;
    }
    const size_t length = strlen(reason);
    const bool closed = length > 0 && strchr(".!", reason[length - 1]) != nullptr;
    (void)fprintf(stdout, "Error: %s%s\n", reason, closed ? "" : ".");
    return 1;
}

void tsmonitor_ScanEnded(int result) {
    g_run.scan.result = result;
    g_run.scan.seconds = SecondsSince(g_run.started);
}

int tsmonitor_Finish() {
    if (g_run.form == TS_MONITOR_NAGIOS) {
        return tsnagios_Write(stdout, g_run.scan);
    }
    return FinishPrometheus();
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
