// Internals shared by the entry points: constant tables, classification of
// refused requests, the small fill and copy, the output stream and the engine.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "boundedinternal.h"
#include "boundedprintoutput.h"

namespace {

constexpr size_t kTooBig = static_cast<size_t>(0x80000000UL);

// Variadic front doors to the va_list internals.
int RunOutput(BoundedOutStream* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int ret = BoundedOutput(stream, format, args);
    va_end(args);
    return ret;
}

int RunImpl(char* dest, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int ret = BoundedVsnprintfImpl(dest, count, format, args);
    va_end(args);
    return ret;
}

// ---------------------------------------------------------------------------
// Format parser table

enum Cls { kOther, kPercent, kDot, kStar, kZero, kDigit, kFlag, kSize, kConv };

// Character classes, written out from the list of characters of each class.
int ClassOf(unsigned ch) {
    const auto c = static_cast<char>(ch);
    if (ch == 0) {
        return kOther;
    }
    if (c == '%') {
        return kPercent;
    }
    if (c == '.') {
        return kDot;
    }
    if (c == '*') {
        return kStar;
    }
    if (c == '0') {
        return kZero;
    }
    if (std::string_view("123456789").find(c) != std::string_view::npos) {
        return kDigit;
    }
    if (std::string_view(" #+-").find(c) != std::string_view::npos) {
        return kFlag;
    }
    if (std::string_view("ILNZhjlqtwz").find(c) != std::string_view::npos) {
        return kSize;
    }
    if (std::string_view("CEFGSXcdefgiopsux").find(c) != std::string_view::npos) {
        return kConv;
    }
    return kOther;
}

TEST(StateTable, ClassOfEveryCharacter) {
    ASSERT_EQ(sizeof stateTable, 337U);
    for (unsigned ch = 0; ch < 256; ++ch) {
        EXPECT_EQ(stateTable[ch], ClassOf(ch)) << "character " << ch;
    }
    // Characters that look like conversions but are refused.
    EXPECT_EQ(stateTable[static_cast<unsigned char>('a')], kOther);
    EXPECT_EQ(stateTable[static_cast<unsigned char>('A')], kOther);
    EXPECT_EQ(stateTable[static_cast<unsigned char>('n')], kOther);
}

TEST(StateTable, EveryTransition) {
    enum { N, P, F, W, D, R, S, T, X };  // normal .. type, invalid
    // Rows: class; columns: normal, percent, flag, width, dot, precision,
    // size, type, invalid.
    static const unsigned char kNext[9][9] = {
        /* other   */ {N, X, X, X, X, X, X, N, N},
        /* %       */ {P, N, X, X, X, X, X, P, N},
        /* .       */ {N, D, D, D, X, X, X, N, N},
        /* *       */ {N, W, W, X, R, X, X, N, N},
        /* 0       */ {N, F, F, W, R, R, X, N, N},
        /* 1-9     */ {N, W, W, W, R, R, X, N, N},
        /* flag    */ {N, F, F, F, X, X, X, N, N},
        /* size    */ {N, S, S, S, S, S, S, N, N},
        /* convert */ {N, T, T, T, T, T, T, N, N},
    };
    for (int cls = 0; cls < 9; ++cls) {
        for (int state = 0; state < 9; ++state) {
            EXPECT_EQ(stateTable[256 + cls * 9 + state], kNext[cls][state])
                << "class " << cls << " state " << state;
        }
    }
}

// ---------------------------------------------------------------------------
// Constant strings and tables

TEST(Constants, DigitStrings) {
    const char lower[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8',
                          '9', 'a', 'b', 'c', 'd', 'e', 'f', 'x', '\0'};
    const char upper[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8',
                          '9', 'A', 'B', 'C', 'D', 'E', 'F', 'X', '\0'};
    ASSERT_EQ(sizeof itoaLowerDigits, sizeof lower);
    ASSERT_EQ(sizeof itoaUpperDigits, sizeof upper);
    for (size_t i = 0; i < sizeof lower; ++i) {
        EXPECT_EQ(itoaLowerDigits[i], lower[i]) << i;
        EXPECT_EQ(itoaUpperDigits[i], upper[i]) << i;
    }
}

TEST(Constants, NullStrings) {
    const char narrow[8] = {'(', 'n', 'u', 'l', 'l', ')', '\0', '\0'};
    const wchar_t wide[8] = {L'(', L'n', L'u', L'l', L'l', L')', L'\0', L'\0'};
    ASSERT_EQ(sizeof g_strNullString, 8U);
    ASSERT_EQ(sizeof g_wStrNullString, 8 * sizeof(wchar_t));
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(g_strNullString[i], narrow[i]) << i;
        EXPECT_EQ(g_wStrNullString[i], wide[i]) << i;
    }
}

TEST(Constants, FillSources) {
    ASSERT_EQ(sizeof g_allZero, 32U);
    ASSERT_EQ(sizeof g_allFF, 32U);
    for (size_t i = 0; i < 32; ++i) {
        EXPECT_EQ(g_allZero[i], 0x00) << i;
        EXPECT_EQ(g_allFF[i], 0xFF) << i;
    }
}

// ---------------------------------------------------------------------------
// Bounded length

TEST(BoundedStrMinLen, CountsAtMostMaxLen) {
    struct Case {
        const char* str;
        size_t maxLen;
        size_t expected;
    };
    const Case cases[] = {{"", 0, 0},    {"", 5, 0},    {"abc", 0, 0}, {"abc", 1, 1},
                          {"abc", 2, 2}, {"abc", 3, 3}, {"abc", 4, 3}, {"abc", BOUNDED_MAX_SIZE, 3},
                          {"a\0b", 3, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(BoundedStrMinLen(c.str, c.maxLen), c.expected)
            << "[" << c.str << "] maxLen=" << c.maxLen;
    }
    // A block without a terminator is not read past maxLen.
    std::unique_ptr<char[]> block(new char[5]);
    std::memcpy(block.get(), "vwxyz", 5);
    EXPECT_EQ(BoundedStrMinLen(block.get(), 5), 5U);
}

// ---------------------------------------------------------------------------
// Classification of refused requests

TEST(BoundedMemsetError, ClassifiesInOrder) {
    unsigned char buf[10];
    std::memset(buf, 0x11, sizeof buf);
    EXPECT_EQ(BoundedMemsetError(nullptr, 0, 0x22, 5), ERANGE);
    EXPECT_EQ(BoundedMemsetError(buf, kTooBig, 0x22, kTooBig + 1), ERANGE);
    EXPECT_EQ(BoundedMemsetError(nullptr, 8, 0x22, 9), EINVAL);
    for (unsigned char b : buf) {
        EXPECT_EQ(b, 0x11);
    }
    EXPECT_EQ(BoundedMemsetError(buf, 8, 0x322, 9), ERANGE_CLEARED);
    for (size_t i = 0; i < sizeof buf; ++i) {
        EXPECT_EQ(buf[i], i < 8 ? 0x22 : 0x11) << i;
    }
}

TEST(BoundedMemcpyError, ClassifiesInOrder) {
    struct Case {
        const char* what;
        size_t destMax;
        bool nullDest;
        int src;  // -1 null, 0 separate, otherwise buf + src (dest is buf + 16)
        size_t count;
        int expected;
        bool zeroed;
    };
    const Case cases[] = {
        {"size 0", 0, true, -1, 4, ERANGE, false},
        {"size over limit", kTooBig, false, 0, 4, ERANGE, false},
        {"null dest", 8, true, -1, 9, EINVAL, false},
        {"null src", 8, false, -1, 9, EINVAL_CLEARED, true},
        {"count over size", 8, false, 0, 9, ERANGE_CLEARED, true},
        {"count over size, overlapping", 8, false, 18, 9, ERANGE_CLEARED, true},
        {"source is dest", 8, false, 16, 4, BOUNDED_OK, false},
        {"overlap", 8, false, 18, 4, EOVERLAP_CLEARED, true},
        {"count 0", 8, false, 0, 0, BOUNDED_OK, false},
    };
    const unsigned char separate[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (const Case& c : cases) {
        unsigned char buf[32];
        std::memset(buf, 0x44, sizeof buf);
        unsigned char* dest = c.nullDest ? nullptr : buf + 16;
        const unsigned char* src = c.src < 0 ? nullptr : c.src == 0 ? separate : buf + c.src;
        EXPECT_EQ(BoundedMemcpyError(dest, c.destMax, src, c.count), c.expected) << c.what;
        for (size_t i = 0; i < sizeof buf; ++i) {
            const bool inDest = i >= 16 && i < 16 + c.destMax;
            EXPECT_EQ(buf[i], c.zeroed && inDest ? 0 : 0x44) << c.what << " byte " << i;
        }
    }
}

TEST(StrncpyError, ClassifiesInOrder) {
    struct Case {
        const char* what;
        size_t destMax;
        bool nullDest;
        bool nullSrc;
        size_t count;
        int expected;
        bool firstCleared;
    };
    const Case cases[] = {
        {"size 0", 0, true, true, kTooBig, ERANGE, false},
        {"size over limit", kTooBig, false, false, 3, ERANGE, false},
        {"null dest", 8, true, true, kTooBig, EINVAL, false},
        {"null src", 8, false, true, kTooBig, EINVAL_CLEARED, true},
        {"count over limit", 8, false, false, kTooBig, ERANGE_CLEARED, true},
        {"count 0", 8, false, false, 0, BOUNDED_OK, true},
    };
    for (const Case& c : cases) {
        char buf[8];
        std::memset(buf, 'q', sizeof buf);
        EXPECT_EQ(strncpy_error(c.nullDest ? nullptr : buf, c.destMax, c.nullSrc ? nullptr : "ab",
                                c.count),
                  c.expected)
            << c.what;
        EXPECT_EQ(std::string(buf, 8),
                  (c.firstCleared ? std::string(1, '\0') + "qqqqqqq" : std::string("qqqqqqqq")))
            << c.what;
    }
}

// ---------------------------------------------------------------------------
// Small fill and copy

TEST(BoundedDoMemsetOpt, MatchesFillAtEveryAlignment) {
    const int values[] = {0, 0xFF, -1, 0x1FF, 0x100, 0xFF00, 0x7F, 0x80, 'z'};
    for (int c : values) {
        const auto low = static_cast<unsigned char>(c);
        for (size_t offset = 0; offset < 8; ++offset) {
            for (size_t count = 0; count <= 40; ++count) {
                alignas(16) unsigned char buf[64];
                std::memset(buf, 0x5C, sizeof buf);
                BoundedDoMemsetOpt(buf + 8 + offset, c, count);
                for (size_t i = 0; i < sizeof buf; ++i) {
                    const bool inside = i >= 8 + offset && i < 8 + offset + count;
                    ASSERT_EQ(buf[i], inside ? low : 0x5C)
                        << "c=" << c << " offset=" << offset << " count=" << count << " i=" << i;
                }
            }
        }
    }
}

TEST(BoundedDoMemcpyOpt, MatchesCopyAtEveryAlignment) {
    alignas(16) unsigned char source[96];
    for (size_t i = 0; i < sizeof source; ++i) {
        source[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    for (size_t count = 0; count <= 80; ++count) {
        for (size_t destOff = 0; destOff < 8; ++destOff) {
            for (size_t srcOff = 0; srcOff < 8; ++srcOff) {
                alignas(16) unsigned char buf[112];
                std::memset(buf, 0xE7, sizeof buf);
                BoundedDoMemcpyOpt(buf + 8 + destOff, source + srcOff, count);
                for (size_t i = 0; i < sizeof buf; ++i) {
                    const bool inside = i >= 8 + destOff && i < 8 + destOff + count;
                    ASSERT_EQ(buf[i], inside ? source[srcOff + i - 8 - destOff] : 0xE7)
                        << "count=" << count << " destOff=" << destOff << " srcOff=" << srcOff
                        << " i=" << i;
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Output stream

TEST(BoundedOutputOneChar, WritesUntilExhausted) {
    char buf[4] = {'#', '#', '#', '#'};
    BoundedOutStream stream{2, buf};
    int result = 0;
    BoundedOutputOneChar('a', &stream, &result);
    BoundedOutputOneChar('b', &stream, &result);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(stream.count, 0);
    EXPECT_EQ(stream.cur, buf + 2);
    BoundedOutputOneChar('c', &stream, &result);
    EXPECT_EQ(result, -1);
    EXPECT_LT(stream.count, 0);
    BoundedOutputOneChar('d', &stream, &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(stream.cur, buf + 2);
    EXPECT_EQ(std::string(buf, 4), "ab##");
}

TEST(BoundedOutputOneChar, EmptyStreamTakesNothing) {
    char buf[1] = {'#'};
    BoundedOutStream stream{0, buf};
    int result = 9;
    BoundedOutputOneChar('a', &stream, &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(buf[0], '#');
}

// Texts below and above the block-copy threshold, with room to spare, just
// enough room, and too little.
TEST(BoundedWriteString, AllOrUpToExhaustion) {
    const char text[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int len = 0; len <= 24; ++len) {
        for (int room = 0; room <= len + 2; ++room) {
            char buf[32];
            std::memset(buf, '#', sizeof buf);
            BoundedOutStream stream{room, buf};
            int result = 5;
            BoundedWriteString(text, len, &stream, &result);
            const bool fits = room >= len;
            const int written = fits ? len : room;
            EXPECT_EQ(result, fits ? 5 + len : -1) << "len=" << len << " room=" << room;
            EXPECT_EQ(stream.cur, buf + written) << "len=" << len << " room=" << room;
            if (fits) {
                EXPECT_EQ(stream.count, room - len) << "len=" << len << " room=" << room;
            } else {
                EXPECT_LT(stream.count, 0) << "len=" << len << " room=" << room;
            }
            EXPECT_EQ(std::string(buf, sizeof buf),
                      std::string(text, static_cast<size_t>(written)) +
                          std::string(sizeof buf - static_cast<size_t>(written), '#'))
                << "len=" << len << " room=" << room;
        }
    }
}

TEST(BoundedWriteString, NothingAfterExhaustion) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    BoundedOutStream stream{2, buf};
    int result = 0;
    BoundedWriteString("abc", 3, &stream, &result);
    ASSERT_EQ(result, -1);
    BoundedWriteString("xyz", 3, &stream, &result);
    BoundedWriteString("0123456789abcdef", 16, &stream, &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(std::string(buf, sizeof buf), "ab######");
}

TEST(BoundedWriteMultiChar, AllOrUpToExhaustion) {
    for (int repeat = 0; repeat <= 40; ++repeat) {
        for (int room = 0; room <= repeat + 2; ++room) {
            char buf[48];
            std::memset(buf, '#', sizeof buf);
            BoundedOutStream stream{room, buf};
            int result = 3;
            BoundedWriteMultiChar('*', repeat, &stream, &result);
            const bool fits = room >= repeat;
            const int written = fits ? repeat : room;
            EXPECT_EQ(result, fits ? 3 + repeat : -1) << "repeat=" << repeat << " room=" << room;
            EXPECT_EQ(stream.cur, buf + written) << "repeat=" << repeat << " room=" << room;
            if (fits) {
                EXPECT_EQ(stream.count, room - repeat);
            } else {
                EXPECT_LT(stream.count, 0);
            }
            EXPECT_EQ(std::string(buf, sizeof buf),
                      std::string(static_cast<size_t>(written), '*') +
                          std::string(sizeof buf - static_cast<size_t>(written), '#'))
                << "repeat=" << repeat << " room=" << room;
        }
    }
}

// ---------------------------------------------------------------------------
// Engine

TEST(BoundedOutput, WritesTextWithoutTerminator) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    BoundedOutStream stream{8, buf};
    EXPECT_EQ(RunOutput(&stream, "x%dy", 42), 4);
    EXPECT_EQ(std::string(buf, 8), "x42y####");
    EXPECT_EQ(stream.count, 4);
    EXPECT_EQ(stream.cur, buf + 4);
}

TEST(BoundedOutput, ExactFitLeavesNoRoom) {
    char buf[4] = {'#', '#', '#', '#'};
    BoundedOutStream stream{3, buf};
    EXPECT_EQ(RunOutput(&stream, "abc"), 3);
    EXPECT_EQ(stream.count, 0);
    EXPECT_EQ(std::string(buf, 4), "abc#");
}

TEST(BoundedOutput, ExhaustedStreamFailsTheCall) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    BoundedOutStream stream{3, buf};
    EXPECT_EQ(RunOutput(&stream, "ab%sxyz", "cdef"), -1);
    EXPECT_LT(stream.count, 0);
    EXPECT_EQ(std::string(buf, 8), "abc#####");
}

TEST(BoundedOutput, UnfinishedOrInvalidConversionIsFailure) {
    // A format that ends in any state but normal or type.
    const char* const unfinished[] = {"%", "ab%", "%-", "%5", "%05", "%.", "%.3", "%l", "%hh"};
    for (const char* format : unfinished) {
        char buf[16];
        BoundedOutStream stream{16, buf};
        EXPECT_EQ(RunOutput(&stream, format), -1) << "[" << format << "]";
    }
    char buf[16];
    BoundedOutStream starStream{16, buf};
    EXPECT_EQ(RunOutput(&starStream, "%*", 5), -1);

    // Ending right after a conversion or a literal is fine.
    BoundedOutStream typeStream{16, buf};
    EXPECT_EQ(RunOutput(&typeStream, "%%"), 1);
    BoundedOutStream convStream{16, buf};
    EXPECT_EQ(RunOutput(&convStream, "%5d", 1), 5);

    // An invalid character stops the parse at once: nothing after it is written.
    char line[12];
    std::memset(line, '#', sizeof line);
    BoundedOutStream invalid{12, line};
    EXPECT_EQ(RunOutput(&invalid, "ab%kcd"), -1);
    EXPECT_EQ(std::string(line, 12), "ab##########");
}

TEST(BoundedVsnprintfImpl, CountWhenTheTextFits) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(RunImpl(buf, 8, "a%sc", "b"), 3);
    EXPECT_EQ(std::string(buf, 8), std::string("abc\0####", 8));

    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(RunImpl(buf, 4, "abc"), 3);
    EXPECT_EQ(std::string(buf, 8), std::string("abc\0####", 8));

    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(RunImpl(buf, 1, ""), 0);
    EXPECT_EQ(std::string(buf, 8), std::string("\0#######", 8));
}

TEST(BoundedVsnprintfImpl, TruncatedKeepsCountMinusOneBytes) {
    struct Case {
        const char* format;
        size_t count;
        const char* kept;  // count - 1 bytes, then the terminator
    };
    const Case cases[] = {
        {"abc", 3, "ab"},  {"abcdef", 4, "abc"}, {"abcdef", 1, ""},
        {"x%dy", 3, "x1"}, {"abcd%k", 3, "ab"},  {"0123456789abcdefgh", 15, "0123456789abcd"},
    };
    for (const Case& c : cases) {
        char buf[24];
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(RunImpl(buf, c.count, c.format, 123), BOUNDED_PRINTF_TRUNCATED)
            << "[" << c.format << "] count=" << c.count;
        std::string want = std::string(c.kept) + '\0';
        want += std::string(sizeof buf - want.size(), '#');
        EXPECT_EQ(std::string(buf, sizeof buf), want) << "[" << c.format << "] count=" << c.count;
    }
}

TEST(BoundedVsnprintfImpl, FormatErrorClearsFirstByte) {
    struct Case {
        const char* format;
        size_t count;
    };
    // "abc%k" with count 3: the stream is full but not exhausted when the
    // invalid character is met, so this is a format error, not a cut.
    const Case cases[] = {{"ab%k", 8}, {"%", 8}, {"abc%k", 3}, {"abc%", 3}, {"%n", 8}};
    for (const Case& c : cases) {
        char buf[8];
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(RunImpl(buf, c.count, c.format), BOUNDED_PRINTF_ERROR)
            << "[" << c.format << "] count=" << c.count;
        EXPECT_EQ(buf[0], '\0') << "[" << c.format << "]";
        for (size_t i = c.count; i < sizeof buf; ++i) {
            EXPECT_EQ(buf[i], '#') << "[" << c.format << "] byte " << i;
        }
    }
    char buf[8];
    EXPECT_EQ(RunImpl(buf, 8, "%*d", 214748361, 1), BOUNDED_PRINTF_ERROR);
    EXPECT_EQ(buf[0], '\0');
}

TEST(BoundedIndirectSprintf, PassesStraightToTheCLibrary) {
    char buf[64];
    EXPECT_EQ(BoundedIndirectSprintf(buf, "%.2f", 1.5), 4);
    EXPECT_STREQ(buf, "1.50");
    EXPECT_EQ(BoundedIndirectSprintf(buf, "%*.*f", 8, 3, 2.25), 8);
    EXPECT_STREQ(buf, "   2.250");
    EXPECT_EQ(BoundedIndirectSprintf(buf, "%-*f|", 10, 0.5), 11);
    EXPECT_STREQ(buf, "0.500000  |");
    EXPECT_EQ(BoundedIndirectSprintf(buf, "%Le", 12345.0L), 12);
    EXPECT_STREQ(buf, "1.234500e+04");
}

TEST(BoundedFormatArgsValid, ChecksInOrder) {
    struct Case {
        const char* what;
        bool nullDest;
        size_t destMax;
        bool nullFormat;
        bool valid;
        bool firstCleared;
    };
    const Case cases[] = {
        {"all valid", false, 8, false, true, false},
        {"size 1", false, 1, false, true, false},
        {"size at limit", false, BOUNDED_MAX_SIZE, false, true, false},
        {"null format", false, 8, true, false, true},
        {"null format, size at limit", false, BOUNDED_MAX_SIZE, true, false, true},
        {"null format, size 0", false, 0, true, false, false},
        {"null format, size over limit", false, kTooBig, true, false, false},
        {"null format and dest", true, 8, true, false, false},
        {"null dest", true, 8, false, false, false},
        {"size 0", false, 0, false, false, false},
        {"size over limit", false, kTooBig, false, false, false},
    };
    for (const Case& c : cases) {
        char buf[4] = {'#', '#', '#', '#'};
        EXPECT_EQ(BoundedFormatArgsValid(c.nullDest ? nullptr : buf, c.destMax,
                                         c.nullFormat ? nullptr : "%d"),
                  c.valid)
            << c.what;
        EXPECT_EQ(std::string(buf, 4), c.firstCleared ? std::string("\0###", 4) : "####") << c.what;
    }
}

}  // namespace
