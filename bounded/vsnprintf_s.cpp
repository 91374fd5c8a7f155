/* Formatted output with a character limit (counted family) or with the cut
 * text kept (truncating family). */
#include "boundedprintoutput.h"

namespace {

/* A count that means "no limit". */
constexpr size_t kNoCountLimit = static_cast<size_t>(-1);

}  // namespace

extern "C" int vsnprintf_s(char* dest, size_t destMax, size_t count, const char* format,
                           va_list argList) {
    if (!BoundedFormatArgsValid(dest, destMax, format)) {
        return -1;
    }
    if (count > BOUNDED_MAX_SIZE - 1 && count != kNoCountLimit) {
        dest[0] = '\0';
        return -1;
    }
    int ret;
    if (destMax > count) {
        /* The caller asked for fewer characters than dest holds: a cut text stays. */
        ret = BoundedVsnprintfImpl(dest, count + 1, format, argList);
        if (ret == BOUNDED_PRINTF_TRUNCATED) {
            return -1;
        }
    } else {
        ret = BoundedVsnprintfImpl(dest, destMax, format, argList);
    }
    if (ret < 0) {
        dest[0] = '\0';
        return -1;
    }
    return ret;
}

extern "C" int vsnprintf_truncated_s(char* dest, size_t destMax, const char* format,
                                     va_list argList) {
    if (!BoundedFormatArgsValid(dest, destMax, format)) {
        return -1;
    }
    int ret = BoundedVsnprintfImpl(dest, destMax, format, argList);
    if (ret == BOUNDED_PRINTF_TRUNCATED) {
        return static_cast<int>(destMax - 1);
    }
    if (ret < 0) {
        dest[0] = '\0';
        return -1;
    }
    return ret;
}
