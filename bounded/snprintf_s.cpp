/* Variadic forms of vsnprintf_s and vsnprintf_truncated_s. */
#include "boundedprintoutput.h"

extern "C" int snprintf_s(char* dest, size_t destMax, size_t count, const char* format, ...) {
    va_list argList;
    va_start(argList, format);
    int ret = BoundedVsnprintfBody(dest, destMax, count, format, argList);
    va_end(argList);
    return ret;
}

extern "C" int snprintf_truncated_s(char* dest, size_t destMax, const char* format, ...) {
    va_list argList;
    va_start(argList, format);
    int ret = BoundedVsnprintfTruncatedBody(dest, destMax, format, argList);
    va_end(argList);
    return ret;
}
