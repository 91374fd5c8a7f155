// Tests of the topology records: list discipline, record defaults, the
// "has a value" test and the two copy rules that merge records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "boundedfunc.h"
#include "records/tstopology.h"

namespace {

constexpr unsigned char kGarbage = 0x5a;

struct Field {
    const char* name;
    const char* data;
    size_t size;
    const char* value;
};

template <size_t N>
Field F(const char* name, const TsText<N>& field, const char* value) {
    return {name, field.data(), N, value};
}

// A default is the text followed by zeros to the end of the field: the record
// was zero-filled first, so no earlier byte survives.
void ExpectFields(const std::vector<Field>& fields) {
    for (const Field& f : fields) {
        EXPECT_STREQ(f.data, f.value) << f.name;
        const size_t length = strlen(f.value);
        EXPECT_EQ(static_cast<size_t>(std::count(f.data + length, f.data + f.size, '\0')),
                  f.size - length)
            << f.name << " is not zero after its default";
    }
}

void ExpectUnlinked(const ListHead& link) {
    EXPECT_EQ(link.next, &link);
    EXPECT_EQ(link.prev, &link);
}

void ExpectDevDefaults(const DevInfo& dev, int kind) {
    ExpectUnlinked(dev.stNode);
    EXPECT_EQ(dev.iDevType, kind);
    ExpectFields({F("acDevPath", dev.acDevPath, "--"), F("acDevName", dev.acDevName, "--"),
                  F("acVidPid", dev.acVidPid, "--/--"), F("acCapacity", dev.acCapacity, "--"),
                  F("acLunName", dev.acLunName, "--"), F("acLunWwn", dev.acLunWwn, "--"),
                  F("acDevLunId", dev.acDevLunId, "--"), F("acArrayLunId", dev.acArrayLunId, "--"),
                  F("acCtrl", dev.acCtrl, "--"), F("acOwnWork", dev.acOwnWork, "--/--"),
                  F("acArrayName", dev.acArrayName, "--"), F("acArraySn", dev.acArraySn, "--"),
                  F("acRawLunId", dev.acRawLunId, "--"), F("acPortType", dev.acPortType, "--"),
                  F("acPortId", dev.acPortId, "--"), F("acStatus", dev.acStatus, "--"),
                  F("acInqStatus", dev.acInqStatus, "--"), F("acHostWwn", dev.acHostWwn, "--"),
                  F("acTargetWwn", dev.acTargetWwn, "--")});
    EXPECT_EQ(dev.iIfVersion, 0);
    EXPECT_EQ(dev.iShieldTpg, 0);
    EXPECT_EQ(dev.iDualArray, 0);
}

template <typename T>
void FillWithGarbage(T& record) {
    (void)memset_s(&record, sizeof(record), kGarbage, sizeof(record));
}

// Vluns are found from a link that is not at the start of the record.
std::vector<std::string> Walk(ListHead& head) {
    std::vector<std::string> names;
    for (ListHead* link = head.next; link != &head; link = link->next) {
        names.emplace_back(list_entry(link, VlunInfo, stList)->stDev.acDevName.data());
    }
    return names;
}

TEST(TopologyList, KeepsAdditionOrderAndNullsDeletedLinks) {
    ListHead head;
    INIT_LIST_HEAD(&head);
    EXPECT_TRUE(list_empty(&head));
    VlunInfo first;
    VlunInfo second;
    tstopo_InitVlunInfoToDefault(&first);
    tstopo_InitVlunInfoToDefault(&second);
    (void)sprintf_s(first.stDev.acDevName.data(), first.stDev.acDevName.size(), "dm-1");
    (void)sprintf_s(second.stDev.acDevName.data(), second.stDev.acDevName.size(), "dm-0");
    list_add_tail(&first.stList, &head);
    list_add_tail(&second.stList, &head);
    EXPECT_FALSE(list_empty(&head));
    EXPECT_EQ(Walk(head), (std::vector<std::string>{"dm-1", "dm-0"}));
    EXPECT_EQ(second.stList.prev, &first.stList);
    EXPECT_EQ(head.prev, &second.stList);

    list_del(&first.stList);
    EXPECT_EQ(Walk(head), (std::vector<std::string>{"dm-0"}));
    EXPECT_EQ(head.prev, &second.stList);
    EXPECT_EQ(first.stList.next, nullptr);
    EXPECT_EQ(first.stList.prev, nullptr);
    list_del(&second.stList);
    EXPECT_TRUE(list_empty(&head));
    ExpectUnlinked(head);
}

TEST(TopologyRecords, DeviceDefaults) {
    DevInfo dev;
    FillWithGarbage(dev);
    tstopo_InitDevInfoToDefault(&dev, TS_DEVTYPE_DEVICE);
    ExpectDevDefaults(dev, TS_DEVTYPE_DEVICE);
}

TEST(TopologyRecords, PathDefaultsPointAtTheParent) {
    VlunInfo vlun;
    tstopo_InitVlunInfoToDefault(&vlun);
    PathInfo path;
    FillWithGarbage(path);
    tstopo_InitPathInfoToDefault(&path, &vlun);
    ExpectDevDefaults(path.stDev, TS_DEVTYPE_PATH);
    ExpectUnlinked(path.stList);
    EXPECT_EQ(path.pstVlun, &vlun);
    EXPECT_EQ(path.pstPhypath, nullptr);
    ExpectFields({F("acHctl", path.acHctl, "#:#:#:#")});
    for (int value : {path.iHctlValid, path.iHost, path.iChannel, path.iTarget, path.iLun}) {
        EXPECT_EQ(value, 0);
    }
    EXPECT_TRUE(list_empty(&vlun.stPathList));  // initialising does not link
}

TEST(TopologyRecords, VlunDefaultsHaveAnEmptyPathList) {
    VlunInfo vlun;
    FillWithGarbage(vlun);
    tstopo_InitVlunInfoToDefault(&vlun);
    ExpectDevDefaults(vlun.stDev, TS_DEVTYPE_VLUN);
    ExpectUnlinked(vlun.stList);
    EXPECT_TRUE(list_empty(&vlun.stPathList));
    ExpectUnlinked(vlun.stPathList);
    ExpectFields({F("acDmWwn", vlun.acDmWwn, "--"), F("acDmSize", vlun.acDmSize, "--"),
                  F("acDmVidPid", vlun.acDmVidPid, "--/--")});
}

TEST(TopologyRecords, NullArgumentsAreIgnored) {
    tstopo_InitDevInfoToDefault(nullptr, TS_DEVTYPE_DEVICE);
    tstopo_InitVlunInfoToDefault(nullptr);

    PathInfo path;
    FillWithGarbage(path);
    const PathInfo before = path;
    tstopo_InitPathInfoToDefault(&path, nullptr);
    EXPECT_EQ(memcmp(&path, &before, sizeof(path)), 0);

    VlunInfo vlun;
    FillWithGarbage(vlun);
    const VlunInfo vlunBefore = vlun;
    tstopo_InitPathInfoToDefault(nullptr, &vlun);
    EXPECT_EQ(memcmp(&vlun, &vlunBefore, sizeof(vlun)), 0);
}

TEST(TopologyRecords, TextHasValueRejectsOnlyEmptyAndDashPlaceholders) {
    EXPECT_FALSE(tstopo_TextHasValue(nullptr));
    for (const char* none : {"", "--", "--/--"}) {
        EXPECT_FALSE(tstopo_TextHasValue(none)) << none;
    }
    for (const char* some : {"A", "-", "---", "--/", " --", "#:#:#:#", "0"}) {
        EXPECT_TRUE(tstopo_TextHasValue(some)) << some;
    }
}

TsText<16> Field16(const char* text) {
    TsText<16> field{};
    (void)strncpy_s(field.data(), field.size(), text, strlen(text));
    return field;
}

TEST(TopologyRecords, DestInvalidCopyFillsOnlyDestinationsWithoutValue) {
    const TsText<16> source = Field16("B");
    for (const char* empty : {"--/--", "", "--"}) {
        TsText<16> dest = Field16(empty);
        DEST_INVALID_AND_COPY(dest.data(), dest.size(), source.data(), source.size());
        EXPECT_STREQ(dest.data(), "B") << "destination '" << empty << "'";
    }
    TsText<16> kept = Field16("A");
    DEST_INVALID_AND_COPY(kept.data(), kept.size(), source.data(), source.size());
    EXPECT_STREQ(kept.data(), "A");
}

TEST(TopologyRecords, SrcValidCopyTakesOnlySourcesWithValue) {
    for (const char* empty : {"--", "--/--", ""}) {
        const TsText<16> source = Field16(empty);
        TsText<16> dest = Field16("A");
        SRC_VALID_AND_COPY(dest.data(), dest.size(), source.data(), source.size());
        EXPECT_STREQ(dest.data(), "A") << "source '" << empty << "'";
    }
    const TsText<16> source = Field16("B");
    TsText<16> dest = Field16("--");
    SRC_VALID_AND_COPY(dest.data(), dest.size(), source.data(), source.size());
    EXPECT_STREQ(dest.data(), "B");
}

}  // namespace
