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

}  // namespace
