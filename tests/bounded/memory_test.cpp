// Fill and copy entry points: success, refusal codes in their order, and the
// state each result leaves the destination in.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "boundedfunc.h"

namespace {

constexpr size_t kTooBig = static_cast<size_t>(0x80000000UL);  // one above the size limit
constexpr size_t kAllBits = static_cast<size_t>(-1);

// A scratch area with a recognisable, never-zero, never-0xFF pattern. The
// destination of a test is a window inside it, so writes outside the window
// show up as changed pattern bytes.
constexpr size_t kArenaSize = 1024;
constexpr size_t kBase = 320;  // multiple of 8

unsigned char PatternByte(size_t i) {
    return static_cast<unsigned char>(i % 251 + 1);
}

struct Arena {
    alignas(16) std::array<unsigned char, kArenaSize> bytes;
    Arena() {
        for (size_t i = 0; i < kArenaSize; ++i) {
            bytes[i] = PatternByte(i);
        }
    }
    unsigned char* at(size_t offset) { return bytes.data() + offset; }
};

// Names the first differing byte by its distance from the destination base.
::testing::AssertionResult SameBytes(const Arena& actual, const Arena& expected) {
    for (size_t i = 0; i < kArenaSize; ++i) {
        if (actual.bytes[i] != expected.bytes[i]) {
            return ::testing::AssertionFailure()
                   << "byte at base" << (i < kBase ? "-" : "+")
                   << (i < kBase ? kBase - i : i - kBase) << " is "
                   << static_cast<int>(actual.bytes[i]) << ", expected "
                   << static_cast<int>(expected.bytes[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// Fill entry points

using FillFn = int (*)(void*, size_t, int, size_t);

struct FillEntry {
    const char* name;
    FillFn fn;
    bool trusted;  // destMax is not compared with the size limit on success
};

const FillEntry kFillEntries[] = {
    {"memset_s", memset_s, false},
    {"memset_sOptFast", memset_sOptFast, false},
    {"memset_sOptTrusted", memset_sOptTrusted, true},
};

void PrintTo(const FillEntry& entry, std::ostream* os) {
    *os << entry.name;
}

class FillEntryTest : public ::testing::TestWithParam<FillEntry> {};

INSTANTIATE_TEST_SUITE_P(Entries, FillEntryTest, ::testing::ValuesIn(kFillEntries),
                         [](const ::testing::TestParamInfo<FillEntry>& param) {
                             return std::string(param.param.name);
                         });

// Every count up to and past the small-path limit, at every alignment, with
// fill values whose low byte differs from the int itself.
TEST_P(FillEntryTest, SetsExactlyCountBytesToLowByteOfValue) {
    const int values[] = {0, 0xFF, -1, 0x1FF, 0x100, 0x5A, 0x80, -256, 0x12345678};
    const size_t counts[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                             13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
                             26, 27, 28, 29, 30, 31, 32, 33, 40, 63, 64, 65, 100};
    for (int c : values) {
        const auto low = static_cast<unsigned char>(c & 0xFF);
        for (size_t offset = 0; offset < 8; ++offset) {
            for (size_t count : counts) {
                Arena arena;
                Arena expected;
                for (size_t i = 0; i < count; ++i) {
                    expected.bytes[kBase + offset + i] = low;
                }
                ASSERT_EQ(GetParam().fn(arena.at(kBase + offset), count + 3, c, count), BOUNDED_OK)
                    << "c=" << c << " offset=" << offset << " count=" << count;
                ASSERT_TRUE(SameBytes(arena, expected))
                    << "c=" << c << " offset=" << offset << " count=" << count;
            }
        }
    }
}

TEST_P(FillEntryTest, CountEqualToDestMaxFillsAll) {
    Arena arena;
    Arena expected;
    std::memset(expected.at(kBase), 0x33, 16);
    EXPECT_EQ(GetParam().fn(arena.at(kBase), 16, 0x33, 16), BOUNDED_OK);
    EXPECT_TRUE(SameBytes(arena, expected));
}

TEST_P(FillEntryTest, ZeroCountIntoZeroSizeSucceedsWithoutWriting) {
    Arena arena;
    const Arena expected;
    EXPECT_EQ(GetParam().fn(arena.at(kBase), 0, 0x11, 0), BOUNDED_OK);
    EXPECT_TRUE(SameBytes(arena, expected));
}

TEST_P(FillEntryTest, ZeroCountIntoNullZeroSizeIsRangeError) {
    EXPECT_EQ(GetParam().fn(nullptr, 0, 0x11, 0), ERANGE);
}

enum class FillState { Untouched, AllFill };

struct FillRefusal {
    const char* what;
    size_t destMax;
    bool nullDest;
    size_t count;
    int expected;
    FillState state;
};

// Size is judged first, then the destination, then the fit.
const FillRefusal kFillRefusals[] = {
    {"size 0, count 1", 0, false, 1, ERANGE, FillState::Untouched},
    {"size 0, null dest", 0, true, 5, ERANGE, FillState::Untouched},
    {"size over limit, count over size", kTooBig, false, kTooBig + 1, ERANGE, FillState::Untouched},
    {"size all bits, null dest", kAllBits, true, 0, ERANGE, FillState::Untouched},
    {"size over limit, null dest", kTooBig, true, 1, ERANGE, FillState::Untouched},
    {"null dest, count fits", 8, true, 0, EINVAL, FillState::Untouched},
    {"null dest, count too large", 8, true, 9, EINVAL, FillState::Untouched},
    {"count one over size", 8, false, 9, ERANGE_CLEARED, FillState::AllFill},
    {"count far over size", 8, false, kTooBig, ERANGE_CLEARED, FillState::AllFill},
    {"count all bits", 8, false, kAllBits, ERANGE_CLEARED, FillState::AllFill},
    {"size 1, count 2", 1, false, 2, ERANGE_CLEARED, FillState::AllFill},
    {"size 40, count 41", 40, false, 41, ERANGE_CLEARED, FillState::AllFill},
};

TEST_P(FillEntryTest, RefusalsReturnCodeAndLeaveDefinedState) {
    for (const FillRefusal& r : kFillRefusals) {
        Arena arena;
        Arena expected;
        if (r.state == FillState::AllFill) {
            for (size_t i = 0; i < r.destMax; ++i) {
                expected.bytes[kBase + i] = 0xC3;
            }
        }
        void* dest = r.nullDest ? nullptr : arena.at(kBase);
        EXPECT_EQ(GetParam().fn(dest, r.destMax, 0x7C3, r.count), r.expected) << r.what;
        EXPECT_TRUE(SameBytes(arena, expected)) << r.what;
    }
}

// Sizes above the limit with a small real buffer: only the trusted entry
// accepts them; the others refuse before touching anything.
TEST_P(FillEntryTest, SizeAboveLimitWithSmallCount) {
    for (size_t destMax : {kTooBig, kAllBits}) {
        for (size_t count : {size_t{0}, size_t{5}}) {
            Arena arena;
            Arena expected;
            int want = ERANGE;
            if (GetParam().trusted) {
                std::memset(expected.at(kBase), 0xAB, count);
                want = BOUNDED_OK;
            }
            EXPECT_EQ(GetParam().fn(arena.at(kBase), destMax, 0xAB, count), want)
                << "destMax=" << destMax << " count=" << count;
            EXPECT_TRUE(SameBytes(arena, expected));
        }
    }
}

TEST(FillEntry, OverlongFillAndOversizeDestination) {
    unsigned char buf[8];
    std::memset(buf, 0x11, sizeof buf);
    EXPECT_EQ(memset_s(buf, 8, 0xEE, 9), ERANGE_CLEARED);
    for (unsigned char b : buf) {
        EXPECT_EQ(b, 0xEE);
    }
    EXPECT_EQ(memset_s(buf, kTooBig, 0, 1), ERANGE);
    for (unsigned char b : buf) {
        EXPECT_EQ(b, 0xEE);
    }
}

// ---------------------------------------------------------------------------
// Copy entry points

using CopyFn = int (*)(void*, size_t, const void*, size_t);

struct CopyEntry {
    const char* name;
    CopyFn fn;
    bool trusted;
};

const CopyEntry kCopyEntries[] = {
    {"memcpy_s", memcpy_s, false},
    {"memcpy_sOptFast", memcpy_sOptFast, false},
    {"memcpy_sOptTrusted", memcpy_sOptTrusted, true},
};

void PrintTo(const CopyEntry& entry, std::ostream* os) {
    *os << entry.name;
}

class CopyEntryTest : public ::testing::TestWithParam<CopyEntry> {};

INSTANTIATE_TEST_SUITE_P(Entries, CopyEntryTest, ::testing::ValuesIn(kCopyEntries),
                         [](const ::testing::TestParamInfo<CopyEntry>& param) {
                             return std::string(param.param.name);
                         });

// Every count through the small-path limit and beyond, for every pairing of
// destination and source alignment.
TEST_P(CopyEntryTest, CopiesExactlyCountBytes) {
    alignas(16) unsigned char source[256];
    for (size_t i = 0; i < sizeof source; ++i) {
        source[i] = static_cast<unsigned char>(0xA0 ^ (i * 13));
    }
    for (size_t count = 0; count <= 70; ++count) {
        for (size_t destOff = 0; destOff < 8; ++destOff) {
            for (size_t srcOff = 0; srcOff < 8; ++srcOff) {
                Arena arena;
                Arena expected;
                for (size_t i = 0; i < count; ++i) {
                    expected.bytes[kBase + destOff + i] = source[srcOff + i];
                }
                ASSERT_EQ(GetParam().fn(arena.at(kBase + destOff), count + destOff + 1,
                                        source + srcOff, count),
                          BOUNDED_OK)
                    << "count=" << count << " destOff=" << destOff << " srcOff=" << srcOff;
                ASSERT_TRUE(SameBytes(arena, expected))
                    << "count=" << count << " destOff=" << destOff << " srcOff=" << srcOff;
            }
        }
    }
}

TEST_P(CopyEntryTest, LargeCopy) {
    unsigned char source[150];
    for (size_t i = 0; i < sizeof source; ++i) {
        source[i] = static_cast<unsigned char>(255 - i);
    }
    Arena arena;
    Arena expected;
    std::memcpy(expected.at(3), source, sizeof source);
    EXPECT_EQ(GetParam().fn(arena.at(3), 160, source, sizeof source), BOUNDED_OK);
    EXPECT_TRUE(SameBytes(arena, expected));
}

enum class SrcKind { Separate, Null, SameAsDest, InsideDest };
enum class CopyState { Untouched, AllZero, Copied };

struct CopyCase {
    const char* what;
    size_t destMax;
    bool nullDest;
    SrcKind src;
    ptrdiff_t srcOffset;  // for InsideDest: source = dest + srcOffset
    size_t count;
    int expected;
    CopyState state;
};

// Size first, then destination, then source, then fit, then overlap.
const CopyCase kCopyCases[] = {
    {"size 0, all else valid", 0, false, SrcKind::Separate, 0, 4, ERANGE, CopyState::Untouched},
    {"size 0, count 0", 0, false, SrcKind::Separate, 0, 0, ERANGE, CopyState::Untouched},
    {"size 0, everything wrong", 0, true, SrcKind::Null, 0, 9, ERANGE, CopyState::Untouched},
    {"size over limit, null src", kTooBig, false, SrcKind::Null, 0, 4, ERANGE,
     CopyState::Untouched},
    {"null dest and src, count too large", 16, true, SrcKind::Null, 0, 32, EINVAL,
     CopyState::Untouched},
    {"null dest", 16, true, SrcKind::Separate, 0, 4, EINVAL, CopyState::Untouched},
    {"null src", 16, false, SrcKind::Null, 0, 8, EINVAL_CLEARED, CopyState::AllZero},
    {"null src, count 0", 16, false, SrcKind::Null, 0, 0, EINVAL_CLEARED, CopyState::AllZero},
    {"null src, count too large", 16, false, SrcKind::Null, 0, 17, EINVAL_CLEARED,
     CopyState::AllZero},
    {"count one over size", 16, false, SrcKind::Separate, 0, 17, ERANGE_CLEARED,
     CopyState::AllZero},
    {"count over size, overlapping", 16, false, SrcKind::InsideDest, 4, 32, ERANGE_CLEARED,
     CopyState::AllZero},
    {"count over size, source is dest", 16, false, SrcKind::SameAsDest, 0, 17, ERANGE_CLEARED,
     CopyState::AllZero},
    {"source is dest", 16, false, SrcKind::SameAsDest, 0, 8, BOUNDED_OK, CopyState::Untouched},
    {"source is dest, full size", 16, false, SrcKind::SameAsDest, 0, 16, BOUNDED_OK,
     CopyState::Untouched},
    {"source 4 above dest, count 8", 16, false, SrcKind::InsideDest, 4, 8, EOVERLAP_CLEARED,
     CopyState::AllZero},
    {"source 4 below dest, count 8", 16, false, SrcKind::InsideDest, -4, 8, EOVERLAP_CLEARED,
     CopyState::AllZero},
    {"source one byte into the end", 16, false, SrcKind::InsideDest, 7, 8, EOVERLAP_CLEARED,
     CopyState::AllZero},
    {"source ends one byte into dest", 16, false, SrcKind::InsideDest, -7, 8, EOVERLAP_CLEARED,
     CopyState::AllZero},
    {"source 1 above dest, count 2", 16, false, SrcKind::InsideDest, 1, 2, EOVERLAP_CLEARED,
     CopyState::AllZero},
    {"source starts where dest range ends", 16, false, SrcKind::InsideDest, 8, 8, BOUNDED_OK,
     CopyState::Copied},
    {"source ends where dest begins", 16, false, SrcKind::InsideDest, -4, 4, BOUNDED_OK,
     CopyState::Copied},
    {"source ends where dest begins, long", 16, false, SrcKind::InsideDest, -16, 16, BOUNDED_OK,
     CopyState::Copied},
    {"count 0, source overlapping", 16, false, SrcKind::InsideDest, 4, 0, BOUNDED_OK,
     CopyState::Untouched},
    // Copies above 128 bytes that the inline entry hands to the C library.
    {"long, source 1 above dest", 200, false, SrcKind::InsideDest, 1, 200, EOVERLAP_CLEARED,
     CopyState::AllZero},
    {"long, source ends one byte into dest", 200, false, SrcKind::InsideDest, -199, 200,
     EOVERLAP_CLEARED, CopyState::AllZero},
    {"long, source starts one byte before dest ends", 200, false, SrcKind::InsideDest, 199, 200,
     EOVERLAP_CLEARED, CopyState::AllZero},
    {"long, source ends where dest begins", 200, false, SrcKind::InsideDest, -200, 200, BOUNDED_OK,
     CopyState::Copied},
    {"long, source starts where dest ends", 200, false, SrcKind::InsideDest, 200, 200, BOUNDED_OK,
     CopyState::Copied},
    {"long, source is dest", 200, false, SrcKind::SameAsDest, 0, 200, BOUNDED_OK,
     CopyState::Untouched},
    {"count 0, separate source", 16, false, SrcKind::Separate, 0, 0, BOUNDED_OK,
     CopyState::Untouched},
};

TEST_P(CopyEntryTest, ResultCodesAndDestinationState) {
    static const unsigned char separate[64] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 9, 8, 7, 6, 5, 4, 3, 2};
    for (const CopyCase& t : kCopyCases) {
        Arena arena;
        const Arena before;
        unsigned char* dest = t.nullDest ? nullptr : arena.at(kBase);
        const unsigned char* src = nullptr;
        switch (t.src) {
            case SrcKind::Separate:
                src = separate;
                break;
            case SrcKind::Null:
                break;
            case SrcKind::SameAsDest:
                src = arena.at(kBase);
                break;
            case SrcKind::InsideDest:
                src = arena.at(static_cast<size_t>(static_cast<ptrdiff_t>(kBase) + t.srcOffset));
                break;
        }
        Arena expected;
        if (t.state == CopyState::AllZero) {
            for (size_t i = 0; i < t.destMax; ++i) {
                expected.bytes[kBase + i] = 0;
            }
        } else if (t.state == CopyState::Copied) {
            const size_t srcPos = static_cast<size_t>(static_cast<ptrdiff_t>(kBase) + t.srcOffset);
            for (size_t i = 0; i < t.count; ++i) {
                expected.bytes[kBase + i] = before.bytes[srcPos + i];
            }
        }
        EXPECT_EQ(GetParam().fn(dest, t.destMax, src, t.count), t.expected) << t.what;
        EXPECT_TRUE(SameBytes(arena, expected)) << t.what;
    }
}

TEST_P(CopyEntryTest, SizeAboveLimitWithSmallCount) {
    const unsigned char source[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (size_t destMax : {kTooBig, kAllBits}) {
        Arena arena;
        Arena expected;
        int want = ERANGE;
        if (GetParam().trusted) {
            std::memcpy(expected.at(kBase), source, sizeof source);
            want = BOUNDED_OK;
        }
        EXPECT_EQ(GetParam().fn(arena.at(kBase), destMax, source, sizeof source), want)
            << "destMax=" << destMax;
        EXPECT_TRUE(SameBytes(arena, expected));
    }
}

// A refused request with a size above the limit is classified by the size
// first, even for the trusted entry: nothing is zeroed.
TEST_P(CopyEntryTest, SizeAboveLimitRefusalWritesNothing) {
    const unsigned char source[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Arena arena;
    const Arena expected;
    EXPECT_EQ(GetParam().fn(arena.at(kBase), kTooBig, nullptr, 8), ERANGE);
    EXPECT_EQ(GetParam().fn(arena.at(kBase), kTooBig, source, 0), ERANGE);
    EXPECT_EQ(GetParam().fn(arena.at(kBase), kTooBig, arena.at(kBase + 2), 4), ERANGE);
    EXPECT_TRUE(SameBytes(arena, expected));
}

TEST(CopyEntry, NullSourceZeroesWholeDestination) {
    unsigned char buf[16];
    std::memset(buf, 0x5D, sizeof buf);
    EXPECT_EQ(memcpy_s(buf, sizeof buf, nullptr, 4), EINVAL_CLEARED);
    for (unsigned char b : buf) {
        EXPECT_EQ(b, 0);
    }
}

}  // namespace
