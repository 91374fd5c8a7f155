/*
 * Internals of the memory and string operations, shared between their sources
 * and visible to the library's own tests. Programs include boundedfunc.h only.
 */
#ifndef BOUNDED_BOUNDEDINTERNAL_H
#define BOUNDED_BOUNDEDINTERNAL_H

#include <stddef.h>

#include "boundedfunc.h"

/* Sources of the block stores of the small-fill path. */
extern const unsigned char g_allZero[32];
extern const unsigned char g_allFF[32];

/* Classify a refused fill or copy and apply its reset. */
int BoundedMemsetError(void* dest, size_t destMax, int c, size_t count);
int BoundedMemcpyError(void* dest, size_t destMax, const void* src, size_t count);
int strncpy_error(char* dest, size_t destMax, const char* src, size_t count);

/* Small fill and copy; their results equal memset's and memcpy's. */
void BoundedDoMemsetOpt(void* dest, int c, size_t count);
void BoundedDoMemcpyOpt(void* dest, const void* src, size_t count);

/* Length of str, counting at most maxLen characters. */
size_t BoundedStrMinLen(const char* str, size_t maxLen);

/* A size the library accepts as a destination size. */
inline bool BoundedDestMaxValid(size_t destMax) {
    return destMax != 0 && destMax <= BOUNDED_MAX_SIZE;
}

#endif /* BOUNDED_BOUNDEDINTERNAL_H */
