// The queries of a list of devices, grouped by node and spread over the
// pool of common/job_pool.
#include "tsquery.h"

#include <cstring>
#include <string_view>
#include <unordered_map>

#include "../common/job_pool.h"
#include "tsioctrl.h"
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

// The queries of each node, in list order; a node is one unit of work.
std::vector<std::vector<size_t>> GroupByNode(const std::vector<TsQuery>& queries) {
    std::vector<std::vector<size_t>> groups;
    std::unordered_map<std::string_view, size_t> byNode;
    for (size_t i = 0; i < queries.size(); ++i) {
        const std::string_view node(queries[i].dev->acDevPath.data());
        auto [slot, added] = byNode.emplace(node, groups.size());
        if (added) {
            groups.emplace_back();
        }
        groups[slot->second].push_back(i);
    }
    return groups;
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
    const std::vector<std::vector<size_t>> groups = GroupByNode(*queries);
    RunJobs(groups.size(), g_jobs, [queries, &groups](size_t group) {
        for (size_t i : groups[group]) {
            QueryCaptured(&(*queries)[i]);
        }
    });
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
