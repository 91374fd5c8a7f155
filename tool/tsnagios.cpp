// The plugin output of check status: the status line with its performance
// data, then one line per alarm. A '|' in a text the devices supplied would
// start the performance data, so it prints as '?', as do the bytes outside
// printable ASCII.
#include "tsnagios.h"

#include <string>

#include "../common/query_process.h"

#include "tsalarm.h"
#include "tsstatus.h"
#include "tstopology.h"

namespace {

constexpr const char* kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
// What the performance data say of a count that is not known.
constexpr const char* kUnknownPerfdata =
    "vluns=U paths=U paths_failed=U phypaths=U phypaths_failed=U";

// The order in which states override each other: a critical finding says
// more than a warning, and a warning more than a host that cannot be seen.
int Rank(TsNagiosState state) {
    static const int kRanks[] = {0, 2, 3, 1};
    return kRanks[state];
}

const char* Plural(unsigned int count, const char* one, const char* many) {
    return count == 1 ? one : many;
}

void PutText(FILE* out, const char* text) {
    tsmonitor_PutSafe(out, text, "|");
}

// The worst state over the alarms, and the first alarm of that state.
TsNagiosState WorstAlarm(const AlarmInfo** worst) {
    TsNagiosState state = TS_NAGIOS_OK;
    *worst = nullptr;
    for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
        const AlarmInfo* alarm = list_entry(link, AlarmInfo, stNode);
        const TsNagiosState own = tsnagios_AlarmState(alarm->iType);
        if (*worst == nullptr || Rank(own) > Rank(state)) {
            state = own;
            *worst = alarm;
        }
    }
    return state;
}

void PutCounts(FILE* out, const TsMonitorCounts& counts) {
    if (!counts.listingRead) {
        (void)fputs("multipath listing unavailable", out);
        return;
    }
    (void)fprintf(out, "%u %s, %u %s (%u failed), %u %s (%u failed)", counts.vluns,
                  Plural(counts.vluns, "vlun", "vluns"), counts.paths,
                  Plural(counts.paths, "path", "paths"), counts.pathsFailed, counts.phypaths,
                  Plural(counts.phypaths, "phypath", "phypaths"), counts.phypathsFailed);
}

void PutAlarmSummary(FILE* out, const TsMonitorCounts& counts, const AlarmInfo* worst) {
    if (worst == nullptr) {
        (void)fputs("no alarm", out);
        return;
    }
    unsigned int critical = 0;
    unsigned int warning = 0;
    for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
        const TsNagiosState state = tsnagios_AlarmState(list_entry(link, AlarmInfo, stNode)->iType);
        critical += state == TS_NAGIOS_CRITICAL ? 1 : 0;
        warning += state == TS_NAGIOS_WARNING ? 1 : 0;
    }
    (void)fprintf(out, "%u %s (%u critical, %u warning), worst: ", counts.alarms,
                  Plural(counts.alarms, "alarm", "alarms"), critical, warning);
    PutText(out, worst->acDescription.data());
}

void PutPerfdata(FILE* out, const TsMonitorCounts& counts) {
    if (!counts.listingRead) {
        (void)fprintf(out, "%s alarms=%u", kUnknownPerfdata, counts.alarms);
        return;
    }
    (void)fprintf(out, "vluns=%u paths=%u paths_failed=%u phypaths=%u phypaths_failed=%u alarms=%u",
                  counts.vluns, counts.paths, counts.pathsFailed, counts.phypaths,
                  counts.phypathsFailed, counts.alarms);
}

void PutAlarmLines(FILE* out) {
    for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
        const AlarmInfo* alarm = list_entry(link, AlarmInfo, stNode);
        (void)fprintf(out, "%s: alarm %d: ", kStateNames[tsnagios_AlarmState(alarm->iType)],
                      alarm->iType);
        PutText(out, alarm->acDescription.data());
        (void)fputc('\n', out);
    }
}

// The devices the run's deadline left without their answers.
void PutNotChecked(FILE* out) {
    for (const std::string& node : query_NotCheckedNodes()) {
        (void)fputs("not checked: ", out);
        PutText(out, node.c_str());
        (void)fputc('\n', out);
    }
}

}  // namespace

TsNagiosState tsnagios_AlarmState(int type) {
    switch (type) {
        case TS_ALARM_VLUN_ALL_PATHS_DOWN:
        case TS_ALARM_VLUN_WWN_CHANGED:
            return TS_NAGIOS_CRITICAL;
        case TS_ALARM_PHYPATH_ABNORMAL:
        case TS_ALARM_PHYPATH_NO_REDUND:
        case TS_ALARM_PHYPATH_ONE_CTRL:
        case TS_ALARM_VLUN_NO_REDUND:
        case TS_ALARM_VLUN_ONE_CTRL:
        case TS_ALARM_PATH_ABNORMAL:
            return TS_NAGIOS_WARNING;
        default:
            return TS_NAGIOS_UNKNOWN;
    }
}

// A run cut by its deadline is at least CRITICAL: the plugin guidelines keep
// UNKNOWN for bad arguments and the plugin's own failures, and a check that
// could not see every device must not read as a healthy one.
TsNagiosState tsnagios_Write(FILE* out, const TsMonitorScan& scan) {
    const std::string cut = query_Summary();
    if (!cut.empty() && query_ListingMissing()) {
        (void)fprintf(out, "SAN CRITICAL - %s | %s alarms=U\n", cut.c_str(), kUnknownPerfdata);
        return TS_NAGIOS_CRITICAL;
    }
    if (scan.result != 0) {
        const char* why = scan.result == TS_ERR_FAILED ? "the multipath command could not be run"
                                                       : "the host could not be analysed";
        const TsNagiosState own = cut.empty() ? TS_NAGIOS_UNKNOWN : TS_NAGIOS_CRITICAL;
        (void)fprintf(out, "SAN %s - %s%s%s | %s alarms=U\n", kStateNames[own], cut.c_str(),
                      cut.empty() ? "" : "; ", why, kUnknownPerfdata);
        return own;
    }
    const TsMonitorCounts counts = tsmonitor_Count();
    const AlarmInfo* worst = nullptr;
    TsNagiosState state = WorstAlarm(&worst);
    if (!cut.empty()) {
        state = TS_NAGIOS_CRITICAL;
    }
    (void)fprintf(out, "SAN %s - ", kStateNames[state]);
    if (!cut.empty()) {
        (void)fprintf(out, "%s; ", cut.c_str());
    }
    PutCounts(out, counts);
    (void)fputs("; ", out);
    PutAlarmSummary(out, counts, worst);
    (void)fputs(" | ", out);
    PutPerfdata(out, counts);
    (void)fputc('\n', out);
    PutAlarmLines(out);
    PutNotChecked(out);
    return state;
}

void tsnagios_WriteRefusal(FILE* out, const char* reason) {
    (void)fputs("SAN UNKNOWN - ", out);
    PutText(out, reason);
    (void)fputc('\n', out);
}
