// tsexTool --prometheus: check status in the Prometheus text exposition
// format (HELP and TYPE lines, label values escaped): the scan's success and
// duration, the alarms by type and one by one, and per vlun, path and
// physical path an _info series of descriptive labels, a state set and (for
// vluns) the path counts by state and the capacity. A series is identified
// only by what a path's health does not change: the kernel name in
// node_exporter's form (device="sdb", device="dm-0"), H:C:T:L, the vlun's
// WWID; whatever the devices answer goes into the _info series.
#ifndef TSEXTOOL_TSPROM_H
#define TSEXTOOL_TSPROM_H

#include <cstdio>
#include <string>

#include "rendering/tsmonitor.h"

void tsprom_Write(FILE* out, const TsMonitorScan& scan);

// Writes the exposition of the scan on standard output, or replaces
// textfile (when not null) with it in one piece; returns the exit status.
int tsprom_Finish(const TsMonitorScan& scan, const char* textfile);

// Writes a label value: "--" (nothing known) as the empty value, bytes
// outside printable ASCII as '?', backslash and double quote escaped.
void tsprom_PutLabelValue(FILE* out, const char* text);
void tsprom_AppendLabelValue(std::string& labels, const char* text);

#endif  // TSEXTOOL_TSPROM_H
