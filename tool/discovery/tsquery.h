// tsexTool's device queries side by side: the identification of many
// device nodes (tsioctrl) on a bounded pool of threads, at most one query at
// a time per node, each query's diagnostics kept to be written in the list's
// order. Discovery then reads the results one by one, as if it had queried
// each device in turn.
#ifndef TSEXTOOL_TSQUERY_H
#define TSEXTOOL_TSQUERY_H

#include <cstddef>
#include <string>
#include <vector>

#include "records/tstopology.h"

// How many devices are queried at once (--jobs); 1 queries one after
// another in the calling thread, as discovery always did.
void tsquery_SetJobs(unsigned jobs);
unsigned tsquery_Jobs();

// One device to identify and what came of it.
struct TsQuery {
    DevInfo* dev = nullptr;
    int mode = 0;    // tsioctrl's TS_INQUIRY_STRICT or TS_INQUIRY_TOLERANT
    int result = 0;  // tsioctrl_GetDevInfomationByInquiry's
    bool done = false;
    std::string log;
};

// A query of dev in mode, not run yet.
TsQuery tsquery_Of(DevInfo* dev, int mode);

// With more than one job, identifies every device of the list on the pool;
// queries of one node (the same acDevPath) run one after another, in list
// order. With one job it does nothing: each device is queried when taken.
void tsquery_Run(std::vector<TsQuery>* queries);

// The result of a query, where the walk over the lists needs it: a query
// already run writes its diagnostics now, one not run yet runs now.
int tsquery_Take(TsQuery* query);

#endif  // TSEXTOOL_TSQUERY_H
