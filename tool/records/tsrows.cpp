// The row values of the tables and the JSON output.
#include "records/tsrows.h"

#include <cstring>

#include "boundedfunc.h"

namespace {

// Arrays report the own/work controller pair in the form the tables show
// from this interface version on; older ones show the missing pair.
constexpr int kOwnWorkIfVersion = 514;
constexpr const char* kNoPair = "--/--";

}  // namespace

const char* tsrows_OwnWorkShown(const DevInfo& dev) {
    return dev.iIfVersion < kOwnWorkIfVersion ? kNoPair : dev.acOwnWork.data();
}

namespace {

// Array serial numbers that name the arrays feeding the two rows of a
// dual-array vlun.
using ArrayKey = TsText<64>;

// The first path in list order that has a value for a field decides it.
template <size_t N>
void MergeField(TsText<N>& row, const TsText<N>& path) {
    if (!tstopo_TextHasValue(row.data()) && tstopo_TextHasValue(path.data()) &&
        strcmp(row.data(), path.data()) != 0) {
        (void)memcpy_s(row.data(), N, path.data(), N);
    }
}

void MergePathIntoRow(DevInfo& row, const DevInfo& path) {
    MergeField(row.acLunName, path.acLunName);
    MergeField(row.acStatus, path.acStatus);
    // A path whose node is gone says "failed"; the LUN is still reachable
    // as long as any of its paths is active.
    if (strcmp(path.acStatus.data(), "active") == 0) {
        (void)memcpy_s(row.acStatus.data(), row.acStatus.size(), path.acStatus.data(),
                       path.acStatus.size());
    }
    MergeField(row.acVidPid, path.acVidPid);
    MergeField(row.acOwnWork, path.acOwnWork);
    MergeField(row.acArrayName, path.acArrayName);
    MergeField(row.acArraySn, path.acArraySn);
    MergeField(row.acDevLunId, path.acDevLunId);
}

// The row (0 or 1) that a path of a dual-array vlun feeds, taking a free
// key for its array; -1 when both keys belong to other arrays. A path that
// names no array (its page 0x80 failed) cannot say which array it runs to:
// it neither takes nor matches a key, so it can neither claim a row for a
// missing array nor be mixed into the row of a real one.
int DualArrayRow(const DevInfo& path, ArrayKey (&keys)[2]) {
    if (!tstopo_TextHasValue(path.acArraySn.data())) {
        return -1;
    }
    for (int i = 0; i < 2; ++i) {
        ArrayKey& key = keys[i];
        if (key[0] == '\0' || strcmp(key.data(), path.acArraySn.data()) == 0) {
            (void)strncpy_s(key.data(), key.size(), path.acArraySn.data(), key.size());
            return i;
        }
    }
    return -1;
}

}  // namespace

int tsrows_MergeVlunRows(const VlunInfo& vlun, DevInfo (&rows)[2]) {
    tstopo_InitDevInfoToDefault(&rows[0], TS_DEVTYPE_PATH);
    tstopo_InitDevInfoToDefault(&rows[1], TS_DEVTYPE_PATH);
    // Cleared for every vlun: each dual-array LUN may span its own pair of
    // arrays, and keys left by an earlier vlun would send this vlun's paths
    // to the wrong row, or to none.
    ArrayKey keys[2] = {};
    const bool dualArray = vlun.stDev.iDualArray != 0;
    for (ListHead* link = vlun.stPathList.next; link != &vlun.stPathList; link = link->next) {
        const DevInfo& path = list_entry(link, PathInfo, stList)->stDev;
        if (!dualArray) {
            MergePathIntoRow(rows[0], path);
            continue;
        }
        const int row = DualArrayRow(path, keys);
        if (row >= 0) {
            MergePathIntoRow(rows[row], path);
        }
    }
    return vlun.stDev.iDualArray == 1 && keys[1][0] != '\0' ? 2 : 1;
}

bool tsrows_AnyVlunHasPath() {
    for (ListHead* link = g_tsvlunlist.next; link != &g_tsvlunlist; link = link->next) {
        if (!list_empty(&list_entry(link, VlunInfo, stList)->stPathList)) {
            return true;
        }
    }
    return false;
}
