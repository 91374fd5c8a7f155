// Tests of the formatted-output operations: the wrappers' argument checks and
// result mapping, and the conversions of the output engine.
#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>
#include <wchar.h>

#include "boundedfunc.h"

namespace {

constexpr char kPattern = '\x5a';
constexpr size_t kGuard = 16;
constexpr size_t kLargeDest = 4096;
constexpr size_t kNoLimit = static_cast<size_t>(-1);

// What one call returned and the text it left in the destination: the ret
// bytes before the terminator on success, the string up to the first NUL on
// failure.
struct Outcome {
    int ret;
    std::string text;
    bool operator==(const Outcome& other) const { return ret == other.ret && text == other.text; }
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    os << "{" << o.ret << ", \"";
    for (unsigned char ch : o.text) {
        if (ch >= 0x20 && ch < 0x7f) {
            os << ch;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", ch);
            os << hex;
        }
    }
    return os << "\"}";
}

Outcome Ok(const std::string& text) {
    return {static_cast<int>(text.size()), text};
}

Outcome Failed() {
    return {-1, ""};
}

// A destination of destMax bytes followed by guard bytes that must stay as
// they are.
class Dest {
  public:
    explicit Dest(size_t destMax) : destMax_(destMax), bytes_(destMax + kGuard, kPattern) {}
    char* data() { return bytes_.data(); }

    Outcome Read(int ret) {
        for (size_t i = destMax_; i < bytes_.size(); ++i) {
            if (bytes_[i] != kPattern) {
                ADD_FAILURE() << "byte " << i << " behind a destination of " << destMax_
                              << " bytes was written";
                break;
            }
        }
        if (ret >= 0) {
            if (static_cast<size_t>(ret) >= destMax_) {
                ADD_FAILURE() << "result " << ret << " does not leave room for the terminator";
                return {ret, ""};
            }
            EXPECT_EQ('\0', bytes_[static_cast<size_t>(ret)]) << "no terminator behind the text";
            return {ret, std::string(bytes_.data(), static_cast<size_t>(ret))};
        }
        return {ret, std::string(bytes_.data(), strnlen(bytes_.data(), destMax_))};
    }

  private:
    size_t destMax_;
    std::vector<char> bytes_;
};

template <typename... Args>
Outcome SprintfIn(size_t destMax, const char* format, Args... args) {
    Dest dest(destMax);
    return dest.Read(sprintf_s(dest.data(), destMax, format, args...));
}

template <typename... Args>
Outcome SnprintfIn(size_t destMax, size_t count, const char* format, Args... args) {
    Dest dest(destMax);
    return dest.Read(snprintf_s(dest.data(), destMax, count, format, args...));
}

template <typename... Args>
Outcome TruncatedIn(size_t destMax, const char* format, Args... args) {
    Dest dest(destMax);
    return dest.Read(snprintf_truncated_s(dest.data(), destMax, format, args...));
}

// Formats into a destination of destMax bytes through every family; when the
// text fits all of them must agree.
template <typename... Args>
Outcome FormatIn(size_t destMax, const char* format, Args... args) {
    Outcome plain = SprintfIn(destMax, format, args...);
    EXPECT_EQ(plain, SnprintfIn(destMax, kNoLimit, format, args...)) << "format " << format;
    EXPECT_EQ(plain, SnprintfIn(destMax, destMax - 1, format, args...)) << "format " << format;
    EXPECT_EQ(plain, TruncatedIn(destMax, format, args...)) << "format " << format;
    return plain;
}

// The same into a destination that is large enough for the common texts.
template <typename... Args>
Outcome Format(const char* format, Args... args) {
    return FormatIn(kLargeDest, format, args...);
}

int CallVsprintf(char* dest, size_t destMax, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int ret = vsprintf_s(dest, destMax, format, args);
    va_end(args);
    return ret;
}

int CallVsnprintf(char* dest, size_t destMax, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int ret = vsnprintf_s(dest, destMax, count, format, args);
    va_end(args);
    return ret;
}

int CallVtruncated(char* dest, size_t destMax, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int ret = vsnprintf_truncated_s(dest, destMax, format, args);
    va_end(args);
    return ret;
}

// One of the six entry points, called with a format that takes no argument.
struct Entry {
    const char* name;
    bool counted;
    std::function<int(char*, size_t, size_t, const char*)> call;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-security"

const std::vector<Entry>& Entries() {
    static const std::vector<Entry> entries = {
        {"sprintf_s", false,
         [](char* d, size_t m, size_t, const char* f) { return sprintf_s(d, m, f); }},
        {"vsprintf_s", false,
         [](char* d, size_t m, size_t, const char* f) { return CallVsprintf(d, m, f); }},
        {"snprintf_s", true,
         [](char* d, size_t m, size_t c, const char* f) { return snprintf_s(d, m, c, f); }},
        {"vsnprintf_s", true,
         [](char* d, size_t m, size_t c, const char* f) { return CallVsnprintf(d, m, c, f); }},
        {"snprintf_truncated_s", false,
         [](char* d, size_t m, size_t, const char* f) { return snprintf_truncated_s(d, m, f); }},
        {"vsnprintf_truncated_s", false,
         [](char* d, size_t m, size_t, const char* f) { return CallVtruncated(d, m, f); }},
    };
    return entries;
}

// ---------------------------------------------------------------------------
// Argument checks, in their order

TEST(FormatArgs, NullFormatClearsAValidDestination) {
    for (const Entry& entry : Entries()) {
        SCOPED_TRACE(entry.name);
        char dest[8];
        std::memset(dest, kPattern, sizeof dest);
        EXPECT_EQ(-1, entry.call(dest, sizeof dest, kNoLimit, nullptr));
        EXPECT_EQ('\0', dest[0]);
        EXPECT_EQ(kPattern, dest[1]);
    }
}

TEST(FormatArgs, NullFormatLeavesAnInvalidDestinationAlone) {
    const size_t badSizes[] = {0, BOUNDED_MAX_SIZE + 1, kNoLimit};
    for (const Entry& entry : Entries()) {
        SCOPED_TRACE(entry.name);
        for (size_t destMax : badSizes) {
            char dest[8];
            std::memset(dest, kPattern, sizeof dest);
            EXPECT_EQ(-1, entry.call(dest, destMax, kNoLimit, nullptr)) << destMax;
            EXPECT_EQ(kPattern, dest[0]) << destMax;
        }
        EXPECT_EQ(-1, entry.call(nullptr, 8, kNoLimit, nullptr));
    }
}

TEST(FormatArgs, NullDestination) {
    for (const Entry& entry : Entries()) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(-1, entry.call(nullptr, 8, kNoLimit, "abc"));
        EXPECT_EQ(-1, entry.call(nullptr, 0, kNoLimit, "abc"));
    }
}

TEST(FormatArgs, DestinationSizeOutOfRangeWritesNothing) {
    const size_t badSizes[] = {0, BOUNDED_MAX_SIZE + 1, kNoLimit};
    for (const Entry& entry : Entries()) {
        SCOPED_TRACE(entry.name);
        for (size_t destMax : badSizes) {
            char dest[8];
            std::memset(dest, kPattern, sizeof dest);
            EXPECT_EQ(-1, entry.call(dest, destMax, kNoLimit, "abc")) << destMax;
            EXPECT_EQ(std::string(8, kPattern), std::string(dest, sizeof dest)) << destMax;
        }
    }
}

TEST(FormatArgs, LargestDestinationSizeIsAccepted) {
    // Only the bytes of the text and its terminator are written.
    for (const Entry& entry : Entries()) {
        SCOPED_TRACE(entry.name);
        Dest dest(4);
        EXPECT_EQ(Ok("abc"), dest.Read(entry.call(dest.data(), BOUNDED_MAX_SIZE, kNoLimit, "abc")));
    }
}

TEST(FormatArgs, CountOutOfRangeClearsDestination) {
    const size_t badCounts[] = {BOUNDED_MAX_SIZE, BOUNDED_MAX_SIZE + 1, kNoLimit - 1};
    for (const Entry& entry : Entries()) {
        if (!entry.counted) {
            continue;
        }
        SCOPED_TRACE(entry.name);
        for (size_t count : badCounts) {
            char dest[8];
            std::memset(dest, kPattern, sizeof dest);
            EXPECT_EQ(-1, entry.call(dest, sizeof dest, count, "abc")) << count;
            EXPECT_EQ('\0', dest[0]) << count;
            EXPECT_EQ(kPattern, dest[1]) << count;
        }
        // The largest count below the limit, and the "no limit" value, are accepted.
        char dest[8];
        EXPECT_EQ(3, entry.call(dest, sizeof dest, BOUNDED_MAX_SIZE - 1, "abc"));
        EXPECT_STREQ("abc", dest);
        EXPECT_EQ(3, entry.call(dest, sizeof dest, kNoLimit, "abc"));
        EXPECT_STREQ("abc", dest);
    }
}

TEST(FormatArgs, CountIsCheckedAfterDestination) {
    for (const Entry& entry : Entries()) {
        if (!entry.counted) {
            continue;
        }
        SCOPED_TRACE(entry.name);
        char dest[8];
        std::memset(dest, kPattern, sizeof dest);
        EXPECT_EQ(-1, entry.call(dest, 0, BOUNDED_MAX_SIZE, "abc"));
        EXPECT_EQ(-1, entry.call(dest, BOUNDED_MAX_SIZE + 1, BOUNDED_MAX_SIZE, "abc"));
        EXPECT_EQ(kPattern, dest[0]);
        EXPECT_EQ(-1, entry.call(nullptr, sizeof dest, BOUNDED_MAX_SIZE, "abc"));
    }
}

// ---------------------------------------------------------------------------
// Result mapping of the three families

TEST(FormatResult, PlainFamilyFailsWhenTheTextDoesNotFit) {
    char dest[8];
    std::memset(dest, kPattern, sizeof dest);
    EXPECT_EQ(-1, sprintf_s(dest, 5, "%d", 12345));
    EXPECT_EQ('\0', dest[0]);
    EXPECT_EQ(5, sprintf_s(dest, 6, "%d", 12345));
    EXPECT_STREQ("12345", dest);

    std::memset(dest, kPattern, sizeof dest);
    EXPECT_EQ(-1, CallVsprintf(dest, 5, "%d", 12345));
    EXPECT_EQ('\0', dest[0]);
    EXPECT_EQ(5, CallVsprintf(dest, 6, "%d", 12345));
    EXPECT_STREQ("12345", dest);

    EXPECT_EQ(Ok(""), SprintfIn(1, ""));
    EXPECT_EQ(Failed(), SprintfIn(1, "a"));
}

TEST(FormatResult, CountedFamilyKeepsACutTextOnlyBelowDestMax) {
    struct Case {
        size_t destMax;
        size_t count;
        Outcome expected;
    };
    const Case cases[] = {
        {4, 3, {-1, "abc"}},     {4, 2, {-1, "ab"}},       {4, 0, {-1, ""}},
        {4, 4, Failed()},        {4, 5, Failed()},         {4, 100, Failed()},
        {4, kNoLimit, Failed()}, {10, 6, Ok("abcdef")},    {10, 9, Ok("abcdef")},
        {10, 10, Ok("abcdef")},  {10, 1000, Ok("abcdef")}, {10, kNoLimit, Ok("abcdef")},
        {10, 5, {-1, "abcde"}},  {7, 6, Ok("abcdef")},     {6, 6, Failed()},
        {6, 5, {-1, "abcde"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "destMax " << c.destMax << " count " << c.count);
        EXPECT_EQ(c.expected, SnprintfIn(c.destMax, c.count, "abcdef"));
        Dest dest(c.destMax);
        EXPECT_EQ(c.expected,
                  dest.Read(CallVsnprintf(dest.data(), c.destMax, c.count, "%s", "abcdef")));
    }
}

TEST(FormatResult, CountedFamilyEmptiesOnAFormatError) {
    // The error is met while the text still fits within count.
    EXPECT_EQ(Failed(), SnprintfIn(10, 5, "abc%k"));
    EXPECT_EQ(Failed(), SnprintfIn(10, kNoLimit, "abc%k"));
    // Here the count runs out first and the parse stops before the error.
    EXPECT_EQ(Outcome({-1, "abc"}), SnprintfIn(10, 3, "abcdef%k"));
}

TEST(FormatResult, TruncatingFamilyReportsTheCutLength) {
    EXPECT_EQ(Ok("abc"), TruncatedIn(4, "abcdef"));
    EXPECT_EQ(Ok(""), TruncatedIn(1, "abcdef"));
    EXPECT_EQ(Ok("abcde"), TruncatedIn(6, "abcdef"));
    EXPECT_EQ(Ok("abcdef"), TruncatedIn(7, "abcdef"));
    EXPECT_EQ(Ok("12"), TruncatedIn(3, "%d", 12345));

    Dest dest(4);
    EXPECT_EQ(Ok("abc"), dest.Read(CallVtruncated(dest.data(), 4, "%s", "abcdef")));
}

TEST(FormatResult, TruncatingFamilyFailsOnAFormatError) {
    EXPECT_EQ(Failed(), TruncatedIn(16, "abcdef%"));
    EXPECT_EQ(Failed(), TruncatedIn(16, "ab%kcdef"));
    // A destination that runs out before the faulty specification is reached
    // is a truncation, not a failure.
    EXPECT_EQ(Ok("abc"), TruncatedIn(4, "abcdef%"));
}

TEST(FormatResult, TextThatFillsTheDestinationWithoutTerminatorDoesNotFit) {
    // Four characters in four bytes leave no room for the terminator.
    EXPECT_EQ(Failed(), SprintfIn(4, "abcd"));
    EXPECT_EQ(Failed(), SprintfIn(4, "%s", "abcd"));
    EXPECT_EQ(Failed(), SprintfIn(4, "%4d", 1));
    EXPECT_EQ(Ok("abc"), TruncatedIn(4, "ab%c", 'c'));
    EXPECT_EQ(Ok("abc"), TruncatedIn(4, "abcd"));
    EXPECT_EQ(Outcome({-1, "1  "}), SnprintfIn(8, 3, "%-4d", 1));
}

#pragma GCC diagnostic pop

// ---------------------------------------------------------------------------
// A long text cut at every destination size

TEST(FormatTruncation, LongTextAtEveryDestinationSize) {
    const std::string tail(40, 'T');
    const char* format = "head:%-20s|%08X|%+.12d|%5c|%%|%s|%*s|end";
    const std::string full = "head:left" + std::string(16, ' ') +
                             "|0000BEEF|-000000000042|    q|%|" + tail + "|" +
                             std::string(27, ' ') + "pad|end";
    const auto len = static_cast<int>(full.size());
    ASSERT_EQ(Ok(full), Format(format, "left", 0xBEEFu, -42, 'q', tail.c_str(), 30, "pad"));

    for (size_t destMax = 1; destMax <= full.size() + 2; ++destMax) {
        SCOPED_TRACE(testing::Message() << "destMax " << destMax);
        const bool fits = destMax > full.size();
        const std::string cut = full.substr(0, destMax - 1);

        // Destinations of exactly destMax bytes, so that a stray write is seen.
        std::unique_ptr<char[]> exact(new char[destMax]);
        std::memset(exact.get(), kPattern, destMax);
        int ret = sprintf_s(exact.get(), destMax, format, "left", 0xBEEFu, -42, 'q', tail.c_str(),
                            30, "pad");
        EXPECT_EQ(fits ? len : -1, ret);
        EXPECT_EQ(fits ? full : "", std::string(exact.get()));

        ret = snprintf_truncated_s(exact.get(), destMax, format, "left", 0xBEEFu, -42, 'q',
                                   tail.c_str(), 30, "pad");
        EXPECT_EQ(fits ? len : static_cast<int>(destMax - 1), ret);
        EXPECT_EQ(fits ? full : cut, std::string(exact.get()));

        // count = destMax - 1 keeps the cut text; count = destMax empties.
        ret = snprintf_s(exact.get(), destMax, destMax - 1, format, "left", 0xBEEFu, -42, 'q',
                         tail.c_str(), 30, "pad");
        EXPECT_EQ(fits ? len : -1, ret);
        EXPECT_EQ(fits ? full : cut, std::string(exact.get()));

        ret = snprintf_s(exact.get(), destMax, destMax, format, "left", 0xBEEFu, -42, 'q',
                         tail.c_str(), 30, "pad");
        EXPECT_EQ(fits ? len : -1, ret);
        EXPECT_EQ(fits ? full : "", std::string(exact.get()));

        // Cutting by count inside a roomy destination.
        const size_t count = destMax - 1;
        Outcome counted = SnprintfIn(full.size() + 8, count, format, "left", 0xBEEFu, -42, 'q',
                                     tail.c_str(), 30, "pad");
        EXPECT_EQ(fits ? Ok(full) : Outcome({-1, cut}), counted);
    }
}

// ---------------------------------------------------------------------------
// A format of one bare conversion takes a shorter way; it must leave what the
// interpreter leaves ("%d" against "%d%s" with an empty string) in every
// family at every destination size.

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-overflow"

template <typename T>
void ExpectSingleAsInterpreter(const char* single, const char* general, T value) {
    Outcome roomy = SprintfIn(64, single, value);
    ASSERT_GE(roomy.ret, 0) << single;
    for (size_t destMax = 1; destMax <= static_cast<size_t>(roomy.ret) + 2; ++destMax) {
        SCOPED_TRACE(testing::Message() << single << " destMax " << destMax);
        EXPECT_EQ(SprintfIn(destMax, general, value, ""), SprintfIn(destMax, single, value));
        EXPECT_EQ(TruncatedIn(destMax, general, value, ""), TruncatedIn(destMax, single, value));
        for (size_t count : {destMax - 1, destMax, kNoLimit}) {
            EXPECT_EQ(SnprintfIn(destMax, count, general, value, ""),
                      SnprintfIn(destMax, count, single, value));
        }
    }
}

TEST(FormatSingle, OneBareConversionLeavesWhatTheInterpreterLeaves) {
    const std::string text32(32, 'w');
    for (const char* str :
         {"", "a", "abcdefghijk", text32.c_str(), static_cast<const char*>(nullptr)}) {
        ExpectSingleAsInterpreter("%s", "%s%s", str);
    }
    for (int value : {0, 7, -1, 12345, -99999, INT_MAX, INT_MIN}) {
        ExpectSingleAsInterpreter("%d", "%d%s", value);
    }
    for (unsigned value : {0U, 9U, 10U, 4294967295U}) {
        ExpectSingleAsInterpreter("%u", "%u%s", value);
    }
    for (int ch : {int{'x'}, 0, 0xff}) {
        ExpectSingleAsInterpreter("%c", "%c%s", ch);
    }
    // Other one-letter conversions and "%%" keep the interpreter's way.
    EXPECT_EQ(Ok("ff"), Format("%x", 255U));
    EXPECT_EQ(Ok("%"), Format("%%"));
    EXPECT_EQ(Failed(), Format("%y", 1));
}

#pragma GCC diagnostic pop

// ---------------------------------------------------------------------------
// Integers

struct IntCase {
    const char* format;
    int value;
    const char* expected;
};

TEST(FormatInteger, FlagsWidthAndPrecision) {
    const IntCase cases[] = {
        {"%d", 0, "0"},
        {"%d", INT_MIN, "-2147483648"},
        {"%d", INT_MAX, "2147483647"},
        {"%i", -7, "-7"},
        {"%5d", -42, "  -42"},
        {"%-5d|", -42, "-42  |"},
        {"%05d", -42, "-0042"},
        {"%-05d|", 7, "7    |"},
        {"%+d", 7, "+7"},
        {"%+d", -7, "-7"},
        {"% d", 7, " 7"},
        {"% d", -7, "-7"},
        {"%+ d", 7, "+7"},
        {"% +d", 7, "+7"},
        {"% 5d", 7, "    7"},
        {"%+05d", 7, "+0007"},
        {"% 05d", 7, " 0007"},
        {"%.3d", 7, "007"},
        {"%.3d", -7, "-007"},
        {"%05.3d", 7, "  007"},
        {"%10.5d", -12, "    -00012"},
        {"%-10.5d|", -12, "-00012    |"},
        {"%2d", 12345, "12345"},
        {"%.0d", 0, ""},
        {"%.d", 0, ""},
        {"%5.0d", 0, "     "},
        {"%+.0d", 0, "+"},
        {"% .0d", 0, " "},
        {"%.0d", 3, "3"},
        {"%.00d", 0, ""},
        {"%.003d", 5, "005"},
        {"%u", -1, "4294967295"},
        {"%u", INT_MIN, "2147483648"},
        {"%+u", 5, "5"},
        {"% u", 5, "5"},
        {"%o", 8, "10"},
        {"%o", -1, "37777777777"},
        {"%#o", 8, "010"},
        {"%#o", 0, "0"},
        {"%#.0o", 0, "0"},
        {"%.0o", 0, ""},
        {"%#.3o", 8, "010"},
        {"%#.4o", 8, "0010"},
        {"%#5o", 8, "  010"},
        {"%#-5o|", 8, "010  |"},
        {"%x", 255, "ff"},
        {"%X", 255, "FF"},
        {"%x", -1, "ffffffff"},
        {"%X", 0x1AB2C3D, "1AB2C3D"},
        {"%#x", 255, "0xff"},
        {"%#X", 255, "0XFF"},
        {"%#x", 0, "0"},
        {"%#5x", 0, "    0"},
        {"%#.0x", 0, ""},
        {"%#08x", 255, "0x0000ff"},
        {"%#-8x|", 255, "0xff    |"},
        {"%#.4x", 255, "0x00ff"},
        {"%#10.4X", 255, "    0X00FF"},
        {"%#3x", 255, "0xff"},
        {"%+x", 255, "ff"},
        {"%-+8d|", 5, "+5      |"},
        {"%0+6d", 5, "+00005"},
    };
    for (const IntCase& c : cases) {
        EXPECT_EQ(Ok(c.expected), Format(c.format, c.value)) << "format " << c.format;
    }
}

TEST(FormatInteger, PrecisionIsCutTo512) {
    const std::string zeros511(511, '0');
    EXPECT_EQ(Ok(zeros511 + "1"), Format("%.1000d", 1));
    EXPECT_EQ(Ok(zeros511 + "1"), Format("%.513d", 1));
    EXPECT_EQ(Ok(zeros511 + "1"), Format("%.512d", 1));
    EXPECT_EQ(Ok(std::string(510, '0') + "1"), Format("%.511d", 1));
    EXPECT_EQ(Ok("-" + zeros511 + "1"), Format("%.1000d", -1));
    EXPECT_EQ(Ok(std::string(512, '0')), Format("%.1000x", 0));
    EXPECT_EQ(Ok(std::string(510, '0') + "10"), Format("%#.1000o", 8));
    EXPECT_EQ(Ok("0x" + std::string(510, '0') + "ff"), Format("%#.1000x", 255));
    EXPECT_EQ(Ok(std::string(88, ' ') + zeros511 + "1"), Format("%600.1000d", 1));
    // The width is not limited the same way.
    EXPECT_EQ(Ok(std::string(999, ' ') + "1"), Format("%1000d", 1));
}

TEST(FormatInteger, CharAndShortModifiers) {
    const IntCase cases[] = {
        {"%hhd", 511, "-1"},        {"%hhd", 127, "127"},     {"%hhd", 128, "-128"},
        {"%hhi", 0x180, "-128"},    {"%hhu", 511, "255"},     {"%hhu", -1, "255"},
        {"%hhx", 0x1ab, "ab"},      {"%hho", 0x1ff, "377"},   {"%hhd", 0x12300, "0"},
        {"%hd", 0x18000, "-32768"}, {"%hd", 0x7fff, "32767"}, {"%hi", 0xffff, "-1"},
        {"%hu", -1, "65535"},       {"%hx", -1, "ffff"},      {"%hX", 0x1abcd, "ABCD"},
        {"%#ho", 0x10008, "010"},   {"%+hhd", 0x101, "+1"},   {"%5hhd", 0xff, "   -1"},
    };
    for (const IntCase& c : cases) {
        EXPECT_EQ(Ok(c.expected), Format(c.format, c.value)) << "format " << c.format;
    }
    // The argument is still a whole int: the next one is read correctly.
    EXPECT_EQ(Ok("-1|7"), Format("%hhd|%d", 0x1ff, 7));
    EXPECT_EQ(Ok("-1|7"), Format("%hd|%d", 0x1ffff, 7));
}

TEST(FormatInteger, SixtyFourBitModifiers) {
    EXPECT_EQ(Ok("-9223372036854775808|7"), Format("%lld|%d", LLONG_MIN, 7));
    EXPECT_EQ(Ok("9223372036854775807"), Format("%lli", LLONG_MAX));
    EXPECT_EQ(Ok("18446744073709551615|7"), Format("%llu|%d", ULLONG_MAX, 7));
    EXPECT_EQ(Ok("123456789abcdef0"), Format("%llx", 0x123456789abcdef0ULL));
    EXPECT_EQ(Ok("0X123456789ABCDEF0"), Format("%#llX", 0x123456789abcdef0ULL));
    EXPECT_EQ(Ok("1777777777777777777777"), Format("%llo", ULLONG_MAX));
    EXPECT_EQ(Ok("4294967296"), Format("%lld", 4294967296LL));
    EXPECT_EQ(Ok("-4294967296"), Format("%lld", -4294967296LL));
    EXPECT_EQ(Ok("   -0000012345678901"), Format("%20.16lld", -12345678901LL));
    EXPECT_EQ(Ok("-9223372036854775808|7"), Format("%qd|%d", LLONG_MIN, 7));
    EXPECT_EQ(Ok("-5|7"), Format("%Ld|%d", -5LL, 7));
    EXPECT_EQ(Ok("ffffffffffffffff"), Format("%Lx", -1LL));
}

TEST(FormatInteger, ExplicitSizeModifiers) {
    EXPECT_EQ(Ok("-9223372036854775808|7"), Format("%I64d|%d", INT64_MIN, 7));
    EXPECT_EQ(Ok("18446744073709551615"), Format("%I64u", UINT64_MAX));
    EXPECT_EQ(Ok("ABCDEF0123456789"), Format("%I64X", 0xABCDEF0123456789ULL));
    EXPECT_EQ(Ok("  0x100000000"), Format("%#13I64x", 0x100000000ULL));
    EXPECT_EQ(Ok("-5|7"), Format("%I32d|%d", -5, 7));
    EXPECT_EQ(Ok("ffffffff|7"), Format("%I32x|%d", -1, 7));
    // I32 undoes an earlier I64.
    EXPECT_EQ(Ok("-1|7"), Format("%I64I32d|%d", -1, 7));
    // Pointer-sized.
    const ptrdiff_t minusTwo = -2;
    const size_t allOnes = SIZE_MAX;
    EXPECT_EQ(Ok("-2|7"), Format("%Id|%d", minusTwo, 7));
    EXPECT_EQ(Ok("-2|7"), Format("%Ii|%d", minusTwo, 7));
    if (sizeof(void*) == 8) {
        EXPECT_EQ(Ok("18446744073709551615|7"), Format("%Iu|%d", allOnes, 7));
        EXPECT_EQ(Ok("ffffffffffffffff"), Format("%Ix", allOnes));
        EXPECT_EQ(Ok("FFFFFFFFFFFFFFFF"), Format("%IX", allOnes));
        EXPECT_EQ(Ok("1777777777777777777777"), Format("%Io", allOnes));
    } else {
        EXPECT_EQ(Ok("4294967295|7"), Format("%Iu|%d", allOnes, 7));
        EXPECT_EQ(Ok("ffffffff"), Format("%Ix", allOnes));
        EXPECT_EQ(Ok("FFFFFFFF"), Format("%IX", allOnes));
        EXPECT_EQ(Ok("37777777777"), Format("%Io", allOnes));
    }
}

TEST(FormatInteger, UnknownModifierAfterIIsText) {
    // The I is written, and the rest of the conversion is ordinary text;
    // no argument is taken.
    EXPECT_EQ(Ok("Iq"), Format("%Iq"));
    EXPECT_EQ(Ok("Iq5"), Format("%Iq%d", 5));
    EXPECT_EQ(Ok("Iq"), Format("%-5Iq"));
    EXPECT_EQ(Ok("Ip5"), Format("%Ip%d", 5));
    EXPECT_EQ(Ok("Is5"), Format("%Is%d", 5));
    EXPECT_EQ(Ok("I6d5"), Format("%I6d%d", 5));
    EXPECT_EQ(Ok("I3x"), Format("%I3x"));
}

TEST(FormatInteger, IgnoredModifiers) {
    EXPECT_EQ(Ok("-5|7"), Format("%Nd|%d", -5, 7));
    EXPECT_EQ(Ok("-5|7"), Format("%wd|%d", -5, 7));
}

TEST(FormatInteger, WordSizedModifiers) {
    const bool longIs64 = sizeof(long) == 8;
    const bool wordIs64 = sizeof(size_t) == 8;
    EXPECT_EQ(Ok(longIs64 ? "-9223372036854775808|7" : "-2147483648|7"),
              Format("%ld|%d", LONG_MIN, 7));
    EXPECT_EQ(Ok(longIs64 ? "18446744073709551615" : "4294967295"), Format("%lu", ULONG_MAX));
    EXPECT_EQ(Ok(longIs64 ? "ffffffffffffffff|7" : "ffffffff|7"), Format("%lx|%d", -1L, 7));
    EXPECT_EQ(Ok("-1|7"), Format("%li|%d", -1L, 7));

    const size_t sizeMax = SIZE_MAX;
    const ptrdiff_t minusOne = -1;
    const ptrdiff_t diffMin = PTRDIFF_MIN;
    EXPECT_EQ(Ok(wordIs64 ? "18446744073709551615|7" : "4294967295|7"),
              Format("%zu|%d", sizeMax, 7));
    EXPECT_EQ(Ok(wordIs64 ? "ffffffffffffffff" : "ffffffff"), Format("%zx", sizeMax));
    EXPECT_EQ(Ok(wordIs64 ? "ffffffffffffffff" : "ffffffff"), Format("%Zx", sizeMax));
    EXPECT_EQ(Ok("-1|7"), Format("%zd|%d", minusOne, 7));
    EXPECT_EQ(Ok(wordIs64 ? "-9223372036854775808|7" : "-2147483648|7"),
              Format("%td|%d", diffMin, 7));
    EXPECT_EQ(Ok(wordIs64 ? "ffffffffffffffff" : "ffffffff"), Format("%tx", minusOne));

    // intmax_t is 64 bits on every build.
    const intmax_t maxMin = INTMAX_MIN;
    const uintmax_t maxMax = UINTMAX_MAX;
    EXPECT_EQ(Ok("-9223372036854775808|7"), Format("%jd|%d", maxMin, 7));
    EXPECT_EQ(Ok("18446744073709551615|7"), Format("%ju|%d", maxMax, 7));
    EXPECT_EQ(Ok("ffffffffffffffff"), Format("%jx", maxMax));
}

// ---------------------------------------------------------------------------
// Pointers

TEST(FormatPointer, NullPointer) {
    const void* null = nullptr;
    EXPECT_EQ(Ok("(nil)"), Format("%p", null));
    EXPECT_EQ(Ok("   (nil)"), Format("%8p", null));
    EXPECT_EQ(Ok("   (nil)"), Format("%08p", null));
    EXPECT_EQ(Ok("(nil)   |"), Format("%-8p|", null));
    EXPECT_EQ(Ok("(nil)|7"), Format("%p|%d", null, 7));
}

TEST(FormatPointer, NonNullPointer) {
    const void* p = reinterpret_cast<const void*>(static_cast<uintptr_t>(0xabc));
    EXPECT_EQ(Ok("0xabc|7"), Format("%p|%d", p, 7));
    EXPECT_EQ(Ok("0x000abc"), Format("%08p", p));
    EXPECT_EQ(Ok("     0xabc"), Format("%10p", p));
    EXPECT_EQ(Ok("0xabc     |"), Format("%-10p|", p));
    EXPECT_EQ(Ok("0xabc     |"), Format("%-010p|", p));
    EXPECT_EQ(Ok("0xabc"), Format("%#p", p));
    EXPECT_EQ(Ok("0xabc"), Format("%+p", p));
    EXPECT_EQ(Ok("0xabc"), Format("% p", p));
    // A pointer sets its own precision: a precision in the format has no effect.
    EXPECT_EQ(Ok("0xabc"), Format("%.8p", p));
    EXPECT_EQ(Ok("0x00000abc"), Format("%010.8p", p));

    const void* mixed = reinterpret_cast<const void*>(static_cast<uintptr_t>(0xABCDEF12));
    EXPECT_EQ(Ok("0xabcdef12"), Format("%p", mixed));

    const void* top = reinterpret_cast<const void*>(UINTPTR_MAX);
    if (sizeof(void*) == 8) {
        EXPECT_EQ(Ok("0xffffffffffffffff|7"), Format("%p|%d", top, 7));
    } else {
        EXPECT_EQ(Ok("0xffffffff|7"), Format("%p|%d", top, 7));
    }
}

// ---------------------------------------------------------------------------
// Narrow strings and characters

TEST(FormatString, NarrowStrings) {
    const char* null = nullptr;
    EXPECT_EQ(Ok("(null)"), Format("%s", null));
    EXPECT_EQ(Ok("  (null)"), Format("%8s", null));
    EXPECT_EQ(Ok("(n"), Format("%.2s", null));
    EXPECT_EQ(Ok("(null)|7"), Format("%s|%d", null, 7));
    EXPECT_EQ(Ok("ab"), Format("%.2s", "abc"));
    EXPECT_EQ(Ok("abc"), Format("%.10s", "abc"));
    EXPECT_EQ(Ok(""), Format("%.0s", "abc"));
    EXPECT_EQ(Ok("   ab"), Format("%05s", "ab"));
    EXPECT_EQ(Ok("ab   |"), Format("%-5s|", "ab"));
    EXPECT_EQ(Ok("    a"), Format("%5.1s", "abc"));
    EXPECT_EQ(Ok("abc"), Format("%2s", "abc"));
    EXPECT_EQ(Ok(""), Format("%s", ""));
    EXPECT_EQ(Ok("   "), Format("%3s", ""));
    EXPECT_EQ(Ok("ab"), Format("%+s", "ab"));
    EXPECT_EQ(Ok("ab"), Format("% s", "ab"));
    EXPECT_EQ(Ok("ab"), Format("%#s", "ab"));
    EXPECT_EQ(Ok("ab"), Format("%hs", "ab"));
    EXPECT_EQ(Ok("ab"), Format("%hS", "ab"));
    EXPECT_EQ(Ok("a%d"), Format("%s", "a%d"));
}

TEST(FormatString, PrecisionStopsReadingTheString) {
    // Exactly three bytes and no terminator: nothing behind them may be read.
    std::unique_ptr<char[]> bytes(new char[3]{'x', 'y', 'z'});
    EXPECT_EQ(Ok("xyz"), Format("%.3s", bytes.get()));
    EXPECT_EQ(Ok("xy"), Format("%.2s", bytes.get()));
}

TEST(FormatString, LongStrings) {
    const std::string big(1500, 'b');
    EXPECT_EQ(Ok(big), Format("%s", big.c_str()));
    EXPECT_EQ(Ok(std::string(20, ' ') + big), Format("%1520s", big.c_str()));
    EXPECT_EQ(Ok(big.substr(0, 700)), Format("%.700s", big.c_str()));
    const std::string mid(13, 'm');  // longer than the byte-by-byte limit
    EXPECT_EQ(Ok("<" + mid + ">"), Format("<%s>", mid.c_str()));
}

TEST(FormatChar, NarrowCharacters) {
    EXPECT_EQ(Ok("x"), Format("%c", 'x'));
    EXPECT_EQ(Ok("    x"), Format("%5c", 'x'));
    EXPECT_EQ(Ok("x    |"), Format("%-5c|", 'x'));
    EXPECT_EQ(Ok("    x"), Format("%05c", 'x'));
    EXPECT_EQ(Ok("x"), Format("%+c", 'x'));
    EXPECT_EQ(Ok("x"), Format("%.0c", 'x'));
    EXPECT_EQ(Ok("x"), Format("%hc", 'x'));
    EXPECT_EQ(Ok("x"), Format("%hC", 'x'));
    EXPECT_EQ(Ok("A"), Format("%c", 0x141));    // the low byte
    EXPECT_EQ(Ok("\xe9"), Format("%c", 0xe9));  // no conversion for a narrow character
    EXPECT_EQ(Ok("ab|7"), Format("%c%c|%d", 'a', 'b', 7));
}

TEST(FormatChar, NulCharacterIsWrittenAndCounted) {
    EXPECT_EQ(Ok(std::string("a\0b", 3)), Format("a%cb", 0));
    EXPECT_EQ(Ok(std::string("  \0", 3)), Format("%3c", 0));
    EXPECT_EQ(Ok(std::string("\0", 1)), SprintfIn(2, "%c", 0));
    EXPECT_EQ(Failed(), SprintfIn(1, "%c", 0));
}

// ---------------------------------------------------------------------------
// Wide characters and strings, in the "C" locale, where wctomb converts only
// the characters up to 0x7F.

class FormatWide : public testing::Test {
  protected:
    void SetUp() override {
        const char* current = std::setlocale(LC_ALL, nullptr);
        saved_ = current != nullptr ? current : "C";
        ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C"));
    }
    void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

  private:
    std::string saved_;
};

TEST_F(FormatWide, Characters) {
    const wint_t a = L'A';
    EXPECT_EQ(Ok("A"), Format("%lc", a));
    EXPECT_EQ(Ok("A"), Format("%C", a));
    EXPECT_EQ(Ok("A"), Format("%wc", a));
    EXPECT_EQ(Ok("    A"), Format("%5lc", a));
    EXPECT_EQ(Ok("    A"), Format("%05lc", a));
    EXPECT_EQ(Ok("A    |"), Format("%-5C|", a));
    EXPECT_EQ(Ok(std::string("\0", 1)), Format("%lc", static_cast<wint_t>(0)));
}

TEST_F(FormatWide, UnconvertibleCharacterProducesNoOutput) {
    const wint_t eAcute = 0xE9;
    EXPECT_EQ(Ok("ab"), Format("a%lcb", eAcute));
    EXPECT_EQ(Ok("[]"), Format("[%5lc]", eAcute));
    EXPECT_EQ(Ok("[]7"), Format("[%C]%d", eAcute, 7));
    EXPECT_EQ(Ok("[]"), Format("[%wc]", static_cast<wint_t>(0x20AC)));
}

TEST_F(FormatWide, Strings) {
    const wchar_t* null = nullptr;
    EXPECT_EQ(Ok("hi"), Format("%ls", L"hi"));
    EXPECT_EQ(Ok("hi"), Format("%S", L"hi"));
    EXPECT_EQ(Ok("hi"), Format("%ws", L"hi"));
    EXPECT_EQ(Ok("(null)|7"), Format("%ls|%d", null, 7));
    EXPECT_EQ(Ok("(null)"), Format("%S", null));
    EXPECT_EQ(Ok("(nu"), Format("%.3ls", null));
    EXPECT_EQ(Ok("(null)  |"), Format("%-8ls|", null));
    EXPECT_EQ(Ok("ab"), Format("%.2ls", L"abcd"));
    EXPECT_EQ(Ok(""), Format("%.0ls", L"abcd"));
    EXPECT_EQ(Ok("   ab"), Format("%5ls", L"ab"));
    EXPECT_EQ(Ok("   ab"), Format("%05ls", L"ab"));
    EXPECT_EQ(Ok("ab   |"), Format("%-5S|", L"ab"));
    EXPECT_EQ(Ok("  abc"), Format("%5.3ls", L"abcdef"));
    EXPECT_EQ(Ok(""), Format("%ls", L""));

    const std::wstring longWide(600, L'w');
    EXPECT_EQ(Ok(std::string(600, 'w')), Format("%ls", longWide.c_str()));
}

TEST_F(FormatWide, PrecisionCountsWideCharacters) {
    // Exactly two wide characters and no terminator.
    std::unique_ptr<wchar_t[]> chars(new wchar_t[2]{L'a', L'b'});
    EXPECT_EQ(Ok("ab"), Format("%.2ls", chars.get()));
    EXPECT_EQ(Ok("a"), Format("%.1ls", chars.get()));
}

TEST_F(FormatWide, UnconvertibleCharacterInAStringFails) {
    const wchar_t bad[] = {L'a', 0xE9, L'b', 0};
    EXPECT_EQ(Failed(), Format("%ls", bad));
    EXPECT_EQ(Failed(), Format("text before %S", bad));
    EXPECT_EQ(Failed(), TruncatedIn(16, "%ls", bad));
    // The precision stops before the character, which is then never converted.
    EXPECT_EQ(Ok("a"), Format("%.1ls", bad));
    // A destination that runs out before the character is a truncation.
    EXPECT_EQ(Ok("x"), TruncatedIn(2, "xy%ls", bad));
}

// ---------------------------------------------------------------------------
// Parsing: special characters, unfinished and invalid specifications

TEST(FormatParse, PercentSigns) {
    EXPECT_EQ(Ok("%"), Format("%%"));
    EXPECT_EQ(Ok("a%b"), Format("a%%b"));
    EXPECT_EQ(Ok("%1"), Format("%%%d", 1));
    EXPECT_EQ(Ok("%%"), Format("%%%%"));
    EXPECT_EQ(Ok("100%"), Format("%d%%", 100));
}

TEST(FormatParse, InvalidSpecificationsFail) {
    const char* const formats[] = {
        // The format ends inside a specification.
        "%",
        "%5",
        "%-",
        "%.",
        "%.5",
        "%*",
        "%l",
        "%hh",
        "%I64",
        "%ll",
        "abc%",
        "%d%",
        "%%%",
        // Conversions that are not accepted.
        "%n",
        "%hn",
        "%a",
        "%A",
        "%La",
        "%k",
        "%b",
        "%D",
        "%$d",
        "%1$d",
        "%'d",
        "%mx",
        // Two stars, two dots, a star after the width digits.
        "%**d",
        "%.**d",
        "%..d",
        "%.5.d",
        "%.*.*d",
        "%5*d",
        "%*.*.d",
        // A digit, flag, dot or star after a size modifier.
        "%l5d",
        "%h0d",
        "%l-d",
        "%l#x",
        "%l d",
        "%l.2d",
        "%l*d",
        "%I64.2d",
        // A '%' or a flag inside a specification where it does not belong.
        "%5%",
        "%-%",
        "%.%",
        "%l%",
        "% %",
        "%.-d",
        "%.5+d",
        "%.*-d",
    };
    for (const char* format : formats) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        EXPECT_EQ(Failed(), Format(format, 1, 2, 3));
        // A destination holding text beforehand ends up empty.
        char dest[32];
        std::memset(dest, 'x', sizeof dest);
        EXPECT_EQ(-1, sprintf_s(dest, sizeof dest, format, 1, 2, 3));
        EXPECT_EQ('\0', dest[0]);
    }
}

TEST(FormatParse, WidthStartsAgainAfterALaterFlag) {
    EXPECT_EQ(Ok("7  "), Format("%5-3d", 7));
    EXPECT_EQ(Ok("7  |"), Format("%05-3d|", 7));
    EXPECT_EQ(Ok("  7"), Format("%5 3d", 7));
    // A flag without further digits keeps the width.
    EXPECT_EQ(Ok(" +7"), Format("%3+d", 7));
    EXPECT_EQ(Ok("7  |"), Format("%3-d|", 7));
}

TEST(FormatParse, StateIsResetForEveryConversion) {
    EXPECT_EQ(Ok("-0042|7"), Format("%05d|%d", -42, 7));
    EXPECT_EQ(Ok("0xff|ff"), Format("%#x|%x", 255, 255));
    EXPECT_EQ(Ok("007|7"), Format("%.3d|%d", 7, 7));
    EXPECT_EQ(Ok("7    |7"), Format("%-5d|%d", 7, 7));
    EXPECT_EQ(Ok("010|10"), Format("%#o|%o", 8, 8));
    EXPECT_EQ(Ok("-1|255"), Format("%hhd|%u", 255, 255));
    EXPECT_EQ(Ok("-1|4294967295|-1"), Format("%lld|%u|%d", -1LL, -1, -1));
}

// ---------------------------------------------------------------------------
// Width and precision from the argument list, and their limits

TEST(FormatWidthPrecision, StarWidth) {
    EXPECT_EQ(Ok("    42"), Format("%*d", 6, 42));
    EXPECT_EQ(Ok("42    |"), Format("%*d|", -6, 42));
    EXPECT_EQ(Ok("42    |"), Format("%-*d|", -6, 42));
    EXPECT_EQ(Ok("42    |"), Format("%-*d|", 6, 42));
    EXPECT_EQ(Ok("42"), Format("%*d", 0, 42));
    EXPECT_EQ(Ok("-0042"), Format("%0*d", 5, -42));
    EXPECT_EQ(Ok("   ab"), Format("%*s", 5, "ab"));
    // Digits after the star continue the width.
    EXPECT_EQ(Ok(std::string(34, ' ') + "7"), Format("%*5d", 3, 7));
    EXPECT_EQ(Ok("7" + std::string(34, ' ') + "|"), Format("%*5d|", -3, 7));
}

TEST(FormatWidthPrecision, StarWidthLimit) {
    EXPECT_EQ(Failed(), Format("%*d", 214748361, 1));
    EXPECT_EQ(Failed(), Format("%*d", -214748361, 1));
    EXPECT_EQ(Failed(), Format("%*d", INT_MAX, 1));
    EXPECT_EQ(Failed(), Format("%*d", INT_MIN, 1));
    EXPECT_EQ(Failed(), Format("ab%*d", 214748361, 1));
    // The limit itself is accepted: the text is cut by the destination.
    EXPECT_EQ(Ok(std::string(7, ' ')), TruncatedIn(8, "%*d", 214748360, 1));
    EXPECT_EQ(Ok("1" + std::string(6, ' ')), TruncatedIn(8, "%*d", -214748360, 1));
    EXPECT_EQ(Failed(), SprintfIn(8, "%*d", 214748360, 1));
}

TEST(FormatWidthPrecision, StarPrecision) {
    EXPECT_EQ(Ok("007"), Format("%.*d", 3, 7));
    EXPECT_EQ(Ok("7"), Format("%.*d", -5, 7));
    EXPECT_EQ(Ok(""), Format("%.*d", 0, 0));
    EXPECT_EQ(Ok("0"), Format("%.*d", -1, 0));
    // A negative precision is no precision: the 0 flag stays in force.
    EXPECT_EQ(Ok("00007"), Format("%05.*d", -1, 7));
    EXPECT_EQ(Ok("   07"), Format("%05.*d", 2, 7));
    EXPECT_EQ(Ok("   007"), Format("%*.*d", 6, 3, 7));
    EXPECT_EQ(Ok("007   |"), Format("%-*.*d|", 6, 3, 7));
    EXPECT_EQ(Ok("ab"), Format("%.*s", 2, "abc"));
    EXPECT_EQ(Ok("abc"), Format("%.*s", -2, "abc"));
    EXPECT_EQ(Failed(), Format("%.*d", 214748361, 1));
    EXPECT_EQ(Failed(), Format("%.*d", INT_MAX, 1));
    EXPECT_EQ(Ok(std::string(511, '0') + "1"), Format("%.*d", 214748360, 1));
    EXPECT_EQ(Ok("abc"), Format("%.*s", 214748360, "abc"));
}

TEST(FormatWidthPrecision, DigitLimits) {
    EXPECT_EQ(Ok(std::string(7, ' ')), TruncatedIn(8, "%214748369d", 1));
    EXPECT_EQ(Failed(), TruncatedIn(8, "%214748370d", 1));
    EXPECT_EQ(Failed(), TruncatedIn(8, "%2147483690d", 1));
    EXPECT_EQ(Failed(), TruncatedIn(8, "%99999999999d", 1));
    EXPECT_EQ(Ok(std::string(511, '0') + "1"), Format("%.214748369d", 1));
    EXPECT_EQ(Ok("abc"), Format("%.214748369s", "abc"));
    EXPECT_EQ(Failed(), Format("%.214748370d", 1));
    EXPECT_EQ(Failed(), Format("%.2147483690s", "abc"));
}

// ---------------------------------------------------------------------------
// Floating point, through the C library

TEST(FormatFloat, Conversions) {
    EXPECT_EQ(Ok("1.500000"), Format("%f", 1.5));
    EXPECT_EQ(Ok("1.500000"), Format("%F", 1.5));
    EXPECT_EQ(Ok("1.500000"), Format("%lf", 1.5));
    EXPECT_EQ(Ok("      1.50"), Format("%10.2f", 1.5));
    EXPECT_EQ(Ok("1.50      |"), Format("%-10.2f|", 1.5));
    EXPECT_EQ(Ok("-000001.50"), Format("%010.2f", -1.5));
    EXPECT_EQ(Ok("+1.5"), Format("%+.1f", 1.5));
    EXPECT_EQ(Ok(" 1.500000"), Format("% f", 1.5));
    EXPECT_EQ(Ok("1."), Format("%#.0f", 1.0));
    EXPECT_EQ(Ok("2"), Format("%.0f", 2.0));
    EXPECT_EQ(Ok("1.500000e+00"), Format("%e", 1.5));
    EXPECT_EQ(Ok("1.50E+03"), Format("%.2E", 1500.0));
    EXPECT_EQ(Ok("0.0001"), Format("%g", 0.0001));
    EXPECT_EQ(Ok("1e+02"), Format("%.0g", 123.0));
    EXPECT_EQ(Ok("1E-10"), Format("%G", 1e-10));
    EXPECT_EQ(Ok("2.500000"), Format("%Lf", 2.5L));
    EXPECT_EQ(Ok("1.23e+03"), Format("%.2Le", 1234.25L));
}

TEST(FormatFloat, ArgumentsAroundAFloat) {
    EXPECT_EQ(Ok("7|2.000000|8"), Format("%d|%f|%d", 7, 2.0, 8));
    EXPECT_EQ(Ok("2.50|x|0.5|ab"), Format("%.2Lf|%c|%.1f|%s", 2.5L, 'x', 0.5, "ab"));
}

TEST(FormatFloat, StarWidthAndPrecisionArePassedOn) {
    EXPECT_EQ(Ok("   3.142"), Format("%*.*f", 8, 3, 3.14159));
    EXPECT_EQ(Ok("1.500000  |"), Format("%*f|", -10, 1.5));
    EXPECT_EQ(Ok("1.500000  |"), Format("%-*f|", 10, 1.5));
    EXPECT_EQ(Ok("1.500000  |"), Format("%-*f|", -10, 1.5));
    EXPECT_EQ(Ok("1.500000"), Format("%.*f", -1, 1.5));
    EXPECT_EQ(Ok("1.7"), Format("%.*f", 1, 1.7));
    EXPECT_EQ(Ok("    2.50"), Format("%*.*Lf", 8, 2, 2.5L));
    EXPECT_EQ(Ok("2.50|7"), Format("%.*f|%d", 2, 2.5, 7));
}

TEST(FormatFloat, LargeBuffersAndLongSpecifications) {
    // Precision 300 needs a buffer larger than the local one.
    EXPECT_EQ(Ok("1." + std::string(300, '0')), Format("%.300f", 1.0));
    char reference[400];
    const int refLen = std::snprintf(reference, sizeof reference, "%.300f", 0.1);
    ASSERT_EQ(302, refLen);
    EXPECT_EQ(Ok(reference), Format("%.300f", 0.1));
    EXPECT_EQ(Ok("1." + std::string(600, '0')), Format("%.600Lf", 1.0L));
    // So does a width beyond the precision's buffer.
    EXPECT_EQ(Ok(std::string(592, ' ') + "1.500000"), Format("%600f", 1.5));
    EXPECT_EQ(Ok(std::string(592, ' ') + "1.500000"), Format("%*f", 600, 1.5));
    EXPECT_EQ(Ok("1.5" + std::string(597, ' ') + "|"), Format("%-600.1f|", 1.5));
    // A specification longer than 15 characters.
    EXPECT_EQ(Ok("+00001.500"), Format("%+0000000000010.3f", 1.5));
    EXPECT_EQ(Ok("+00001.500|7"), Format("%+0000000000010.3f|%d", 1.5, 7));
}

TEST(FormatFloat, PrecisionTooLargeProducesNoOutput) {
    EXPECT_EQ(Ok("ab"), Format("a%.214748012fb", 1.5));
    EXPECT_EQ(Ok("ab"), Format("a%.*fb", 214748012, 1.5));
    EXPECT_EQ(Ok("ab"), Format("a%.214743389Lfb", 1.5L));
}

// Whatever size modifier a floating conversion carries, the C library reads
// the type the engine fetched: a long double for L and q, a double otherwise
// (glibc would read j as long double on 32-bit builds, I64 as a flag and a
// width, and would stop at N, w or a second modifier). The int behind the
// value shows that the argument list stays in step.
TEST(FormatFloat, SizeModifiersNameTheFetchedType) {
    const char* const plain[] = {"%jf|%d",   "%zf|%d",      "%Zf|%d",  "%tf|%d",
                                 "%I64f|%d", "%I32f|%d",    "%Nf|%d",  "%wf|%d",
                                 "%hhf|%d",  "%llf|%d",     "%jlf|%d", "%-8jF|%d",
                                 "%.6wf|%d", "%I64I32f|%d", "%8zf|%d", "%+00000000009.6I64f|%d"};
    for (const char* format : plain) {
        EXPECT_EQ(Ok(format[1] == '+' ? "+1.500000|7" : "1.500000|7"), Format(format, 1.5, 7))
            << format;
    }
    EXPECT_EQ(Ok(" 1.50E+00|  2.|7"), Format("% .2NE|%#4.0I64f|%d", 1.5, 2.0, 7));
    EXPECT_EQ(Ok("      1.50|1.5     |7"), Format("%*.*jf|%-*tg|%d", 10, 2, 1.5, 8, 1.5, 7));

    // 1.1 has other digits as a long double than as a double.
    char longDigits[40];
    char doubleDigits[40];
    std::snprintf(longDigits, sizeof longDigits, "%.20Lf|7", 1.1L);
    std::snprintf(doubleDigits, sizeof doubleDigits, "%.20f|7", 1.1);
    ASSERT_STRNE(longDigits, doubleDigits);
    const char* const longs[] = {"%.20qf|%d",   "%.20hLf|%d",   "%.20Ljf|%d", "%.20jLf|%d",
                                 "%.20tqf|%d",  "%.20LI32f|%d", "%.20NLf|%d", "%.20wLf|%d",
                                 "%.20Lllf|%d", "%.20qLf|%d",   "%.*I64Lf|%d"};
    for (const char* format : longs) {
        const Outcome got =
            format[2] == '*' ? Format(format, 20, 1.1L, 7) : Format(format, 1.1L, 7);
        EXPECT_EQ(Ok(longDigits), got) << format;
    }
    EXPECT_EQ(Ok(doubleDigits), Format("%.20llf|%d", 1.1, 7));
}

// Padded to a width around the buffer that the precision gives (precision +
// 351, + 4974 for a long double: the local buffer, its exact size, the heap),
// and at the widest, the largest values with thousands of digits: each text
// comes out whole, and one byte less of destination fails or cuts it.
TEST(FormatFloat, BufferHoldsTheWholeText) {
    const struct {
        int precision;
        bool isLong;
    } cases[] = {{6, false}, {161, false}, {200, false}, {6, true}};
    for (const auto& c : cases) {
        const int size = c.precision + 351 + (c.isLong ? 4974 : 0);
        const std::string digits = "1.5" + std::string(static_cast<size_t>(c.precision) - 1, '0');
        for (int width = size - 1; width <= size + 1; ++width) {
            char format[32];
            std::snprintf(format, sizeof format, "%%-%d.%d%sf|", width, c.precision,
                          c.isLong ? "L" : "");
            const std::string want = digits + std::string(width - digits.size(), ' ') + "|";
            EXPECT_EQ(Ok(want), c.isLong ? FormatIn(8192, format, 1.5L) : Format(format, 1.5))
                << format;
        }
    }
    std::vector<char> want(16384);
    const int len = std::snprintf(want.data(), want.size(), "%+.4000Lf", -LDBL_MAX);
    ASSERT_GT(len, 8000);
    const std::string text(want.data(), static_cast<size_t>(len));
    EXPECT_EQ(Ok(text), FormatIn(text.size() + 1, "%+.4000Lf", -LDBL_MAX));
    EXPECT_EQ(Failed(), SprintfIn(text.size(), "%+.4000Lf", -LDBL_MAX));
    EXPECT_EQ(Ok(text.substr(0, text.size() - 1)),
              TruncatedIn(text.size(), "%+.4000Lf", -LDBL_MAX));
    std::snprintf(want.data(), want.size(), "%#.0Lf", LDBL_MAX);
    EXPECT_EQ(Ok(want.data()), FormatIn(8192, "%#.0Lf", LDBL_MAX));
    std::snprintf(want.data(), want.size(), "%+.300f", -DBL_MAX);
    EXPECT_EQ(Ok(want.data()), Format("%+.300f", -DBL_MAX));
}

TEST(FormatFloat, CutByTheDestination) {
    EXPECT_EQ(Ok("1.5"), TruncatedIn(4, "%f", 1.5));
    EXPECT_EQ(Failed(), SprintfIn(8, "%f", 1.5));
    EXPECT_EQ(Ok("1.500000"), SprintfIn(9, "%f", 1.5));
}

}  // namespace
