/* Formatted output with a character limit (counted family) or with the cut
 * text kept (truncating family). */
#include "boundedprintoutput.h"

extern "C" int vsnprintf_s(char* dest, size_t destMax, size_t count, const char* format,
                           va_list argList) {
    return BoundedVsnprintfBody(dest, destMax, count, format, argList);
}

extern "C" int vsnprintf_truncated_s(char* dest, size_t destMax, const char* format,
                                     va_list argList) {
    return BoundedVsnprintfTruncatedBody(dest, destMax, format, argList);
}
