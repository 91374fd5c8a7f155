/*
 * Bounds-checked memory, string and formatted-output operations.
 *
 * Every operation takes the size of its destination beside the destination and
 * never writes outside [dest, dest + destMax). The memory and string operations
 * return one of the result codes below; the formatted-output operations return a
 * character count, or -1 for any failure. Nothing here keeps state or prints.
 */
#ifndef BOUNDED_BOUNDEDFUNC_H
#define BOUNDED_BOUNDEDFUNC_H

#include <errno.h>
#include <stdarg.h>
#include <stddef.h>

/* Result codes. EINVAL (destination pointer null) and ERANGE (destination size
 * 0 or above the limit) are the system's own numbers and leave the destination
 * untouched; the reset bit says that the destination was reset. */
#define BOUNDED_OK 0
#define BOUNDED_RESET_BIT 128
#define EINVAL_CLEARED (EINVAL + BOUNDED_RESET_BIT) /* source null, or no terminator in dest */
#define ERANGE_CLEARED (ERANGE + BOUNDED_RESET_BIT) /* does not fit, or count out of range */
#define EOVERLAP_CLEARED (54 + BOUNDED_RESET_BIT)   /* source and destination overlap */

/* Largest destination size, and largest count of the bounded string copy. */
#define BOUNDED_MAX_SIZE ((size_t)0x7FFFFFFFUL)

/* The compiler's printf checker agrees with the engine on the standard
 * conversions; callers that use the engine's own modifiers (I64, I32, q, w, N)
 * silence -Wformat locally. */
#if defined(__GNUC__)
#define BOUNDED_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define BOUNDED_PRINTF(fmt, first)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* memset_s and memcpy_s whole, out of line: every size and every error. C++
 * callers reach them through the inline entries below. */
int memset_sChecked(void* dest, size_t destMax, int c, size_t count);
int memcpy_sChecked(void* dest, size_t destMax, const void* src, size_t count);
#ifndef __cplusplus
int memset_s(void* dest, size_t destMax, int c, size_t count);
int memcpy_s(void* dest, size_t destMax, const void* src, size_t count);
#endif
int memset_sOptFast(void* dest, size_t destMax, int c, size_t count);
int memset_sOptTrusted(void* dest, size_t destMax, int c, size_t count);

int memcpy_sOptFast(void* dest, size_t destMax, const void* src, size_t count);
int memcpy_sOptTrusted(void* dest, size_t destMax, const void* src, size_t count);

int strncpy_s(char* dest, size_t destMax, const char* src, size_t count);
int strcat_s(char* dest, size_t destMax, const char* src);

int sprintf_s(char* dest, size_t destMax, const char* format, ...) BOUNDED_PRINTF(3, 4);
int vsprintf_s(char* dest, size_t destMax, const char* format, va_list argList)
    BOUNDED_PRINTF(3, 0);

int snprintf_s(char* dest, size_t destMax, size_t count, const char* format, ...)
    BOUNDED_PRINTF(4, 5);
int vsnprintf_s(char* dest, size_t destMax, size_t count, const char* format, va_list argList)
    BOUNDED_PRINTF(4, 0);

int snprintf_truncated_s(char* dest, size_t destMax, const char* format, ...) BOUNDED_PRINTF(3, 4);
int vsnprintf_truncated_s(char* dest, size_t destMax, const char* format, va_list argList)
    BOUNDED_PRINTF(3, 0);

#ifdef __cplusplus
}

#include <stdint.h>
#include <string.h>

/* Above this many bytes a valid fill or copy goes to the C library straight
 * from the caller, once checked: the library is fastest there, and a call
 * into the bounded function first would be paid on top of it. Shorter ones,
 * and every error, take the out-of-line function. */
#define BOUNDED_DIRECT_MIN ((size_t)128)

extern "C" inline int memset_s(void* dest, size_t destMax, int c, size_t count) {
    if (__builtin_expect(count > BOUNDED_DIRECT_MIN && count <= destMax &&
                             destMax <= BOUNDED_MAX_SIZE && dest != NULL,
                         1)) {
        memset(dest, c, count);
        return BOUNDED_OK;
    }
    return memset_sChecked(dest, destMax, c, count);
}

/* The regions overlap when dest - src lies strictly between -count and
 * count; one unsigned comparison tells it (count is at most
 * BOUNDED_MAX_SIZE, so 2 * count - 1 does not wrap). */
extern "C" inline int memcpy_s(void* dest, size_t destMax, const void* src, size_t count) {
    if (__builtin_expect(count > BOUNDED_DIRECT_MIN && count <= destMax &&
                             destMax <= BOUNDED_MAX_SIZE && dest != NULL && src != NULL &&
                             (uintptr_t)dest - (uintptr_t)src + (count - 1) >= 2 * count - 1,
                         1)) {
        memcpy(dest, src, count);
        return BOUNDED_OK;
    }
    return memcpy_sChecked(dest, destMax, src, count);
}
#endif

#endif /* BOUNDED_BOUNDEDFUNC_H */
