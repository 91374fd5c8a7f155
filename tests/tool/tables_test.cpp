// Tests of the six tables of tsexTool over hand-built lists: what each entry
// point prints when there is nothing to show, the framing and centring of
// whole tables (expected texts written out cell by cell), and how the vlun
// table merges the values of a vlun's paths into one row, or two for a LUN
// served by two arrays.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
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

std::string Rule(size_t length, char ch) {
    return std::string(length, ch) + "\n";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// The words of one row, blanks dropped: what a row says, whatever its layout.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

// The data rows of a framed table: between the heading row and the closing
// rule line.
std::vector<std::vector<std::string>> DataRows(const std::string& table) {
    std::vector<std::string> lines = Lines(table);
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        rows.push_back(Words(lines[i]));
    }
    return rows;
}

using Row = std::vector<std::string>;

class Tables : public testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override {
        tsprint_SetLogLevel(99);
        Reset();
    }

    static void Reset() {
        for (unsigned int* width : kAllWidths) {
            *width = 0;
        }
        for (ListHead* list : {&g_tsvlunlist, &g_tsphypathlist, &g_tsdevicelist, &g_tsalarmlist}) {
            INIT_LIST_HEAD(list);
        }
    }

    VlunInfo* AddVlun(const std::string& name) {
        VlunInfo* vlun = New<VlunInfo>();
        tstopo_InitVlunInfoToDefault(vlun);
        Set(vlun->stDev.acDevName, name);
        Set(vlun->stDev.acDevPath, "/dev/" + name);
        list_add_tail(&vlun->stList, &g_tsvlunlist);
        return vlun;
    }
    PathInfo* AddPath(VlunInfo* vlun, const std::string& name) {
        PathInfo* path = New<PathInfo>();
        tstopo_InitPathInfoToDefault(path, vlun);
        Set(path->stDev.acDevName, name);
        Set(path->stDev.acDevPath, "/dev/" + name);
        list_add_tail(&path->stList, &vlun->stPathList);
        return path;
    }
    // A path of a dual-array vlun on the array with this serial number.
    PathInfo* AddArrayPath(VlunInfo* vlun, const std::string& name, const std::string& serial,
                           const std::string& lunName) {
        PathInfo* path = AddPath(vlun, name);
        Set(path->stDev.acArraySn, serial);
        Set(path->stDev.acLunName, lunName);
        return path;
    }
    // As discovery makes one: zero-filled, with an alias and a status.
    PhypathInfo* AddPhypath(const std::string& alias) {
        PhypathInfo* phypath = New<PhypathInfo>();
        Set(phypath->acAlias, alias);
        Set(phypath->acStatus, "--");
        list_add_tail(&phypath->stNode, &g_tsphypathlist);
        return phypath;
    }
    DevInfo* AddDevice(const std::string& name) {
        DevInfo* device = New<DevInfo>();
        tstopo_InitDevInfoToDefault(device, TS_DEVTYPE_DEVICE);
        Set(device->acDevName, name);
        Set(device->acDevPath, "/dev/" + name);
        list_add_tail(&device->stNode, &g_tsdevicelist);
        return device;
    }
    void AddAlarm(const std::string& level, const std::string& description) {
        AlarmInfo* record = New<AlarmInfo>();
        Set(record->acLevel, level);
        Set(record->acDescription, description);
        list_add_tail(&record->stNode, &g_tsalarmlist);
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

  private:
    template <typename T>
    T* New() {
        auto record = std::make_shared<T>();
        records_.push_back(record);
        return record.get();
    }
    std::vector<std::shared_ptr<void>> records_;
};

// The path of the demo host's first LUN, as identification fills it.
void FillDemoPath(PathInfo* path) {
    Set(path->acHctl, "3:0:0:1");
    DevInfo& dev = path->stDev;
    Set(dev.acStatus, "active");
    Set(dev.acCtrl, "A");
    Set(dev.acArrayName, "Array-01");
    Set(dev.acArraySn, "2102351234ABCDEF0001");
    Set(dev.acPortType, "FC");
    Set(dev.acPortId, "");
    Set(dev.acHostWwn, "21000024ff4a5b01");
    Set(dev.acTargetWwn, "2100e0fc12345601");
}

// --- Nothing to show -------------------------------------------------------

TEST_F(Tables, EmptyListsPrintTheirMessageAndNothingElse) {
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_VlunTopolopy(), 0); }), "There is no vlun.\n");
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_PhypathTopolopy(), 0); }), "There is no phypath.\n");
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_AlarmList(), 0); }), "There is no alarm.\n");
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_DeviceTopolopy(nullptr), 0); }),
              "There is no device.\n");
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_DeviceTopolopy("sdz"), 0); }),
              "There is no device[sdz].\n");
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_VlunPathTopolopy("dm-9"), 0); }),
              "There is no device[dm-9].\n");
}

TEST_F(Tables, PathTableWithoutAnyPathNamesTheDeviceAskedFor) {
    AddVlun("dm-0");  // a vlun, but no path anywhere
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_PathTopolopy("sdc"), 0); }),
              "There is no device[sdc].\n");
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_PathTopolopy(nullptr), 0); }), "There is no path.\n");
}

TEST_F(Tables, VlunPathTableLooksTheNameUpExactly) {
    AddVlun("dm-1");
    EXPECT_EQ(Flushed([] { tsprint_VlunPathTopolopy("dm-10"); }), "There is no device[dm-10].\n");
    EXPECT_EQ(Flushed([] { tsprint_VlunPathTopolopy("dm-"); }), "There is no device[dm-].\n");
}

// --- Whole tables, written out cell by cell ---------------------------------

TEST_F(Tables, VlunRowTakesNameWwnAndSizeFromTheVlunAndTheRestFromItsPaths) {
    VlunInfo* vlun = AddVlun("dm-0");
    Set(vlun->acDmWwn, "6e0f11");
    Set(vlun->acDmSize, "10G");
    Set(vlun->acDmVidPid, "QELMAR/VSA1000");
    PathInfo* first = AddPath(vlun, "sdb");
    Set(first->stDev.acLunName, "db01");
    Set(first->stDev.acLunWwn, "6e0f99");  // never shown in the vlun table
    Set(first->stDev.acStatus, "active");
    Set(first->stDev.acVidPid, "QELMAR/VSA1000");
    Set(first->stDev.acOwnWork, "--/--");
    Set(first->stDev.acArrayName, "Array-01");
    Set(first->stDev.acArraySn, "SN01");
    Set(first->stDev.acDevLunId, "17");
    Set(first->stDev.acCapacity, "20G");  // never shown either
    PathInfo* second = AddPath(vlun, "sdf");
    Set(second->stDev.acLunName, "other");  // the first path's value wins
    Set(second->stDev.acOwnWork, "A/B");    // fills the first path's missing pair
    // Windows: Vlun 9, WWN 6, Status 6, Capacity 8, DevLunName 10,
    // Vendor/Product 14, Ctrl 14, ArrayName 9, ArraySN 7, DevLunID 8.
    const std::string expected =
        Rule(111, '=') +
        "   Vlun      WWN    Status  Capacity  DevLunName  Vendor/Product  Ctrl(Own/Work) "
        " ArrayName  ArraySN  DevLunID \n"
        " /dev/dm-0  6e0f11  active    10G        db01     QELMAR/VSA1000       A/B       "
        " Array-01    SN01       17    \n" +
        Rule(111, '=');
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_VlunTopolopy(), 0); }), expected);
}

TEST_F(Tables, VlunWithoutPathsShowsItsOwnRecordAndHidesAnOldOwnWorkPair) {
    VlunInfo* vlun = AddVlun("dm-3");
    vlun->stDev.iIfVersion = 513;
    Set(vlun->stDev.acOwnWork, "A/B");
    const std::string vlunTable =
        "   Vlun     WWN  Status  Capacity  DevLunName  Vendor/Product  Ctrl(Own/Work) "
        " ArrayName  ArraySN  DevLunID \n"
        " /dev/dm-3  --     --       --         --          --/--           --/--      "
        "    --        --        --    \n";
    // The path walk over no paths adds nothing: the vlun total (88 + 20) is
    // the longer rule.
    const std::string expected = Rule(108, '=') + vlunTable + Rule(108, '-') +
                                 "There is no path in device[dm-3].\n" + Rule(108, '=');
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_VlunPathTopolopy("dm-3"), 0); }), expected);

    vlun->stDev.iIfVersion = 514;
    EXPECT_EQ(DataRows(Flushed([] { tsprint_VlunTopolopy(); })),
              (std::vector<Row>{
                  {"/dev/dm-3", "--", "--", "--", "--", "--/--", "A/B", "--", "--", "--"}}));
}

TEST_F(Tables, PathTableCentresEveryCellAndShowsAnEmptyPortId) {
    FillDemoPath(AddPath(AddVlun("dm-1"), "sdb"));
    // Windows: H:C:T:L 7, Vlun 9, Path 8, Status 6, Controller 10,
    // ArrayName 9, ArraySN 20, PortType 8, PortID 6, InitiatorPort 16,
    // TargetPort 16: 115 + 22.
    const std::string expected =
        Rule(137, '=') +
        " H:C:T:L    Vlun       Path    Status  Controller  ArrayName        ArraySN        "
        " PortType  PortID   InitiatorPort       TargetPort    \n"
        " 3:0:0:1  /dev/dm-1  /dev/sdb  active      A       Array-01   2102351234ABCDEF0001 "
        "    FC             21000024ff4a5b01  2100e0fc12345601 \n" +
        Rule(137, '=');
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_PathTopolopy(nullptr), 0); }), expected);
}

TEST_F(Tables, VlunAndPathTablesShareOneRuleOfTheLongerTotal) {
    VlunInfo* vlun = AddVlun("dm-1");
    Set(vlun->acDmWwn, "6e0f11");
    FillDemoPath(AddPath(vlun, "sdb"));
    // Vlun table: 9 + 6 + 6 + 8 + 10 + 14 + 14 + 9 + 20 + 8 + 20 = 124;
    // path table as above, 137.
    const std::string expected =
        Rule(137, '=') +
        "   Vlun      WWN    Status  Capacity  DevLunName  Vendor/Product  Ctrl(Own/Work) "
        " ArrayName        ArraySN         DevLunID \n"
        " /dev/dm-1  6e0f11  active     --         --          --/--           --/--      "
        " Array-01   2102351234ABCDEF0001     --    \n" +
        Rule(137, '-') +
        " H:C:T:L    Vlun       Path    Status  Controller  ArrayName        ArraySN        "
        " PortType  PortID   InitiatorPort       TargetPort    \n"
        " 3:0:0:1  /dev/dm-1  /dev/sdb  active      A       Array-01   2102351234ABCDEF0001 "
        "    FC             21000024ff4a5b01  2100e0fc12345601 \n" +
        Rule(137, '=');
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_VlunPathTopolopy("dm-1"), 0); }), expected);
}

TEST_F(Tables, PhypathTableShowsFieldsNoPathFilledAsBlankCells) {
    PhypathInfo* phypath = AddPhypath("3:0:0");
    Set(phypath->acHostWwn, "21000024ff4a5b01");
    Set(phypath->acTargetWwn, "2100e0fc12345601");
    // Windows: 5, 6, 10, 9, 7, 8, 6, 16, 16: 83 + 18.
    const std::string expected =
        Rule(101, '=') +
        " H:C:T  Status  Controller  ArrayName  ArraySN  PortType  PortID   InitiatorPort   "
        "    TargetPort    \n"
        " 3:0:0    --                                                      21000024ff4a5b01 "
        " 2100e0fc12345601 \n" +
        Rule(101, '=');
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_PhypathTopolopy(), 0); }), expected);
}

TEST_F(Tables, DeviceTableLeadsWithNameAndLunName) {
    DevInfo* dev = AddDevice("sdb");
    Set(dev->acLunName, "db01");
    Set(dev->acLunWwn, "6e0fc123456000000000000000000011");
    Set(dev->acStatus, "active");
    Set(dev->acCapacity, "10G");
    Set(dev->acVidPid, "QELMAR/VSA1000");
    Set(dev->acOwnWork, "A/A");
    dev->iIfVersion = 516;
    Set(dev->acArrayName, "Array-01");
    Set(dev->acArraySn, "2102351234ABCDEF0001");
    Set(dev->acDevLunId, "17");
    // Windows: 8, 10, 32, 6, 8, 14, 14, 9, 20, 8: 129 + 20.
    const std::string expected =
        Rule(149, '=') +
        "  Device   DevLunName                WWN                 Status  Capacity  "
        "Vendor/Product  Ctrl(Own/Work)  ArrayName        ArraySN         DevLunID \n"
        " /dev/sdb     db01     6e0fc123456000000000000000000011  active    10G     "
        "QELMAR/VSA1000       A/A        Array-01   2102351234ABCDEF0001     17    \n" +
        Rule(149, '=');
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_DeviceTopolopy(nullptr), 0); }), expected);
}

TEST_F(Tables, DeviceBelowInterfaceVersion514HidesItsOwnWorkPair) {
    for (int version : {513, 514}) {
        DevInfo* dev = AddDevice(version == 513 ? "sdc" : "sdd");
        Set(dev->acOwnWork, "B/A");
        dev->iIfVersion = version;
    }
    EXPECT_EQ(
        DataRows(Flushed([] { tsprint_DeviceTopolopy(nullptr); })),
        (std::vector<Row>{{"/dev/sdc", "--", "--", "--", "--", "--/--", "--/--", "--", "--", "--"},
                          {"/dev/sdd", "--", "--", "--", "--", "--/--", "B/A", "--", "--", "--"}}));
}

TEST_F(Tables, AlarmDescriptionIsWrittenWholeAfterTheCentredLevel) {
    const std::string sentence = "The vlun dm-0 has lost its path redundancy.";  // 43
    AddAlarm("[Major]", sentence);
    const std::string expected = Rule(10 + 43 + 4, '=') + " AlarmLevel " + std::string(14, ' ') +
                                 "AlarmDescription" + std::string(15, ' ') + "\n" + "  [Major]   " +
                                 sentence + "\n" + Rule(57, '=');
    EXPECT_EQ(Flushed([] { EXPECT_EQ(tsprint_AlarmList(), 0); }), expected);
}

// --- Widths of values a row does not show ------------------------------------

// A record's value that loses the merge, feeds no row or is hidden still
// widens its column; every line of the table stays as long as its rules.
TEST_F(Tables, ValuesARowDoesNotShowStillWidenTheirColumns) {
    struct Case {
        const char* what;
        std::function<void()> build;
        int (*print)();
        unsigned int* window;
        unsigned int width;
        size_t column;
        const char* shown;
    } const cases[] = {
        {"a later path's longer LUN name",
         [this] {
             VlunInfo* vlun = AddVlun("dm-0");
             Set(AddPath(vlun, "sdb")->stDev.acLunName, "db01");
             Set(AddPath(vlun, "sdc")->stDev.acLunName, std::string(25, 'n'));
         },
         tsprint_VlunTopolopy, &g_uiDevLunNameWindow, 25, 4, "db01"},
        {"a path to a third array",
         [this] {
             VlunInfo* vlun = AddVlun("dm-0");
             vlun->stDev.iDualArray = 1;
             AddArrayPath(vlun, "sdb", "SN-X", "x");
             AddArrayPath(vlun, "sdc", "SN-Y", "y");
             Set(AddArrayPath(vlun, "sdd", "SN-Z", "z")->stDev.acArrayName, std::string(30, 'a'));
         },
         tsprint_VlunTopolopy, &g_uiArrayNameWindow, 30, 7, "--"},
        {"the listing's vendor/product of a vlun with paths",
         [this] {
             VlunInfo* vlun = AddVlun("dm-0");
             Set(vlun->acDmVidPid, std::string(24, 'v'));
             AddPath(vlun, "sdb");
         },
         tsprint_VlunTopolopy, &g_uiVidPidWindow, 24, 5, "--/--"},
        {"an own/work pair hidden by the interface version",
         [this] {
             DevInfo* dev = AddDevice("sdb");
             dev->iIfVersion = 513;
             Set(dev->acOwnWork, std::string(20, 'o'));
         },
         [] { return tsprint_DeviceTopolopy(nullptr); }, &g_uiCtrlWindow, 20, 6, "--/--"},
    };
    for (const Case& c : cases) {
        Reset();
        c.build();
        const std::vector<std::string> lines = Lines(Flushed([&] { c.print(); }));
        ASSERT_GE(lines.size(), 4u) << c.what;
        for (const std::string& line : lines) {
            EXPECT_EQ(line.size(), lines[0].size()) << c.what << ": '" << line << "'";
        }
        EXPECT_EQ(*c.window, c.width) << c.what;
        EXPECT_EQ(Words(lines[2])[c.column], c.shown) << c.what;
    }
}

// --- Merging the paths of a vlun ---------------------------------------------

TEST_F(Tables, FirstPathWithAValueDecidesEachMergedField) {
    VlunInfo* vlun = AddVlun("dm-0");
    PathInfo* first = AddPath(vlun, "sdb");
    Set(first->stDev.acStatus, "--");
    Set(first->stDev.acOwnWork, "B/B");
    Set(first->stDev.acArraySn, "");  // empty counts as no value
    PathInfo* second = AddPath(vlun, "sdf");
    Set(second->stDev.acStatus, "active");
    Set(second->stDev.acOwnWork, "A/A");
    Set(second->stDev.acArraySn, "SN-2");
    Set(second->stDev.acDevLunId, "5");
    PathInfo* third = AddPath(vlun, "sdj");
    Set(third->stDev.acDevLunId, "6");
    Set(third->stDev.acVidPid, "ZUNTA/ZX200");
    EXPECT_EQ(DataRows(Flushed([] { tsprint_VlunTopolopy(); })),
              (std::vector<Row>{{"/dev/dm-0", "--", "active", "--", "--", "ZUNTA/ZX200", "B/B",
                                 "--", "SN-2", "5"}}));
}

TEST_F(Tables, AnActivePathOutweighsAFailedOneBeforeIt) {
    struct Case {
        std::vector<const char*> statuses;
        const char* shown;
    } const cases[] = {{{"failed", "active"}, "active"},
                       {{"failed", "--"}, "failed"},
                       {{"--", "failed", "active"}, "active"},
                       {{"failed", "failed"}, "failed"}};
    for (const Case& c : cases) {
        VlunInfo* vlun = AddVlun("dm-0");
        int i = 0;
        for (const char* status : c.statuses) {
            Set(AddPath(vlun, i++ == 0 ? "sdb" : "sdc")->stDev.acStatus, status);
        }
        EXPECT_EQ(DataRows(Flushed([] { tsprint_VlunTopolopy(); })).back()[2], c.shown);
    }
}

TEST_F(Tables, VlunRowOfPathsShowsTheOwnWorkPairWhateverTheVersion) {
    VlunInfo* vlun = AddVlun("dm-0");
    PathInfo* path = AddPath(vlun, "sdb");
    Set(path->stDev.acOwnWork, "A/B");
    path->stDev.iIfVersion = 512;
    vlun->stDev.iIfVersion = 512;
    EXPECT_EQ(DataRows(Flushed([] { tsprint_VlunTopolopy(); }))[0][6], "A/B");
}

TEST_F(Tables, DualArrayVlunGetsOneRowPerArrayInPathOrder) {
    VlunInfo* vlun = AddVlun("dm-2");
    Set(vlun->acDmWwn, "6e0f13");
    vlun->stDev.iDualArray = 1;
    AddArrayPath(vlun, "sdd", "SN-X", "lun-x");
    AddArrayPath(vlun, "sdh", "SN-Y", "lun-y");
    AddArrayPath(vlun, "sdl", "SN-X", "lun-x2");  // joins the first row, decides nothing
    AddArrayPath(vlun, "sdp", "SN-Z", "lun-z");   // a third array: dropped
    EXPECT_EQ(
        DataRows(Flushed([] { tsprint_VlunTopolopy(); })),
        (std::vector<Row>{
            {"/dev/dm-2", "6e0f13", "--", "--", "lun-x", "--/--", "--/--", "--", "SN-X", "--"},
            {"/dev/dm-2", "6e0f13", "--", "--", "lun-y", "--/--", "--/--", "--", "SN-Y", "--"}}));
}

TEST_F(Tables, DualArrayVlunOnOneArrayAndSingleArrayVlunGetOneRow) {
    VlunInfo* dual = AddVlun("dm-0");
    dual->stDev.iDualArray = 1;
    AddArrayPath(dual, "sdb", "SN-X", "one");
    AddArrayPath(dual, "sdc", "SN-X", "two");
    VlunInfo* single = AddVlun("dm-1");
    AddArrayPath(single, "sdd", "SN-X", "three");
    AddArrayPath(single, "sde", "SN-Y", "four");  // not dual: merged into the one row
    std::vector<std::vector<std::string>> rows = DataRows(Flushed([] { tsprint_VlunTopolopy(); }));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "/dev/dm-0");
    EXPECT_EQ(rows[0][4], "one");
    EXPECT_EQ(rows[1][0], "/dev/dm-1");
    EXPECT_EQ(rows[1][4], "three");
    EXPECT_EQ(rows[1][8], "SN-X");
}

// A path without an array serial number cannot say which array it runs to.
TEST_F(Tables, DualArrayPathWithoutArraySerialFeedsNeitherRow) {
    VlunInfo* vlun = AddVlun("dm-0");
    vlun->stDev.iDualArray = 1;
    PathInfo* unknown = AddArrayPath(vlun, "sdb", "--", "ghost");
    Set(unknown->stDev.acStatus, "active");
    AddArrayPath(vlun, "sdc", "", "ghost2");
    AddArrayPath(vlun, "sdd", "--/--", "ghost3");
    AddArrayPath(vlun, "sde", "SN-X", "lun-x");
    AddArrayPath(vlun, "sdf", "SN-Y", "lun-y");
    EXPECT_EQ(DataRows(Flushed([] { tsprint_VlunTopolopy(); })),
              (std::vector<Row>{
                  {"/dev/dm-0", "--", "--", "--", "lun-x", "--/--", "--/--", "--", "SN-X", "--"},
                  {"/dev/dm-0", "--", "--", "--", "lun-y", "--/--", "--/--", "--", "SN-Y", "--"}}));
}

TEST_F(Tables, DualArrayVlunWithNoArraySerialAtAllPrintsOneRowOfDefaults) {
    VlunInfo* vlun = AddVlun("dm-0");
    vlun->stDev.iDualArray = 1;
    AddArrayPath(vlun, "sdb", "--", "ghost");
    EXPECT_EQ(DataRows(Flushed([] { tsprint_VlunTopolopy(); })),
              (std::vector<Row>{
                  {"/dev/dm-0", "--", "--", "--", "--", "--/--", "--/--", "--", "--", "--"}}));
}

// Each dual-array LUN is matched against its own arrays, not those of the
// dual-array LUN before it.
TEST_F(Tables, EachDualArrayVlunStartsWithFreeArrayKeys) {
    VlunInfo* first = AddVlun("dm-0");
    first->stDev.iDualArray = 1;
    AddArrayPath(first, "sdb", "SN-X", "x");
    AddArrayPath(first, "sdc", "SN-Y", "y");
    VlunInfo* second = AddVlun("dm-1");
    second->stDev.iDualArray = 1;
    AddArrayPath(second, "sdd", "SN-Z", "z");
    AddArrayPath(second, "sde", "SN-W", "w");
    VlunInfo* third = AddVlun("dm-2");
    third->stDev.iDualArray = 1;
    AddArrayPath(third, "sdf", "SN-V", "v");  // one array only: one row
    std::vector<std::vector<std::string>> rows = DataRows(Flushed([] { tsprint_VlunTopolopy(); }));
    ASSERT_EQ(rows.size(), 5u);
    const char* expected[][3] = {{"/dev/dm-0", "x", "SN-X"},
                                 {"/dev/dm-0", "y", "SN-Y"},
                                 {"/dev/dm-1", "z", "SN-Z"},
                                 {"/dev/dm-1", "w", "SN-W"},
                                 {"/dev/dm-2", "v", "SN-V"}};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], expected[i][0]) << "row " << i;
        EXPECT_EQ(rows[i][4], expected[i][1]) << "row " << i;
        EXPECT_EQ(rows[i][8], expected[i][2]) << "row " << i;
    }
}

// Each row printer flushes its own rows: called alone it gives the table
// between the rule lines, all of it already written.
TEST_F(Tables, RowPrintersFlushEveryRowThemselves) {
    FillDemoPath(AddPath(AddVlun("dm-1"), "sdb"));
    AddPhypath("3:0:0");
    AddDevice("sdb");
    AddAlarm("[Major]", "A sentence.");
    struct Table {
        int (*entry)();
        void (*rows)();
    };
    const Table tables[] = {
        {[] { return tsprint_VlunTopolopy(); }, PrintVlunTopolopy},
        {[] { return tsprint_PathTopolopy(nullptr); }, PrintPathTopolopy},
        {[] { return tsprint_PhypathTopolopy(); }, PrintPhypathTopolopy},
        {[] { return tsprint_DeviceTopolopy(nullptr); }, PrintDeviceTopolopy},
        {[] { return tsprint_AlarmList(); }, PrintAlarmList},
    };
    for (const Table& table : tables) {
        const std::string framed = Flushed([&] { table.entry(); });
        const size_t first = framed.find('\n') + 1;
        const size_t last = framed.rfind('\n', framed.size() - 2) + 1;
        EXPECT_EQ(Flushed(table.rows), framed.substr(first, last - first));
    }
}

}  // namespace
