// The terminal-safe output of device text (common/terminal_text.h) that
// every table cell of the programs goes through.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "../../common/terminal_text.h"
#include "../common/written_text.h"

namespace {

bool InPrintableAscii(int byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

// What TerminalSafePut writes for text, read back from a memory stream.
std::string Put(const char* text) {
    return Written([text](FILE* out) { TerminalSafePut(text, out); });
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
        const char shown = InPrintableAscii(byte) ? static_cast<char>(b) : '?';
        EXPECT_EQ(Put(text), std::string(1, shown));
    }
}

struct PutCase {
    const char* name;
    const char* text;
    const char* shown;
};

// One '?' per byte: a two-byte UTF-8 character is two, so the width a cell
// was measured with does not change.
const PutCase kPutCases[] = {
    {"empty", "", ""},
    {"plain name", "db01 Array-01", "db01 Array-01"},
    {"both ends of the printable range", " ~", " ~"},
    {"screen clear and cursor home", "\x1b[2J\x1b[H", "?[2J?[H"},
    {"window title, bell-terminated", "\x1b]0;x\x07", "?]0;x?"},
    {"C1 control, DEL, 0xFF", "a\x9b\x31m\x7f\xff", "a?1m??"},
    {"UTF-8 pair and triple", "\xc3\xa9 \xe2\x82\xac", "?? ???"},
    {"tab, carriage return, newline", "a\tb\rc\n", "a?b?c?"},
    {"null text", nullptr, ""},
};

TEST(TerminalText, WritesOneCharacterPerByte) {
    for (const PutCase& c : kPutCases) {
        EXPECT_EQ(Put(c.text), c.shown) << c.name;
    }
    // No buffer in between: a text of any length.
    const std::string longText = std::string(300, 'x') + "\x1b";
    EXPECT_EQ(Put(longText.c_str()), std::string(300, 'x') + "?");
}

}  // namespace

namespace {

// A word or a device's text put into a message: one '?' a byte, nothing
// kept, line ends included.
TEST(TerminalText, SafeTextShowsEveryUnprintableByte) {
    for (const PutCase& c : kPutCases) {
        EXPECT_EQ(TerminalSafeText(c.text), c.shown) << c.name;
    }
}

// A whole message keeps the one newline that ends it; any other newline
// (one a name brought in) shows as '?'.
TEST(TerminalText, SafeLineKeepsOnlyTheFinalLineEnd) {
    EXPECT_EQ(TerminalSafeLine("Get vlun[/dev/dm-0].\n"), "Get vlun[/dev/dm-0].\n");
    EXPECT_EQ(TerminalSafeLine("Device[sd\x1b[2J\x07\n\xe9x] failed.\n"),
              "Device[sd?[2J???x] failed.\n");
    EXPECT_EQ(TerminalSafeLine("no line end\x1b"), "no line end?");
    EXPECT_EQ(TerminalSafeLine("\n\n"), "?\n");
    EXPECT_EQ(TerminalSafeLine("\r\n"), "?\n");
    EXPECT_EQ(TerminalSafeLine(""), "");
    EXPECT_EQ(TerminalSafeLine(nullptr), "");
}

}  // namespace
