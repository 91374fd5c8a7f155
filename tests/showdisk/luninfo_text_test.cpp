// Text helpers and the multipath listing reader of ts_showdisk.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "luninfo_linux.h"
#include "lunquery.h"

namespace {

std::string Token(const char* line, const char* pattern, size_t size, int* result) {
    char dest[64];
    std::memset(dest, 0, sizeof(dest));
    *result = get_str_by_reg(line, pattern, dest, size);
    return dest;
}

TEST(GetStrByReg, CutsTheTokenUpToBlankOrBracket) {
    int r = 0;
    EXPECT_EQ(Token("3:0:0:1 sdc 8:32 active ready running", "sd", 64, &r), "sdc");
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Token("3:0:0:1 sdc 8:32 active ready running", "active", 64, &r), "active");
    EXPECT_EQ(Token("[size=10G][features=0]", "size=", 64, &r), "size=10G");
    EXPECT_EQ(Token("mpatha (36e0) dm-3 QELMAR,VSA1000", "dm-", 64, &r), "dm-3");
}

TEST(GetStrByReg, AbsentPatternOrEmptyLineFails) {
    int r = 0;
    EXPECT_EQ(Token("3:0:0:1 sdc failed", "active", 64, &r), "");
    EXPECT_EQ(r, -1);
    EXPECT_EQ(Token("", "sd", 64, &r), "");
    EXPECT_EQ(r, -1);
    char dest[8] = {0};
    EXPECT_EQ(get_str_by_reg(nullptr, "sd", dest, sizeof(dest)), -1);
}

TEST(GetStrByReg, TokenThatDoesNotFitLeavesDestinationEmptyButFound) {
    int r = -1;
    // "active" is 6 characters: fits in 7 bytes, not in 6.
    EXPECT_EQ(Token("x active y", "active", 7, &r), "active");
    EXPECT_EQ(Token("x active y", "active", 6, &r), "");
    EXPECT_EQ(r, 0);
}

TEST(FilterUnsafeStr, RefusesShellSeparators) {
    EXPECT_EQ(filter_the_unsafe_str("sdb;reboot"), -1);
    EXPECT_EQ(filter_the_unsafe_str("1|x"), -1);
    EXPECT_EQ(filter_the_unsafe_str("a&&b"), -1);
    EXPECT_EQ(filter_the_unsafe_str("a&b"), -1);
    EXPECT_EQ(filter_the_unsafe_str(nullptr), -1);
}

TEST(FilterUnsafeStr, AcceptsPlainNames) {
    EXPECT_EQ(filter_the_unsafe_str("sdb"), 0);
    EXPECT_EQ(filter_the_unsafe_str("12"), 0);
    EXPECT_EQ(filter_the_unsafe_str("dm-0"), 0);
    EXPECT_EQ(filter_the_unsafe_str("cciss!c0d0"), 0);
    EXPECT_EQ(filter_the_unsafe_str("nvme0n1_x.y:z+1"), 0);
}

// Deliberate: only letters, digits and . _ - : ! + pass.
TEST(FilterUnsafeStr, RefusesEveryOtherCharacter) {
    for (const char* text : {"sd$(id)q", "sd`id`q", "sd q", "sd\nq", "sd>q", "sd<q", "sd'q",
                             "sd\"q", "../sdb", "sd\\q", "sd*"}) {
        EXPECT_EQ(filter_the_unsafe_str(text), -1) << text;
    }
}

TEST(SizeText, SectorsScaleToOneDecimalBelowTen) {
    const struct Case {
        unsigned long long sectors;
        const char* text;
    } cases[] = {{20971520ULL, "10G"},    {10485760ULL, "5.0G"}, {4294967296ULL, "2.0T"},
                 {1000ULL, "500K"},       {0ULL, "0.0K"},        {2097152ULL, "1.0G"},
                 {2147483648ULL, "1.0T"}, {19922944ULL, "9.5G"}, {3ULL, "1.0K"}};
    for (const Case& c : cases) {
        char dest[64] = {0};
        size_text_from_sectors(c.sectors, dest, sizeof(dest));
        EXPECT_STREQ(dest, c.text) << c.sectors;
    }
}

// Deliberate: the dm word is the first blank-delimited dm-<digits> word.
TEST(DmWord, FirstBlankDelimitedDmDigitsWord) {
    char dest[64] = {0};
    EXPECT_EQ(dm_word_of_line("mpatha (36e0fc) dm-12 QELMAR,VSA1000", dest, sizeof(dest)), 0);
    EXPECT_STREQ(dest, "dm-12");
    EXPECT_EQ(dm_word_of_line("olddm-3x (36e0fc) dm-7 QELMAR,VSA1000", dest, sizeof(dest)), 0);
    EXPECT_STREQ(dest, "dm-7");
    EXPECT_EQ(dm_word_of_line("my-dm-a (36e0fc) dm- QELMAR", dest, sizeof(dest)), -1);
    EXPECT_EQ(dm_word_of_line("dm-x dm-1y QELMAR", dest, sizeof(dest)), -1);
    // Tabs separate the words too (tsexTool's header reader splits at blanks only).
    EXPECT_EQ(dm_word_of_line("mpatha\t(36e0fc)\tdm-4\tQELMAR,VSA1000", dest, sizeof(dest)), 0);
    EXPECT_STREQ(dest, "dm-4");
}

TEST(HostNo, FirstDigitRun) {
    char dest[8] = {0};
    EXPECT_EQ(host_no_of_line("|- 4:0:0:2 sde 8:64 failed faulty running", dest, sizeof(dest)), 0);
    EXPECT_STREQ(dest, "4");
    EXPECT_EQ(host_no_of_line("  `- 12:0:1:1 sdq 65:0 active", dest, sizeof(dest)), 0);
    EXPECT_STREQ(dest, "12");
    char none[8] = {0};
    EXPECT_EQ(host_no_of_line("no digits here", none, sizeof(none)), -1);
    EXPECT_STREQ(none, "");
}

class ListingTest : public ::testing::Test {
  protected:
    void SetUp() override { INIT_LIST_HEAD(&g_lunlist); }
    void TearDown() override { free_lunlist(); }

    void Feed(const char* const* lines) {
        int vendor_map = 0;
        LunInfo* current = nullptr;
        for (; *lines != nullptr; ++lines) {
            ASSERT_EQ(parse_multipath_line(*lines, &vendor_map, &current), 0) << *lines;
        }
    }

    static int Count(list_head* head) {
        int n = 0;
        for (list_head* l = head->next; l != head; l = l->next) {
            ++n;
        }
        return n;
    }
};

// Device names that exist on no test machine: the path step opens them.
TEST_F(ListingTest, VendorMapWithTwoPaths) {
    const char* lines[] = {"mpatha (36e0fc123456000000000000000000011) dm-3 QELMAR,VSA1000",
                           "size=10G features='1 queue_if_no_path' hwhandler='1 alua' wp=rw",
                           "|-+- policy='service-time 0' prio=50 status=active",
                           "| `- 3:0:0:1 sdxqa 8:16  active ready running",
                           "`-+- policy='service-time 0' prio=10 status=enabled",
                           "  `- 4:0:0:2 sdxqb 8:64 failed faulty running",
                           nullptr};
    Feed(lines);
    ASSERT_EQ(Count(&g_lunlist), 1);
    LunInfo* lun = lun_of(g_lunlist.next);
    EXPECT_STREQ(lun->dev_name, "/dev/dm-3");
    EXPECT_STREQ(lun->capacity, "10G");
    EXPECT_STREQ(lun->vendor, "QELMAR");
    ASSERT_EQ(Count(&lun->paths), 2);
    LunInfo* first = lun_of(lun->paths.next);
    LunInfo* second = lun_of(lun->paths.next->next);
    EXPECT_STREQ(first->dev_name, "/dev/sdxqa");
    EXPECT_STREQ(first->path_status, "active");
    EXPECT_STREQ(first->host_no, "3");
    EXPECT_STREQ(first->vendor, "QELMAR");
    EXPECT_STREQ(second->dev_name, "/dev/sdxqb");
    EXPECT_STREQ(second->path_status, "failed");
    EXPECT_STREQ(second->host_no, "4");
}

TEST_F(ListingTest, OtherVendorMapBetweenVendorMapsContributesNothing) {
    const char* lines[] = {"36e0fc1 dm-0 ZUNTA,ZX200",
                           "size=1.5T features='0' hwhandler='0' wp=rw",
                           "  `- 3:0:0:1 sdxqa 8:16 active ready running",
                           "350014380 dm-1 ACME,STOR9",
                           "size=20G features='0' hwhandler='0' wp=rw",
                           "  `- 3:0:2:1 sdxqc 8:48 active ready running",
                           "36e0fc3 dm-2 QELMAR,VSA1000",
                           "[size=30G][features=0]",
                           "  \\_ 5:0:0:2 sdxqd 8:80 [active][ready]",
                           nullptr};
    Feed(lines);
    ASSERT_EQ(Count(&g_lunlist), 2);
    LunInfo* zunta = lun_of(g_lunlist.next);
    LunInfo* qelmar = lun_of(g_lunlist.next->next);
    EXPECT_STREQ(zunta->dev_name, "/dev/dm-0");
    EXPECT_STREQ(zunta->vendor, "ZUNTA");
    EXPECT_STREQ(zunta->capacity, "1.5T");
    EXPECT_EQ(Count(&zunta->paths), 1);
    EXPECT_STREQ(qelmar->dev_name, "/dev/dm-2");
    EXPECT_STREQ(qelmar->capacity, "30G");
    ASSERT_EQ(Count(&qelmar->paths), 1);
    EXPECT_STREQ(lun_of(qelmar->paths.next)->path_status, "active");
    EXPECT_STREQ(lun_of(qelmar->paths.next)->host_no, "5");
}

// Deliberate: a header without a dm-<digits> word creates nothing, and its
// paths do not join the map before it.
TEST_F(ListingTest, HeaderWithoutDmWordCreatesNothing) {
    const char* lines[] = {"36e0fc1 dm-0 QELMAR,VSA1000", "  `- 3:0:0:1 sdxqa 8:16 active ready",
                           "olddm-x (36e0fc2) QELMAR,VSA1000",
                           "  `- 3:0:0:2 sdxqb 8:32 active ready", nullptr};
    Feed(lines);
    ASSERT_EQ(Count(&g_lunlist), 1);
    EXPECT_EQ(Count(&lun_of(g_lunlist.next)->paths), 1);
}

// The token buffer holds 63 characters: a longer sd word names no path (it
// would otherwise become the path "/dev/").
TEST_F(ListingTest, SdWordLongerThanTheTokenBufferNamesNoPath) {
    const std::string fits = "sd" + std::string(61, 'x');
    const std::string too_long = "sd" + std::string(62, 'y');
    const std::string fits_line = "  |- 3:0:0:1 " + fits + " 8:16 active ready running";
    const std::string long_line = "  `- 3:0:1:1 " + too_long + " 8:32 active ready running";
    const char* lines[] = {"36e0fc1 dm-0 QELMAR,VSA1000", fits_line.c_str(), long_line.c_str(),
                           nullptr};
    Feed(lines);
    ASSERT_EQ(Count(&g_lunlist), 1);
    LunInfo* lun = lun_of(g_lunlist.next);
    ASSERT_EQ(Count(&lun->paths), 1);
    EXPECT_EQ(std::string(lun_of(lun->paths.next)->dev_name), "/dev/" + fits);
}

TEST_F(ListingTest, PathLinesBeforeAnyMapAreIgnored) {
    const char* lines[] = {"  `- 3:0:0:1 sdxqa 8:16 active ready", "size=10G", nullptr};
    Feed(lines);
    EXPECT_EQ(list_empty(&g_lunlist), 1);
}

}  // namespace
