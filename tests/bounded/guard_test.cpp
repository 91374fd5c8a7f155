// Every entry point, refused, cut or successful, writes inside [dest, dest +
// destMax) only. Each destination sits between two 32-byte guard zones with a
// known pattern; after every call the guards are compared and the destination
// is checked against the state its result promises.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "boundedfunc.h"

namespace {

constexpr size_t kGuard = 32;
constexpr size_t kTooBig = static_cast<size_t>(0x80000000UL);
constexpr size_t kAllBits = static_cast<size_t>(-1);
constexpr size_t kMaxDest = 40;
constexpr char kFill = '?';  // initial destination contents

unsigned char GuardByte(size_t i) {
    return static_cast<unsigned char>(0xA5 ^ (i * 29));
}

class Guarded {
  public:
    explicit Guarded(size_t destMax) : destMax_(destMax), storage_(2 * kGuard + destMax) {
        for (size_t i = 0; i < storage_.size(); ++i) {
            storage_[i] = static_cast<char>(GuardByte(i));
        }
        std::memset(dest(), kFill, destMax);
    }

    char* dest() { return storage_.data() + kGuard; }
    size_t size() const { return destMax_; }
    std::string Contents() const { return std::string(storage_.data() + kGuard, destMax_); }

    ::testing::AssertionResult GuardsIntact() const {
        for (size_t i = 0; i < storage_.size(); ++i) {
            if (i >= kGuard && i < kGuard + destMax_) {
                continue;
            }
            if (static_cast<unsigned char>(storage_[i]) != GuardByte(i)) {
                const bool before = i < kGuard;
                return ::testing::AssertionFailure()
                       << "guard byte changed " << (before ? kGuard - i : i - kGuard - destMax_ + 1)
                       << (before ? " before dest" : " past dest + destMax");
            }
        }
        return ::testing::AssertionSuccess();
    }

  private:
    size_t destMax_;
    std::vector<char> storage_;
};

// dest holds `text` then a terminator, and the rest keeps its initial bytes.
std::string Holding(size_t destMax, const std::string& text) {
    std::string s = text + '\0';
    s.resize(destMax, kFill);
    return s;
}

// Only the first byte was cleared.
std::string FirstCleared(size_t destMax) {
    return Holding(destMax, "");
}

std::string Untouched(size_t destMax) {
    return std::string(destMax, kFill);
}

std::string Text(size_t len) {
    static const std::string alphabet =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    return alphabet.substr(0, len);
}

// Counts around both the size and the text length.
std::vector<size_t> CountsAround(size_t destMax, size_t len) {
    std::vector<size_t> counts = {0,       1,          destMax,    destMax + 1, len,
                                  len + 1, 0x7FFFFFFE, 0x7FFFFFFF, kTooBig,     kAllBits};
    for (size_t v : {destMax, len}) {
        if (v >= 1) {
            counts.push_back(v - 1);
        }
        if (v >= 2) {
            counts.push_back(v - 2);
        }
    }
    return counts;
}

// Text lengths worth trying: short ones, both sides of the eight characters
// the append measures inline and of the 12-byte block copy of the output
// stream, a long one, and everything next to pivot.
std::vector<size_t> LengthsAround(size_t pivot) {
    std::vector<size_t> lengths = {0, 1, 8, 9, 11, 12, 13, kMaxDest + 4};
    for (size_t v = pivot < 2 ? 0 : pivot - 2; v <= pivot + 2; ++v) {
        lengths.push_back(v);
    }
    return lengths;
}

// ---------------------------------------------------------------------------
// Memory

using FillFn = int (*)(void*, size_t, int, size_t);
using CopyFn = int (*)(void*, size_t, const void*, size_t);

struct FillApi {
    const char* name;
    FillFn fn;
};
struct CopyApi {
    const char* name;
    CopyFn fn;
};

const FillApi kFills[] = {{"memset_s", memset_s},
                          {"memset_sOptFast", memset_sOptFast},
                          {"memset_sOptTrusted", memset_sOptTrusted}};
const CopyApi kCopies[] = {{"memcpy_s", memcpy_s},
                           {"memcpy_sOptFast", memcpy_sOptFast},
                           {"memcpy_sOptTrusted", memcpy_sOptTrusted}};

TEST(GuardMemory, FillStaysInside) {
    for (const FillApi& api : kFills) {
        for (size_t destMax = 1; destMax <= kMaxDest; ++destMax) {
            for (size_t count = 0; count <= destMax + 3; ++count) {
                Guarded g(destMax);
                const int ret = api.fn(g.dest(), destMax, 0x2D, count);
                ASSERT_TRUE(g.GuardsIntact())
                    << api.name << " destMax=" << destMax << " count=" << count;
                std::string want = Untouched(destMax);
                if (count <= destMax) {
                    ASSERT_EQ(ret, BOUNDED_OK) << api.name;
                    want.replace(0, count, std::string(count, '-'));
                } else {
                    ASSERT_EQ(ret, ERANGE_CLEARED) << api.name;
                    want = std::string(destMax, '-');
                }
                ASSERT_EQ(g.Contents(), want)
                    << api.name << " destMax=" << destMax << " count=" << count;
            }
            Guarded g(destMax);
            EXPECT_EQ(api.fn(g.dest(), destMax, 0x2D, kAllBits), ERANGE_CLEARED);
            EXPECT_TRUE(g.GuardsIntact()) << api.name;
            EXPECT_EQ(g.Contents(), std::string(destMax, '-'));
        }
    }
}

TEST(GuardMemory, CopyFromSeparateSourceStaysInside) {
    const std::string source = Text(60);
    for (const CopyApi& api : kCopies) {
        for (size_t destMax = 1; destMax <= kMaxDest; ++destMax) {
            for (size_t count = 0; count <= destMax + 3; ++count) {
                Guarded g(destMax);
                const int ret = api.fn(g.dest(), destMax, source.data(), count);
                ASSERT_TRUE(g.GuardsIntact())
                    << api.name << " destMax=" << destMax << " count=" << count;
                std::string want = Untouched(destMax);
                if (count <= destMax) {
                    ASSERT_EQ(ret, BOUNDED_OK) << api.name;
                    want.replace(0, count, source.substr(0, count));
                } else {
                    ASSERT_EQ(ret, ERANGE_CLEARED) << api.name;
                    want = std::string(destMax, '\0');
                }
                ASSERT_EQ(g.Contents(), want)
                    << api.name << " destMax=" << destMax << " count=" << count;
            }
            Guarded g(destMax);
            EXPECT_EQ(api.fn(g.dest(), destMax, nullptr, 1), EINVAL_CLEARED);
            EXPECT_TRUE(g.GuardsIntact()) << api.name;
            EXPECT_EQ(g.Contents(), std::string(destMax, '\0'));
        }
    }
}

// Sources up to 8 bytes before or after dest, so that they reach into the
// guard zones (read only) or into dest itself.
TEST(GuardMemory, CopyWithNearbySourceStaysInside) {
    for (const CopyApi& api : kCopies) {
        for (size_t destMax = 1; destMax <= 20; ++destMax) {
            for (int shift = -8; shift <= 8; ++shift) {
                for (size_t count = 1; count <= destMax; ++count) {
                    Guarded g(destMax);
                    const char* src = g.dest() + shift;
                    std::string source(src, count);  // what the source holds before
                    const int ret = api.fn(g.dest(), destMax, src, count);
                    ASSERT_TRUE(g.GuardsIntact()) << api.name << " destMax=" << destMax
                                                  << " shift=" << shift << " count=" << count;
                    const size_t distance = static_cast<size_t>(shift < 0 ? -shift : shift);
                    std::string want = Untouched(destMax);
                    if (shift == 0) {
                        ASSERT_EQ(ret, BOUNDED_OK);
                    } else if (distance < count) {
                        ASSERT_EQ(ret, EOVERLAP_CLEARED);
                        want = std::string(destMax, '\0');
                    } else {
                        ASSERT_EQ(ret, BOUNDED_OK);
                        want.replace(0, count, source);
                    }
                    ASSERT_EQ(g.Contents(), want) << api.name << " destMax=" << destMax
                                                  << " shift=" << shift << " count=" << count;
                }
            }
        }
    }
}

TEST(GuardMemory, RefusedSizesWriteNothing) {
    const char source[4] = {'a', 'b', 'c', 'd'};
    for (size_t destMax : {size_t{0}, kTooBig, kAllBits}) {
        Guarded g(8);
        EXPECT_EQ(memset_s(g.dest(), destMax, 'x', destMax + 1), ERANGE);
        EXPECT_EQ(memset_sOptFast(g.dest(), destMax, 'x', destMax + 1), ERANGE);
        EXPECT_EQ(memcpy_s(g.dest(), destMax, source, 4), ERANGE);
        EXPECT_EQ(memcpy_sOptFast(g.dest(), destMax, source, 4), ERANGE);
        EXPECT_EQ(memcpy_sOptTrusted(g.dest(), destMax, nullptr, 4), ERANGE);
        EXPECT_EQ(strncpy_s(g.dest(), destMax, "abc", 4), ERANGE);
        EXPECT_EQ(strcat_s(g.dest(), destMax, "abc"), ERANGE);
        EXPECT_TRUE(g.GuardsIntact()) << "destMax=" << destMax;
        EXPECT_EQ(g.Contents(), Untouched(8)) << "destMax=" << destMax;
    }
}

// ---------------------------------------------------------------------------
// Strings

TEST(GuardString, BoundedCopyStaysInside) {
    for (size_t destMax = 1; destMax <= kMaxDest; ++destMax) {
        for (size_t len : LengthsAround(destMax)) {
            const std::string src = Text(len);
            for (size_t count : CountsAround(destMax, len)) {
                Guarded g(destMax);
                const int ret = strncpy_s(g.dest(), destMax, src.c_str(), count);
                ASSERT_TRUE(g.GuardsIntact())
                    << "destMax=" << destMax << " len=" << len << " count=" << count;
                int want = BOUNDED_OK;
                std::string wantDest;
                if (count > BOUNDED_MAX_SIZE) {
                    want = ERANGE_CLEARED;
                    wantDest = FirstCleared(destMax);
                } else if (count < destMax || len < destMax) {
                    // Fewer characters than destMax: they fit with their terminator.
                    const size_t kept = len < count ? len : count;
                    wantDest = Holding(destMax, src.substr(0, kept));
                } else {
                    want = ERANGE_CLEARED;
                    wantDest = FirstCleared(destMax);
                }
                ASSERT_EQ(ret, want)
                    << "destMax=" << destMax << " len=" << len << " count=" << count;
                ASSERT_EQ(g.Contents(), wantDest)
                    << "destMax=" << destMax << " len=" << len << " count=" << count;
            }
        }
    }
}

TEST(GuardString, AppendStaysInside) {
    for (size_t destMax = 1; destMax <= kMaxDest; ++destMax) {
        for (size_t destLen = 0; destLen <= destMax; ++destLen) {
            const std::string head(destLen, 'd');
            for (size_t srcLen : LengthsAround(destMax - destLen)) {
                const std::string src = Text(srcLen);
                Guarded g(destMax);
                std::memcpy(g.dest(), head.c_str(), destLen < destMax ? destLen + 1 : destMax);
                const std::string before = g.Contents();
                const int ret = strcat_s(g.dest(), destMax, src.c_str());
                ASSERT_TRUE(g.GuardsIntact())
                    << "destMax=" << destMax << " destLen=" << destLen << " srcLen=" << srcLen;
                int want = BOUNDED_OK;
                std::string wantDest = before;
                if (destLen == destMax) {
                    want = EINVAL_CLEARED;  // no terminator in dest
                    wantDest[0] = '\0';
                } else if (destLen + srcLen >= destMax) {
                    want = ERANGE_CLEARED;
                    wantDest[0] = '\0';
                } else {
                    wantDest.replace(destLen, srcLen + 1, src + '\0');
                }
                ASSERT_EQ(ret, want)
                    << "destMax=" << destMax << " destLen=" << destLen << " srcLen=" << srcLen;
                ASSERT_EQ(g.Contents(), wantDest)
                    << "destMax=" << destMax << " destLen=" << destLen << " srcLen=" << srcLen;
            }
        }
    }
}

TEST(GuardString, NullSourceClearsOnlyFirstByte) {
    for (size_t destMax = 1; destMax <= kMaxDest; ++destMax) {
        Guarded copy(destMax);
        EXPECT_EQ(strncpy_s(copy.dest(), destMax, nullptr, 1), EINVAL_CLEARED);
        EXPECT_TRUE(copy.GuardsIntact());
        EXPECT_EQ(copy.Contents(), FirstCleared(destMax));
        Guarded append(destMax);
        EXPECT_EQ(strcat_s(append.dest(), destMax, nullptr), EINVAL_CLEARED);
        EXPECT_TRUE(append.GuardsIntact());
        EXPECT_EQ(append.Contents(), FirstCleared(destMax));
    }
}

// ---------------------------------------------------------------------------
// Formatted output

enum class Family { Plain, Counted, Truncating };

const char* FamilyName(Family f) {
    switch (f) {
        case Family::Plain:
            return "sprintf";
        case Family::Counted:
            return "snprintf";
        default:
            return "snprintf_truncated";
    }
}

// The v forms, reached through a variadic helper so that any format can be
// passed at run time.
int CallV(Family family, char* dest, size_t destMax, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int ret = -99;
    switch (family) {
        case Family::Plain:
            ret = vsprintf_s(dest, destMax, format, args);
            break;
        case Family::Counted:
            ret = vsnprintf_s(dest, destMax, count, format, args);
            break;
        case Family::Truncating:
            ret = vsnprintf_truncated_s(dest, destMax, format, args);
            break;
    }
    va_end(args);
    return ret;
}

// Ways of producing a text of a chosen length.
enum class Source {
    StringArg,   // variadic form, "%s"
    PaddedInt,   // variadic form, "%*d" of 7 in the chosen width
    VStringArg,  // v form, "%s"
    VLiteral,    // v form, the text itself as the format
};

const Source kSources[] = {Source::StringArg, Source::PaddedInt, Source::VStringArg,
                           Source::VLiteral};

std::string ProducedText(Source source, size_t len) {
    if (source == Source::PaddedInt) {
        return len <= 1 ? std::string("7") : std::string(len - 1, ' ') + "7";
    }
    return Text(len);
}

int Produce(Source source, Family family, char* dest, size_t destMax, size_t count,
            const std::string& text) {
    const int width = static_cast<int>(text.size());
    switch (source) {
        case Source::StringArg:
            switch (family) {
                case Family::Plain:
                    return sprintf_s(dest, destMax, "%s", text.c_str());
                case Family::Counted:
                    return snprintf_s(dest, destMax, count, "%s", text.c_str());
                default:
                    return snprintf_truncated_s(dest, destMax, "%s", text.c_str());
            }
        case Source::PaddedInt:
            switch (family) {
                case Family::Plain:
                    return sprintf_s(dest, destMax, "%*d", width, 7);
                case Family::Counted:
                    return snprintf_s(dest, destMax, count, "%*d", width, 7);
                default:
                    return snprintf_truncated_s(dest, destMax, "%*d", width, 7);
            }
        case Source::VStringArg:
            return CallV(family, dest, destMax, count, "%s", text.c_str());
        default:
            return CallV(family, dest, destMax, count, text.c_str());
    }
}

struct Outcome {
    int ret;
    std::string dest;  // expected bytes of dest (only dest[0] when firstOnly)
    bool firstOnly;    // failure: only the cleared first byte is promised
};

// What each family promises for a text of text.size() characters.
Outcome Expected(Family family, size_t destMax, size_t count, const std::string& text) {
    const size_t n = text.size();
    const Outcome fits{static_cast<int>(n), Holding(destMax, text), false};
    const Outcome failed{-1, std::string(1, '\0'), true};
    switch (family) {
        case Family::Plain:
            return n < destMax ? fits : failed;
        case Family::Truncating:
            if (n < destMax) {
                return fits;
            }
            return {static_cast<int>(destMax - 1), Holding(destMax, text.substr(0, destMax - 1)),
                    false};
        default:
            if (count > BOUNDED_MAX_SIZE - 1 && count != kAllBits) {
                return {-1, FirstCleared(destMax), false};
            }
            if (destMax > count) {
                if (n <= count) {
                    return fits;
                }
                return {-1, Holding(destMax, text.substr(0, count)), false};
            }
            return n < destMax ? fits : failed;
    }
}

TEST(GuardFormat, EveryFamilyStaysInside) {
    for (Family family : {Family::Plain, Family::Counted, Family::Truncating}) {
        for (Source source : kSources) {
            for (size_t destMax = 1; destMax <= kMaxDest; ++destMax) {
                for (size_t len : LengthsAround(destMax)) {
                    const std::string text = ProducedText(source, len);
                    std::vector<size_t> counts = {0};
                    if (family == Family::Counted) {
                        counts = CountsAround(destMax, text.size());
                    }
                    for (size_t count : counts) {
                        Guarded g(destMax);
                        const int ret = Produce(source, family, g.dest(), destMax, count, text);
                        const Outcome want = Expected(family, destMax, count, text);
                        ASSERT_TRUE(g.GuardsIntact())
                            << FamilyName(family) << " source=" << static_cast<int>(source)
                            << " destMax=" << destMax << " len=" << text.size()
                            << " count=" << count;
                        ASSERT_EQ(ret, want.ret)
                            << FamilyName(family) << " source=" << static_cast<int>(source)
                            << " destMax=" << destMax << " len=" << text.size()
                            << " count=" << count;
                        const std::string got = g.Contents();
                        ASSERT_EQ(want.firstOnly ? got.substr(0, 1) : got, want.dest)
                            << FamilyName(family) << " source=" << static_cast<int>(source)
                            << " destMax=" << destMax << " len=" << text.size()
                            << " count=" << count;
                    }
                }
            }
        }
    }
}

// A format error after `prefix` characters: a failure with an empty string,
// unless the text was already cut, which the counted and truncating families
// keep.
TEST(GuardFormat, FormatErrorAfterText) {
    for (Family family : {Family::Plain, Family::Counted, Family::Truncating}) {
        for (size_t destMax = 1; destMax <= 16; ++destMax) {
            for (size_t prefix = 0; prefix <= 10; ++prefix) {
                const std::string format = Text(prefix) + "%k";
                std::vector<size_t> counts = {kAllBits};
                if (family == Family::Counted) {
                    counts = CountsAround(destMax, prefix);
                }
                for (size_t count : counts) {
                    Guarded g(destMax);
                    const int ret = CallV(family, g.dest(), destMax, count, format.c_str());
                    ASSERT_TRUE(g.GuardsIntact()) << FamilyName(family) << " destMax=" << destMax
                                                  << " prefix=" << prefix << " count=" << count;
                    const bool countRefused = family == Family::Counted &&
                                              count > BOUNDED_MAX_SIZE - 1 && count != kAllBits;
                    // The counted family keeps a cut text when it asked for
                    // fewer characters than dest holds.
                    const bool countedCut = family == Family::Counted && destMax > count;
                    // Room given to the engine, terminator included.
                    const size_t room = countedCut ? count + 1 : destMax;
                    const bool cut = prefix > room;  // the text ran out of room first
                    const std::string got = g.Contents();
                    if (countRefused) {
                        ASSERT_EQ(ret, -1);
                        ASSERT_EQ(got, FirstCleared(destMax));
                    } else if (cut && family == Family::Truncating) {
                        ASSERT_EQ(ret, static_cast<int>(destMax - 1));
                        ASSERT_EQ(got, Holding(destMax, Text(destMax - 1)));
                    } else if (cut && countedCut) {
                        ASSERT_EQ(ret, -1);
                        ASSERT_EQ(got, Holding(destMax, Text(count)));
                    } else {
                        ASSERT_EQ(ret, -1) << FamilyName(family) << " destMax=" << destMax
                                           << " prefix=" << prefix << " count=" << count;
                        ASSERT_EQ(got[0], '\0');
                    }
                }
            }
        }
    }
}

const char* NoFormat() {
    return nullptr;
}

TEST(GuardFormat, ArgumentErrors) {
    for (size_t destMax = 1; destMax <= kMaxDest; ++destMax) {
        for (Family family : {Family::Plain, Family::Counted, Family::Truncating}) {
            Guarded g(destMax);
            EXPECT_EQ(CallV(family, g.dest(), destMax, 5, NoFormat()), -1);
            EXPECT_TRUE(g.GuardsIntact());
            EXPECT_EQ(g.Contents(), FirstCleared(destMax)) << FamilyName(family);
        }
        Guarded plain(destMax);
        EXPECT_EQ(sprintf_s(plain.dest(), destMax, NoFormat(), 1), -1);
        EXPECT_EQ(plain.Contents(), FirstCleared(destMax));
        Guarded counted(destMax);
        EXPECT_EQ(snprintf_s(counted.dest(), destMax, 3, NoFormat(), 1), -1);
        EXPECT_EQ(counted.Contents(), FirstCleared(destMax));
        Guarded truncating(destMax);
        EXPECT_EQ(snprintf_truncated_s(truncating.dest(), destMax, NoFormat(), 1), -1);
        EXPECT_EQ(truncating.Contents(), FirstCleared(destMax));
        EXPECT_TRUE(plain.GuardsIntact() && counted.GuardsIntact() && truncating.GuardsIntact());
    }
    // Sizes out of range: nothing written, with or without a format.
    for (size_t destMax : {size_t{0}, kTooBig, kAllBits}) {
        for (Family family : {Family::Plain, Family::Counted, Family::Truncating}) {
            for (const char* format : {NoFormat(), "abc"}) {
                Guarded g(8);
                EXPECT_EQ(CallV(family, g.dest(), destMax, 5, format), -1)
                    << FamilyName(family) << " destMax=" << destMax;
                EXPECT_TRUE(g.GuardsIntact());
                EXPECT_EQ(g.Contents(), Untouched(8))
                    << FamilyName(family) << " destMax=" << destMax;
            }
        }
        Guarded g(8);
        EXPECT_EQ(sprintf_s(g.dest(), destMax, "%d", 1), -1);
        EXPECT_EQ(snprintf_s(g.dest(), destMax, 5, "%d", 1), -1);
        EXPECT_EQ(snprintf_truncated_s(g.dest(), destMax, "%d", 1), -1);
        EXPECT_TRUE(g.GuardsIntact());
        EXPECT_EQ(g.Contents(), Untouched(8));
    }
}

TEST(GuardFormat, FamilyExamples) {
    Guarded five(5);
    EXPECT_EQ(sprintf_s(five.dest(), 5, "%d", 12345), -1);
    EXPECT_EQ(five.Contents()[0], '\0');
    EXPECT_TRUE(five.GuardsIntact());
    Guarded six(6);
    EXPECT_EQ(sprintf_s(six.dest(), 6, "%d", 12345), 5);
    EXPECT_EQ(six.Contents(), std::string("12345\0", 6));
    EXPECT_TRUE(six.GuardsIntact());

    Guarded cut(4);
    EXPECT_EQ(snprintf_s(cut.dest(), 4, 3, "abcdef"), -1);
    EXPECT_EQ(cut.Contents(), std::string("abc\0", 4));
    for (size_t count : {size_t{4}, size_t{5}, size_t{100}}) {
        Guarded empty(4);
        EXPECT_EQ(snprintf_s(empty.dest(), 4, count, "abcdef"), -1);
        EXPECT_EQ(empty.Contents()[0], '\0');
        EXPECT_TRUE(empty.GuardsIntact());
    }
    for (size_t count : {size_t{6}, size_t{9}, size_t{10}, kAllBits}) {
        Guarded roomy(10);
        EXPECT_EQ(snprintf_s(roomy.dest(), 10, count, "abcdef"), 6);
        EXPECT_EQ(roomy.Contents(), Holding(10, "abcdef"));
    }

    Guarded truncated(4);
    EXPECT_EQ(snprintf_truncated_s(truncated.dest(), 4, "abcdef"), 3);
    EXPECT_EQ(truncated.Contents(), std::string("abc\0", 4));
    EXPECT_TRUE(truncated.GuardsIntact());
}

}  // namespace
