/* Bounded string copy. */
#include <cstdint>
#include <cstring>

#include "boundedinternal.h"

size_t BoundedStrMinLen(const char* str, size_t maxLen) {
    return strnlen(str, maxLen);
}

int strncpy_error(char* dest, size_t destMax, const char* src, size_t count) {
    if (!BoundedDestMaxValid(destMax)) {
        return ERANGE;
    }
    if (dest == nullptr) {
        return EINVAL;
    }
    dest[0] = '\0';
    if (src == nullptr) {
        return EINVAL_CLEARED;
    }
    if (count > BOUNDED_MAX_SIZE) {
        return ERANGE_CLEARED;
    }
    return BOUNDED_OK; /* count 0: the empty string is the result */
}

extern "C" int strncpy_s(char* dest, size_t destMax, const char* src, size_t count) {
    if (!BoundedDestMaxValid(destMax) || dest == nullptr || src == nullptr || count == 0 ||
        count > BOUNDED_MAX_SIZE) {
        return strncpy_error(dest, destMax, src, count);
    }
    size_t len;
    if (count < destMax) {
        len = BoundedStrMinLen(src, count);
    } else {
        len = BoundedStrMinLen(src, destMax);
        if (len == destMax) { /* no room for the terminator */
            dest[0] = '\0';
            return ERANGE_CLEARED;
        }
    }
    /* The copy spans len characters and the terminator position on each side. */
    auto d = reinterpret_cast<uintptr_t>(dest);
    auto s = reinterpret_cast<uintptr_t>(src);
    if ((s < d && d <= s + len) || (d < s && s <= d + len)) {
        dest[0] = '\0';
        return EOVERLAP_CLEARED;
    }
    if (dest != src) {
        std::memcpy(dest, src, len);
    }
    dest[len] = '\0';
    return BOUNDED_OK;
}
