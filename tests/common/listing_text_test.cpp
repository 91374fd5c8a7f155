// The listing text that tsexTool and ts_showdisk share: what each caller's
// choice of separators decides for the dm word, and the capacity text at
// the ends of its range.
#include "listing_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

struct DmCase {
    const char* line;
    const char* separators;
    int result;
    const char* word;  // what dest holds afterwards
};

TEST(DmWordOfLine, SeparatorsDecideTheWords) {
    const std::string long_word = "dm-" + std::string(61, '1');  // 64 characters
    const std::string long_first = "x " + long_word + " dm-2";
    const DmCase cases[] = {
        // Tabs are word separators only when the caller says so.
        {"mpatha\t(36e0fc12)\tdm-3\tQELMAR,VSA1000", " \t", 0, "dm-3"},
        {"mpatha\t(36e0fc12)\tdm-3\tQELMAR,VSA1000", " ", -1, "untouched"},
        {"backup_dm-3 (36e0fc12) dm-7 QELMAR,VSA1000", " ", 0, "dm-7"},
        // The first dm word decides: too long for the destination, no other
        // word is tried.
        {long_first.c_str(), " ", -1, "untouched"},
        {"", " ", -1, "untouched"},
    };
    for (const DmCase& c : cases) {
        char dest[64];
        std::memset(dest, 'Q', sizeof dest);
        std::strcpy(dest, "untouched");
        EXPECT_EQ(DmWordOfLine(c.line, c.separators, dest, sizeof dest), c.result) << c.line;
        EXPECT_STREQ(dest, c.word) << c.line;
        if (c.result == 0) {
            EXPECT_EQ(std::string(dest, sizeof dest),
                      std::string(c.word) + std::string(sizeof dest - std::strlen(c.word), '\0'))
                << "the destination is zero-filled behind the word";
        }
    }
}

struct SizeCase {
    uint64_t sectors;
    size_t size;
    int result;
    const char* text;
};

TEST(SizeTextFromSectors, StaysInPAndFailsWhenTheTextDoesNotFit) {
    const SizeCase cases[] = {
        {UINT64_MAX, 16, 0, "8388608P"},
        {uint64_t{1} << 51, 16, 0, "1024P"},  // no unit beyond P
        {20971520, 4, 0, "10G"},
        {20971520, 3, -1, ""},  // refused and emptied, not cut to "10"
        {19922944, 4, -1, ""},  // 9.5G needs five bytes
    };
    for (const SizeCase& c : cases) {
        char dest[16];
        std::strcpy(dest, "stale");
        EXPECT_EQ(SizeTextFromSectors(c.sectors, dest, c.size), c.result) << c.sectors;
        EXPECT_STREQ(dest, c.text) << c.sectors << " into " << c.size;
    }
}

}  // namespace
