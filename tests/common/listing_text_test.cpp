// The listing text that tsexTool and ts_showdisk share: what each caller's
// choice of separators decides for the dm word, and the capacity text at
// the ends of its range.
#include "listing_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// The lines of one map after its header, in the listing formats multipath
// has printed, and whether the map would hold a pass-through forever.
TEST(MapQueueing, OnlyAQueueingMapWithoutAnActivePathHoldsIo) {
    const struct {
        const char* what;
        std::vector<const char*> lines;
        bool holds;
    } cases[] = {
        {"tree form, every path failed",
         {"size=10G features='1 queue_if_no_path' hwhandler='1 alua' wp=rw",
          "|-+- policy='service-time 0' prio=0 status=enabled",
          "| `- 5:0:0:0 sdd 8:48 failed faulty running",
          "`-+- policy='service-time 0' prio=0 status=active",
          "  `- 6:0:0:0 sde 8:64 failed faulty running"},
         true},
        {"tree form, a path failed but back in the checker",
         {"size=10G features='1 queue_if_no_path' hwhandler='0' wp=rw",
          "`-+- policy='round-robin 0' prio=1 status=enabled",
          "  `- 6:0:0:0 sde 8:64 failed ready running"},
         true},
        {"tree form, one path active",
         {"size=10G features='1 queue_if_no_path' hwhandler='1 alua' wp=rw",
          "|-+- policy='service-time 0' prio=0 status=enabled",
          "| `- 5:0:0:0 sdd 8:48 failed faulty running",
          "`-+- policy='service-time 0' prio=50 status=active",
          "  `- 6:0:0:0 sde 8:64 active ready running"},
         false},
        {"tree form, failing at once",
         {"size=10G features='0' hwhandler='0' wp=rw",
          "`-+- policy='round-robin 0' prio=0 status=enabled",
          "  `- 6:0:0:0 sde 8:64 failed faulty running"},
         false},
        {"more features than one",
         {"size=1.0T features='3 queue_if_no_path queue_mode mq' hwhandler='0' wp=rw",
          "`-+- policy='service-time 0' prio=0 status=enabled",
          "  `- 7:0:1:4 sdt 65:48 failed faulty running"},
         true},
        {"an orphan path the kernel still has active",
         {"size=299G features='1 queue_if_no_path' hwhandler='0' wp=rw",
          "`-+- policy='round-robin 0' prio=0 status=enabled",
          "  `- #:#:#:# - #:# active faulty running"},
         false},
        {"bracketed, the group active, its paths failed",
         {"[size=1.2T][features=1 queue_if_no_path][hwhandler=0]",
          "\\_ round-robin 0 [prio=0][active]", " \\_ 7:0:1:4 sdt 65:48 [failed][faulty]",
          " \\_ 2:0:1:4 sdu 65:64 [failed][faulty]"},
         true},
        {"bracketed, one path active",
         {"[size=1.2T][features=1 queue_if_no_path][hwhandler=0]",
          "\\_ round-robin 0 [prio=0][enabled]", " \\_ 7:0:1:4 sdt 65:48 [failed][faulty]",
          " \\_ 2:0:1:4 sdu 65:64 [active][ready]"},
         false},
        {"quoted features, dm state alone",
         {"[size=576 GB][features=\"1 queue_if_no_path\"][hwhandler=\"0\"]",
          "\\_ round-robin 0 [active]", " \\_ 13:0:1:0  sdc 8:32  [failed]"},
         true},
        {"no paths listed at all", {"size=10G features='1 queue_if_no_path' hwhandler='0'"}, true},
        {"a path line cut before its states",
         {"size=10G features='1 queue_if_no_path' hwhandler='0'",
          "`-+- policy='round-robin 0' prio=0 status=enabled", "  `- 3:0:0:2 sdd 8:"},
         false},
    };
    for (const auto& c : cases) {
        MapQueueing map;
        for (const char* line : c.lines) {
            MapQueueingNoteLine(&map, line);
        }
        EXPECT_EQ(c.holds, MapQueueingHoldsIo(map)) << c.what;
    }
    MapQueueing untouched;
    MapQueueingNoteLine(&untouched, nullptr);
    MapQueueingNoteLine(nullptr, "size=1G features='1 queue_if_no_path'");
    EXPECT_FALSE(MapQueueingHoldsIo(untouched));
}

TEST(HeldMaps, EachHeaderEndsTheMapBeforeIt) {
    const char* listing[] = {
        "orphan line before any map: 3:0:0:9 sdz 65:144 failed faulty running",
        "mpatha (36e0fc123456000000000000000000011) dm-0 QELMAR,VSA1000",
        "size=10G features='1 queue_if_no_path' hwhandler='0' wp=rw",
        "  `- 3:0:0:1 sdb 8:16 active ready running",
        "36e0fc123456000000000000000000012\tdm-1 ACME,DISK",
        "size=10G features='1 queue_if_no_path' hwhandler='0' wp=rw",
        "  `- 3:0:0:2 sdc 8:32 failed faulty running",
        "36e0fc123456000000000000000000013 dm-2 QELMAR,VSA1000",
        "size=10G features='0' hwhandler='0' wp=rw",
        "  `- 3:0:0:3 sdd 8:48 failed faulty running",
        "backup_dm-x (36e0fc123456000000000000000000014) dm-3 QELMAR,VSA1000",
        "[size=10G][features=1 queue_if_no_path][hwhandler=0]",
    };
    HeldMaps maps;
    std::vector<std::string> held;
    char dm[16];
    for (const char* line : listing) {
        if (HeldMapsNoteLine(&maps, line, dm, sizeof dm)) {
            held.emplace_back(dm);
        }
    }
    if (HeldMapsEnd(&maps, dm, sizeof dm)) {
        held.emplace_back(dm);
    }
    // Another vendor's map (dm-1, split by a tab) and the last one (no path).
    EXPECT_EQ((std::vector<std::string>{"dm-1", "dm-3"}), held);
    EXPECT_FALSE(HeldMapsEnd(&maps, dm, sizeof dm));  // nothing left to end
}

}  // namespace
