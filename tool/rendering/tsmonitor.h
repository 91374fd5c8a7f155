// tsexTool's monitoring forms of `check status`: a Nagios/Icinga plugin
// (tsnagios) and the Prometheus text exposition (tsprom), on standard output
// or, for Prometheus, replacing a node_exporter textfile. This module holds
// the run's form, the scan's outcome and the counts both forms report; the
// forms read them from here, and the command line has the form write.
#ifndef TSEXTOOL_TSMONITOR_H
#define TSEXTOOL_TSMONITOR_H

#include <cstdio>

enum TsMonitorForm {
    TS_MONITOR_NONE = 0,
    TS_MONITOR_NAGIOS,
    TS_MONITOR_PROMETHEUS,
};

// The outcome of check status's discovery and analysis.
struct TsMonitorScan {
    int result;      // tsalarm_GetAlarmList's: 0 when the analysis ran
    double seconds;  // from the start of the form to the end of the analysis
};

// The counts over the discovered lists. A path or physical path counts as
// failed when its state (tsstate.h) is; one the deadline left unasked does
// not.
struct TsMonitorCounts {
    unsigned int vluns;
    unsigned int paths;
    unsigned int pathsFailed;
    unsigned int phypaths;
    unsigned int phypathsFailed;
    unsigned int alarms;
    bool listingRead;  // false when alarm 10 stands for the whole topology
};

// Turns the form on and starts the scan's clock.
void tsmonitor_Start(TsMonitorForm form);
bool tsmonitor_Active();

// check status has run its discovery and analysis with this result.
void tsmonitor_ScanEnded(int result);

// The scan's outcome: result -1 until the scan ended.
TsMonitorScan tsmonitor_Scan();

TsMonitorCounts tsmonitor_Count();

// Writes text with every byte outside printable ASCII, and every byte of
// extra (may be null), as '?': one byte a byte, as the tables print them.
void tsmonitor_PutSafe(FILE* out, const char* text, const char* extra);

#endif  // TSEXTOOL_TSMONITOR_H
