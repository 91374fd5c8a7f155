/* Bounded memory fill. */
#include <cstdint>
#include <cstring>

#include "boundedinternal.h"
#include "boundedsmall.h"

const unsigned char g_allZero[32] = {0};
const unsigned char g_allFF[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

int BoundedMemsetError(void* dest, size_t destMax, int c, size_t count) {
    if (!BoundedDestMaxValid(destMax)) {
        return ERANGE;
    }
    if (dest == nullptr) {
        return EINVAL;
    }
    if (count > destMax) {
        /* The destination is left all fill bytes, never partly filled. */
        std::memset(dest, c, destMax);
        return ERANGE_CLEARED;
    }
    return BOUNDED_OK;
}

void BoundedDoMemsetOpt(void* dest, int c, size_t count) {
    if (count > bounded_small::kFillLimit) {
        std::memset(dest, c, count);
        return;
    }
    bool aligned = (reinterpret_cast<uintptr_t>(dest) & 7U) == 0;
    if (aligned && (c == 0 || c == 0xFF)) {
        bounded_small::kCopyTable[count](dest, c == 0 ? g_allZero : g_allFF);
        return;
    }
    bounded_small::kFillTable[count](dest, c);
}

extern "C" int memset_sChecked(void* dest, size_t destMax, int c, size_t count) {
    if (dest != nullptr && destMax <= BOUNDED_MAX_SIZE && count <= destMax) {
        /* Short fills, the common case of the tools, stay clear of a second call. */
        if (count == 0) {
            return BOUNDED_OK;
        }
        if (count <= bounded_small::kInlineLimit) {
            bounded_small::FillUpTo256(static_cast<unsigned char*>(dest),
                                       static_cast<unsigned char>(c), count);
        } else {
            std::memset(dest, c, count);
        }
        return BOUNDED_OK;
    }
    return BoundedMemsetError(dest, destMax, c, count);
}

/* The entry's own definition, for callers in C and through pointers. */
extern int (*const g_boundedMemsetEntry)(void*, size_t, int, size_t);
int (*const g_boundedMemsetEntry)(void*, size_t, int, size_t) = memset_s;

extern "C" int memset_sOptFast(void* dest, size_t destMax, int c, size_t count) {
    if (dest != nullptr && destMax <= BOUNDED_MAX_SIZE && count <= destMax) {
        BoundedDoMemsetOpt(dest, c, count);
        return BOUNDED_OK;
    }
    return BoundedMemsetError(dest, destMax, c, count);
}

/* For callers that vouch for destMax: the upper limit is not compared. */
extern "C" int memset_sOptTrusted(void* dest, size_t destMax, int c, size_t count) {
    if (dest != nullptr && count <= destMax) {
        BoundedDoMemsetOpt(dest, c, count);
        return BOUNDED_OK;
    }
    return BoundedMemsetError(dest, destMax, c, count);
}
