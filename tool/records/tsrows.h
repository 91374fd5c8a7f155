// tsexTool row values shared by the tables and the JSON output: what a
// vlun's row shows once its paths are merged into it (two rows for a LUN
// whose paths run to two arrays), and the own/work pair a record shows.
#ifndef TSEXTOOL_TSROWS_H
#define TSEXTOOL_TSROWS_H

#include "records/tstopology.h"

// The own/work controller pair as the tables show it: "--/--" for an array
// whose interface version predates the pair.
const char* tsrows_OwnWorkShown(const DevInfo& dev);

// Merges the paths of a vlun that has paths into its rows: rows[0], and
// rows[1] for a dual-array vlun whose paths name a second array. Returns the
// number of rows (1 or 2). The first path in list order with a value for a
// field decides it; the row is "active" as soon as one of its paths is.
int tsrows_MergeVlunRows(const VlunInfo& vlun, DevInfo (&rows)[2]);

// True when some vlun of g_tsvlunlist has a path: the path table has rows.
bool tsrows_AnyVlunHasPath();

#endif  // TSEXTOOL_TSROWS_H
