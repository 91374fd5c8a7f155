// tsexTool --prometheus: check status in the Prometheus text exposition
// format (HELP and TYPE lines, label values escaped): the scan's success and
// duration, per vlun its paths by state and its capacity, an up gauge per
// path and per physical path, and the alarms by type.
#ifndef TSEXTOOL_TSPROM_H
#define TSEXTOOL_TSPROM_H

#include <cstdio>

#include "tsmonitor.h"

void tsprom_Write(FILE* out, const TsMonitorScan& scan);

// Writes a label value: "--" (nothing known) as the empty value, bytes
// outside printable ASCII as '?', backslash and double quote escaped.
void tsprom_PutLabelValue(FILE* out, const char* text);

#endif  // TSEXTOOL_TSPROM_H
