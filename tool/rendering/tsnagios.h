// tsexTool --nagios: check status as a Nagios/Icinga plugin. One status
// line "SAN OK|WARNING|CRITICAL|UNKNOWN - ..." with the counts, the worst
// finding and the performance data, then one line per alarm, CRITICAL
// first, within the 8 KiB of output that Nagios core keeps.
#ifndef TSEXTOOL_TSNAGIOS_H
#define TSEXTOOL_TSNAGIOS_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "rendering/tsmonitor.h"

// The plugin states, which are also its exit statuses.
enum TsNagiosState {
    TS_NAGIOS_OK = 0,
    TS_NAGIOS_WARNING = 1,
    TS_NAGIOS_CRITICAL = 2,
    TS_NAGIOS_UNKNOWN = 3,
};

// The state an alarm type stands for: CRITICAL for 14 (no active path) and
// 17 (identifier changed), UNKNOWN for 10 (no multipath listing), WARNING
// for the others.
TsNagiosState tsnagios_AlarmState(int type);

// The same rating in the words of --json and --prometheus: "critical",
// "warning", or "unknown" (alarm 10, the host that cannot be seen).
const char* tsnagios_AlarmSeverity(int type);

// Nagios core reads at most this many bytes of a plugin's output; the
// status line and the long output together stay within it.
constexpr size_t kTsNagiosOutputLimit = 8192;

// One line of the long output, its newline included.
struct TsNagiosLine {
    std::string text;
    bool alarm;  // false: a device the deadline left unchecked
};

// The performance data of the counts, "label=value;warn;crit;min;max" each
// (no thresholds; min 0; max where the count has a whole), without the
// counts of a listing that was not read.
std::string tsnagios_Perfdata(const TsMonitorCounts& counts);

// Writes the lines in order while they fit in room bytes; when some do not,
// the last line written says how many alarms (and unchecked devices) were
// left out, and it fits in room too.
void tsnagios_PutLongOutput(FILE* out, size_t room, const std::vector<TsNagiosLine>& lines);

// Writes the plugin output of the scan; returns its state.
TsNagiosState tsnagios_Write(FILE* out, const TsMonitorScan& scan);

// Writes "SAN UNKNOWN - reason".
void tsnagios_WriteRefusal(FILE* out, const char* reason);

#endif  // TSEXTOOL_TSNAGIOS_H
