/* Formatted output that fails, leaving an empty string, when the text does not fit. */
#include "boundedprintoutput.h"

extern "C" int vsprintf_s(char* dest, size_t destMax, const char* format, va_list argList) {
    if (!BoundedFormatArgsValid(dest, destMax, format)) {
        return -1;
    }
    int ret = BoundedVsnprintfImpl(dest, destMax, format, argList);
    if (ret < 0) {
        dest[0] = '\0';
        return -1;
    }
    return ret;
}
