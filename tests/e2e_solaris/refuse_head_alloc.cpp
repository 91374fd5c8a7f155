// Linked with -Wl,--wrap=malloc into a test build of ts_showdisk for Solaris:
// refuses the first request for the size of a device-id list node, which is
// the list head that main allocates before anything else of that size.
#include <stddef.h>

#include "deviceInfo_solaris.h"

extern "C" void* __real_malloc(size_t size);

extern "C" void* __wrap_malloc(size_t size) {
    static bool refused = false;
    if (!refused && size == sizeof(DevIdNode)) {
        refused = true;
        return nullptr;
    }
    return __real_malloc(size);
}
