// The state words of the machine forms (--json, --prometheus, --nagios):
// one vocabulary over the tables' status cells. A path or device is
// "active" when the table calls it so; "failed" when the listing's dm state
// is failed; "unknown" when the run's deadline left it unasked; and
// "failed" otherwise (its node missing or unopenable, its TEST UNIT READY
// failed, a command timed out). A physical path or a
// vlun is active when one of its paths is, failed when all of them are
// failed, unknown otherwise.
#ifndef TSEXTOOL_TSSTATE_H
#define TSEXTOOL_TSSTATE_H

#include "records/tstopology.h"

enum TsState {
    TS_STATE_ACTIVE = 0,
    TS_STATE_FAILED,
    TS_STATE_UNKNOWN,
};

constexpr int kTsStateCount = 3;

// "active", "failed", "unknown".
const char* tsstate_Name(TsState state);

// A path's or a plain device's state.
TsState tsstate_OfDevice(const DevInfo& dev);

// The state of a group of paths from the count of each state in it; a
// group without paths takes own, the table's status cell of the group.
TsState tsstate_OfGroup(unsigned int active, unsigned int failed, unsigned int unknown,
                        const char* own);

TsState tsstate_OfVlun(const VlunInfo& vlun);
TsState tsstate_OfPhypath(const PhypathInfo* phypath);

// A vlun table row's state: its cell when active, else that of the vlun's
// paths that are not active (unknown while any of them is).
TsState tsstate_OfRow(const VlunInfo& vlun, const char* rowStatus);

#endif  // TSEXTOOL_TSSTATE_H
