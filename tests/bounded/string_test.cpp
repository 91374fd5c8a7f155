// Bounded string copy and append: results, error order, overlap handling and the
// destination state each result leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "boundedfunc.h"

namespace {

constexpr size_t kTooBig = static_cast<size_t>(0x80000000UL);
constexpr size_t kAllBits = static_cast<size_t>(-1);

// A 48-byte scratch line; every byte starts as a known non-zero filler so that
// a test can tell which bytes a call wrote.
struct Line {
    char bytes[48];
    Line() { std::memset(bytes, '#', sizeof bytes); }
    // Places text (with its terminator) at offset.
    char* Put(size_t offset, const char* text) {
        std::memcpy(bytes + offset, text, std::strlen(text) + 1);
        return bytes + offset;
    }
    std::string All() const { return std::string(bytes, sizeof bytes); }
};

// The line as a test expects it: filler everywhere except the given pieces.
std::string Expect(std::initializer_list<std::pair<size_t, std::string>> pieces) {
    std::string s(48, '#');
    for (const auto& piece : pieces) {
        s.replace(piece.first, piece.second.size(), piece.second);
    }
    return s;
}

// A heap block of exactly len bytes holding text without a terminator, so
// that any read past the counted length is caught by the address checker.
std::unique_ptr<char[]> Unterminated(const char* text, size_t len) {
    std::unique_ptr<char[]> block(new char[len]);
    std::memcpy(block.get(), text, len);
    return block;
}

// ---------------------------------------------------------------------------
// strncpy_s

struct CopyFit {
    const char* src;
    size_t destMax;
    size_t count;
    int expected;
    const char* result;  // the string in dest afterwards
};

const CopyFit kCopyFits[] = {
    {"abcd", 4, 4, ERANGE_CLEARED, ""},
    {"abcd", 4, 3, BOUNDED_OK, "abc"},
    {"abcd", 8, 3, BOUNDED_OK, "abc"},
    {"abcd", 4, 0, BOUNDED_OK, ""},
    {"abcd", 5, 4, BOUNDED_OK, "abcd"},
    {"abcd", 5, 5, BOUNDED_OK, "abcd"},
    {"abcd", 5, 100, BOUNDED_OK, "abcd"},
    {"abcd", 4, 100, ERANGE_CLEARED, ""},
    {"abcd", 3, 2, BOUNDED_OK, "ab"},
    {"abc", 4, 4, BOUNDED_OK, "abc"},
    {"abc", 4, 0x7FFFFFFF, BOUNDED_OK, "abc"},
    {"abcdefghijkl", 4, 3, BOUNDED_OK, "abc"},
    {"abcdefghijkl", 20, 7, BOUNDED_OK, "abcdefg"},
    {"abcdefghijkl", 13, 12, BOUNDED_OK, "abcdefghijkl"},
    {"abcdefghijkl", 12, 12, ERANGE_CLEARED, ""},
    {"abcdefghijkl", 12, 11, BOUNDED_OK, "abcdefghijk"},
    {"", 1, 1, BOUNDED_OK, ""},
    {"", 1, 7, BOUNDED_OK, ""},
    {"a", 1, 1, ERANGE_CLEARED, ""},
    {"a", 1, 0, BOUNDED_OK, ""},
    {"a", 2, 1, BOUNDED_OK, "a"},
};

// Only the characters and one terminator are written; a reset writes the first
// byte only.
TEST(StrncpyS, FitAndCut) {
    for (const CopyFit& t : kCopyFits) {
        Line line;
        EXPECT_EQ(strncpy_s(line.bytes + 8, t.destMax, t.src, t.count), t.expected)
            << "[" << t.src << "] destMax=" << t.destMax << " count=" << t.count;
        EXPECT_EQ(line.All(), Expect({{8, std::string(t.result) + '\0'}}))
            << "[" << t.src << "] destMax=" << t.destMax << " count=" << t.count;
    }
}

enum class StrState { Untouched, FirstCleared };

struct CopyRefusal {
    const char* what;
    size_t destMax;
    bool nullDest;
    bool nullSrc;
    size_t count;
    int expected;
    StrState state;
};

// Size, then destination, then source, then count.
const CopyRefusal kCopyRefusals[] = {
    {"size 0, everything wrong", 0, true, true, kAllBits, ERANGE, StrState::Untouched},
    {"size 0", 0, false, false, 3, ERANGE, StrState::Untouched},
    {"size over limit", kTooBig, false, false, 3, ERANGE, StrState::Untouched},
    {"size all bits", kAllBits, false, false, 3, ERANGE, StrState::Untouched},
    {"size over limit, null src", kTooBig, false, true, 3, ERANGE, StrState::Untouched},
    {"null dest and src, bad count", 8, true, true, kTooBig, EINVAL, StrState::Untouched},
    {"null dest", 8, true, false, 3, EINVAL, StrState::Untouched},
    {"null src, bad count", 8, false, true, kTooBig, EINVAL_CLEARED, StrState::FirstCleared},
    {"null src, count 0", 8, false, true, 0, EINVAL_CLEARED, StrState::FirstCleared},
    {"null src", 8, false, true, 3, EINVAL_CLEARED, StrState::FirstCleared},
    {"count over limit", 8, false, false, kTooBig, ERANGE_CLEARED, StrState::FirstCleared},
    {"count all bits", 8, false, false, kAllBits, ERANGE_CLEARED, StrState::FirstCleared},
    {"count 0", 8, false, false, 0, BOUNDED_OK, StrState::FirstCleared},
};

TEST(StrncpyS, ErrorClassificationOrder) {
    for (const CopyRefusal& t : kCopyRefusals) {
        Line line;
        char* dest = t.nullDest ? nullptr : line.bytes + 8;
        const char* src = t.nullSrc ? nullptr : "xyz";
        EXPECT_EQ(strncpy_s(dest, t.destMax, src, t.count), t.expected) << t.what;
        const std::string want =
            t.state == StrState::Untouched ? Expect({}) : Expect({{8, std::string(1, '\0')}});
        EXPECT_EQ(line.All(), want) << t.what;
    }
}

TEST(StrncpyS, UnterminatedSourceIsReadOnlyUpToItsLimit) {
    // count below destMax: the source is cut to count characters.
    auto src = Unterminated("abcdef", 6);
    Line line;
    EXPECT_EQ(strncpy_s(line.bytes, 10, src.get(), 6), BOUNDED_OK);
    EXPECT_EQ(line.All(), Expect({{0, std::string("abcdef") + '\0'}}));

    // count at or above destMax: at most destMax characters are measured.
    auto full = Unterminated("abcdefgh", 8);
    Line line2;
    EXPECT_EQ(strncpy_s(line2.bytes, 8, full.get(), 100), ERANGE_CLEARED);
    EXPECT_EQ(line2.All(), Expect({{0, std::string(1, '\0')}}));
}

struct CopyOverlap {
    const char* what;
    size_t srcAt;   // offset of the source string in the line
    size_t destAt;  // offset of the destination
    size_t destMax;
    size_t count;
    int expected;
};

// The source "abcdef" sits at srcAt; a copy of len characters spans len + 1
// bytes on each side.
const CopyOverlap kCopyOverlaps[] = {
    {"dest inside source", 10, 13, 8, 20, EOVERLAP_CLEARED},
    {"dest on source terminator", 10, 16, 8, 20, EOVERLAP_CLEARED},
    {"dest just past source terminator", 10, 17, 8, 20, BOUNDED_OK},
    {"source inside dest range", 13, 10, 8, 20, EOVERLAP_CLEARED},
    {"source on dest terminator position", 16, 10, 8, 20, EOVERLAP_CLEARED},
    {"source just past dest terminator position", 17, 10, 8, 20, BOUNDED_OK},
    // With count 3 only 4 bytes take part on each side.
    {"cut copy, source after the terminator position", 14, 10, 16, 3, BOUNDED_OK},
    {"cut copy, source on the terminator position", 13, 10, 16, 3, EOVERLAP_CLEARED},
    {"cut copy, dest after the terminator position", 10, 14, 16, 3, BOUNDED_OK},
    {"cut copy, dest on the terminator position", 10, 13, 16, 3, EOVERLAP_CLEARED},
};

TEST(StrncpyS, OverlapSpansLengthPlusTerminator) {
    for (const CopyOverlap& t : kCopyOverlaps) {
        Line line;
        line.Put(t.srcAt, "abcdef");
        std::string want = line.All();
        const std::string copied =
            std::string("abcdef").substr(0, t.count < 6 ? t.count : 6) + '\0';
        if (t.expected == BOUNDED_OK) {
            want.replace(t.destAt, copied.size(), copied);
        } else {
            want[t.destAt] = '\0';
        }
        EXPECT_EQ(strncpy_s(line.bytes + t.destAt, t.destMax, line.bytes + t.srcAt, t.count),
                  t.expected)
            << t.what;
        EXPECT_EQ(line.All(), want) << t.what;
    }
}

TEST(StrncpyS, SourceEqualToDestIsNotAnOverlap) {
    Line line;
    line.Put(4, "abc");
    EXPECT_EQ(strncpy_s(line.bytes + 4, 8, line.bytes + 4, 8), BOUNDED_OK);
    EXPECT_EQ(line.All(), Expect({{4, std::string("abc") + '\0'}}));

    // A cut copy onto itself only places the terminator.
    Line cut;
    cut.Put(4, "abcdef");
    EXPECT_EQ(strncpy_s(cut.bytes + 4, 16, cut.bytes + 4, 3), BOUNDED_OK);
    EXPECT_EQ(cut.All(), Expect({{4, std::string("abc\0ef\0", 7)}}));
}

TEST(StrncpyS, FitIsJudgedBeforeOverlap) {
    Line line;
    line.Put(11, "abcdef");
    EXPECT_EQ(strncpy_s(line.bytes + 10, 4, line.bytes + 11, 4), ERANGE_CLEARED);
    EXPECT_EQ(line.All(), Expect({{10, std::string("\0abcdef\0", 8)}}));
}

// ---------------------------------------------------------------------------
// strcat_s

struct AppendCase {
    const char* dest;  // initial string (written with its terminator)
    const char* src;
    size_t destMax;
    int expected;
    const char* result;  // what the destination bytes look like afterwards
    size_t resultLen;
};

const AppendCase kAppends[] = {
    {"ab", "c", 4, BOUNDED_OK, "abc", 4},
    {"ab", "cd", 4, ERANGE_CLEARED, "\0b\0", 3},
    {"ab", "", 4, BOUNDED_OK, "ab", 3},
    {"abc", "", 4, BOUNDED_OK, "abc", 4},
    {"abc", "d", 4, ERANGE_CLEARED, "\0bc", 4},
    {"", "abc", 4, BOUNDED_OK, "abc", 4},
    {"", "abcd", 4, ERANGE_CLEARED, "", 1},
    {"", "", 1, BOUNDED_OK, "", 1},
    {"", "a", 1, ERANGE_CLEARED, "", 1},
    {"x", "0123456789abcdef", 18, BOUNDED_OK, "x0123456789abcdef", 18},
    {"x", "0123456789abcdef", 17, ERANGE_CLEARED, "", 1},
    {"xy", "01234567", 11, BOUNDED_OK, "xy01234567", 11},
    {"xy", "01234567", 10, ERANGE_CLEARED, "", 1},
    {"xy", "012345678", 12, BOUNDED_OK, "xy012345678", 12},
    {"xy", "012345678", 11, ERANGE_CLEARED, "", 1},
    {"xy", "0123456", 10, BOUNDED_OK, "xy0123456", 10},
};

TEST(StrcatS, AppendFitsOrResets) {
    for (const AppendCase& t : kAppends) {
        Line line;
        line.Put(8, t.dest);
        std::string want = line.All();
        want.replace(8, t.resultLen, std::string(t.result, t.resultLen));
        EXPECT_EQ(strcat_s(line.bytes + 8, t.destMax, t.src), t.expected)
            << "[" << t.dest << "]+[" << t.src << "] destMax=" << t.destMax;
        EXPECT_EQ(line.All(), want) << "[" << t.dest << "]+[" << t.src << "] destMax=" << t.destMax;
    }
}

// Sources of every length around the eight characters measured inline, with
// room to spare, exactly enough room, and one byte short.
TEST(StrcatS, SourceLengthsAroundInlineMeasure) {
    const std::string digits = "0123456789ABCDEFGHIJKLMNOPQRSTU";
    for (size_t srcLen = 0; srcLen <= 20; ++srcLen) {
        const std::string src = digits.substr(0, srcLen);
        for (size_t destMax = 3; destMax <= srcLen + 6; ++destMax) {
            Line line;
            line.Put(4, "xy");
            std::string want = line.All();
            const bool fits = 2 + srcLen < destMax;
            if (fits) {
                want.replace(6, srcLen + 1, src + '\0');
            } else {
                want[4] = '\0';
            }
            EXPECT_EQ(strcat_s(line.bytes + 4, destMax, src.c_str()),
                      fits ? BOUNDED_OK : ERANGE_CLEARED)
                << "srcLen=" << srcLen << " destMax=" << destMax;
            EXPECT_EQ(line.All(), want) << "srcLen=" << srcLen << " destMax=" << destMax;
        }
    }
}

TEST(StrcatS, UnterminatedSourceIsMeasuredOnlyOverTheRoomLeft) {
    for (size_t room : {size_t{3}, size_t{8}, size_t{9}, size_t{15}}) {
        auto src = Unterminated("0123456789abcdefghij", room);
        Line line;
        line.Put(0, "ab");
        EXPECT_EQ(strcat_s(line.bytes, 2 + room, src.get()), ERANGE_CLEARED) << "room=" << room;
        EXPECT_EQ(line.All(), Expect({{0, std::string("\0b\0", 3)}})) << "room=" << room;
    }
}

TEST(StrcatS, DestinationWithoutTerminator) {
    Line line;
    std::memcpy(line.bytes + 4, "abcd", 4);
    EXPECT_EQ(strcat_s(line.bytes + 4, 4, "e"), EINVAL_CLEARED);
    EXPECT_EQ(line.All(), Expect({{4, std::string("\0bcd", 4)}}));

    // An empty source does not help: there is still no terminator to append at.
    Line empty;
    std::memcpy(empty.bytes + 4, "abcd", 4);
    EXPECT_EQ(strcat_s(empty.bytes + 4, 4, ""), EINVAL_CLEARED);
    EXPECT_EQ(empty.All(), Expect({{4, std::string("\0bcd", 4)}}));

    // The destination is read no further than its size.
    auto heapDest = Unterminated("abcdefghijk", 11);
    EXPECT_EQ(strcat_s(heapDest.get(), 11, "z"), EINVAL_CLEARED);
    EXPECT_EQ(std::string(heapDest.get(), 11), std::string("\0bcdefghijk", 11));
}

struct AppendRefusal {
    const char* what;
    size_t destMax;
    bool nullDest;
    bool nullSrc;
    int expected;
    StrState state;
};

const AppendRefusal kAppendRefusals[] = {
    {"size 0, null dest and src", 0, true, true, ERANGE, StrState::Untouched},
    {"size 0", 0, false, false, ERANGE, StrState::Untouched},
    {"size over limit", kTooBig, false, false, ERANGE, StrState::Untouched},
    {"size all bits, null src", kAllBits, false, true, ERANGE, StrState::Untouched},
    {"null dest and src", 8, true, true, EINVAL, StrState::Untouched},
    {"null dest", 8, true, false, EINVAL, StrState::Untouched},
    {"null src", 8, false, true, EINVAL_CLEARED, StrState::FirstCleared},
};

TEST(StrcatS, ArgumentErrorsInOrder) {
    for (const AppendRefusal& t : kAppendRefusals) {
        Line line;
        line.Put(8, "ab");
        std::string want = line.All();
        if (t.state == StrState::FirstCleared) {
            want[8] = '\0';
        }
        char* dest = t.nullDest ? nullptr : line.bytes + 8;
        EXPECT_EQ(strcat_s(dest, t.destMax, t.nullSrc ? nullptr : "c"), t.expected) << t.what;
        EXPECT_EQ(line.All(), want) << t.what;
    }
}

TEST(StrcatS, AppendingToItself) {
    Line line;
    line.Put(0, "abc");
    EXPECT_EQ(strcat_s(line.bytes, 16, line.bytes), ERANGE_CLEARED);
    EXPECT_EQ(line.All(), Expect({{0, std::string("\0bc\0", 4)}}));

    // Even an empty string cannot be appended to itself.
    Line empty;
    empty.Put(0, "");
    EXPECT_EQ(strcat_s(empty.bytes, 16, empty.bytes), ERANGE_CLEARED);
    EXPECT_EQ(empty.All(), Expect({{0, std::string(1, '\0')}}));

    // With no terminator in dest the missing terminator is what is reported.
    Line full;
    std::memcpy(full.bytes, "abcd", 4);
    EXPECT_EQ(strcat_s(full.bytes, 4, full.bytes), EINVAL_CLEARED);
    EXPECT_EQ(full.All(), Expect({{0, std::string("\0bcd", 4)}}));
}

struct AppendOverlap {
    const char* what;
    size_t srcAt;
    const char* srcText;  // written first, with its terminator
    size_t destAt;
    const char* destText;  // written second, with its terminator
    size_t destMax;
    int expected;
};

// The append spans dest .. dest + destLen + srcLen (the new terminator); a
// source below dest spans src .. src + srcLen.
const AppendOverlap kAppendOverlaps[] = {
    {"source is the tail of the dest string", 12, "cd", 10, "abcd", 16, EOVERLAP_CLEARED},
    {"source is the empty string at dest's terminator", 12, "", 10, "ab", 16, EOVERLAP_CLEARED},
    {"source starts on the new terminator position", 15, "xyz", 10, "ab", 16, EOVERLAP_CLEARED},
    {"source starts past the new terminator position", 16, "xy", 10, "ab", 16, BOUNDED_OK},
    {"source below dest, running into it", 2, "wxyz", 6, "ab", 16, EOVERLAP_CLEARED},
    {"source's terminator is dest's first byte", 2, "wxyz", 6, "", 16, EOVERLAP_CLEARED},
    {"source below dest, terminator just before it", 1, "wxyz", 6, "ab", 16, BOUNDED_OK},
};

TEST(StrcatS, OverlapHandling) {
    for (const AppendOverlap& t : kAppendOverlaps) {
        Line line;
        line.Put(t.srcAt, t.srcText);
        line.Put(t.destAt, t.destText);
        std::string want = line.All();
        if (t.expected == BOUNDED_OK) {
            const std::string appended = std::string(t.srcText) + '\0';
            want.replace(t.destAt + std::strlen(t.destText), appended.size(), appended);
        } else {
            want[t.destAt] = '\0';
        }
        EXPECT_EQ(strcat_s(line.bytes + t.destAt, t.destMax, line.bytes + t.srcAt), t.expected)
            << t.what;
        EXPECT_EQ(line.All(), want) << t.what;
    }
}

// A destination without a terminator followed by the source: the overlap is
// reported as the missing terminator when the source lies past dest's bytes,
// as an overlap when it lies within them.
TEST(StrcatS, OverlapWithFullDestination) {
    Line after;
    std::memcpy(after.bytes + 8, "abcdxyz", 8);
    EXPECT_EQ(strcat_s(after.bytes + 8, 4, after.bytes + 12), EINVAL_CLEARED);
    EXPECT_EQ(after.All(), Expect({{8, std::string("\0bcdxyz\0", 8)}}));

    Line within;
    std::memcpy(within.bytes + 8, "abcd", 4);
    EXPECT_EQ(strcat_s(within.bytes + 8, 4, within.bytes + 10), EOVERLAP_CLEARED);
    EXPECT_EQ(within.All(), Expect({{8, std::string("\0bcd", 4)}}));
}

}  // namespace
