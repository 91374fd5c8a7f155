/* Bounded string append. */
#include <cstdint>
#include <cstring>

#include "boundedinternal.h"

namespace {

/* Source length counting at most maxLen characters. Source names are short:
 * the first eight characters are measured inline before the library call. */
inline size_t SourceLength(const char* src, size_t maxLen) {
    if (maxLen > 8) {
        for (size_t i = 0; i < 8; ++i) {
            if (src[i] == '\0') {
                return i;
            }
        }
        return 8 + BoundedStrMinLen(src + 8, maxLen - 8);
    }
    return BoundedStrMinLen(src, maxLen);
}

}  // namespace

extern "C" int strcat_s(char* dest, size_t destMax, const char* src) {
    if (!BoundedDestMaxValid(destMax)) {
        return ERANGE;
    }
    if (dest == nullptr) {
        return EINVAL;
    }
    if (src == nullptr) {
        dest[0] = '\0';
        return EINVAL_CLEARED;
    }
    size_t destLen = BoundedStrMinLen(dest, destMax);
    size_t srcLen = SourceLength(src, destMax - destLen);
    auto d = reinterpret_cast<uintptr_t>(dest);
    auto s = reinterpret_cast<uintptr_t>(src);
    if ((d < s && s <= d + destLen + srcLen) || (s < d && d <= s + srcLen)) {
        dest[0] = '\0';
        return (s >= d + destLen && destLen == destMax) ? EINVAL_CLEARED : EOVERLAP_CLEARED;
    }
    if (destLen + srcLen >= destMax || dest == src) {
        dest[0] = '\0';
        return destLen == destMax ? EINVAL_CLEARED : ERANGE_CLEARED;
    }
    std::memcpy(dest + destLen, src, srcLen + 1);
    return BOUNDED_OK;
}
