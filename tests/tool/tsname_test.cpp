// Tests of the look-up of a vlun by its kernel name, alias or WWID, on maps
// written here as the listing's headers name them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "discovery/tsname.h"

namespace {

TsMapNames Map(const char* dm, const char* alias, const char* wwid) {
    TsMapNames map{};
    (void)snprintf(map.acDmName.data(), map.acDmName.size(), "%s", dm);
    (void)snprintf(map.acAlias.data(), map.acAlias.size(), "%s", alias);
    (void)snprintf(map.acWwid.data(), map.acWwid.size(), "%s", wwid);
    return map;
}

// The demo host's first three maps: aliases on dm-0 and dm-2, dm-1 named by
// its WWID.
const std::vector<TsMapNames> kDemo = {
    Map("dm-0", "mpatha", "36e0fc123456000000000000000000011"),
    Map("dm-1", "--", "36e0fc123456000000000000000000012"),
    Map("dm-2", "oradata", "36e0fc123456000000000000000000013"),
};

std::vector<std::string> Resolve(const char* name, const std::vector<TsMapNames>& maps = kDemo) {
    TsNameLookup lookup;
    lookup.dmNames = {"left over"};
    tsname_Resolve(name, maps.data(), maps.size(), &lookup);
    return lookup.dmNames;
}

using Names = std::vector<std::string>;

TEST(NameLookup, EveryFormNamesItsMap) {
    EXPECT_EQ(Resolve("dm-2"), Names{"dm-2"});
    EXPECT_EQ(Resolve("mpatha"), Names{"dm-0"});
    EXPECT_EQ(Resolve("mapper/oradata"), Names{"dm-2"});
    EXPECT_EQ(Resolve("36e0fc123456000000000000000000012"), Names{"dm-1"});
    EXPECT_EQ(Resolve("6e0fc123456000000000000000000012"), Names{"dm-1"}) << "without its 3";
    EXPECT_EQ(Resolve("36E0FC123456000000000000000000013"), Names{"dm-2"}) << "letters in any case";
    EXPECT_EQ(Resolve("6E0Fc123456000000000000000000011"), Names{"dm-0"});
}

// /dev/mapper holds the alias, or the WWID of a map without one.
TEST(NameLookup, MapperNodeIsTheMapsName) {
    EXPECT_EQ(Resolve("mapper/36e0fc123456000000000000000000012"), Names{"dm-1"});
    EXPECT_EQ(Resolve("mapper/36e0fc123456000000000000000000011"), Names{})
        << "dm-0's node is mapper/mpatha";
    EXPECT_EQ(Resolve("mapper/6e0fc123456000000000000000000012"), Names{});
    EXPECT_EQ(Resolve("mapper/dm-0"), Names{});
    EXPECT_EQ(Resolve("mapper/"), Names{});
}

TEST(NameLookup, NearMissesNameNothing) {
    for (const char* name : {"dm-9", "mpathb", "MPATHA", "oradat", "oradata ", "sdb", "--", "",
                             "e0fc123456000000000000000000012", "36e0fc12345600000000000000000001",
                             "336e0fc123456000000000000000000012", "DM-0"}) {
        EXPECT_EQ(Resolve(name), Names{}) << name;
    }
    EXPECT_EQ(Resolve(nullptr), Names{});
    TsNameLookup lookup;
    tsname_Resolve("mpatha", nullptr, 0, &lookup);
    EXPECT_TRUE(lookup.dmNames.empty());
}

// A map without an alias or WWID (both "--") is not named by the placeholder.
TEST(NameLookup, PlaceholdersAreNoNames) {
    const std::vector<TsMapNames> maps = {Map("dm-7", "--", "--")};
    EXPECT_EQ(Resolve("--", maps), Names{});
    EXPECT_EQ(Resolve("-", maps), Names{});
    EXPECT_EQ(Resolve("mapper/--", maps), Names{});
    EXPECT_EQ(Resolve("dm-7", maps), Names{"dm-7"});
}

TEST(NameLookup, NameOfTwoMapsNamesBoth) {
    // An alias equal to another map's WWID, with or without its 3.
    const std::vector<TsMapNames> maps = {
        Map("dm-0", "36e0fc123456000000000000000000013", "36e0fc123456000000000000000000011"),
        Map("dm-3", "6e0fc123456000000000000000000011", "36e0fc123456000000000000000000014"),
        Map("dm-5", "--", "36e0fc123456000000000000000000013"),
    };
    EXPECT_EQ(Resolve("36e0fc123456000000000000000000013", maps), (Names{"dm-0", "dm-5"}));
    EXPECT_EQ(Resolve("6e0fc123456000000000000000000011", maps), (Names{"dm-0", "dm-3"}));
    // The WWID of dm-3 alone, and one map named twice over, are one map.
    EXPECT_EQ(Resolve("36e0fc123456000000000000000000014", maps), Names{"dm-3"});
    const std::vector<TsMapNames> self = {
        Map("dm-1", "36e0fc123456000000000000000000012", "36e0fc123456000000000000000000012")};
    EXPECT_EQ(Resolve("36e0fc123456000000000000000000012", self), Names{"dm-1"});
}

// The kernel name wins over an alias that repeats it, as dm-N always meant
// that map; two headers of one dm name are one map.
TEST(NameLookup, KernelNameComesFirst) {
    const std::vector<TsMapNames> maps = {
        Map("dm-1", "dm-4", "36e0fc123456000000000000000000011"),
        Map("dm-4", "data", "36e0fc123456000000000000000000012"),
        Map("dm-4", "data", "36e0fc123456000000000000000000012"),
    };
    EXPECT_EQ(Resolve("dm-4", maps), Names{"dm-4"});
    EXPECT_EQ(Resolve("data", maps), Names{"dm-4"});
}

TEST(NameLookup, AmbiguousLineListsTheMapsAndHidesControlBytes) {
    TsNameLookup lookup;
    lookup.dmNames = {"dm-0", "dm-3"};
    EXPECT_EQ(tsname_AmbiguousLine("oradata", lookup),
              "Error: the name oradata matches more than one vlun: dm-0, dm-3.");
    lookup.dmNames = {"dm-0", "dm-3", "dm-10"};
    EXPECT_EQ(tsname_AmbiguousLine("a\x1b[2Jb\n\xc3\xa9", lookup),
              "Error: the name a?[2Jb??? matches more than one vlun: dm-0, dm-3, dm-10.");
}

}  // namespace
