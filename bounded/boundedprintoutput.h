/*
 * The output engine behind every formatted-output entry point: a table-driven
 * format interpreter writing through a counted output stream. Integers,
 * characters and strings are produced here; floating-point conversions are
 * handed to the C library on a buffer whose size the engine computes.
 */
#ifndef BOUNDED_BOUNDEDPRINTOUTPUT_H
#define BOUNDED_BOUNDEDPRINTOUTPUT_H

#include <stdarg.h>
#include <stddef.h>
#include <wchar.h>

#include "boundedfunc.h"

/* Output cursor of one formatting call. Writing a byte first decrements count
 * (bytes still allowed, terminator position included); a negative count means
 * that the stream is exhausted and nothing more is written. */
struct BoundedOutStream {
    int count;
    char* cur;
};

/* Results of BoundedVsnprintfImpl besides a character count. */
#define BOUNDED_PRINTF_ERROR (-1)
#define BOUNDED_PRINTF_TRUNCATED (-2)

/* Flag bits of one conversion. */
enum BoundedFlag : unsigned {
    BOUNDED_FLAG_SIGN = 0x1,
    BOUNDED_FLAG_SPACE = 0x2,
    BOUNDED_FLAG_LEFT = 0x4,
    BOUNDED_FLAG_LEADZERO = 0x8,
    BOUNDED_FLAG_LONG = 0x10,
    BOUNDED_FLAG_SHORT = 0x20,
    BOUNDED_FLAG_SIGNED = 0x40,
    BOUNDED_FLAG_ALTERNATE = 0x80,
    BOUNDED_FLAG_NEGATIVE = 0x100,
    BOUNDED_FLAG_FORCE_OCTAL = 0x200,
    BOUNDED_FLAG_LONG_DOUBLE = 0x400,
    BOUNDED_FLAG_WIDECHAR = 0x800,
    BOUNDED_FLAG_LONGLONG = 0x1000,
    BOUNDED_FLAG_CHAR = 0x2000,
    BOUNDED_FLAG_POINTER = 0x4000,
    BOUNDED_FLAG_I64 = 0x8000,
    BOUNDED_FLAG_PTRDIFF = 0x10000,
    BOUNDED_FLAG_SIZE = 0x20000,
    BOUNDED_FLAG_INTMAX = 0x40000,
};

/* Parser states and character classes of stateTable. */
enum BoundedState : unsigned char {
    STAT_NORMAL = 0,
    STAT_PERCENT = 1,
    STAT_FLAG = 2,
    STAT_WIDTH = 3,
    STAT_DOT = 4,
    STAT_PRECIS = 5,
    STAT_SIZE = 6,
    STAT_TYPE = 7,
    STAT_INVALID = 8,
};
#define BOUNDED_STATE_COUNT 9
#define BOUNDED_CLASS_COUNT 9

#define BOUNDED_BUFFER_SIZE 512           /* local text buffer */
#define BOUNDED_FMT_COPY_SIZE 16          /* local copy of a floating-point specification */
#define BOUNDED_MAX_PRECISION 512         /* integer precision is cut to this */
#define BOUNDED_MAX_WIDTH_LIST 214748360  /* largest |width| or precision taken from the list */
#define BOUNDED_MAX_WIDTH_DIGITS 21474836 /* largest value that may take one more digit */
#define BOUNDED_FLOAT_PRECISION_LIMIT 214748012
#define BOUNDED_LDOUBLE_PRECISION_LIMIT 214743389
#define BOUNDED_FLOAT_EXTRA 351    /* buffer beyond the precision for a double */
#define BOUNDED_LDOUBLE_EXTRA 4974 /* ...and the further room for a long double */

/* 256 class bytes, then the 81 transitions indexed by class * 9 + state. */
extern const unsigned char stateTable[256 + BOUNDED_CLASS_COUNT * BOUNDED_STATE_COUNT];
extern const char itoaLowerDigits[18];
extern const char itoaUpperDigits[18];
extern const char g_strNullString[8];
extern const wchar_t g_wStrNullString[8];

int BoundedVsnprintfImpl(char* dest, size_t count, const char* format, va_list argList);
int BoundedOutput(BoundedOutStream* stream, const char* format, va_list argList);
int BoundedIndirectSprintf(char* buffer, const char* format, ...) BOUNDED_PRINTF(2, 3);

void BoundedWriteString(const char* text, int len, BoundedOutStream* stream, int* result);
void BoundedWriteMultiChar(char ch, int repeat, BoundedOutStream* stream, int* result);
void BoundedOutputOneChar(char ch, BoundedOutStream* stream, int* result);

/* The argument checks that all six wrappers share, in their order. Returns
 * false when the call must end with -1 (dest[0] cleared where that is allowed). */
inline bool BoundedFormatArgsValid(char* dest, size_t destMax, const char* format) {
    if (format == nullptr) {
        if (dest != nullptr && destMax >= 1 && destMax <= BOUNDED_MAX_SIZE) {
            dest[0] = '\0';
        }
        return false;
    }
    return dest != nullptr && destMax != 0 && destMax <= BOUNDED_MAX_SIZE;
}

/* The bodies of the three families, shared by each variadic entry point and
 * its list form so that neither pays an extra call. */
inline int BoundedVsprintfBody(char* dest, size_t destMax, const char* format, va_list argList) {
    if (!BoundedFormatArgsValid(dest, destMax, format)) {
        return -1;
    }
    int ret = BoundedVsnprintfImpl(dest, destMax, format, argList);
    if (ret < 0) {
        dest[0] = '\0';
        return -1;
    }
    return ret;
}

inline int BoundedVsnprintfBody(char* dest, size_t destMax, size_t count, const char* format,
                                va_list argList) {
    if (!BoundedFormatArgsValid(dest, destMax, format)) {
        return -1;
    }
    /* All bits set means "no limit"; other counts must fit below the size limit. */
    if (count > BOUNDED_MAX_SIZE - 1 && count != static_cast<size_t>(-1)) {
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

inline int BoundedVsnprintfTruncatedBody(char* dest, size_t destMax, const char* format,
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

#endif /* BOUNDED_BOUNDEDPRINTOUTPUT_H */
