// The twelve-column table of ts_showdisk, laid out by hand from the widths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "luntable.h"

namespace {

LunInfo* NewRecord(const char* dev, list_head* into) {
    LunInfo* r = static_cast<LunInfo*>(std::calloc(1, sizeof(LunInfo)));
    std::snprintf(r->dev_name, sizeof(r->dev_name), "%s", dev);
    INIT_LIST_HEAD(&r->paths);
    list_add_tail(&r->node, into);
    return r;
}

void Fill(LunInfo* r, const char* lun_name, const char* wwn, const char* vendor, const char* ctrl,
          const char* id, const char* array, const char* port) {
    std::snprintf(r->lun_name, sizeof(r->lun_name), "%s", lun_name);
    std::snprintf(r->wwn, sizeof(r->wwn), "%s", wwn);
    std::snprintf(r->vendor, sizeof(r->vendor), "%s", vendor);
    std::snprintf(r->ctrl, sizeof(r->ctrl), "%s", ctrl);
    std::snprintf(r->host_lun_id, sizeof(r->host_lun_id), "%s", id);
    std::snprintf(r->array_name, sizeof(r->array_name), "%s", array);
    std::snprintf(r->port_type, sizeof(r->port_type), "%s", port);
}

class TableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        INIT_LIST_HEAD(&g_lunlist);
        reset_windows();
        g_isdm = 0;
    }
    void TearDown() override {
        free_lunlist();
        reset_windows();
        g_isdm = 0;
    }
    static std::string Print() {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(print_info(), 0);
        return ::testing::internal::GetCapturedStdout();
    }
};

TEST(ChooseLen, LargestOfThree) {
    EXPECT_EQ(CHOOSE_LEN(0, 3, 24), 24U);
    EXPECT_EQ(CHOOSE_LEN(30, 3, 24), 30U);
    EXPECT_EQ(CHOOSE_LEN(10, 40, 7), 40U);
}

TEST_F(TableTest, EmptyListPrintsTheNoDiskLine) {
    EXPECT_EQ(Print(), "There is no Qelmar disk\n");
}

// Every text within its column's minimum: 8+7+24+8+10+11+8+6+14+9+9+8+24 = 146.
TEST_F(TableTest, MinimumWidthsGiveA146DashRuleAndTheFallbackNote) {
    LunInfo* lun = NewRecord("/dev/sdb", &g_lunlist);
    Fill(lun, "lun1", "--", "QELMAR", "A/B", "1", "Array-01", "FC");
    std::snprintf(lun->capacity, sizeof(lun->capacity), "10G");
    std::snprintf(lun->host_no, sizeof(lun->host_no), "3");
    g_isdm = 1;
    const std::string rule(146, '-');
    const std::string expected =
        rule + "\n" +
        " DiskName  LunName            WWN               Path    PathStatus  HostAdapter "
        " Capacity  Vendor  Ctrl(Own/Work)  HostLunID  ArrayName  PortType \n"
        // cell by cell: window + 2, centred, the odd space on the right
        " /dev/sdb "
        "  lun1   "
        "            --            "
        "    --    "
        "     --     "
        "      3      "
        "   10G    "
        " QELMAR "
        "      A/B       "
        "     1     "
        " Array-01  "
        "    FC    \n" +
        rule + "\nThese disks are not managed by Multipath.\n";
    EXPECT_EQ(Print(), expected);
    EXPECT_EQ(g_uiTotalWindow, 146U);
}

// A LunName of 40 characters: window 40, cell 42, heading 17 + 7 + 18.
TEST_F(TableTest, FortyCharacterLunNameWidensItsColumn) {
    LunInfo* lun = NewRecord("/dev/dm-0", &g_lunlist);
    std::snprintf(lun->capacity, sizeof(lun->capacity), "10G");
    LunInfo* path = NewRecord("/dev/sdb", &lun->paths);
    Fill(path, "abcdefghij0123456789ABCDEFGHIJ0123456789", "6e0fc123456000000000000000000041",
         "QELMAR", "A/B", "7", "Array-01", "FC");
    std::snprintf(path->path_status, sizeof(path->path_status), "active");
    std::snprintf(path->host_no, sizeof(path->host_no), "3");
    const std::string out = Print();
    EXPECT_EQ(g_uiLunNameWindow, 40U);
    const size_t heading = out.find('\n') + 1;
    const std::string head = out.substr(heading, out.find('\n', heading) - heading);
    EXPECT_EQ(head.substr(11, 42), std::string(17, ' ') + "LunName" + std::string(18, ' '));
    // 9+40+32+8+10+11+8+6+14+9+9+8 + 24
    EXPECT_EQ(out.substr(0, out.find('\n')), std::string(188, '-'));
    EXPECT_NE(out.find(" /dev/dm-0  abcdefghij0123456789ABCDEFGHIJ0123456789  "
                       "6e0fc123456000000000000000000041  /dev/sdb    active   "),
              std::string::npos);
}

// A path field of "--" shows the LUN's text, measured and printed alike;
// the LUN with paths gets no row of its own.
TEST_F(TableTest, PathFieldsOfDashesFallBackToTheLun) {
    LunInfo* lun = NewRecord("/dev/dm-1", &g_lunlist);
    Fill(lun, "db02", "6e0fc123456000000000000000000012", "QELMAR", "B/B", "2",
         "LongArrayName-0001", "FC");
    std::snprintf(lun->capacity, sizeof(lun->capacity), "20G");
    LunInfo* good = NewRecord("/dev/sdg", &lun->paths);
    Fill(good, "db02", "6e0fc123456000000000000000000012", "QELMAR", "B/B", "2", "Array-01", "FC");
    std::snprintf(good->path_status, sizeof(good->path_status), "active");
    std::snprintf(good->host_no, sizeof(good->host_no), "3");
    LunInfo* bad = NewRecord("/dev/sdo", &lun->paths);
    Fill(bad, "--", "--", "QELMAR", "--", "--", "--", "--");
    std::snprintf(bad->path_status, sizeof(bad->path_status), "failed");
    std::snprintf(bad->host_no, sizeof(bad->host_no), "4");
    const std::string out = Print();
    EXPECT_EQ(g_uiArrayNameWindow, 18U);
    // Two rows, both with the dm name and the LUN's capacity.
    size_t rows = 0;
    for (size_t at = out.find("\n /dev/dm-1 "); at != std::string::npos;
         at = out.find("\n /dev/dm-1 ", at + 1)) {
        ++rows;
    }
    EXPECT_EQ(rows, 2U);
    const size_t sdo = out.find("/dev/sdo");
    ASSERT_NE(sdo, std::string::npos);
    const std::string row =
        out.substr(out.rfind('\n', sdo) + 1, out.find('\n', sdo) - out.rfind('\n', sdo) - 1);
    EXPECT_NE(row.find("  db02  "), std::string::npos);
    EXPECT_NE(row.find(" LongArrayName-0001 "), std::string::npos);
    EXPECT_NE(row.find("  B/B  "), std::string::npos);
    EXPECT_EQ(row.find("--"), std::string::npos);
    EXPECT_EQ(out.find("These disks"), std::string::npos);
}

TEST(PrintStrInMid, OddPadGoesRight) {
    ::testing::internal::CaptureStdout();
    print_str_in_mid("ab", 7);
    print_str_in_mid("toolong", 3);
    print_str_in_mid(nullptr, 5);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "  ab   toolong");
}

struct CellCase {
    const char* name;
    const char* text;
    unsigned int width;
    const char* shown;
};

// The pad comes from the bytes as they are; each byte outside 0x20..0x7E
// prints as one '?', so the cell keeps its width.
const CellCase kCellCases[] = {
    {"printable text as it is", "db01", 8, "  db01  "},
    {"screen clear and home, odd pad right", "\x1b[2J\x1b[H", 10, " ?[2J?[H  "},
    {"UTF-8 pair is two bytes", "caf\xc3\xa9", 8, " caf??  "},
    {"0xFF and DEL", "\xff\x7f", 2, "??"},
    {"wider than the cell", "a\nb\rc", 3, "a?b?c"},
    {"line feed and tab", "\t\n", 6, "  ??  "},
};

TEST(PrintStrInMid, BytesOutsidePrintableAsciiPrintAsQuestionMarks) {
    for (const CellCase& c : kCellCases) {
        SCOPED_TRACE(c.name);
        ::testing::internal::CaptureStdout();
        print_str_in_mid(c.text, c.width);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.shown);
    }
}

// A cell longer than the printer's working piece comes out whole.
TEST(PrintStrInMid, LongCellIsPrintedWhole) {
    std::string text;
    std::string shown;
    for (int i = 0; i < 300; ++i) {
        text += (i % 7 == 0) ? '\x1b' : static_cast<char>('a' + i % 26);
        shown += (i % 7 == 0) ? '?' : static_cast<char>('a' + i % 26);
    }
    ::testing::internal::CaptureStdout();
    print_str_in_mid(text.c_str(), 304);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "  " + shown + "  ");
}

// Device text with ESC sequences: the windows are measured on the bytes
// the device sent, and the row shows one '?' for each byte a terminal would
// act on. LunName "\x1b[2J\x1b[H\xff" is 8 bytes (window 8, cell 10);
// ArrayName "\x1b]0;t\x07\xc3\xa9" is 8 bytes (minimum 9, cell 11).
TEST_F(TableTest, EscapeSequencesInDeviceTextKeepTheWidths) {
    LunInfo* lun = NewRecord("/dev/sdb", &g_lunlist);
    Fill(lun, "\x1b[2J\x1b[H\xff", "--", "QELMAR", "A/B", "1", "\x1b]0;t\x07\xc3\xa9", "FC");
    std::snprintf(lun->capacity, sizeof(lun->capacity), "10G");
    std::snprintf(lun->host_no, sizeof(lun->host_no), "3");
    g_isdm = 1;
    // 8+8+24+8+10+11+8+6+14+9+9+8 + 24
    const std::string rule(147, '-');
    const std::string expected =
        rule + "\n" +
        " DiskName  LunName             WWN               Path    PathStatus  HostAdapter "
        " Capacity  Vendor  Ctrl(Own/Work)  HostLunID  ArrayName  PortType \n"
        " /dev/sdb "
        " ?[2J?[H? "
        "            --            "
        "    --    "
        "     --     "
        "      3      "
        "   10G    "
        " QELMAR "
        "      A/B       "
        "     1     "
        " ?]0;t???  "
        "    FC    \n" +
        rule + "\nThese disks are not managed by Multipath.\n";
    EXPECT_EQ(Print(), expected);
    EXPECT_EQ(g_uiLunNameWindow, 8U);
    EXPECT_EQ(g_uiArrayNameWindow, 9U);
}

}  // namespace
