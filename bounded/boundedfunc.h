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

int memset_s(void* dest, size_t destMax, int c, size_t count);
int memset_sOptFast(void* dest, size_t destMax, int c, size_t count);
int memset_sOptTrusted(void* dest, size_t destMax, int c, size_t count);

int memcpy_s(void* dest, size_t destMax, const void* src, size_t count);
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
#endif

#endif /* BOUNDED_BOUNDEDFUNC_H */
