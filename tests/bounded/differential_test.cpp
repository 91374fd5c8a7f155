// Differential test of the output engine against the C library's snprintf:
// a large fixed-seed set of integer, character and string conversions on which
// both define the same text, plus the places where the engine differs on
// purpose, each asserted with its own expected text.
#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>
#include <wchar.h>

#include "boundedfunc.h"

namespace {

// ---------------------------------------------------------------------------
// Where the engine differs from the C library on purpose. The random set below
// never produces any of these forms: it uses no n, a, A, p or I, widths and
// precisions up to 40 only, flags only before the width, no 0 flag with s or c,
// no # with d, i, u, c or s, no precision with c and no null string.

struct Deliberate {
    const char* what;
    std::function<int(char*, size_t)> call;
    int expectedRet;
    std::string expectedText;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#pragma GCC diagnostic ignored "-Wformat-overflow"

std::vector<Deliberate> DeliberateDifferences() {
    const std::string zeros511(511, '0');
    const void* p = reinterpret_cast<const void*>(static_cast<uintptr_t>(0xabc));
    return {
        // Conversions the engine refuses.
        {"n is refused",
         [](char* d, size_t m) {
             int count = 0;
             return sprintf_s(d, m, "ab%n", &count);
         },
         -1, ""},
        {"hhn is refused",
         [](char* d, size_t m) {
             signed char count = 0;
             return sprintf_s(d, m, "ab%hhn", &count);
         },
         -1, ""},
        {"a is refused", [](char* d, size_t m) { return sprintf_s(d, m, "%a", 1.0); }, -1, ""},
        {"A is refused", [](char* d, size_t m) { return sprintf_s(d, m, "%A", 1.0); }, -1, ""},
        {"La is refused", [](char* d, size_t m) { return sprintf_s(d, m, "%La", 1.0L); }, -1, ""},
        {"positional argument is refused",
         [](char* d, size_t m) { return sprintf_s(d, m, "%1$d", 5); }, -1, ""},
        {"grouping flag is refused", [](char* d, size_t m) { return sprintf_s(d, m, "%'d", 5); },
         -1, ""},
        {"%% with a width is refused", [](char* d, size_t m) { return sprintf_s(d, m, "%5%"); }, -1,
         ""},

        // Width and precision limits.
        {"* width above 214748360",
         [](char* d, size_t m) { return sprintf_s(d, m, "%*d", 214748361, 1); }, -1, ""},
        {"* width below -214748360",
         [](char* d, size_t m) { return sprintf_s(d, m, "%*d", -214748361, 1); }, -1, ""},
        {"* width of 214748360 is accepted",
         [](char* d, size_t) { return snprintf_truncated_s(d, 8, "%*d", 214748360, 1); }, 7,
         std::string(7, ' ')},
        {"* precision above 214748360",
         [](char* d, size_t m) { return sprintf_s(d, m, "%.*d", 214748361, 1); }, -1, ""},
        {"width digits beyond 214748369",
         [](char* d, size_t m) { return sprintf_s(d, m, "%214748370d", 1); }, -1, ""},
        {"width of 214748369 digits is accepted",
         [](char* d, size_t) { return snprintf_truncated_s(d, 8, "%214748369d", 1); }, 7,
         std::string(7, ' ')},
        {"precision digits beyond 214748369",
         [](char* d, size_t m) { return sprintf_s(d, m, "%.214748370d", 1); }, -1, ""},
        {"precision cut to 512", [](char* d, size_t m) { return sprintf_s(d, m, "%.1000d", 1); },
         512, zeros511 + "1"},
        {"* precision cut to 512",
         [](char* d, size_t m) { return sprintf_s(d, m, "%.*x", 600, 0); }, 512,
         std::string(512, '0')},

        // Size modifiers of the engine's own.
        {"I64", [](char* d, size_t m) { return sprintf_s(d, m, "%I64d", INT64_MIN); }, 20,
         "-9223372036854775808"},
        {"I32", [](char* d, size_t m) { return sprintf_s(d, m, "%I32d|%d", -1, 7); }, 4, "-1|7"},
        {"I",
         [](char* d, size_t m) { return sprintf_s(d, m, "%Id|%d", static_cast<ptrdiff_t>(-2), 7); },
         4, "-2|7"},
        {"I before an unknown character is text",
         [](char* d, size_t m) { return sprintf_s(d, m, "%Iq%d", 7); }, 3, "Iq7"},

        // Parsing and flags.
        {"width restarts after a later flag",
         [](char* d, size_t m) { return sprintf_s(d, m, "%5-3d|", 7); }, 4, "7  |"},
        {"0 flag on s", [](char* d, size_t m) { return sprintf_s(d, m, "%05s", "ab"); }, 5,
         "   ab"},
        {"0 flag on c", [](char* d, size_t m) { return sprintf_s(d, m, "%05c", 'x'); }, 5, "    x"},
        {"# on d", [](char* d, size_t m) { return sprintf_s(d, m, "%#d", 5); }, 1, "5"},
        {"precision on c", [](char* d, size_t m) { return sprintf_s(d, m, "%.0c", 'x'); }, 1, "x"},
        {"null string with a short precision",
         [](char* d, size_t m) {
             return sprintf_s(d, m, "%.2s", static_cast<const char*>(nullptr));
         },
         2, "(n"},
        {"pointer precision is ignored",
         [p](char* d, size_t m) { return sprintf_s(d, m, "%.8p", p); }, 5, "0xabc"},
        {"unconvertible wide character prints nothing",
         [](char* d, size_t m) { return sprintf_s(d, m, "[%lc]", static_cast<wint_t>(0xE9)); }, 2,
         "[]"},
    };
}

#pragma GCC diagnostic pop

TEST(DifferentialDeliberate, EachDifferenceHasItsOwnResult) {
    // Wide characters above 0x7F cannot be converted in the "C" locale.
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C"));
    for (const Deliberate& d : DeliberateDifferences()) {
        SCOPED_TRACE(d.what);
        std::vector<char> dest(1024 + 16, '\x5a');
        dest[0] = 'x';
        int ret = d.call(dest.data(), 1024);
        EXPECT_EQ(d.expectedRet, ret);
        if (ret >= 0) {
            EXPECT_EQ(d.expectedText, std::string(dest.data(), static_cast<size_t>(ret)));
            EXPECT_EQ('\0', dest[static_cast<size_t>(ret)]);
        } else {
            EXPECT_EQ('\0', dest[0]);
        }
        EXPECT_EQ(std::string(16, '\x5a'), std::string(dest.data() + 1024, 16));
    }
}

// ---------------------------------------------------------------------------
// The random set

class SplitMix64 {
  public:
    explicit SplitMix64(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
    int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
    bool Percent(int pct) { return Below(100) < pct; }

  private:
    uint64_t state_;
};

// Every argument type the random set passes. intmax_t, size_t and ptrdiff_t
// are one of these on every build.
using Value =
    std::variant<int, unsigned, long, unsigned long, long long, unsigned long long, const char*>;
constexpr size_t kTypeCount = std::variant_size_v<Value>;
constexpr size_t kStringType = kTypeCount - 1;

template <typename T>
size_t TypeIndex() {
    return Value(T{}).index();
}

// A size modifier with the argument type it reads.
struct Modifier {
    const char* text;
    bool isSigned;
    size_t type;
};

const std::vector<Modifier>& Modifiers() {
    static const std::vector<Modifier> modifiers = {
        {"hh", true, TypeIndex<int>()},       {"hh", false, TypeIndex<unsigned>()},
        {"h", true, TypeIndex<int>()},        {"h", false, TypeIndex<unsigned>()},
        {"", true, TypeIndex<int>()},         {"", false, TypeIndex<unsigned>()},
        {"l", true, TypeIndex<long>()},       {"l", false, TypeIndex<unsigned long>()},
        {"ll", true, TypeIndex<long long>()}, {"ll", false, TypeIndex<unsigned long long>()},
        {"j", true, TypeIndex<intmax_t>()},   {"j", false, TypeIndex<uintmax_t>()},
        {"z", true, TypeIndex<ptrdiff_t>()},  {"z", false, TypeIndex<size_t>()},
        {"t", true, TypeIndex<ptrdiff_t>()},  {"t", false, TypeIndex<size_t>()},
    };
    return modifiers;
}

// Star patterns of one conversion: bit 0 width from the list, bit 1 precision.
constexpr int kStarWidth = 1;
constexpr int kStarPrecision = 2;

struct Conversion {
    int starWidth;
    int starPrecision;
    Value value;
};

struct Case {
    std::string format;
    size_t type;
    size_t count;  // conversions in the format: 1 or 2
    std::array<Conversion, 2> conversions;
    std::array<int, 2> patterns;
    std::array<std::string, 2> strings;  // the texts that string values point to
    uint64_t cutPick;                    // chooses the size of the cut destination
};

uint64_t RandomBits(SplitMix64& rng) {
    switch (rng.Below(8)) {
        case 0:
            return 0;
        case 1:
            return ~0ULL;  // -1 and every maximum
        case 2:
            return 1ULL << rng.Below(64);  // powers of two, minimums
        case 3:
            return (1ULL << rng.Below(64)) - 1;
        default: {
            int bits = rng.Between(1, 64);
            return bits == 64 ? rng.Next() : rng.Next() & ((1ULL << bits) - 1);
        }
    }
}

Value RandomValue(SplitMix64& rng, size_t type, const char* text) {
    const uint64_t bits = RandomBits(rng);
    switch (type) {
        case 0:
            return static_cast<int>(bits);
        case 1:
            return static_cast<unsigned>(bits);
        case 2:
            return static_cast<long>(bits);
        case 3:
            return static_cast<unsigned long>(bits);
        case 4:
            return static_cast<long long>(bits);
        case 5:
            return static_cast<unsigned long long>(bits);
        default:
            return text;
    }
}

std::string RandomLiteral(SplitMix64& rng) {
    std::string text;
    const int len = rng.Below(6);
    for (int i = 0; i < len; ++i) {
        if (rng.Percent(5)) {
            text += "%%";
            continue;
        }
        char ch = static_cast<char>(rng.Between(0x20, 0x7e));
        text += ch == '%' ? '.' : ch;
    }
    return text;
}

std::string RandomText(SplitMix64& rng) {
    std::string text;
    const int len = rng.Percent(15) ? 0 : rng.Between(1, 30);
    for (int i = 0; i < len; ++i) {
        text += static_cast<char>(rng.Between(0x20, 0x7e));
    }
    return text;
}

// Counts of what the generator produced, so that a degenerate set is noticed:
// per size modifier and conversion character, and per star pattern.
struct Coverage {
    std::vector<std::array<int, 4>> integers = std::vector<std::array<int, 4>>(Modifiers().size());
    int characters = 0;
    int strings = 0;
    std::array<int, 4> stars{};
};

constexpr char kSignedConversions[] = "di";
constexpr char kUnsignedConversions[] = "uoxX";

// Indices into Modifiers() of the modifiers that read each argument type.
const std::vector<size_t>& ModifiersOfType(size_t type) {
    static const std::array<std::vector<size_t>, kTypeCount> byType = [] {
        std::array<std::vector<size_t>, kTypeCount> table;
        for (size_t i = 0; i < Modifiers().size(); ++i) {
            table[Modifiers()[i].type].push_back(i);
        }
        return table;
    }();
    return byType[type];
}

// Appends one conversion specification of the case's argument type.
void AddConversion(SplitMix64& rng, Case* c, size_t index, Coverage* coverage) {
    char conversion;
    const char* modifier = "";
    if (c->type == kStringType) {
        conversion = 's';
        ++coverage->strings;
    } else if (c->type == TypeIndex<int>() && rng.Percent(20)) {
        conversion = 'c';
        ++coverage->characters;
    } else {
        const std::vector<size_t>& fitting = ModifiersOfType(c->type);
        const size_t m = fitting[static_cast<size_t>(rng.Below(static_cast<int>(fitting.size())))];
        modifier = Modifiers()[m].text;
        const int pick = rng.Below(Modifiers()[m].isSigned ? 2 : 4);
        conversion =
            Modifiers()[m].isSigned ? kSignedConversions[pick] : kUnsignedConversions[pick];
        ++coverage->integers[m][static_cast<size_t>(pick)];
    }

    // Flags, in any order and any mix; the C library leaves # undefined with
    // d, i, u, c and s, and 0 with c and s.
    std::string allowed = "-+ ";
    if (conversion == 'o' || conversion == 'x' || conversion == 'X') {
        allowed += '#';
    }
    if (conversion != 'c' && conversion != 's') {
        allowed += '0';
    }
    std::string directive = "%";
    for (int n = rng.Below(5); n > 0; --n) {
        directive += allowed[static_cast<size_t>(rng.Below(static_cast<int>(allowed.size())))];
    }

    Conversion conv{0, 0, Value{}};
    int pattern = 0;
    const int widthKind = rng.Below(10);
    if (widthKind >= 4 && widthKind < 8) {
        directive += std::to_string(rng.Between(1, 40));
    } else if (widthKind >= 8) {
        directive += '*';
        conv.starWidth = rng.Between(-40, 40);
        pattern |= kStarWidth;
    }

    if (conversion != 'c') {  // a precision with c is undefined
        const int precisionKind = rng.Below(20);
        if (precisionKind == 8) {
            directive += '.';
        } else if (precisionKind > 8 && precisionKind < 16) {
            directive += rng.Percent(10) ? ".0" : ".";
            directive += std::to_string(rng.Between(0, 40));
        } else if (precisionKind >= 16) {
            directive += ".*";
            conv.starPrecision = rng.Between(-10, 40);
            pattern |= kStarPrecision;
        }
    }
    directive += modifier;
    directive += conversion;

    conv.value = RandomValue(rng, c->type, c->strings[index].c_str());
    if (conversion == 'c' && rng.Percent(10)) {
        conv.value = 0;  // a NUL byte is written and counted
    }
    c->format += directive;
    c->conversions[index] = conv;
    c->patterns[index] = pattern;
    ++coverage->stars[static_cast<size_t>(pattern)];
}

Case RandomCase(SplitMix64& rng, Coverage* coverage) {
    Case c;
    const int typeRoll = rng.Below(10);
    c.type = typeRoll < 2 ? kStringType : static_cast<size_t>(typeRoll < 5 ? 0 : rng.Below(6));
    c.strings = {RandomText(rng), RandomText(rng)};
    c.count = rng.Percent(60) ? 1 : 2;
    c.format = RandomLiteral(rng);
    for (size_t i = 0; i < c.count; ++i) {
        AddConversion(rng, &c, i, coverage);
        c.format += RandomLiteral(rng);
    }
    c.cutPick = rng.Next();
    return c;
}

// The outcome of comparing one case.
struct Checker {
    int cases = 0;
    int mismatches = 0;

    void Report(const Case& c, const std::string& what) {
        if (++mismatches <= 20) {
            ADD_FAILURE() << "format \"" << c.format << "\": " << what;
        }
    }
};

constexpr size_t kDestSize = 512;
constexpr size_t kGuardSize = 16;
constexpr char kPattern = '\x5a';

std::string Escaped(const char* bytes, int len) {
    std::string out;
    for (int i = 0; i < len; ++i) {
        auto ch = static_cast<unsigned char>(bytes[i]);
        if (ch >= 0x20 && ch < 0x7f) {
            out += static_cast<char>(ch);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", ch);
            out += hex;
        }
    }
    return out;
}

bool GuardIntact(const char* bytes, size_t from) {
    for (size_t i = from; i < from + kGuardSize; ++i) {
        if (bytes[i] != kPattern) {
            return false;
        }
    }
    return true;
}

template <typename... Args>
void Compare(const Case& c, Checker* checker, Args... args) {
    const char* format = c.format.c_str();
    char expected[kDestSize];
    const int expectedLen = std::snprintf(expected, sizeof expected, format, args...);
    ++checker->cases;
    if (expectedLen < 0 || static_cast<size_t>(expectedLen) >= sizeof expected) {
        checker->Report(c, "the reference result does not fit the test buffer");
        return;
    }

    // The whole text.
    std::array<char, kDestSize + kGuardSize> dest;
    dest.fill(kPattern);
    const int ret = sprintf_s(dest.data(), kDestSize, format, args...);
    if (ret != expectedLen ||
        std::memcmp(dest.data(), expected, static_cast<size_t>(expectedLen) + 1) != 0) {
        checker->Report(c, "expected " + std::to_string(expectedLen) + " [" +
                               Escaped(expected, expectedLen) + "], got " + std::to_string(ret) +
                               " [" + Escaped(dest.data(), ret < 0 ? 0 : ret) + "]");
        return;
    }

    // The same text cut by a smaller destination (or just fitting in it).
    const size_t destMax = 1 + static_cast<size_t>(c.cutPick % (static_cast<uint64_t>(ret) + 1));
    const size_t cutLen = std::min(static_cast<size_t>(ret), destMax - 1);
    std::array<char, kDestSize + kGuardSize> cut;
    std::memset(cut.data(), kPattern, destMax + kGuardSize);
    const int cutRet = snprintf_truncated_s(cut.data(), destMax, format, args...);
    if (cutRet != static_cast<int>(cutLen) || std::memcmp(cut.data(), expected, cutLen) != 0 ||
        cut[cutLen] != '\0' || !GuardIntact(cut.data(), destMax)) {
        checker->Report(c, "cut to " + std::to_string(destMax) + " bytes: got " +
                               std::to_string(cutRet) + " [" +
                               Escaped(cut.data(), cutRet < 0 ? 0 : cutRet) + "]");
        return;
    }

    // The same cut through the character count of the counted family.
    std::array<char, kDestSize + kGuardSize> counted;
    counted.fill(kPattern);
    const int countRet = snprintf_s(counted.data(), kDestSize, destMax - 1, format, args...);
    const int countExpected = cutLen < static_cast<size_t>(ret) ? -1 : ret;
    if (countRet != countExpected || std::memcmp(counted.data(), expected, cutLen) != 0 ||
        counted[cutLen] != '\0' || !GuardIntact(counted.data(), kDestSize)) {
        checker->Report(c, "count " + std::to_string(destMax - 1) + ": got " +
                               std::to_string(countRet) + " [" +
                               Escaped(counted.data(), static_cast<int>(cutLen)) + "]");
    }
}

// Arguments of one conversion under its star pattern.
template <typename T, int Pattern>
auto ArgumentsOf(const Conversion& conv) {
    const T value = std::get<T>(conv.value);
    if constexpr (Pattern == (kStarWidth | kStarPrecision)) {
        return std::make_tuple(conv.starWidth, conv.starPrecision, value);
    } else if constexpr (Pattern == kStarWidth) {
        return std::make_tuple(conv.starWidth, value);
    } else if constexpr (Pattern == kStarPrecision) {
        return std::make_tuple(conv.starPrecision, value);
    } else {
        return std::make_tuple(value);
    }
}

template <typename T, int... Patterns, size_t... I>
auto AllArguments(const Case& c, std::index_sequence<I...>) {
    return std::tuple_cat(ArgumentsOf<T, Patterns>(c.conversions[I])...);
}

using Runner = void (*)(const Case&, Checker*);

template <typename T, int... Patterns>
void Run(const Case& c, Checker* checker) {
    auto arguments =
        AllArguments<T, Patterns...>(c, std::make_index_sequence<sizeof...(Patterns)>{});
    std::apply([&](auto... args) { Compare(c, checker, args...); }, arguments);
}

template <typename T, size_t... K>
constexpr std::array<Runner, sizeof...(K)> OneConversion(std::index_sequence<K...>) {
    return {{&Run<T, static_cast<int>(K)>...}};
}

template <typename T, size_t... K>
constexpr std::array<Runner, sizeof...(K)> TwoConversions(std::index_sequence<K...>) {
    return {{&Run<T, static_cast<int>(K / 4), static_cast<int>(K % 4)>...}};
}

template <size_t Type>
void RunTyped(const Case& c, Checker* checker) {
    using T = std::variant_alternative_t<Type, Value>;
    static constexpr auto one = OneConversion<T>(std::make_index_sequence<4>{});
    static constexpr auto two = TwoConversions<T>(std::make_index_sequence<16>{});
    if (c.count == 1) {
        one[static_cast<size_t>(c.patterns[0])](c, checker);
    } else {
        two[static_cast<size_t>(c.patterns[0] * 4 + c.patterns[1])](c, checker);
    }
}

template <size_t... Type>
constexpr std::array<Runner, sizeof...(Type)> TypedRunners(std::index_sequence<Type...>) {
    return {{&RunTyped<Type>...}};
}

TEST(DifferentialSnprintf, RandomConversionsMatchTheCLibrary) {
    static constexpr auto runners = TypedRunners(std::make_index_sequence<kTypeCount>{});
    constexpr int kCases = 100000;
    SplitMix64 rng(0x5EEDF00DCAFEULL);
    Coverage coverage;
    Checker checker;
    for (int i = 0; i < kCases; ++i) {
        const Case c = RandomCase(rng, &coverage);
        runners[c.type](c, &checker);
    }
    EXPECT_EQ(kCases, checker.cases);
    EXPECT_EQ(0, checker.mismatches);

    // Every conversion under every size modifier, and every star pattern, came up.
    EXPECT_GE(coverage.characters, 100);
    EXPECT_GE(coverage.strings, 100);
    for (size_t pattern = 0; pattern < coverage.stars.size(); ++pattern) {
        EXPECT_GE(coverage.stars[pattern], 100) << "star pattern " << pattern;
    }
    for (size_t m = 0; m < Modifiers().size(); ++m) {
        const Modifier& modifier = Modifiers()[m];
        const char* conversions = modifier.isSigned ? kSignedConversions : kUnsignedConversions;
        for (size_t k = 0; conversions[k] != '\0'; ++k) {
            EXPECT_GE(coverage.integers[m][k], 100) << modifier.text << conversions[k];
        }
    }
}

}  // namespace
