// The terminal-safe copy of device text (common/terminal_text.h) that the
// ts_showdisk tables print their cells through.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "../../common/terminal_text.h"

namespace {

bool InPrintableAscii(int byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

// Every byte value, as the one byte of a text: kept exactly when it lies in
// 0x20..0x7E, one '?' otherwise. NUL ends a text, so it is only asked of
// TerminalPrintable.
TEST(TerminalText, EveryByteIsKeptExactlyWhenPrintableAscii) {
    for (int byte = 0; byte <= 0xFF; ++byte) {
        SCOPED_TRACE(byte);
        const unsigned char b = static_cast<unsigned char>(byte);
        EXPECT_EQ(TerminalPrintable(b), InPrintableAscii(byte));
        if (byte == 0) {
            continue;
        }
        const char text[2] = {static_cast<char>(b), '\0'};
        char dest[4] = {'x', 'x', 'x', 'x'};
        TerminalSafeCopy(text, dest, sizeof dest);
        const char shown = InPrintableAscii(byte) ? static_cast<char>(b) : '?';
        EXPECT_EQ(dest[0], shown);
        EXPECT_EQ(dest[1], '\0');
        EXPECT_EQ(TerminalSafe(text), InPrintableAscii(byte));
    }
}

struct CopyCase {
    const char* name;
    const char* text;
    size_t destSize;
    const char* shown;
    bool safe;
};

// One '?' per byte: a two-byte UTF-8 character is two, so the width a cell
// was measured with does not change.
const CopyCase kCopyCases[] = {
    {"empty", "", 8, "", true},
    {"plain name", "db01 Array-01", 32, "db01 Array-01", true},
    {"both ends of the printable range", " ~", 8, " ~", true},
    {"screen clear and cursor home", "\x1b[2J\x1b[H", 16, "?[2J?[H", false},
    {"window title, bell-terminated", "\x1b]0;x\x07", 16, "?]0;x?", false},
    {"C1 control, DEL, 0xFF", "a\x9b\x31m\x7f\xff", 16, "a?1m??", false},
    {"UTF-8 pair and triple", "\xc3\xa9 \xe2\x82\xac", 16, "?? ???", false},
    {"tab, carriage return, newline", "a\tb\rc\n", 16, "a?b?c?", false},
    {"cut to destSize - 1", "abcdef", 4, "abc", true},
    {"cut inside a UTF-8 pair", "ab\xc3\xa9", 4, "ab?", false},
    {"room for the NUL only", "abc", 1, "", true},
    {"null text", nullptr, 8, "", true},
};

TEST(TerminalText, CopiesReplaceCutAndTerminate) {
    for (const CopyCase& c : kCopyCases) {
        SCOPED_TRACE(c.name);
        char dest[32];
        std::fill(std::begin(dest), std::end(dest), 'x');
        TerminalSafeCopy(c.text, dest, c.destSize);
        EXPECT_STREQ(dest, c.shown);
        // Nothing is written beyond destSize.
        for (size_t i = c.destSize; i < sizeof dest; ++i) {
            EXPECT_EQ(dest[i], 'x') << i;
        }
        EXPECT_EQ(TerminalSafe(c.text), c.safe);
    }
}

TEST(TerminalText, NoRoomWritesNothing) {
    char dest[2] = {'x', 'x'};
    TerminalSafeCopy("abc", dest, 0);
    EXPECT_EQ(dest[0], 'x');
    TerminalSafeCopy("abc", nullptr, 8);
    EXPECT_EQ(dest[0], 'x');
}

// In place: dest may be the text itself.
TEST(TerminalText, CopiesInPlace) {
    char text[] = "\x1b[2Jname\xff";
    TerminalSafeCopy(text, text, sizeof text);
    EXPECT_EQ(std::string(text), "?[2Jname?");
    EXPECT_TRUE(TerminalSafe(text));
}

}  // namespace
