// Prints the size of every record the programs allocate, one "name bytes"
// line each: the scale benchmark's memory bound is these sizes times their
// counts. Headers only; nothing of the programs runs.
#include <cstdio>

#include "checks/tsalarm.h"
#include "deviceInfo_solaris.h"
#include "luninfo_esxi.h"
#include "records/tstopology.h"

int main() {
    std::printf("VlunInfo %zu\n", sizeof(VlunInfo));
    std::printf("PathInfo %zu\n", sizeof(PathInfo));
    std::printf("PhypathInfo %zu\n", sizeof(PhypathInfo));
    std::printf("DevInfo %zu\n", sizeof(DevInfo));
    std::printf("AlarmInfo %zu\n", sizeof(AlarmInfo));
    std::printf("LunInfo %zu\n", sizeof(LunInfo));
    std::printf("PathListEntry %zu\n", sizeof(PathListEntry));
    std::printf("DevIdNode %zu\n", sizeof(DevIdNode));
    return 0;
}
