// ts_showdisk for Solaris 10: the command line, the run and what standard
// output took of it; the walk, the queries and the table are
// deviceInfo_solaris's.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../common/json_writer.h"
#include "../common/process_start.h"
#include "boundedfunc.h"
#include "deviceInfo_solaris.h"

namespace {

const char kHelp[] =
    "Usage: ts_showdisk [--json]\n"
    "       ts_showdisk --help\n"
    "Lists every disk of the ssd driver, one row per device path.\n"
    "  --json  one JSON document on standard output instead of the table\n"
    "  --help  this text\n";

// The document's end: how the run went, and the run's status (1 for a
// document left broken).
int EndDocument(JsonWriter& json, const char* result, int status) {
    json.KeyString("result", result);
    json.EndObject();
    TS_SetJsonWriter(nullptr);
    return json.Finish() ? status : 1;
}

// The run itself; main adds what the writes to standard output say.
int Run(JsonWriter* json) {
    (void)memset_s(g_Buf, sizeof g_Buf, 0, sizeof g_Buf);
    TS_ResetDeviceInfo();
    if (json != nullptr) {
        json->BeginObject();
        json->KeyInt("schema_version", 1);
        json->KeyString("program", "ts_showdisk");
        json->KeyString("platform", "solaris");
        TS_SetJsonWriter(json);
    }

    g_pSsdIdHeader = static_cast<DevIdNode*>(malloc(sizeof(DevIdNode)));
    if (g_pSsdIdHeader == nullptr) {
        if (json != nullptr) {
            return EndDocument(*json, "out_of_memory", 1);
        }
        // Status 1, deliberately: a run that listed nothing must not look
        // like a host without disks.
        (void)printf("%s\n", "Malloc memory fail!");
        (void)fflush(stdout);
        return 1;
    }
    g_pSsdIdHeader->devid = nullptr;
    g_pSsdIdHeader->next = nullptr;
    g_pSsdIdTail = g_pSsdIdHeader;

    // Status 1 when the device tree cannot be read, deliberately, for the
    // same reason; the head is printed all the same.
    const int result = TS_GetLunList();
    TS_FreeDevIdList();
    if (json != nullptr) {
        return EndDocument(*json, result == 0 ? "listed" : "no_device_tree", result == 0 ? 0 : 1);
    }
    return result == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    // The raw nodes are opened read-write: started with standard output or
    // error closed, the first of them would take that number, and the table
    // (or a sanitizer's report) would be written onto the disk.
    process_HoldStandardDescriptors();
    process_ExitOnBrokenPipe(1);
    // --json and --help lead the words; any other word is ignored, as it
    // always was.
    bool json = false;
    for (int i = 1; i < argc && i <= 2; ++i) {
        if (strcmp(argv[i], "--help") == 0) {
            (void)fputs(kHelp, stdout);
            return fflush(stdout) != 0 || ferror(stdout) != 0 ? 1 : 0;
        }
        if (json || strcmp(argv[i], "--json") != 0) {
            break;
        }
        json = true;
    }
    JsonWriter writer(stdout);
    const int status = Run(json ? &writer : nullptr);
    // A table that never reached its reader (standard output closed, a full
    // disk) is a failed run, whatever the devices answered.
    const bool flushFailed = fflush(stdout) != 0;
    if (flushFailed || ferror(stdout) != 0) {
        return 1;
    }
    return status;
}
