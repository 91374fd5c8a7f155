/* Variadic form of vsprintf_s. */
#include "boundedprintoutput.h"

extern "C" int sprintf_s(char* dest, size_t destMax, const char* format, ...) {
    va_list argList;
    va_start(argList, format);
    int ret = BoundedVsprintfBody(dest, destMax, format, argList);
    va_end(argList);
    return ret;
}
