/* Bounded memory copy. */
#include <cstdint>
#include <cstring>

#include "boundedinternal.h"
#include "boundedsmall.h"

namespace {

inline bool RangesOverlap(const void* dest, const void* src, size_t count) {
    auto d = reinterpret_cast<uintptr_t>(dest);
    auto s = reinterpret_cast<uintptr_t>(src);
    return (d < s && s < d + count) || (s < d && d < s + count);
}

/* The one test every copy entry point shares; destMax against the limit is
 * the caller's part, so that the trusted entry can leave it out. */
inline bool CopyAllowed(void* dest, size_t destMax, const void* src, size_t count) {
    return dest != nullptr && src != nullptr && count != 0 && count <= destMax &&
           !RangesOverlap(dest, src, count) && dest != src;
}

}  // namespace

int BoundedMemcpyError(void* dest, size_t destMax, const void* src, size_t count) {
    if (!BoundedDestMaxValid(destMax)) {
        return ERANGE;
    }
    if (dest == nullptr) {
        return EINVAL;
    }
    if (src == nullptr) {
        std::memset(dest, 0, destMax);
        return EINVAL_CLEARED;
    }
    if (count > destMax) {
        std::memset(dest, 0, destMax);
        return ERANGE_CLEARED;
    }
    if (dest == src) {
        return BOUNDED_OK; /* the bytes are already in place */
    }
    if (RangesOverlap(dest, src, count)) {
        std::memset(dest, 0, destMax);
        return EOVERLAP_CLEARED;
    }
    return BOUNDED_OK; /* count 0: nothing to copy */
}

void BoundedDoMemcpyOpt(void* dest, const void* src, size_t count) {
    if (count > bounded_small::kCopyLimit) {
        std::memcpy(dest, src, count);
        return;
    }
    bounded_small::kCopyTable[count](dest, src);
}

extern "C" int memcpy_sChecked(void* dest, size_t destMax, const void* src, size_t count) {
    if (destMax <= BOUNDED_MAX_SIZE && CopyAllowed(dest, destMax, src, count)) {
        /* Short copies, the common case of the tools, stay clear of a second call. */
        if (count <= bounded_small::kInlineLimit) {
            bounded_small::CopyUpTo256(static_cast<unsigned char*>(dest),
                                       static_cast<const unsigned char*>(src), count);
        } else {
            std::memcpy(dest, src, count);
        }
        return BOUNDED_OK;
    }
    return BoundedMemcpyError(dest, destMax, src, count);
}

/* The entry's own definition, for callers in C and through pointers. */
extern int (*const g_boundedMemcpyEntry)(void*, size_t, const void*, size_t);
int (*const g_boundedMemcpyEntry)(void*, size_t, const void*, size_t) = memcpy_s;

extern "C" int memcpy_sOptFast(void* dest, size_t destMax, const void* src, size_t count) {
    if (destMax <= BOUNDED_MAX_SIZE && CopyAllowed(dest, destMax, src, count)) {
        BoundedDoMemcpyOpt(dest, src, count);
        return BOUNDED_OK;
    }
    return BoundedMemcpyError(dest, destMax, src, count);
}

/* For callers that vouch for destMax: the upper limit is not compared. */
extern "C" int memcpy_sOptTrusted(void* dest, size_t destMax, const void* src, size_t count) {
    if (CopyAllowed(dest, destMax, src, count)) {
        BoundedDoMemcpyOpt(dest, src, count);
        return BOUNDED_OK;
    }
    return BoundedMemcpyError(dest, destMax, src, count);
}
