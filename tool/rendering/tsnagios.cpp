// The plugin output of check status: the status line with its performance
// data, then one line per alarm, the worst first. A '|' in a text the
// devices supplied would start the performance data, so it prints as '?',
// as do the bytes outside printable ASCII; on the status line a ';' does
// too, which Nagios core would rewrite to ':' there.
#include "rendering/tsnagios.h"

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "../../common/query_process.h"
#include "../../common/terminal_text.h"

#include "checks/tsalarm.h"
#include "records/tsstatus.h"
#include "records/tstopology.h"

namespace {

constexpr const char* kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
// The order of the alarm lines: the findings an operator acts on first.
constexpr TsNagiosState kLineOrder[] = {TS_NAGIOS_CRITICAL, TS_NAGIOS_WARNING, TS_NAGIOS_UNKNOWN};
// Between the parts of the status line: Nagios core leaves " - " alone,
// while it rewrites every ';' before the '|' to ':'.
constexpr const char* kPartSeparator = " - ";
constexpr const char* kStatusLineRefused = "|;";
constexpr const char* kLongLineRefused = "|";
// The refusals say the program's own texts, which hold no ';'.
constexpr const char* kRefusalRefused = "|";

// The order in which states override each other: a critical finding says
// more than a warning, and a warning more than a host that cannot be seen.
int Rank(TsNagiosState state) {
    static const int kRanks[] = {0, 2, 3, 1};
    return kRanks[state];
}

const char* Plural(unsigned int count, const char* one, const char* many) {
    return count == 1 ? one : many;
}

void Append(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void Append(std::string* out, const char* format, ...) {
    char piece[256];
    va_list args;
    va_start(args, format);
    const int length = vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (length > 0) {
        out->append(piece, static_cast<size_t>(length) < sizeof piece ? length : sizeof piece - 1);
    }
}

// A text of the devices or the host, one byte a byte as the tables print it.
void AppendSafe(std::string* out, const char* text, const char* refused) {
    for (const char* c = text; *c != '\0'; ++c) {
        const bool printable = TerminalPrintable(static_cast<unsigned char>(*c));
        out->push_back(printable && strchr(refused, *c) == nullptr ? *c : '?');
    }
}

const AlarmInfo* AlarmOf(ListHead* link) {
    return list_entry(link, AlarmInfo, stNode);
}

// The worst state over the alarms, the first alarm of that state, and the
// alarms by state.
struct AlarmSummary {
    TsNagiosState state = TS_NAGIOS_OK;
    const AlarmInfo* worst = nullptr;
    unsigned int byState[4] = {};
};

AlarmSummary SummariseAlarms() {
    AlarmSummary summary;
    for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
        const TsNagiosState own = tsnagios_AlarmState(AlarmOf(link)->iType);
        ++summary.byState[own];
        if (summary.worst == nullptr || Rank(own) > Rank(summary.state)) {
            summary.state = own;
            summary.worst = AlarmOf(link);
        }
    }
    return summary;
}

void AppendCounts(std::string* out, const TsMonitorCounts& counts) {
    if (!counts.listingRead) {
        out->append("multipath listing unavailable");
        return;
    }
    Append(out, "%u %s, %u %s (%u failed), %u %s (%u failed)", counts.vluns,
           Plural(counts.vluns, "vlun", "vluns"), counts.paths,
           Plural(counts.paths, "path", "paths"), counts.pathsFailed, counts.phypaths,
           Plural(counts.phypaths, "phypath", "phypaths"), counts.phypathsFailed);
}

void AppendAlarmSummary(std::string* out, const TsMonitorCounts& counts,
                        const AlarmSummary& summary) {
    if (summary.worst == nullptr) {
        out->append("no alarm");
        return;
    }
    Append(out, "%u %s (%u critical, %u warning), worst: ", counts.alarms,
           Plural(counts.alarms, "alarm", "alarms"), summary.byState[TS_NAGIOS_CRITICAL],
           summary.byState[TS_NAGIOS_WARNING]);
    AppendSafe(out, summary.worst->acDescription.data(), kStatusLineRefused);
}

// The status line of a scan that ran; cut is the deadline's summary, if any.
std::string StatusLine(TsNagiosState state, const std::string& cut, const TsMonitorCounts& counts,
                       const AlarmSummary& summary) {
    std::string line = std::string("SAN ") + kStateNames[state] + kPartSeparator;
    if (!cut.empty()) {
        line += cut + kPartSeparator;
    }
    AppendCounts(&line, counts);
    line += kPartSeparator;
    AppendAlarmSummary(&line, counts, summary);
    line += " | " + tsnagios_Perfdata(counts) + "\n";
    return line;
}

// The alarm lines in the order of kLineOrder, each state's in the order the
// analysis raised them, then the devices the run's deadline left unchecked.
std::vector<TsNagiosLine> LongLines() {
    std::vector<TsNagiosLine> lines;
    for (const TsNagiosState state : kLineOrder) {
        for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
            const AlarmInfo* alarm = AlarmOf(link);
            if (tsnagios_AlarmState(alarm->iType) != state) {
                continue;
            }
            TsNagiosLine line = {std::string(kStateNames[state]), true};
            Append(&line.text, ": alarm %d: ", alarm->iType);
            AppendSafe(&line.text, alarm->acDescription.data(), kLongLineRefused);
            line.text += '\n';
            lines.push_back(line);
        }
    }
    for (const std::string& node : query_NotCheckedNodes()) {
        TsNagiosLine line = {"not checked: ", false};
        AppendSafe(&line.text, node.c_str(), kLongLineRefused);
        line.text += '\n';
        lines.push_back(line);
    }
    return lines;
}

// The last line of a cut long output: what it left out.
std::string LeftOutLine(unsigned int alarms, unsigned int devices) {
    std::string line = "and ";
    if (alarms > 0) {
        Append(&line, "%u more %s", alarms, Plural(alarms, "alarm", "alarms"));
    }
    if (devices > 0) {
        Append(&line, "%s%u more %s not checked", alarms > 0 ? ", " : "", devices,
               Plural(devices, "device", "devices"));
    }
    return line + "\n";
}

// A scan that could not run: the state and why, and no performance data,
// since not even the alarms are known.
TsNagiosState WriteScanFailure(FILE* out, const std::string& cut, const char* why) {
    const TsNagiosState own = cut.empty() ? TS_NAGIOS_UNKNOWN : TS_NAGIOS_CRITICAL;
    (void)fprintf(out, "SAN %s - %s%s%s\n", kStateNames[own], cut.c_str(),
                  cut.empty() || why[0] == '\0' ? "" : kPartSeparator, why);
    return own;
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

// Every count has its floor 0; a failed count has its whole as its ceiling.
// Counts the listing did not give are left out: graphing tools drop, or
// fail on, a "U".
std::string tsnagios_Perfdata(const TsMonitorCounts& counts) {
    std::string data;
    if (counts.listingRead) {
        Append(&data,
               "vluns=%u;;;0 paths=%u;;;0 paths_failed=%u;;;0;%u phypaths=%u;;;0 "
               "phypaths_failed=%u;;;0;%u ",
               counts.vluns, counts.paths, counts.pathsFailed, counts.paths, counts.phypaths,
               counts.phypathsFailed, counts.phypaths);
    }
    Append(&data, "alarms=%u;;;0", counts.alarms);
    return data;
}

void tsnagios_PutLongOutput(FILE* out, size_t room, const std::vector<TsNagiosLine>& lines) {
    unsigned int alarmsLeft = 0;
    unsigned int devicesLeft = 0;
    size_t total = 0;
    for (const TsNagiosLine& line : lines) {
        total += line.text.size();
        ++(line.alarm ? alarmsLeft : devicesLeft);
    }
    size_t used = 0;
    for (const TsNagiosLine& line : lines) {
        if (total > room) {
            // A line is kept only if the line that says what follows it
            // still fits; that line is no longer for fewer lines left.
            const std::string tail =
                LeftOutLine(alarmsLeft - (line.alarm ? 1 : 0), devicesLeft - (line.alarm ? 0 : 1));
            if (used + line.text.size() + tail.size() > room) {
                (void)fputs(LeftOutLine(alarmsLeft, devicesLeft).c_str(), out);
                return;
            }
        }
        (void)fputs(line.text.c_str(), out);
        used += line.text.size();
        --(line.alarm ? alarmsLeft : devicesLeft);
    }
}

const char* tsnagios_AlarmSeverity(int type) {
    switch (tsnagios_AlarmState(type)) {
        case TS_NAGIOS_CRITICAL:
            return "critical";
        case TS_NAGIOS_WARNING:
            return "warning";
        default:
            return "unknown";
    }
}

// A run cut by its deadline is at least CRITICAL: the plugin guidelines keep
// UNKNOWN for bad arguments and the plugin's own failures, and a check that
// could not see every device must not read as a healthy one.
TsNagiosState tsnagios_Write(FILE* out, const TsMonitorScan& scan) {
    const std::string cut = query_Summary();
    if (!cut.empty() && query_ListingMissing()) {
        return WriteScanFailure(out, cut, "");
    }
    if (scan.result != 0) {
        return WriteScanFailure(out, cut,
                                scan.result == TS_ERR_FAILED
                                    ? "the multipath command could not be run"
                                    : "the host could not be analysed");
    }
    const TsMonitorCounts counts = tsmonitor_Count();
    const AlarmSummary summary = SummariseAlarms();
    const TsNagiosState state = cut.empty() ? summary.state : TS_NAGIOS_CRITICAL;
    const std::string status = StatusLine(state, cut, counts, summary);
    (void)fputs(status.c_str(), out);
    const size_t room =
        status.size() < kTsNagiosOutputLimit ? kTsNagiosOutputLimit - status.size() : 0;
    tsnagios_PutLongOutput(out, room, LongLines());
    return state;
}

void tsnagios_WriteRefusal(FILE* out, const char* reason) {
    (void)fputs("SAN UNKNOWN - ", out);
    tsmonitor_PutSafe(out, reason, kRefusalRefused);
    (void)fputc('\n', out);
}
