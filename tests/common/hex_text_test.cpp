// Hex text to bytes: the strict form the Solaris platform substitute reads
// and the form with separators the simulator's descriptions allow.
#include <gtest/gtest.h>

#include "hex_text.h"

namespace {

TEST(HexText, PairsWithAndWithoutSeparators) {
    using Bytes = std::vector<uint8_t>;
    const struct {
        const char* text;
        const char* separators;
        bool ok;
        Bytes bytes;
    } cases[] = {
        {"", "", true, {}},
        {"00fFa9", "", true, {0x00, 0xFF, 0xA9}},
        {"0a 1b", "", false, {}},  // strict: no blank
        {"0a 1b:2C", " :", true, {0x0A, 0x1B, 0x2C}},
        {"0 a", " ", false, {}},  // never inside a pair
        {"abc", "", false, {}},   // odd count
        {"0g", "", false, {}},
        {"0a", " ", true, {0x0A}},
    };
    for (const auto& c : cases) {
        Bytes out = {0x99};
        EXPECT_EQ(c.ok, ParseHexBytes(c.text, &out, c.separators)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.bytes, out) << c.text;
        }
    }
    std::string withNul("0a", 2);
    withNul += '\0';
    Bytes out;
    EXPECT_FALSE(ParseHexBytes(withNul, &out, " "));  // a NUL is no separator
}

// Whole pairs while a pair and its terminator fit; the bytes behind the
// last pair's terminator and anything for count 0 stay as they were.
TEST(HexText, PutHexDigitsFitsPairsAndTerminator) {
    const unsigned char src[] = {0x0A, 0xFF, 0x00, 0x9C};
    struct Case {
        size_t count;
        size_t size;
        size_t written;
        const char* dest;  // the whole buffer of 10 afterwards, '#' untouched
    } cases[] = {
        {4, 10, 4, "0aff009c\0#"}, {4, 9, 4, "0aff009c\0"},  // exactly the digits and the
                                                             // terminator
        {4, 8, 3, "0aff00\0#"},  // no room for the last pair's terminator
        {4, 3, 1, "0a\0#"},        {4, 2, 0, "#"},          {0, 10, 0, "#"}, {2, 10, 2, "0aff\0#"},
    };
    for (const Case& c : cases) {
        char dest[10];
        memset(dest, '#', sizeof dest);
        EXPECT_EQ(c.written, PutHexDigits(src, c.count, dest, c.size)) << c.count << "/" << c.size;
        const size_t used = c.written == 0 ? 0 : 2 * c.written + 1;
        EXPECT_EQ(0, memcmp(dest, c.dest, used)) << c.count << "/" << c.size;
        if (used < sizeof dest) {
            EXPECT_EQ('#', dest[used]) << c.count << "/" << c.size;
        }
    }
}

}  // namespace
