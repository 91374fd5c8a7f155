// Developer's probe: identifies device nodes as tsexTool does and prints every
// field of the resulting DevInfo, one per line.
//
//   devinfo_probe [--strict] [--verbose] /dev/NODE...
//
// On a simulated host: sansim run tests/tool/hosts/ioctrl.json -- devinfo_probe /dev/sdh
#include <stdio.h>
#include <string.h>

#include "discovery/tsioctrl.h"
#include "records/tstopology.h"
#include "rendering/tsprint.h"

namespace {

template <size_t N>
void PrintText(const char* name, const TsText<N>& field) {
    printf("  %-13s \"", name);
    for (size_t i = 0; i < N && field[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(field[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            putchar(c);
        } else {
            printf("\\x%02x", c);
        }
    }
    printf("\"\n");
}

void PrintRawBytes(const char* name, const TsText<64>& field) {
    printf("  %-13s", name);
    for (size_t i = 0; i < 16; ++i) {
        printf(" %02x", static_cast<unsigned char>(field[i]));
    }
    printf("\n");
}

void PrintRecord(const DevInfo& d) {
    PrintText("acDevPath", d.acDevPath);
    PrintText("acStatus", d.acStatus);
    PrintText("acInqStatus", d.acInqStatus);
    PrintText("acVidPid", d.acVidPid);
    PrintText("acCapacity", d.acCapacity);
    PrintText("acLunName", d.acLunName);
    PrintText("acLunWwn", d.acLunWwn);
    PrintText("acDevLunId", d.acDevLunId);
    PrintText("acArrayLunId", d.acArrayLunId);
    PrintRawBytes("acRawLunId", d.acRawLunId);
    PrintText("acCtrl", d.acCtrl);
    PrintText("acOwnWork", d.acOwnWork);
    PrintText("acArrayName", d.acArrayName);
    PrintText("acArraySn", d.acArraySn);
    PrintText("acPortType", d.acPortType);
    PrintText("acPortId", d.acPortId);
    PrintText("acHostWwn", d.acHostWwn);
    PrintText("acTargetWwn", d.acTargetWwn);
    printf("  %-13s %d\n  %-13s %d\n  %-13s %d\n", "iIfVersion", d.iIfVersion, "iShieldTpg",
           d.iShieldTpg, "iDualArray", d.iDualArray);
}

}  // namespace

int main(int argc, char** argv) {
    int mode = TS_INQUIRY_TOLERANT;
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--strict") == 0) {
            mode = TS_INQUIRY_STRICT;
            continue;
        }
        if (strcmp(argv[i], "--verbose") == 0) {
            tsprint_SetLogLevel(0);
            continue;
        }
        DevInfo dev;
        tstopo_InitDevInfoToDefault(&dev, TS_DEVTYPE_DEVICE);
        snprintf(dev.acDevPath.data(), dev.acDevPath.size(), "%s", argv[i]);
        int result = tsioctrl_GetDevInfomationByInquiry(&dev, mode);
        printf("%s: result %d\n", argv[i], result);
        PrintRecord(dev);
        status = result != 0 ? 1 : status;
    }
    return status;
}
