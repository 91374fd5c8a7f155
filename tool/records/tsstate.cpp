#include "records/tsstate.h"

#include <cstring>

#include "../../common/query_process.h"

namespace {

constexpr const char* kNames[kTsStateCount] = {"active", "failed", "unknown"};

bool IsActive(const char* status) {
    return strcmp(status, "active") == 0;
}

struct Tally {
    unsigned int counts[kTsStateCount] = {};

    void Add(const DevInfo& dev) { ++counts[tsstate_OfDevice(dev)]; }
};

}  // namespace

const char* tsstate_Name(TsState state) {
    return kNames[state];
}

TsState tsstate_OfDevice(const DevInfo& dev) {
    if (dev.iDmFailed != 0) {
        return TS_STATE_FAILED;  // the listing says so, asked or not
    }
    if (query_NotChecked(dev.acDevPath.data())) {
        return TS_STATE_UNKNOWN;  // the deadline is ours, not the host's
    }
    return IsActive(dev.acStatus.data()) ? TS_STATE_ACTIVE : TS_STATE_FAILED;
}

TsState tsstate_OfGroup(unsigned int active, unsigned int failed, unsigned int unknown,
                        const char* own) {
    if (active > 0) {
        return TS_STATE_ACTIVE;
    }
    if (unknown > 0) {
        return TS_STATE_UNKNOWN;
    }
    if (failed > 0) {
        return TS_STATE_FAILED;
    }
    return IsActive(own) ? TS_STATE_ACTIVE : TS_STATE_FAILED;
}

TsState tsstate_OfVlun(const VlunInfo& vlun) {
    Tally tally;
    for (ListHead* link = vlun.stPathList.next; link != &vlun.stPathList; link = link->next) {
        tally.Add(list_entry(link, PathInfo, stList)->stDev);
    }
    return tsstate_OfGroup(tally.counts[TS_STATE_ACTIVE], tally.counts[TS_STATE_FAILED],
                           tally.counts[TS_STATE_UNKNOWN], vlun.stDev.acStatus.data());
}

TsState tsstate_OfPhypath(const PhypathInfo* phypath) {
    Tally tally;
    for (ListHead* v = g_tsvlunlist.next; v != &g_tsvlunlist; v = v->next) {
        const VlunInfo& vlun = *list_entry(v, VlunInfo, stList);
        for (ListHead* p = vlun.stPathList.next; p != &vlun.stPathList; p = p->next) {
            const PathInfo& path = *list_entry(p, PathInfo, stList);
            if (path.pstPhypath == phypath) {
                tally.Add(path.stDev);
            }
        }
    }
    return tsstate_OfGroup(tally.counts[TS_STATE_ACTIVE], tally.counts[TS_STATE_FAILED],
                           tally.counts[TS_STATE_UNKNOWN], phypath->acStatus.data());
}

TsState tsstate_OfRow(const VlunInfo& vlun, const char* rowStatus) {
    if (IsActive(rowStatus)) {
        return TS_STATE_ACTIVE;
    }
    const TsState all = tsstate_OfVlun(vlun);
    return all == TS_STATE_UNKNOWN ? TS_STATE_UNKNOWN : TS_STATE_FAILED;
}
