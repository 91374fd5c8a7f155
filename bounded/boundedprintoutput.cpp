/*
 * The output engine: parses the format with stateTable, builds integer,
 * character and string texts itself and hands floating-point conversions to
 * the C library on a buffer sized here. Every byte goes through the stream.
 */
#include "boundedprintoutput.h"

#include <float.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* clang-format off */
const unsigned char stateTable[256 + BOUNDED_CLASS_COUNT * BOUNDED_STATE_COUNT] = {
    /* Character classes: 0 other, 1 '%', 2 '.', 3 '*', 4 '0', 5 '1'-'9',
     * 6 flag, 7 size, 8 conversion. */
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, /* 0x00 */
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, /* 0x10 */
    6, 0, 0, 6, 0, 1, 0, 0, 0, 0, 3, 6, 0, 6, 2, 0, /* 0x20  !"#$%&'()*+,-./ */
    4, 5, 5, 5, 5, 5, 5, 5, 5, 5, 0, 0, 0, 0, 0, 0, /* 0x30 0123456789:;<=>? */
    0, 0, 0, 8, 0, 8, 8, 8, 0, 7, 0, 0, 7, 0, 7, 0, /* 0x40 @ABCDEFGHIJKLMNO */
    0, 0, 0, 8, 0, 0, 0, 0, 8, 0, 7, 0, 0, 0, 0, 0, /* 0x50 PQRSTUVWXYZ[\]^_ */
    0, 0, 0, 8, 8, 8, 8, 8, 7, 8, 7, 0, 7, 0, 0, 8, /* 0x60 `abcdefghijklmno */
    8, 7, 0, 8, 7, 8, 0, 7, 8, 0, 7, 0, 0, 0, 0, 0, /* 0x70 pqrstuvwxyz{|}~  */
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, /* 0x80 */
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, /* 0xF0 */
    /* Transitions, one row per class; columns: normal, percent, flag, width,
     * dot, precision, size, type, invalid. */
    0, 8, 8, 8, 8, 8, 8, 0, 0, /* 0 other */
    1, 0, 8, 8, 8, 8, 8, 1, 0, /* 1 '%' */
    0, 4, 4, 4, 8, 8, 8, 0, 0, /* 2 '.' */
    0, 3, 3, 8, 5, 8, 8, 0, 0, /* 3 '*' */
    0, 2, 2, 3, 5, 5, 8, 0, 0, /* 4 '0' */
    0, 3, 3, 3, 5, 5, 8, 0, 0, /* 5 '1'-'9' */
    0, 2, 2, 2, 8, 8, 8, 0, 0, /* 6 flag */
    0, 6, 6, 6, 6, 6, 6, 0, 0, /* 7 size */
    0, 7, 7, 7, 7, 7, 7, 0, 0, /* 8 conversion */
};
/* clang-format on */

const char itoaLowerDigits[18] = "0123456789abcdefx";
const char itoaUpperDigits[18] = "0123456789ABCDEFX";
const char g_strNullString[8] = "(null)";
const wchar_t g_wStrNullString[8] = L"(null)";

namespace {

/* Texts longer than this are block-copied when the stream has room for all. */
constexpr int kBlockCopyMin = 12;

/* Below the width, the widest floating text is %f of the largest finite value:
 * a sign, MAX_10_EXP + 1 integer digits, a point, the precision digits and the
 * terminator. The room beyond the precision must hold all but the precision,
 * for a double and for a long double alike. */
static_assert(DBL_MAX_10_EXP + 4 <= BOUNDED_FLOAT_EXTRA, "double text room");
static_assert(LDBL_MAX_10_EXP + 4 <= BOUNDED_FLOAT_EXTRA + BOUNDED_LDOUBLE_EXTRA,
              "long double text room");

/* The character class of the size modifiers in stateTable. */
constexpr unsigned char kSizeClass = 7;

/* Per-conversion state, reset at every '%' that starts a conversion. */
struct FormatAttr {
    unsigned flags;
    int width;
    int precision; /* negative: none given */
    int prefixLen;
    char prefix[2];
    bool widthFromList;
    bool precisionFromList;
    /* A '*' stood in the width or precision: its argument must be passed on to
     * the C library with a floating-point specification, even when later
     * digits replaced the value. */
    bool widthStar;
    bool precisionStar;
    bool wideText;
    bool noOutput;
};

/* The text one conversion produced: narrow bytes, or wide characters. */
struct ConvText {
    const char* str;
    const wchar_t* wstr;
    int len;
    char* heapBuffer; /* floating-point text on the heap, freed after output */
};

/* Everything one BoundedOutput call works on. */
struct Engine {
    BoundedOutStream* stream;
    va_list* args;
    int result;
    FormatAttr attr;
    const char* specStart; /* the '%' of the current conversion */
    char buffer[BOUNDED_BUFFER_SIZE];
    char fmtCopy[BOUNDED_FMT_COPY_SIZE];
};

/* The stream writers; every byte of output passes through one of them. */
inline void WriteOne(char ch, BoundedOutStream* stream, int* result) {
    if (*result < 0) {
        return;
    }
    if (--stream->count >= 0) {
        *stream->cur++ = ch;
        ++*result;
    } else {
        *result = -1;
    }
}

inline void WriteRepeat(char ch, int repeat, BoundedOutStream* stream, int* result) {
    if (*result < 0 || repeat <= 0) {
        return;
    }
    if (stream->count >= repeat) {
        memset(stream->cur, ch, static_cast<size_t>(repeat));
        stream->cur += repeat;
        stream->count -= repeat;
        *result += repeat;
        return;
    }
    for (int i = 0; i < repeat && *result >= 0; ++i) {
        WriteOne(ch, stream, result);
    }
}

inline void WriteText(const char* text, int len, BoundedOutStream* stream, int* result) {
    if (*result < 0 || len <= 0) {
        return;
    }
    if (stream->count >= len) {
        if (len >= kBlockCopyMin) {
            memcpy(stream->cur, text, static_cast<size_t>(len));
        } else {
            for (int i = 0; i < len; ++i) {
                stream->cur[i] = text[i];
            }
        }
        stream->cur += len;
        stream->count -= len;
        *result += len;
        return;
    }
    for (int i = 0; i < len && *result >= 0; ++i) {
        WriteOne(text[i], stream, result);
    }
}

inline void ResetAttr(FormatAttr* attr) {
    attr->flags = 0;
    attr->width = 0;
    attr->precision = -1;
    attr->prefixLen = 0;
    attr->widthFromList = false;
    attr->precisionFromList = false;
    attr->widthStar = false;
    attr->precisionStar = false;
    attr->wideText = false;
    attr->noOutput = false;
}

inline void SetFlag(FormatAttr* attr, char ch) {
    switch (ch) {
        case '0':
            attr->flags |= BOUNDED_FLAG_LEADZERO;
            break;
        case '-':
            attr->flags |= BOUNDED_FLAG_LEFT;
            break;
        case '+':
            attr->flags |= BOUNDED_FLAG_SIGN;
            break;
        case ' ':
            attr->flags |= BOUNDED_FLAG_SPACE;
            break;
        default: /* '#' */
            attr->flags |= BOUNDED_FLAG_ALTERNATE;
            break;
    }
}

/* Returns false when the width is out of range. */
bool ParseWidth(Engine* e, char ch, unsigned char lastState) {
    FormatAttr* attr = &e->attr;
    if (ch == '*') {
        int value = va_arg(*e->args, int);
        attr->widthFromList = true;
        attr->widthStar = true;
        unsigned magnitude =
            value < 0 ? 0U - static_cast<unsigned>(value) : static_cast<unsigned>(value);
        if (magnitude > BOUNDED_MAX_WIDTH_LIST) {
            return false;
        }
        if (value < 0) {
            attr->flags |= BOUNDED_FLAG_LEFT;
        }
        attr->width = static_cast<int>(magnitude);
        return true;
    }
    int digit = ch - '0';
    if (lastState == STAT_WIDTH) {
        if (attr->width > BOUNDED_MAX_WIDTH_DIGITS) {
            return false;
        }
        attr->width = attr->width * 10 + digit;
    } else {
        attr->width = digit; /* a width after a later flag starts anew */
    }
    attr->widthFromList = false;
    return true;
}

/* Returns false when the precision is out of range. */
bool ParsePrecision(Engine* e, char ch) {
    FormatAttr* attr = &e->attr;
    if (ch == '*') {
        int value = va_arg(*e->args, int);
        attr->precisionFromList = true;
        attr->precisionStar = true;
        if (value > BOUNDED_MAX_WIDTH_LIST) {
            return false;
        }
        attr->precision = value < 0 ? -1 : value;
        return true;
    }
    if (attr->precision > BOUNDED_MAX_WIDTH_DIGITS) {
        return false;
    }
    int base = attr->precision < 0 ? 0 : attr->precision;
    attr->precision = base * 10 + (ch - '0');
    attr->precisionFromList = false;
    return true;
}

inline bool IsIntegerConversion(char ch) {
    return ch == 'd' || ch == 'i' || ch == 'o' || ch == 'u' || ch == 'x' || ch == 'X';
}

/* Applies one size modifier; format points behind ch. Returns the position to
 * go on from. An 'I' that starts no known modifier is written as text and the
 * parse returns to the normal state. */
const char* ParseSize(Engine* e, char ch, const char* format, unsigned char* state) {
    FormatAttr* attr = &e->attr;
    switch (ch) {
        case 'h':
            attr->flags |= (*format == 'h') ? BOUNDED_FLAG_CHAR : BOUNDED_FLAG_SHORT;
            break;
        case 'l':
            if (*format == 'l') {
                attr->flags |= BOUNDED_FLAG_LONGLONG;
                ++format;
            } else {
                attr->flags |= BOUNDED_FLAG_LONG;
            }
            break;
        case 'L':
        case 'q':
            attr->flags |= BOUNDED_FLAG_LONGLONG | BOUNDED_FLAG_LONG_DOUBLE;
            break;
        case 'j':
            attr->flags |= BOUNDED_FLAG_INTMAX;
            break;
        case 'z':
        case 'Z':
            attr->flags |= BOUNDED_FLAG_SIZE;
            break;
        case 't':
            attr->flags |= BOUNDED_FLAG_PTRDIFF;
            break;
        case 'w':
            attr->flags |= BOUNDED_FLAG_WIDECHAR;
            break;
        case 'I':
            if (format[0] == '6' && format[1] == '4') {
                attr->flags |= BOUNDED_FLAG_I64;
                format += 2;
            } else if (format[0] == '3' && format[1] == '2') {
                attr->flags &= ~static_cast<unsigned>(BOUNDED_FLAG_I64);
                format += 2;
            } else if (IsIntegerConversion(format[0])) {
                if (sizeof(void*) == 8) { /* pointer-sized */
                    attr->flags |= BOUNDED_FLAG_I64;
                }
            } else {
                WriteOne('I', e->stream, &e->result);
                *state = STAT_NORMAL;
            }
            break;
        default: /* 'N' is accepted and ignored */
            break;
    }
    return format;
}

/* Fetches an integer argument by its size modifiers. Sets *is64 for a 64-bit
 * conversion; signed conversions come back sign-extended, the others
 * zero-extended. */
uint64_t FetchInteger(Engine* e, bool* is64) {
    unsigned flags = e->attr.flags;
    bool isSigned = (flags & BOUNDED_FLAG_SIGNED) != 0;
    va_list& ap = *e->args;
    *is64 = true;
    if (flags & (BOUNDED_FLAG_I64 | BOUNDED_FLAG_LONGLONG)) {
        return isSigned ? static_cast<uint64_t>(va_arg(ap, long long))
                        : static_cast<uint64_t>(va_arg(ap, unsigned long long));
    }
    if (flags & BOUNDED_FLAG_CHAR) {
        int value = va_arg(ap, int);
        *is64 = false;
        return isSigned
                   ? static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(value)))
                   : static_cast<unsigned char>(value);
    }
    if (flags & BOUNDED_FLAG_SHORT) {
        int value = va_arg(ap, int);
        *is64 = false;
        return isSigned ? static_cast<uint64_t>(static_cast<int64_t>(static_cast<short>(value)))
                        : static_cast<unsigned short>(value);
    }
    if (flags & (BOUNDED_FLAG_PTRDIFF | BOUNDED_FLAG_SIZE)) {
        /* ptrdiff_t and size_t have the platform's word size */
        *is64 = sizeof(ptrdiff_t) == 8;
        ptrdiff_t value = (flags & BOUNDED_FLAG_PTRDIFF)
                              ? va_arg(ap, ptrdiff_t)
                              : static_cast<ptrdiff_t>(va_arg(ap, size_t));
        return isSigned ? static_cast<uint64_t>(static_cast<int64_t>(value))
                        : static_cast<uint64_t>(static_cast<size_t>(value));
    }
    if (flags & BOUNDED_FLAG_INTMAX) {
        return isSigned ? static_cast<uint64_t>(va_arg(ap, intmax_t))
                        : static_cast<uint64_t>(va_arg(ap, uintmax_t));
    }
    if (flags & BOUNDED_FLAG_POINTER) {
        *is64 = sizeof(void*) == 8;
        return reinterpret_cast<uintptr_t>(va_arg(ap, void*));
    }
    if (flags & BOUNDED_FLAG_LONG) {
        *is64 = sizeof(long) == 8;
        return isSigned ? static_cast<uint64_t>(static_cast<int64_t>(va_arg(ap, long)))
                        : static_cast<uint64_t>(va_arg(ap, unsigned long));
    }
    *is64 = false;
    return isSigned ? static_cast<uint64_t>(static_cast<int64_t>(va_arg(ap, int)))
                    : static_cast<uint64_t>(va_arg(ap, unsigned int));
}

/* "00" to "99": two decimal digits per step halve the work of a conversion. */
constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

/* Digits of a 32-bit value written backwards, ending at end; 0 writes none.
 * Two digits a step, dividing by multiply and shift. */
inline char* WriteDecimal32(uint32_t small, char* end) {
    while (small >= 100) {
        /* small / 100, exact for every 32-bit value */
        auto quotient = static_cast<uint32_t>((static_cast<uint64_t>(small) * 0x51EB851FULL) >> 37);
        const char* pair = &kDigitPairs[(small - quotient * 100) * 2];
        *--end = pair[1];
        *--end = pair[0];
        small = quotient;
    }
    if (small >= 10) {
        const char* pair = &kDigitPairs[small * 2];
        *--end = pair[1];
        *--end = pair[0];
    } else if (small != 0) {
        *--end = static_cast<char>('0' + small);
    }
    return end;
}

/* Digits of value written backwards, ending at end; value 0 writes none.
 * Wider values divide by 64-bit division until they fit 32 bits. */
char* WriteDecimal(uint64_t value, char* end) {
    while (value > 0xFFFFFFFFULL) {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return WriteDecimal32(static_cast<uint32_t>(value), end);
}

char* WriteByShift(uint64_t value, char* end, unsigned shift, const char* digits) {
    uint64_t mask = (1U << shift) - 1U;
    while (value != 0) {
        *--end = digits[value & mask];
        value >>= shift;
    }
    return end;
}

void ConvertInteger(Engine* e, char ch, ConvText* text) {
    FormatAttr* attr = &e->attr;
    const char* digits = itoaLowerDigits;
    unsigned radix = 10;
    switch (ch) {
        case 'd':
        case 'i':
            attr->flags |= BOUNDED_FLAG_SIGNED;
            break;
        case 'p':
#if defined(BOUNDED_SOLARIS_POINTER)
            /* Solaris prints a pointer as bare lower-case digits, 0 for null */
            attr->flags |= BOUNDED_FLAG_POINTER | BOUNDED_FLAG_LONG;
            attr->precision = 1;
#else
            attr->flags |= BOUNDED_FLAG_POINTER | BOUNDED_FLAG_ALTERNATE | BOUNDED_FLAG_LONG;
            attr->precision = 0;
            attr->prefix[0] = '0';
            attr->prefix[1] = 'x';
            attr->prefixLen = 2;
#endif
            radix = 16;
            break;
        case 'o':
            radix = 8;
            if (attr->flags & BOUNDED_FLAG_ALTERNATE) {
                attr->flags |= BOUNDED_FLAG_FORCE_OCTAL;
            }
            break;
        case 'x':
        case 'X':
            radix = 16;
            digits = (ch == 'X') ? itoaUpperDigits : itoaLowerDigits;
            if (attr->flags & BOUNDED_FLAG_ALTERNATE) {
                attr->prefix[0] = '0';
                attr->prefix[1] = digits[16];
                attr->prefixLen = 2;
            }
            break;
        default: /* 'u' */
            break;
    }

    bool is64 = false;
    uint64_t value = FetchInteger(e, &is64);
    if ((attr->flags & BOUNDED_FLAG_SIGNED) && static_cast<int64_t>(value) < 0) {
        attr->flags |= BOUNDED_FLAG_NEGATIVE;
        value = 0 - value;
    }
    if (!is64) {
        value &= 0xFFFFFFFFULL;
    }

    if (attr->precision < 0) {
        attr->precision = 1;
    } else {
        if (!(attr->flags & BOUNDED_FLAG_POINTER)) {
            attr->flags &= ~static_cast<unsigned>(BOUNDED_FLAG_LEADZERO);
        }
        if (attr->precision > BOUNDED_MAX_PRECISION) {
            attr->precision = BOUNDED_MAX_PRECISION;
        }
    }

    char* end = e->buffer + BOUNDED_BUFFER_SIZE;
    char* start = end;
    if (value == 0) {
        attr->prefixLen = 0;
    } else if (radix == 10) {
        start = WriteDecimal(value, end);
    } else {
        start = WriteByShift(value, end, radix == 16 ? 4 : 3, digits);
    }
    while (end - start < attr->precision) {
        *--start = '0';
    }
    if ((attr->flags & BOUNDED_FLAG_FORCE_OCTAL) && (start == end || *start != '0')) {
        *--start = '0';
    }
    text->str = start;
    text->len = static_cast<int>(end - start);
    if ((attr->flags & BOUNDED_FLAG_POINTER) && text->len == 0) {
        text->str = "(nil)";
        text->len = 5;
        attr->flags &= ~static_cast<unsigned>(BOUNDED_FLAG_LEADZERO);
    }
}

void ConvertChar(Engine* e, char ch, ConvText* text) {
    FormatAttr* attr = &e->attr;
    bool wide = (attr->flags & (BOUNDED_FLAG_LONG | BOUNDED_FLAG_WIDECHAR)) != 0 ||
                (ch == 'C' && !(attr->flags & BOUNDED_FLAG_SHORT));
    attr->flags &= ~static_cast<unsigned>(BOUNDED_FLAG_LEADZERO);
    if (!wide) {
        e->buffer[0] = static_cast<char>(va_arg(*e->args, int));
        text->str = e->buffer;
        text->len = 1;
        return;
    }
    auto wc = static_cast<wchar_t>(va_arg(*e->args, wint_t));
    int len = wctomb(e->fmtCopy, wc);
    if (len < 0) {
        attr->noOutput = true;
        return;
    }
    text->str = e->fmtCopy;
    text->len = len;
}

void ConvertString(Engine* e, char ch, ConvText* text) {
    FormatAttr* attr = &e->attr;
    bool wide = (attr->flags & (BOUNDED_FLAG_LONG | BOUNDED_FLAG_WIDECHAR)) != 0 ||
                (ch == 'S' && !(attr->flags & BOUNDED_FLAG_SHORT));
    attr->flags &= ~static_cast<unsigned>(BOUNDED_FLAG_LEADZERO);
    size_t limit =
        attr->precision < 0 ? static_cast<size_t>(INT32_MAX) : static_cast<size_t>(attr->precision);
    if (!wide) {
        const char* str = va_arg(*e->args, const char*);
        if (str == nullptr) {
            str = g_strNullString;
        }
        text->str = str;
        text->len = static_cast<int>(strnlen(str, limit));
        return;
    }
    const wchar_t* wstr = va_arg(*e->args, const wchar_t*);
    if (wstr == nullptr) {
        wstr = g_wStrNullString;
    }
    size_t len = 0;
    while (len < limit && wstr[len] != L'\0') {
        ++len;
    }
    attr->wideText = true;
    text->wstr = wstr;
    text->len = static_cast<int>(len);
}

/* Calls the C library with exactly the arguments that the conversion text names. */
int CallIndirect(Engine* e, char* buffer, const char* spec, bool longValue, double value,
                 long double longDouble) {
    const FormatAttr* attr = &e->attr;
    int width = (attr->flags & BOUNDED_FLAG_LEFT) ? -attr->width : attr->width;
    int precision = attr->precision;
    if (attr->widthStar && attr->precisionStar) {
        return longValue ? BoundedIndirectSprintf(buffer, spec, width, precision, longDouble)
                         : BoundedIndirectSprintf(buffer, spec, width, precision, value);
    }
    if (attr->widthStar) {
        return longValue ? BoundedIndirectSprintf(buffer, spec, width, longDouble)
                         : BoundedIndirectSprintf(buffer, spec, width, value);
    }
    if (attr->precisionStar) {
        return longValue ? BoundedIndirectSprintf(buffer, spec, precision, longDouble)
                         : BoundedIndirectSprintf(buffer, spec, precision, value);
    }
    return longValue ? BoundedIndirectSprintf(buffer, spec, longDouble)
                     : BoundedIndirectSprintf(buffer, spec, value);
}

/* The size modifiers of a conversion are its last characters before the
 * conversion character: the parse admits nothing but another modifier or the
 * conversion behind one, and the digits of I64 and I32 belong to the run. */
const char* SizeModifierRun(const char* specStart, const char* convChar) {
    const char* pos = specStart + 1;
    while (pos < convChar && stateTable[static_cast<unsigned char>(*pos)] != kSizeClass) {
        ++pos;
    }
    return pos;
}

void ConvertFloat(Engine* e, char ch, const char* specEnd, ConvText* text) {
    FormatAttr* attr = &e->attr;
    bool isLongDouble = (attr->flags & BOUNDED_FLAG_LONG_DOUBLE) != 0;
    double value = 0.0;
    long double longDouble = 0.0L;
    if (isLongDouble) {
        longDouble = va_arg(*e->args, long double);
    } else {
        value = va_arg(*e->args, double);
    }

    int precision = attr->precision < 0 ? 6 : attr->precision;
    if ((ch == 'g' || ch == 'G') && precision == 0) {
        precision = 1;
    }
    int limit = isLongDouble ? BOUNDED_LDOUBLE_PRECISION_LIMIT : BOUNDED_FLOAT_PRECISION_LIMIT;
    if (precision >= limit) {
        attr->noOutput = true;
        return;
    }
    int bufferSize = precision + BOUNDED_FLOAT_EXTRA + (isLongDouble ? BOUNDED_LDOUBLE_EXTRA : 0);
    /* A text padded to the width has exactly width bytes, and its terminator
     * needs one more: a width equal to the size computed above does not fit. */
    if (bufferSize <= attr->width) {
        bufferSize = attr->width + 2;
    }
    char* buffer = e->buffer;
    if (bufferSize > BOUNDED_BUFFER_SIZE) {
        buffer = static_cast<char*>(malloc(static_cast<size_t>(bufferSize)));
        if (buffer == nullptr) {
            attr->noOutput = true;
            return;
        }
    }

    /* The C library picks the type it reads by the size modifier: glibc takes
     * a long double for ll, L and q, and for j on 32-bit builds only (where
     * intmax_t is wider than long); it reads I as a flag and the 64 or 32
     * behind it as a width, and prints the conversion as text at N, w or a
     * second modifier. So the copy keeps flags, width and precision as they
     * stand and names exactly the type fetched above: L for a long double, no
     * modifier for a double. */
    auto keep = static_cast<size_t>(SizeModifierRun(e->specStart, specEnd - 1) - e->specStart);
    size_t specLen = keep + (isLongDouble ? 2U : 1U);
    char* spec = e->fmtCopy;
    if (specLen + 1 > BOUNDED_FMT_COPY_SIZE) {
        spec = static_cast<char*>(malloc(specLen + 1));
    }
    int written = -1;
    if (spec != nullptr) {
        memcpy(spec, e->specStart, keep);
        if (isLongDouble) {
            spec[keep++] = 'L';
        }
        spec[keep++] = ch;
        spec[keep] = '\0';
        written = CallIndirect(e, buffer, spec, isLongDouble, value, longDouble);
        if (spec != e->fmtCopy) {
            free(spec);
        }
    }
    if (written < 0 || written >= bufferSize) {
        if (buffer != e->buffer) {
            free(buffer);
        }
        attr->noOutput = true;
        return;
    }
    text->str = buffer;
    text->len = written;
    text->heapBuffer = (buffer != e->buffer) ? buffer : nullptr;
    /* The C library already padded and signed the text. */
    attr->flags = 0;
    attr->prefixLen = 0;
    attr->width = written;
}

/* Writes a wide text character by character; false when one cannot be converted. */
bool WriteWideText(Engine* e, const wchar_t* wstr, int len) {
    char bytes[BOUNDED_FMT_COPY_SIZE];
    for (int i = 0; i < len && e->result >= 0; ++i) {
        int n = wctomb(bytes, wstr[i]);
        if (n < 0) {
            return false;
        }
        WriteText(bytes, n, e->stream, &e->result);
    }
    return true;
}

/* Sign or prefix, padding and the text of one conversion. */
void OutputConversion(Engine* e, const ConvText* text) {
    FormatAttr* attr = &e->attr;
    if (attr->flags & BOUNDED_FLAG_SIGNED) {
        if (attr->flags & BOUNDED_FLAG_NEGATIVE) {
            attr->prefix[0] = '-';
            attr->prefixLen = 1;
        } else if (attr->flags & BOUNDED_FLAG_SIGN) {
            attr->prefix[0] = '+';
            attr->prefixLen = 1;
        } else if (attr->flags & BOUNDED_FLAG_SPACE) {
            attr->prefix[0] = ' ';
            attr->prefixLen = 1;
        }
    }
    int fill = attr->width - text->len - attr->prefixLen;
    bool left = (attr->flags & BOUNDED_FLAG_LEFT) != 0;
    bool zero = (attr->flags & BOUNDED_FLAG_LEADZERO) != 0;
    if (fill > 0 && !left && !zero) {
        WriteRepeat(' ', fill, e->stream, &e->result);
    }
    WriteText(attr->prefix, attr->prefixLen, e->stream, &e->result);
    if (fill > 0 && zero && !left) {
        WriteRepeat('0', fill, e->stream, &e->result);
    }
    if (attr->wideText) {
        if (!WriteWideText(e, text->wstr, text->len)) {
            e->result = -1;
            return;
        }
    } else {
        WriteText(text->str, text->len, e->stream, &e->result);
    }
    if (e->result >= 0 && fill > 0 && left) {
        WriteRepeat(' ', fill, e->stream, &e->result);
    }
}

void Convert(Engine* e, char ch, const char* specEnd) {
    ConvText text = {nullptr, nullptr, 0, nullptr};
    switch (ch) {
        case 'c':
        case 'C':
            ConvertChar(e, ch, &text);
            break;
        case 's':
        case 'S':
            ConvertString(e, ch, &text);
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
            ConvertFloat(e, ch, specEnd, &text);
            break;
        default: /* d i o u x X p */
            ConvertInteger(e, ch, &text);
            break;
    }
    if (!e->attr.noOutput) {
        OutputConversion(e, &text);
    }
    if (text.heapBuffer != nullptr) {
        free(text.heapBuffer);
    }
}

/* Decimal digits of value ending at end; the value 0 gives the digit 0. */
inline char* WriteDecimalOrZero(uint32_t value, char* end) {
    if (value == 0) {
        *--end = '0';
        return end;
    }
    return WriteDecimal32(value, end);
}

/* How many decimal digits value has (1 for 0). */
inline int DecimalLength(uint32_t value) {
    int len = 1;
    for (; value >= 10000; value /= 10000) {
        len += 4;
    }
    return len + (value >= 10) + (value >= 100) + (value >= 1000);
}

/* A plain %d or %u: where the stream has room for every byte, the digits go
 * straight into it; otherwise through the buffer and the counted writer. */
inline void WritePlainDecimal(Engine* e, uint32_t magnitude, bool negative) {
    BoundedOutStream* stream = e->stream;
    const int len = DecimalLength(magnitude) + (negative ? 1 : 0);
    if (e->result >= 0 && stream->count >= len) {
        char* end = stream->cur + len;
        WriteDecimalOrZero(magnitude, end);
        if (negative) {
            *stream->cur = '-';
        }
        stream->cur = end;
        stream->count -= len;
        e->result += len;
        return;
    }
    char* end = e->buffer + BOUNDED_BUFFER_SIZE;
    char* start = WriteDecimalOrZero(magnitude, end);
    if (negative) {
        *--start = '-';
    }
    WriteText(start, static_cast<int>(end - start), stream, &e->result);
}

/* A conversion with no flag, width, precision or size modifier - most of the
 * tools' conversions - and a zero-padded one-digit width on an integer (as in
 * %02x) are done here without the general machinery; the text is the one the
 * general path gives. Returns how many format characters after the '%' it
 * took, or 0 for any other conversion, which then takes the general path. */
int ConvertBare(Engine* e, const char* format) {
    int zeroWidth = 0;
    int taken = 1;
    char ch = format[0];
    if (ch == '0' && format[1] >= '1' && format[1] <= '9' &&
        (format[2] == 'd' || format[2] == 'u' || format[2] == 'x')) {
        zeroWidth = format[1] - '0';
        ch = format[2];
        taken = 3;
    }
    char* end = e->buffer + BOUNDED_BUFFER_SIZE;
    char* start;
    bool negative = false;
    if (zeroWidth == 0) {
        switch (ch) {
            case 'd': {
                int value = va_arg(*e->args, int);
                WritePlainDecimal(
                    e, value < 0 ? 0U - static_cast<uint32_t>(value) : static_cast<uint32_t>(value),
                    value < 0);
                return taken;
            }
            case 'u':
                WritePlainDecimal(e, va_arg(*e->args, unsigned), false);
                return taken;
            case 'c':
                WriteOne(static_cast<char>(va_arg(*e->args, int)), e->stream, &e->result);
                return taken;
            default:
                break;
        }
    }
    switch (ch) {
        case 's': {
            const char* str = va_arg(*e->args, const char*);
            if (str == nullptr) {
                str = g_strNullString;
            }
            WriteText(str, static_cast<int>(strlen(str)), e->stream, &e->result);
            return taken;
        }
        case 'd': {
            int value = va_arg(*e->args, int);
            negative = value < 0;
            start = WriteDecimalOrZero(
                negative ? 0U - static_cast<uint32_t>(value) : static_cast<uint32_t>(value), end);
            break;
        }
        case 'u':
            start = WriteDecimalOrZero(va_arg(*e->args, unsigned), end);
            break;
        case 'x':
            start = WriteByShift(va_arg(*e->args, unsigned), end, 4, itoaLowerDigits);
            if (start == end) {
                *--start = '0';
            }
            break;
        case 'c':
            start = end - 1;
            *start = static_cast<char>(va_arg(*e->args, int));
            break;
        default:
            return 0;
    }
    /* The sign goes before the zeros of the padding. */
    int fill = zeroWidth - static_cast<int>(end - start) - (negative ? 1 : 0);
    if (negative) {
        WriteOne('-', e->stream, &e->result);
    }
    if (fill > 0) {
        WriteRepeat('0', fill, e->stream, &e->result);
    }
    WriteText(start, static_cast<int>(end - start), e->stream, &e->result);
    return taken;
}

/* Writes the run of ordinary characters that starts at format; returns the
 * position of the next '%' or terminator. */
const char* WriteLiteralRun(Engine* e, const char* format) {
    const char* end = format;
    while (*end != '\0' && *end != '%') {
        ++end;
    }
    WriteText(format, static_cast<int>(end - format), e->stream, &e->result);
    return end;
}

}  // namespace

void BoundedOutputOneChar(char ch, BoundedOutStream* stream, int* result) {
    WriteOne(ch, stream, result);
}

void BoundedWriteMultiChar(char ch, int repeat, BoundedOutStream* stream, int* result) {
    WriteRepeat(ch, repeat, stream, result);
}

void BoundedWriteString(const char* text, int len, BoundedOutStream* stream, int* result) {
    WriteText(text, len, stream, result);
}

int BoundedIndirectSprintf(char* buffer, const char* format, ...) {
    va_list argList;
    va_start(argList, format);
    int ret = vsprintf(buffer, format, argList);
    va_end(argList);
    return ret;
}

int BoundedOutput(BoundedOutStream* stream, const char* format, va_list argList) {
    Engine e;
    va_list args;
    va_copy(args, argList);
    e.stream = stream;
    e.args = &args;
    e.result = 0;
    /* The conversion's attributes are reset at the '%' that starts it. */
    e.specStart = format;

    unsigned char state = STAT_NORMAL;
    char ch;
    while ((ch = *format) != '\0' && e.result >= 0) {
        if (state == STAT_NORMAL || state == STAT_TYPE) {
            if (ch != '%') {
                /* ordinary text: every class leads back to the normal state */
                format = WriteLiteralRun(&e, format);
                state = STAT_NORMAL;
                continue;
            }
            /* A '%' out of text starts a conversion, as the table says. */
            ++format;
            if (int taken = ConvertBare(&e, format)) {
                format += taken;
                state = STAT_TYPE;
            } else {
                ResetAttr(&e.attr);
                e.specStart = format - 1;
                state = STAT_PERCENT;
            }
            continue;
        }
        ++format;
        unsigned char lastState = state;
        unsigned cls = stateTable[static_cast<unsigned char>(ch)];
        state = stateTable[256 + cls * BOUNDED_STATE_COUNT + state];
        bool ok = true;
        switch (state) {
            case STAT_NORMAL:
                WriteOne(ch, stream, &e.result);
                break;
            case STAT_PERCENT: /* only from text, taken above */
                break;
            case STAT_FLAG:
                SetFlag(&e.attr, ch);
                break;
            case STAT_WIDTH:
                ok = ParseWidth(&e, ch, lastState);
                break;
            case STAT_DOT:
                e.attr.precision = 0;
                break;
            case STAT_PRECIS:
                ok = ParsePrecision(&e, ch);
                break;
            case STAT_SIZE:
                format = ParseSize(&e, ch, format, &state);
                break;
            case STAT_TYPE:
                Convert(&e, ch, format);
                break;
            default: /* STAT_INVALID */
                ok = false;
                break;
        }
        if (!ok) {
            va_end(args);
            return -1;
        }
    }
    va_end(args);
    if (e.result < 0) {
        return -1;
    }
    return (state == STAT_NORMAL || state == STAT_TYPE) ? e.result : -1;
}

namespace {

/* Puts len bytes of text and the terminator in dest of count bytes, as the
 * counted stream does: what does not fit is cut, and the call reports it. */
int PutSingleText(char* dest, size_t count, const char* text, size_t len) {
    if (len < count) {
        memcpy(dest, text, len);
        dest[len] = '\0';
        return static_cast<int>(len);
    }
    memcpy(dest, text, count - 1);
    dest[count - 1] = '\0';
    return BOUNDED_PRINTF_TRUNCATED;
}

/* A format that is one bare %s, %d, %u or %c - the tools' most common call -
 * is converted without the interpreter; the text and the result are the
 * interpreter's. Returns false for any other format. */
bool ConvertSingle(char* dest, size_t count, const char* format, va_list argList, int* ret) {
    if (format[0] != '%' || format[1] == '\0' || format[2] != '\0') {
        return false;
    }
    char digits[12];
    char* end = digits + sizeof digits;
    char* start;
    switch (format[1]) {
        case 's': {
            const char* str = va_arg(argList, const char*);
            if (str == nullptr) {
                str = g_strNullString;
            }
            *ret = PutSingleText(dest, count, str, strlen(str));
            return true;
        }
        case 'd': {
            int value = va_arg(argList, int);
            start = WriteDecimalOrZero(
                value < 0 ? 0U - static_cast<uint32_t>(value) : static_cast<uint32_t>(value), end);
            if (value < 0) {
                *--start = '-';
            }
            break;
        }
        case 'u':
            start = WriteDecimalOrZero(va_arg(argList, unsigned), end);
            break;
        case 'c':
            start = end - 1;
            *start = static_cast<char>(va_arg(argList, int));
            break;
        default:
            return false;
    }
    *ret = PutSingleText(dest, count, start, static_cast<size_t>(end - start));
    return true;
}

}  // namespace

int BoundedVsnprintfImpl(char* dest, size_t count, const char* format, va_list argList) {
    int single = 0;
    if (ConvertSingle(dest, count, format, argList, &single)) {
        return single;
    }
    BoundedOutStream stream;
    stream.count = static_cast<int>(count);
    stream.cur = dest;
    int ret = BoundedOutput(&stream, format, argList);
    if (ret >= 0 && stream.count >= 1) {
        *stream.cur = '\0';
        return ret;
    }
    if (ret >= 0 || stream.count < 0) {
        dest[count - 1] = '\0';
        return BOUNDED_PRINTF_TRUNCATED;
    }
    dest[0] = '\0';
    return BOUNDED_PRINTF_ERROR;
}
