// The queries of a list of devices, grouped by node and spread over the
// pool of common/job_pool.
#include "discovery/tsquery.h"

#include <cstring>
#include <string_view>

#include "../../common/job_pool.h"
#include "discovery/tsioctrl.h"
#include "tslog.h"

namespace {

unsigned g_jobs = kDefaultJobs;

// On a worker: the diagnostics are kept with the query.
void QueryCaptured(TsQuery* query) {
    tsprint_CaptureLog(&query->log);
    query->result = tsioctrl_GetDevInfomationByInquiry(query->dev, query->mode);
    tsprint_CaptureLog(nullptr);
    query->done = true;
}

}  // namespace

void tsquery_SetJobs(unsigned jobs) {
    g_jobs = jobs;
}

TsQuery tsquery_Of(DevInfo* dev, int mode) {
    TsQuery query;
    query.dev = dev;
    query.mode = mode;
    return query;
}

unsigned tsquery_Jobs() {
    return g_jobs;
}

void tsquery_Run(std::vector<TsQuery>* queries) {
    if (g_jobs <= 1 || queries->size() <= 1) {
        return;
    }
    std::vector<std::string_view> nodes;
    nodes.reserve(queries->size());
    for (const TsQuery& query : *queries) {
        nodes.emplace_back(query.dev->acDevPath.data());
    }
    RunJobsPerNode(nodes, g_jobs, [queries](size_t i) { QueryCaptured(&(*queries)[i]); });
}

int tsquery_Take(TsQuery* query) {
    if (!query->done) {
        query->result = tsioctrl_GetDevInfomationByInquiry(query->dev, query->mode);
        query->done = true;
        return query->result;
    }
    tsprint_WriteLogText(query->log);
    query->log.clear();
    return query->result;
}
