// ts_showdisk for Solaris, page decoding of the four queries: every reply is
// the fuzz input (cut to the allocation length), under the first byte's
// choice of which queries fail. The attribute store must stay terminated
// within its fields, and the WWN must be 32 lower-case hex digits or absent.
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "deviceInfo_solaris.h"

namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;
unsigned g_failMask = 0;
int g_request = 0;

void CheckTerminated(const char* field, size_t size) {
    if (memchr(field, '\0', size) == nullptr) {
        abort();
    }
}

}  // namespace

// The Solaris services as far as the queries reach them.
TS_DiSnapshot TS_PlatDiInit(const char*, unsigned int) {
    return nullptr;
}
int TS_PlatDiWalkMinor(TS_DiSnapshot, const char*, unsigned int, void*, TS_MinorWalker) {
    return -1;
}
void TS_PlatDiFini(TS_DiSnapshot) {}
const char* TS_PlatDiNodeName(TS_DiNode) {
    return nullptr;
}
TS_DevId TS_PlatDiDevid(TS_DiNode) {
    return nullptr;
}
const char* TS_PlatDiMinorName(TS_DiMinor) {
    return nullptr;
}
int TS_PlatDiMinorSpectype(TS_DiMinor) {
    return 0;
}
int TS_PlatDevidValid(TS_DevId) {
    return 0;
}
size_t TS_PlatDevidSizeof(TS_DevId) {
    return 0;
}
int TS_PlatDevidToNmlist(const char*, TS_DevId, const char*, TS_NameList*) {
    return -1;
}
const char* TS_PlatNmlistPath(TS_NameList, size_t) {
    return nullptr;
}
void TS_PlatDevidFreeNmlist(TS_NameList) {}
int TS_PlatOpen(const char*, int) {
    errno = ENOENT;
    return -1;
}

int TS_PlatUscsiCmd(int, TS_UscsiCmd* cmd) {
    const int request = g_request++;
    if ((g_failMask >> request & 1u) != 0) {
        errno = EIO;
        return -1;
    }
    const size_t n = g_size < cmd->uscsi_buflen ? g_size : cmd->uscsi_buflen;
    if (n > 0) {
        memcpy(cmd->uscsi_bufaddr, g_data, n);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // Failed queries print their errno line; keep the run quiet.
    static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    g_failMask = data[0];
    g_data = data + 1;
    g_size = size - 1;
    g_request = 0;
    TS_ResetDeviceInfo();
    for (int selector = TS_DRIVE_INFO_STD; selector <= TS_DRIVE_INFO_LUN; ++selector) {
        (void)TS_ScsiGetDriveInfo(3, selector);
    }
    CheckTerminated(g_acVendorID, sizeof g_acVendorID);
    CheckTerminated(g_acProductID, sizeof g_acProductID);
    CheckTerminated(g_acVersion, sizeof g_acVersion);
    CheckTerminated(g_acSerialNumber, sizeof g_acSerialNumber);
    CheckTerminated(g_acWwn, sizeof g_acWwn);
    CheckTerminated(g_acLunName, sizeof g_acLunName);
    const size_t wwn = strlen(g_acWwn);
    if (wwn != 0 && (wwn != 32 || strspn(g_acWwn, "0123456789abcdef") != 32)) {
        abort();
    }
    // The LUN id comes only from a page whose length says it holds the id,
    // and it is bytes 192..195 of the reply (zeros past what was sent).
    if (g_lDevLunId != -1) {
        auto at = [](size_t i) -> uint32_t { return i < g_size ? g_data[i] : 0; };
        const uint32_t id = at(192) << 24 | at(193) << 16 | at(194) << 8 | at(195);
        if ((at(2) << 8 | at(3)) + 4 < 196 || static_cast<int32_t>(id) != g_lDevLunId) {
            abort();
        }
    }
    TS_DisplayDeviceInfo("/dev/rdsk/c1t0d0s2");
    return 0;
}
