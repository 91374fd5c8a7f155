// Tests of the table framing: centred cells, rule lines, heading rows and the
// column widths measured over the global lists.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "boundedfunc.h"
#include "flushed_output.h"
#include "records/tstopology.h"
#include "rendering/tsprint.h"

namespace {

template <size_t N>
void Set(TsText<N>& field, const std::string& text) {
    if (sprintf_s(field.data(), N, "%s", text.c_str()) != static_cast<int>(text.size())) {
        ADD_FAILURE() << "'" << text << "' does not fit a field of " << N;
    }
}

std::string Text(size_t length) {
    return std::string(length, 'x');
}

// One space each side: the row of a table whose windows sit at the heading lengths.
std::string Row(const std::vector<std::string>& headings) {
    std::string row;
    for (const std::string& heading : headings) {
        row += " " + heading + " ";
    }
    return row + "\n";
}

class TableFraming : public testing::Test {
  protected:
    void SetUp() override {
        for (unsigned int* width : kAllWidths) {
            *width = 0;
        }
        for (ListHead* list : kAllLists) {
            INIT_LIST_HEAD(list);
        }
    }
    void TearDown() override {
        tsprint_SetLogLevel(99);
        for (ListHead* list : kAllLists) {
            INIT_LIST_HEAD(list);
        }
    }

    VlunInfo* AddVlun() {
        VlunInfo* vlun = New<VlunInfo>();
        tstopo_InitVlunInfoToDefault(vlun);
        list_add_tail(&vlun->stList, &g_tsvlunlist);
        return vlun;
    }
    PathInfo* AddPath(VlunInfo* vlun) {
        PathInfo* path = New<PathInfo>();
        tstopo_InitPathInfoToDefault(path, vlun);
        list_add_tail(&path->stList, &vlun->stPathList);
        return path;
    }
    // As discovery makes one: zero-filled, with an alias and a status.
    PhypathInfo* AddPhypath() {
        PhypathInfo* phypath = New<PhypathInfo>();
        Set(phypath->acAlias, "#:#:#");
        Set(phypath->acStatus, "--");
        list_add_tail(&phypath->stNode, &g_tsphypathlist);
        return phypath;
    }
    DevInfo* AddDevice() {
        DevInfo* device = New<DevInfo>();
        tstopo_InitDevInfoToDefault(device, TS_DEVTYPE_DEVICE);
        list_add_tail(&device->stNode, &g_tsdevicelist);
        return device;
    }
    void AddAlarm(const std::string& level, const std::string& description) {
        AlarmInfo* alarm = New<AlarmInfo>();
        Set(alarm->acLevel, level);
        Set(alarm->acDescription, description);
        list_add_tail(&alarm->stNode, &g_tsalarmlist);
    }

    static constexpr unsigned int* kAllWidths[] = {
        &g_uiVlunNameWindow,    &g_uiDevLunWWNWindow,     &g_uiPathStatusWindow,
        &g_uiCapacityWindow,    &g_uiDevLunNameWindow,    &g_uiVidPidWindow,
        &g_uiCtrlWindow,        &g_uiArrayNameWindow,     &g_uiArraySNWindow,
        &g_uiDevLunIDWindow,    &g_uiPathHCTLWindow,      &g_uiPathNameWindow,
        &g_uiPathCtrlWindow,    &g_uiPortTypeWindow,      &g_uiPortIDWindow,
        &g_uiInitPortWindow,    &g_uiTargetPortWindow,    &g_uiPhypathAliasWindow,
        &g_uiDeviceNameWindow,  &g_uiAlarmLevelWindow,    &g_uiAlarmDescriptionWindow,
        &g_uiVlunTotalWindow,   &g_uiVlunPathTotalWindow, &g_uiPhypathTotalWindow,
        &g_uiDeviceTotalWindow, &g_uiAlarmTotalWindow};
    static constexpr ListHead* kAllLists[] = {&g_tsvlunlist, &g_tsphypathlist, &g_tsdevicelist,
                                              &g_tsalarmlist};

  private:
    // Zero-filled records that live until the end of the test.
    template <typename T>
    T* New() {
        auto record = std::make_shared<T>();
        records_.push_back(record);
        return record.get();
    }
    std::vector<std::shared_ptr<void>> records_;
};

TEST_F(TableFraming, CellCentresTextWithTheOddSpaceOnTheRight) {
    struct Case {
        const char* text;
        unsigned int width;
        const char* expected;
    } const cases[] = {{"abc", 8, "  abc   "},
                       {"abc", 7, "  abc  "},
                       {"ab", 3, "ab "},
                       {"abcdef", 6, "abcdef"},
                       {"", 3, "   "}};
    for (const Case& c : cases) {
        EXPECT_EQ(Flushed([&] { print_str_in_mid(c.text, c.width); }), c.expected)
            << "'" << c.text << "' in " << c.width;
    }
}

TEST_F(TableFraming, CellsShowEveryByteOutsidePrintableAsciiAsAQuestionMark) {
    // An ESC sequence from a device's LUN name, a DEL, a byte 0xff and a
    // UTF-8 pair: one '?' a byte, so the centring of the measured length
    // holds.
    EXPECT_EQ(Flushed([] { print_str_in_mid("\x1b[2Jn\x7f\xff\xc3\xa9", 11); }), " ?[2Jn???? ");
    for (int byte = 1; byte < 256; ++byte) {
        const char text[] = {static_cast<char>(byte), '\0'};
        const char shown = byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '?';
        EXPECT_EQ(Flushed([&] { print_str_in_mid(text, 1); }), std::string(1, shown)) << byte;
    }
}

TEST_F(TableFraming, CellErrorsAreShownFromLevelTwoDown) {
    for (int level : {99, 3, 2, 0}) {
        tsprint_SetLogLevel(level);
        const bool shown = level <= 2;
        EXPECT_EQ(Flushed([] { print_str_in_mid(nullptr, 8); }),
                  shown ? "Invalid parameter[buff=NULL].\n" : "")
            << "level " << level;
        EXPECT_EQ(Flushed([] { print_str_in_mid("abcd", 3); }),
                  shown ? "Invalid parameter[len less].\n" : "")
            << "level " << level;
    }
}

TEST_F(TableFraming, DashWritesTheCountAndAlwaysFlushes) {
    EXPECT_EQ(Flushed([] { print_dash(5, '='); }), "=====");
    EXPECT_EQ(Flushed([] { print_dash(0, '-'); }), "");
    // A pending write reaches the file only if print_dash(0) flushes.
    EXPECT_EQ(Flushed([] { (void)fputs("x", stdout); }), "");
    EXPECT_EQ(Flushed([] {
                  (void)fputs("x", stdout);
                  print_dash(0, '-');
              }),
              "x");
}

TEST_F(TableFraming, ChooseLenTakesTheLargestOfWindowLengthAndFloor) {
    EXPECT_EQ(CHOOSE_LEN(9, 3, 4), 9u);
    EXPECT_EQ(CHOOSE_LEN(2, 7, 4), 7u);
    EXPECT_EQ(CHOOSE_LEN(2, 3, 4), 4u);
}

// Default records carry only short texts, so every column is its heading
// plus 2 wide, except the path name (floor 6: 8 wide).
TEST_F(TableFraming, ShortTextsGiveHeadingWidthsAndSummedRules) {
    AddPath(AddVlun());
    AddPhypath();
    AddDevice();
    AddAlarm("[Major]", "short");
    CalcVlunWindowLen();
    CalcPathWindowLen();
    CalcPhypathWindowLen();
    CalcDeviceWindowLen();
    CalcAlarmWindowLen();

    EXPECT_EQ(g_uiPathNameWindow, 6u);
    EXPECT_EQ(g_uiVlunTotalWindow, 4u + 3 + 6 + 8 + 10 + 14 + 14 + 9 + 7 + 8 + 20);
    EXPECT_EQ(g_uiVlunPathTotalWindow, 7u + 4 + 6 + 6 + 10 + 9 + 7 + 8 + 6 + 13 + 10 + 22);
    EXPECT_EQ(g_uiPhypathTotalWindow, 5u + 6 + 10 + 9 + 7 + 8 + 6 + 13 + 10 + 18);
    EXPECT_EQ(g_uiDeviceTotalWindow, 6u + 10 + 3 + 6 + 8 + 14 + 14 + 9 + 7 + 8 + 20);
    EXPECT_EQ(g_uiAlarmTotalWindow, 30u);
    EXPECT_EQ(Flushed([] { print_dash(g_uiAlarmTotalWindow, '='); }), std::string(30, '='));

    EXPECT_EQ(Flushed(PrintVlunHeaderWindows),
              Row({"Vlun", "WWN", "Status", "Capacity", "DevLunName", "Vendor/Product",
                   "Ctrl(Own/Work)", "ArrayName", "ArraySN", "DevLunID"}));
    EXPECT_EQ(Flushed(PrintDeviceHeaderWindows),
              Row({"Device", "DevLunName", "WWN", "Status", "Capacity", "Vendor/Product",
                   "Ctrl(Own/Work)", "ArrayName", "ArraySN", "DevLunID"}));
    EXPECT_EQ(Flushed(PrintPathHeaderWindows),
              Row({"H:C:T:L", "Vlun", " Path ", "Status", "Controller", "ArrayName", "ArraySN",
                   "PortType", "PortID", "InitiatorPort", "TargetPort"}));
    EXPECT_EQ(Flushed(PrintPhypathHeaderWindows),
              Row({"H:C:T", "Status", "Controller", "ArrayName", "ArraySN", "PortType", "PortID",
                   "InitiatorPort", "TargetPort"}));
    EXPECT_EQ(Flushed(PrintAlarmHeaderWindows), Row({"AlarmLevel", "AlarmDescription"}));
}

TEST_F(TableFraming, VlunWalkMeasuresItsOwnIdentificationOnlyWithoutPaths) {
    VlunInfo* vlun = AddVlun();
    Set(vlun->stDev.acLunName, Text(40));
    Set(vlun->stDev.acStatus, Text(15));
    Set(vlun->stDev.acOwnWork, Text(30));
    Set(vlun->stDev.acArrayName, Text(42));
    Set(vlun->stDev.acArraySn, Text(41));
    Set(vlun->stDev.acDevLunId, Text(13));
    PathInfo* path = AddPath(vlun);
    CalcVlunWindowLen();
    EXPECT_EQ(g_uiDevLunNameWindow, 10u);
    EXPECT_EQ(g_uiPathStatusWindow, 6u);
    EXPECT_EQ(g_uiCtrlWindow, 14u);
    EXPECT_EQ(g_uiArrayNameWindow, 9u);
    EXPECT_EQ(g_uiArraySNWindow, 7u);
    EXPECT_EQ(g_uiDevLunIDWindow, 8u);

    list_del(&path->stList);
    CalcVlunWindowLen();
    EXPECT_EQ(g_uiDevLunNameWindow, 40u);
    EXPECT_EQ(g_uiPathStatusWindow, 15u);
    EXPECT_EQ(g_uiCtrlWindow, 30u);
    EXPECT_EQ(g_uiArrayNameWindow, 42u);
    EXPECT_EQ(g_uiArraySNWindow, 41u);
    EXPECT_EQ(g_uiDevLunIDWindow, 13u);
}

TEST_F(TableFraming, VlunWalkTakesTheWidestOfVlunsAndPaths) {
    VlunInfo* vlun = AddVlun();
    Set(vlun->stDev.acDevPath, Text(21));
    Set(vlun->acDmWwn, Text(22));
    Set(vlun->acDmSize, Text(13));
    Set(vlun->acDmVidPid, Text(24));
    PathInfo* path = AddPath(vlun);
    DevInfo& dev = path->stDev;
    Set(dev.acLunName, Text(25));
    Set(dev.acLunWwn, Text(26));
    Set(dev.acStatus, Text(11));
    Set(dev.acVidPid, Text(20));
    Set(dev.acOwnWork, Text(27));
    Set(dev.acArrayName, Text(28));
    Set(dev.acArraySn, Text(29));
    Set(dev.acDevLunId, Text(12));
    Set(dev.acCtrl, Text(15));
    Set(path->acHctl, Text(30));
    Set(AddVlun()->stDev.acDevPath, Text(23));  // a later, wider vlun without paths
    CalcVlunWindowLen();

    EXPECT_EQ(g_uiVlunNameWindow, 23u);
    EXPECT_EQ(g_uiDevLunWWNWindow, 26u);
    EXPECT_EQ(g_uiCapacityWindow, 13u);
    EXPECT_EQ(g_uiVidPidWindow, 24u);
    EXPECT_EQ(g_uiDevLunNameWindow, 25u);
    EXPECT_EQ(g_uiPathStatusWindow, 11u);
    EXPECT_EQ(g_uiCtrlWindow, 27u);
    EXPECT_EQ(g_uiArrayNameWindow, 28u);
    EXPECT_EQ(g_uiArraySNWindow, 29u);
    EXPECT_EQ(g_uiDevLunIDWindow, 12u);
    EXPECT_EQ(g_uiPathCtrlWindow, 0u);  // path-table columns are not this walk's
    EXPECT_EQ(g_uiPathHCTLWindow, 0u);
    EXPECT_EQ(g_uiVlunTotalWindow, 23u + 25 + 26 + 11 + 13 + 24 + 27 + 28 + 29 + 12 + 20);
    EXPECT_EQ(Flushed(PrintVlunHeaderWindows).size(), g_uiVlunTotalWindow + 1);
}

TEST_F(TableFraming, PathWalkMeasuresPathsAndTheirParentVlunOnly) {
    VlunInfo* vlun = AddVlun();
    Set(vlun->stDev.acDevPath, Text(14));
    PathInfo* path = AddPath(vlun);
    DevInfo& dev = path->stDev;
    Set(path->acHctl, Text(16));
    Set(dev.acDevPath, Text(8));
    Set(dev.acStatus, Text(15));
    Set(dev.acCtrl, Text(11));
    Set(dev.acArrayName, Text(20));
    Set(dev.acArraySn, Text(21));
    Set(dev.acPortType, Text(12));
    Set(dev.acPortId, Text(23));
    Set(dev.acHostWwn, Text(24));
    Set(dev.acTargetWwn, Text(25));
    Set(dev.acLunName, Text(40));
    Set(dev.acOwnWork, Text(30));
    Set(AddVlun()->stDev.acDevPath, Text(50));  // no paths: not in the path table
    CalcPathWindowLen();

    EXPECT_EQ(g_uiPathHCTLWindow, 16u);
    EXPECT_EQ(g_uiVlunNameWindow, 14u);
    EXPECT_EQ(g_uiPathNameWindow, 8u);
    EXPECT_EQ(g_uiPathStatusWindow, 15u);
    EXPECT_EQ(g_uiPathCtrlWindow, 11u);
    EXPECT_EQ(g_uiArrayNameWindow, 20u);
    EXPECT_EQ(g_uiArraySNWindow, 21u);
    EXPECT_EQ(g_uiPortTypeWindow, 12u);
    EXPECT_EQ(g_uiPortIDWindow, 23u);
    EXPECT_EQ(g_uiInitPortWindow, 24u);
    EXPECT_EQ(g_uiTargetPortWindow, 25u);
    EXPECT_EQ(g_uiDevLunNameWindow, 0u);
    EXPECT_EQ(g_uiCtrlWindow, 0u);
    EXPECT_EQ(g_uiVlunPathTotalWindow, 16u + 14 + 8 + 15 + 11 + 20 + 21 + 12 + 23 + 24 + 25 + 22);
    const std::string row = Flushed(PrintPathHeaderWindows);
    EXPECT_EQ(row.size(), g_uiVlunPathTotalWindow + 1);
    EXPECT_EQ(row.substr(16 + 2 + 14 + 2, 10), "   Path   ");  // window 8, cell 10
}

TEST_F(TableFraming, PhypathDeviceAndAlarmWalksTakeTheWidestRecord) {
    PhypathInfo* phypath = AddPhypath();
    Set(phypath->acAlias, Text(11));
    Set(phypath->acStatus, Text(12));
    Set(phypath->acCtrl, Text(13));
    Set(phypath->acArrayName, Text(14));
    Set(phypath->acArraySn, Text(15));
    Set(phypath->acPortType, Text(9));
    Set(phypath->acPortId, Text(17));
    Set(phypath->acHostWwn, Text(18));
    Set(phypath->acTargetWwn, Text(19));
    Set(AddPhypath()->acAlias, Text(20));
    CalcPhypathWindowLen();
    EXPECT_EQ(g_uiPhypathTotalWindow, 20u + 12 + 13 + 14 + 15 + 9 + 17 + 18 + 19 + 18);
    EXPECT_EQ(Flushed(PrintPhypathHeaderWindows).size(), g_uiPhypathTotalWindow + 1);

    DevInfo* device = AddDevice();
    Set(device->acDevPath, Text(31));
    Set(device->acLunName, Text(32));
    Set(device->acLunWwn, Text(33));
    Set(device->acStatus, Text(7));
    Set(device->acCapacity, Text(10));
    Set(device->acVidPid, Text(34));
    Set(device->acOwnWork, Text(31));
    Set(device->acArrayName, Text(35));
    Set(device->acArraySn, Text(36));
    Set(device->acDevLunId, Text(9));
    CalcDeviceWindowLen();
    EXPECT_EQ(g_uiDeviceNameWindow, 31u);
    EXPECT_EQ(g_uiDevLunWWNWindow, 33u);
    EXPECT_EQ(g_uiPathStatusWindow, 12u);  // the phypath's status is still the widest
    EXPECT_EQ(g_uiDeviceTotalWindow, 31u + 32 + 33 + 12 + 10 + 34 + 31 + 35 + 36 + 9 + 20);
    EXPECT_EQ(Flushed(PrintDeviceHeaderWindows).size(), g_uiDeviceTotalWindow + 1);

    AddAlarm("[Major]", Text(100));
    AddAlarm(Text(12), "short");
    CalcAlarmWindowLen();
    EXPECT_EQ(g_uiAlarmTotalWindow, 12u + 100 + 4);
}

TEST_F(TableFraming, WindowsOnlyRise) {
    g_uiAlarmLevelWindow = 12;
    CalcAlarmWindowLen();  // empty list: windows kept, total still computed
    EXPECT_EQ(g_uiAlarmLevelWindow, 12u);
    EXPECT_EQ(g_uiAlarmTotalWindow, 12u + 0 + 4);

    VlunInfo* vlun = AddVlun();
    Set(vlun->stDev.acArrayName, Text(30));
    CalcVlunWindowLen();
    Set(vlun->stDev.acArrayName, "A");
    Set(AddPath(AddVlun())->stDev.acArrayName, Text(20));
    CalcVlunWindowLen();
    CalcPathWindowLen();
    EXPECT_EQ(g_uiArrayNameWindow, 30u);
}

}  // namespace
