/* Formatted output that fails, leaving an empty string, when the text does not fit. */
#include "boundedprintoutput.h"

extern "C" int vsprintf_s(char* dest, size_t destMax, const char* format, va_list argList) {
    return BoundedVsprintfBody(dest, destMax, format, argList);
}
