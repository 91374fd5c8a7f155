// tsexTool --nagios: check status as a Nagios/Icinga plugin. One status
// line "SAN OK|WARNING|CRITICAL|UNKNOWN - ..." with the counts, the worst
// finding and the performance data, then one line per alarm.
#ifndef TSEXTOOL_TSNAGIOS_H
#define TSEXTOOL_TSNAGIOS_H

#include <cstdio>

#include "tsmonitor.h"

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

// Writes the plugin output of the scan; returns its state.
TsNagiosState tsnagios_Write(FILE* out, const TsMonitorScan& scan);

// Writes "SAN UNKNOWN - reason".
void tsnagios_WriteRefusal(FILE* out, const char* reason);

#endif  // TSEXTOOL_TSNAGIOS_H
