// ts_showdisk for the ESXi shell: the path and device listing readers, the
// attachment of paths to their LUNs, the path-rows-only table and the query
// failure reports that name the query.
#include <gtest/gtest.h>

#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "../scsi/scripted_passthrough.h"
#include "luninfo_esxi.h"
#include "lunquery.h"
#include "luntable.h"

namespace {

const char kDevA[] = "naa.6e0fc123456000000000000000000011";
const char kDevB[] = "naa.6e0fc123456000000000000000000012";

// The readers get their lines as the program's fgets loop hands them over:
// one 256-byte buffer reused for every line, one trailing newline stripped,
// so the bytes of an earlier, longer line stay behind the terminator.
class LineBuffer {
  public:
    LineBuffer() { std::memset(buf_, 0, sizeof(buf_)); }
    const char* Put(const std::string& line) {
        std::memcpy(buf_, line.c_str(), line.size() + 1);
        return buf_;
    }

  private:
    char buf_[256];
};

std::vector<PathListEntry*> Entries() {
    std::vector<PathListEntry*> out;
    for (list_head* l = g_pathlist.next; l != &g_pathlist; l = l->next) {
        out.push_back(path_entry_of(l));
    }
    return out;
}

std::vector<LunInfo*> Records(list_head* head) {
    std::vector<LunInfo*> out;
    for (list_head* l = head->next; l != head; l = l->next) {
        out.push_back(lun_of(l));
    }
    return out;
}

class EsxiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        INIT_LIST_HEAD(&g_lunlist);
        INIT_LIST_HEAD(&g_pathlist);
        reset_windows();
        g_level = 99;
        g_isdm = 0;
    }
    void TearDown() override {
        drop_path_index();
        free_lunlist();
        free_pathlist();
        reset_windows();
        g_level = 99;
        g_isdm = 0;
    }
    // Feeds lines to the path listing reader until one fails; the results.
    std::vector<int> FeedPaths(const std::vector<std::string>& lines) {
        std::vector<int> results;
        for (const std::string& line : lines) {
            results.push_back(path_list_line(buf_.Put(line), &path_));
            if (results.back() != 0) {
                break;
            }
        }
        return results;
    }
    int FeedLun(const std::string& line) { return lun_list_line(buf_.Put(line), &lun_); }
    void AddPath(const char* runtime, const char* device, const char* state,
                 const char* transport) {
        std::vector<int> r = FeedPaths(
            {std::string("   Runtime Name: ") + runtime, std::string("   Device: ") + device,
             std::string("   State: ") + state, std::string("   Transport: ") + transport});
        ASSERT_EQ(r, std::vector<int>(4, 0));
    }

    LineBuffer buf_;
    PathListEntry* path_ = nullptr;
    LunInfo* lun_ = nullptr;
};

// ---- value_of_line ----

std::string Value(const char* line, size_t size, size_t limit) {
    std::vector<char> dest(size, 'x');
    value_of_line(line, dest.data(), dest.size(), limit);
    EXPECT_NE(std::memchr(dest.data(), '\0', dest.size()), nullptr) << line;
    return dest.data();
}

TEST(EsxiValueOfLine, TextTwoCharactersBehindTheFirstColon) {
    EXPECT_EQ(Value("   State: active", 8, 7), "active");
    // Further colons belong to the value.
    EXPECT_EQ(Value("   Runtime Name: vmhba2:C0:T0:L1", 256, 63), "vmhba2:C0:T0:L1");
    EXPECT_EQ(Value("   Size: 10240 MB", 64, 63), "10240 MB");
    // The character behind the colon is skipped whatever it is.
    EXPECT_EQ(Value("State:xactive", 8, 7), "active");
    EXPECT_EQ(Value("State:x", 8, 7), "");
}

TEST(EsxiValueOfLine, NoColonOrColonLastGivesEmpty) {
    EXPECT_EQ(Value("   State active", 8, 7), "");
    EXPECT_EQ(Value("", 8, 7), "");
    EXPECT_EQ(Value("   State:", 8, 7), "");
}

// Deliberate: a line ending in its colon gives an empty value, never the
// bytes that an earlier, longer line left in the same buffer.
TEST(EsxiValueOfLine, ColonLastIgnoresTheRestOfAnEarlierLine) {
    LineBuffer buf;
    (void)buf.Put("   Transport: iscsi-over-a-long-name");
    const char* line = buf.Put("   Transport:");
    ASSERT_EQ(line[14], 'i');  // the earlier line is still behind the terminator
    EXPECT_EQ(Value(line, 32, 31), "");
}

TEST(EsxiValueOfLine, CutAtTheLimitOrTheField) {
    // A state of 11 characters keeps 7.
    EXPECT_EQ(Value("   State: unavailable", 8, 7), "unavail");
    const std::string device(100, 'd');
    EXPECT_EQ(Value(("   Device: " + device).c_str(), 256, 63), device.substr(0, 63));
    EXPECT_EQ(Value("   Transport: fcoe", 3, 31), "fc");
}

// ---- path_list_line ----

TEST_F(EsxiTest, PathListingGivesEntriesInListingOrder) {
    std::vector<int> r = FeedPaths({
        "   Runtime Name: vmhba2:C0:T0:L1",
        "   Device: naa.6e0fc123456000000000000000000011",
        "   Adapter: vmhba2 Channel: 0 Target: 0 LUN: 1",
        "   Target Identifier: fc.5006016090203181:5006016890203181",
        "   State: active",
        "   Transport: fc",
        "",
        "   Runtime Name: vmhba64:C0:T3:L12",
        "   Device: naa.6e0fc123456000000000000000000012",
        "   State: standby",
        "   Transport: iscsi",
    });
    EXPECT_EQ(r, std::vector<int>(11, 0));
    std::vector<PathListEntry*> e = Entries();
    ASSERT_EQ(e.size(), 2U);
    EXPECT_EQ(path_, e[1]);
    EXPECT_STREQ(e[0]->runtime_name, "vmhba2:C0:T0:L1");
    EXPECT_STREQ(e[0]->device, kDevA);
    EXPECT_STREQ(e[0]->state, "active");
    EXPECT_STREQ(e[0]->host_no, "2");
    EXPECT_STREQ(e[0]->transport, "fc");
    EXPECT_STREQ(e[1]->runtime_name, "vmhba64:C0:T3:L12");
    EXPECT_STREQ(e[1]->device, kDevB);
    EXPECT_STREQ(e[1]->state, "standby");
    EXPECT_STREQ(e[1]->host_no, "64");
    EXPECT_STREQ(e[1]->transport, "iscsi");
}

TEST_F(EsxiTest, ValueLinesGoToTheLatestEntryAndAreCut) {
    AddPath("vmhba1:C0:T0:L0", kDevA, "active", "fc");
    std::vector<int> r =
        FeedPaths({"   Runtime Name: vmhba3:C0:T1:L4", "   State: unavailable", "   Transport:"});
    EXPECT_EQ(r, std::vector<int>(3, 0));
    std::vector<PathListEntry*> e = Entries();
    ASSERT_EQ(e.size(), 2U);
    EXPECT_STREQ(e[0]->state, "active");
    EXPECT_STREQ(e[0]->transport, "fc");
    EXPECT_STREQ(e[1]->state, "unavail");
    EXPECT_STREQ(e[1]->device, "");
    // "   Transport:" is shorter than the state line before it in the buffer.
    EXPECT_STREQ(e[1]->transport, "");
}

TEST_F(EsxiTest, HostNumberIsTheNumberFiveCharactersIntoTheRuntimeName) {
    std::vector<int> r = FeedPaths({
        "   Runtime Name: vmhbaX:C0:T0:L1",  // non-digit there: 0
        "   Runtime Name: abcde17x:C0",      // digits up to the first non-digit
        "   Runtime Name: vmhba007:C0:T0:L1",
        "   Runtime Name: vmhba",  // five characters: nothing to read
        "   Runtime Name: vmhb",
        "   Runtime Name:",
        "   Runtime Name: vmhba9",
    });
    EXPECT_EQ(r, std::vector<int>(7, 0));
    std::vector<PathListEntry*> e = Entries();
    ASSERT_EQ(e.size(), 7U);
    EXPECT_STREQ(e[0]->host_no, "0");
    EXPECT_STREQ(e[1]->host_no, "17");
    EXPECT_STREQ(e[2]->host_no, "7");
    EXPECT_STREQ(e[3]->runtime_name, "vmhba");
    EXPECT_STREQ(e[3]->host_no, "");
    EXPECT_STREQ(e[4]->host_no, "");
    EXPECT_STREQ(e[5]->runtime_name, "");
    EXPECT_STREQ(e[5]->host_no, "");
    EXPECT_STREQ(e[6]->host_no, "9");
}

// "Runtime" is looked for first: such a line always opens an entry.
TEST_F(EsxiTest, RuntimeWinsOverTheOtherLabels) {
    std::vector<int> r = FeedPaths({"   State: Runtime Name: vmhba5:C0"});
    EXPECT_EQ(r, std::vector<int>(1, 0));
    std::vector<PathListEntry*> e = Entries();
    ASSERT_EQ(e.size(), 1U);
    EXPECT_STREQ(e[0]->runtime_name, "Runtime Name: vmhba5:C0");
    EXPECT_STREQ(e[0]->state, "");
}

TEST_F(EsxiTest, ValueLineBeforeAnyEntryFailsLikeAnAllocation) {
    g_level = 0;
    for (const char* line : {"   Device: naa.6e0fc123456000000000000000000011", "   State: active",
                             "   Transport: fc"}) {
        path_ = nullptr;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(path_list_line(line, &path_), -1) << line;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "alloc mem failed for pPath\n");
        EXPECT_EQ(path_, nullptr);
        EXPECT_NE(list_empty(&g_pathlist), 0);
    }
    // Threshold 3: silent above it.
    g_level = 4;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(path_list_line("   State: active", &path_), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(EsxiTest, OtherPathLinesAreIgnored) {
    g_level = 0;
    ::testing::internal::CaptureStdout();
    std::vector<int> r = FeedPaths({"", "fc.20000024ff3dfa96:21000024ff3dfa96-naa.6e0fc1",
                                    "   Plugin: NMP", "   Device Display Name: QELMAR Disk"});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(r, std::vector<int>(4, 0));
    EXPECT_NE(list_empty(&g_pathlist), 0);
    EXPECT_EQ(path_, nullptr);
}

// ---- lun_list_line ----

TEST_F(EsxiTest, DeviceListingGivesLunsWithTheirCapacity) {
    EXPECT_EQ(FeedLun(kDevA), 0);
    EXPECT_EQ(FeedLun("   Size: 10240 MB"), 0);
    EXPECT_EQ(FeedLun("   Model: VSA1000"), 0);
    EXPECT_EQ(FeedLun(kDevB), 0);
    EXPECT_EQ(FeedLun("   Size: 2097152 MB"), 0);
    std::vector<LunInfo*> luns = Records(&g_lunlist);
    ASSERT_EQ(luns.size(), 2U);
    EXPECT_EQ(lun_, luns[1]);
    EXPECT_STREQ(luns[0]->dev_name, kDevA);
    EXPECT_STREQ(luns[0]->capacity, "10240 MB");
    EXPECT_STREQ(luns[1]->dev_name, kDevB);
    EXPECT_STREQ(luns[1]->capacity, "2097152 MB");
    for (LunInfo* lun : luns) {
        EXPECT_NE(list_empty(&lun->paths), 0);
        EXPECT_STREQ(lun->host_no, "");
        EXPECT_STREQ(lun->path_status, "");
        EXPECT_STREQ(lun->port_type, "");
        EXPECT_STREQ(lun->lun_name, "");
    }
}

TEST_F(EsxiTest, DeviceNameIsTheWholeLine) {
    const std::string line = std::string(kDevA) + "  trailing words";
    EXPECT_EQ(FeedLun(line), 0);
    EXPECT_EQ(FeedLun("   Size:"), 0);
    ASSERT_NE(lun_, nullptr);
    EXPECT_EQ(std::string(lun_->dev_name), line);
    EXPECT_STREQ(lun_->capacity, "");
}

TEST_F(EsxiTest, SizeLineBeforeAnyLunFails) {
    g_level = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(FeedLun("   Size: 10240 MB"), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "alloc mem failed for pdev\n");
    EXPECT_NE(list_empty(&g_lunlist), 0);
    EXPECT_EQ(lun_, nullptr);
}

// ---- get_path_info_from_pathlist ----

// Walked over the path list, or looked up in its index by device as the
// LUN listing does: the same paths in the same order.
class EsxiPathAttachment : public EsxiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EsxiPathAttachment, LunGetsItsPathsInListingOrderByWholeName) {
    // kDevA without its last digit is a prefix of kDevA and of kDevB.
    const std::string prefix(kDevA, sizeof(kDevA) - 2);
    AddPath("vmhba2:C0:T0:L1", kDevA, "active", "fc");
    AddPath("vmhba3:C0:T0:L7", prefix.c_str(), "active", "fc");
    AddPath("vmhba64:C0:T3:L12", kDevA, "standby", "iscsi");
    AddPath("vmhba4:C0:T0:L1", kDevB, "dead", "fc");
    AddPath("vmhba1:C0:T0:L1", kDevA, "active", "fc");
    if (GetParam()) {
        index_path_list();
    }
    EXPECT_EQ(FeedLun(kDevA), 0);
    EXPECT_EQ(FeedLun(prefix), 0);
    EXPECT_EQ(FeedLun(std::string(kDevA) + "0"), 0);
    std::vector<LunInfo*> luns = Records(&g_lunlist);
    ASSERT_EQ(luns.size(), 3U);

    std::vector<LunInfo*> a = Records(&luns[0]->paths);
    ASSERT_EQ(a.size(), 3U);
    EXPECT_STREQ(a[0]->dev_name, "vmhba2:C0:T0:L1");
    EXPECT_STREQ(a[0]->path_status, "active");
    EXPECT_STREQ(a[0]->host_no, "2");
    EXPECT_STREQ(a[0]->port_type, "fc");
    EXPECT_STREQ(a[1]->dev_name, "vmhba64:C0:T3:L12");
    EXPECT_STREQ(a[1]->path_status, "standby");
    EXPECT_STREQ(a[1]->host_no, "64");
    EXPECT_STREQ(a[1]->port_type, "iscsi");
    EXPECT_STREQ(a[2]->dev_name, "vmhba1:C0:T0:L1");
    EXPECT_STREQ(a[2]->host_no, "1");
    for (LunInfo* p : a) {
        // Only what the path listing says.
        for (const char* field : {p->lun_name, p->wwn, p->capacity, p->vendor, p->host_lun_id,
                                  p->ctrl, p->array_name}) {
            EXPECT_STREQ(field, "");
        }
        EXPECT_NE(list_empty(&p->paths), 0);
    }

    std::vector<LunInfo*> pre = Records(&luns[1]->paths);
    ASSERT_EQ(pre.size(), 1U);
    EXPECT_STREQ(pre[0]->dev_name, "vmhba3:C0:T0:L7");
    EXPECT_NE(list_empty(&luns[2]->paths), 0);
}

INSTANTIATE_TEST_SUITE_P(WalkAndIndex, EsxiPathAttachment, ::testing::Bool());

// ---- attributes of LUNs whose node under /dev/disks does not open ----

TEST_F(EsxiTest, UnopenableNodeGivesDashesInTheAttributeFields) {
    struct stat st;
    if (stat("/dev/disks", &st) == 0) {
        GTEST_SKIP() << "this host has /dev/disks";
    }
    EXPECT_EQ(FeedLun(kDevA), 0);
    EXPECT_EQ(FeedLun("   Size: 10240 MB"), 0);
    g_level = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(get_dev_info(lun_), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), std::string("open ") + kDevA + " failed\n");
    for (const char* field : {lun_->lun_name, lun_->wwn, lun_->ctrl, lun_->vendor,
                              lun_->host_lun_id, lun_->array_name}) {
        EXPECT_STREQ(field, "--");
    }
    EXPECT_STREQ(lun_->capacity, "10240 MB");
    EXPECT_STREQ(lun_->port_type, "");
    EXPECT_EQ(get_dev_info(nullptr), -1);
    g_level = 99;
    EXPECT_EQ(get_info(), 0);
}

// ---- table: path rows only ----

LunInfo* NewRecord(const char* dev, list_head* into) {
    LunInfo* r = static_cast<LunInfo*>(std::calloc(1, sizeof(LunInfo)));
    std::snprintf(r->dev_name, sizeof(r->dev_name), "%s", dev);
    INIT_LIST_HEAD(&r->paths);
    list_add_tail(&r->node, into);
    return r;
}

void FillLun(LunInfo* r, const char* lun_name, const char* wwn, const char* capacity,
             const char* vendor, const char* ctrl, const char* id, const char* array) {
    std::snprintf(r->lun_name, sizeof(r->lun_name), "%s", lun_name);
    std::snprintf(r->wwn, sizeof(r->wwn), "%s", wwn);
    std::snprintf(r->capacity, sizeof(r->capacity), "%s", capacity);
    std::snprintf(r->vendor, sizeof(r->vendor), "%s", vendor);
    std::snprintf(r->ctrl, sizeof(r->ctrl), "%s", ctrl);
    std::snprintf(r->host_lun_id, sizeof(r->host_lun_id), "%s", id);
    std::snprintf(r->array_name, sizeof(r->array_name), "%s", array);
}

LunInfo* NewPath(LunInfo* lun, const char* runtime, const char* state, const char* host,
                 const char* transport) {
    LunInfo* p = NewRecord(runtime, &lun->paths);
    std::snprintf(p->path_status, sizeof(p->path_status), "%s", state);
    std::snprintf(p->host_no, sizeof(p->host_no), "%s", host);
    std::snprintf(p->port_type, sizeof(p->port_type), "%s", transport);
    return p;
}

std::string PrintTable() {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(print_info(), 0);
    return ::testing::internal::GetCapturedStdout();
}

const char kHeading[] =
    " DiskName  LunName            WWN               Path    PathStatus  HostAdapter "
    " Capacity  Vendor  Ctrl(Own/Work)  HostLunID  ArrayName  PortType \n";

// Every text within its column's minimum: 146 dashes, and the table ends
// after its last row (no lower rule, no note, even for g_isdm 1).
TEST_F(EsxiTest, TableOfPathRowsAtMinimumWidths) {
    LunInfo* lun = NewRecord("naa.11", &g_lunlist);
    FillLun(lun, "lun1", "0123456789abcdef01234567", "10240 MB", "QELMAR", "0A/0B", "1",
            "Array-01");
    std::snprintf(lun->port_type, sizeof(lun->port_type), "FC");
    LunInfo* first = NewPath(lun, "vmhba2", "active", "2", "fc");
    std::snprintf(first->lun_name, sizeof(first->lun_name), "other");
    std::snprintf(first->vendor, sizeof(first->vendor), "--");
    // "--" of the path is shown as it is: no fallback to the LUN's "FC".
    NewPath(lun, "vmhba3", "standby", "3", "--");
    // A LUN without paths: neither a row nor a width.
    LunInfo* lone = NewRecord("naa.6e0fc123456000000000000000000099", &g_lunlist);
    FillLun(lone, "a-lun-name-of-forty-characters-000000000", "--", "1048576000 MB", "QELMAR",
            "0B/0B", "12345678", "A-rather-long-array-name");
    g_isdm = 1;

    const std::string rule(146, '-');
    const std::string expected = rule + "\n" + kHeading +
                                 // cell by cell: window + 2, centred, odd space right
                                 "  naa.11  "
                                 "  lun1   "
                                 " 0123456789abcdef01234567 "
                                 "  vmhba2  "
                                 "   active   "
                                 "      2      "
                                 " 10240 MB "
                                 " QELMAR "
                                 "     0A/0B      "
                                 "     1     "
                                 " Array-01  "
                                 "    fc    \n"
                                 "  naa.11  "
                                 "  lun1   "
                                 " 0123456789abcdef01234567 "
                                 "  vmhba3  "
                                 "  standby   "
                                 "      3      "
                                 " 10240 MB "
                                 " QELMAR "
                                 "     0A/0B      "
                                 "     1     "
                                 " Array-01  "
                                 "    --    \n";
    EXPECT_EQ(PrintTable(), expected);
    EXPECT_EQ(g_uiTotalWindow, 146U);
}

TEST_F(EsxiTest, WidthsComeFromPathRowsOnly) {
    LunInfo* lun = NewRecord(kDevA, &g_lunlist);
    FillLun(lun, "db01", "6e0fc123456000000000000000000011", "10240 MB", "QELMAR", "0A/0B", "3",
            "Array-01");
    NewPath(lun, "vmhba2:C0:T0:L1", "active", "2", "fc");
    NewPath(lun, "vmhba64:C0:T3:L12", "active", "64", "fc");
    LunInfo* lone = NewRecord("naa.6e0fc1234560000000000000000000990000000000000", &g_lunlist);
    FillLun(lone, "a-lun-name-of-forty-characters-000000000", "--", "1048576000 MB", "QELMAR",
            "0B/0B", "12345678", "A-rather-long-array-name");
    const std::string out = PrintTable();
    EXPECT_EQ(g_uiVdiskNameWindow, 36U);
    EXPECT_EQ(g_uiLunNameWindow, 7U);
    EXPECT_EQ(g_uiWWNWindow, 32U);
    EXPECT_EQ(g_uiPathWindow, 17U);
    EXPECT_EQ(g_uiCapacityWindow, 8U);
    EXPECT_EQ(g_uiArrayNameWindow, 9U);
    // 36+7+32+17+10+11+8+6+14+9+9+8 + 24
    EXPECT_EQ(g_uiTotalWindow, 191U);
    EXPECT_EQ(out.substr(0, out.find('\n')), std::string(191, '-'));
    EXPECT_EQ(out.find(lone->dev_name), std::string::npos);
    // Rule, heading and two rows; the last row closes the output.
    size_t lines = 0;
    for (char c : out) {
        lines += c == '\n' ? 1 : 0;
    }
    EXPECT_EQ(lines, 4U);
    const size_t last = out.rfind('\n', out.size() - 2) + 1;
    EXPECT_EQ(out.substr(last), std::string(" ") + kDevA + " " +
                                    "  db01   "
                                    " 6e0fc123456000000000000000000011 "
                                    " vmhba64:C0:T3:L12 "
                                    "   active   "
                                    "     64      "
                                    " 10240 MB "
                                    " QELMAR "
                                    "     0A/0B      "
                                    "     3     "
                                    " Array-01  "
                                    "    fc    \n");
}

// Vendor LUNs that all lack paths: nothing is measured, so every window
// stays 0 and only the 24 dashes and the bare headings are printed.
// No measured row: the headings still stand at their minimum widths (the
// 146-dash rule), and nothing follows them.
TEST_F(EsxiTest, OnlyPathlessLunsPrintAnEmptyTable) {
    LunInfo* lun = NewRecord(kDevA, &g_lunlist);
    FillLun(lun, "db01", "--", "10240 MB", "QELMAR", "0A/0B", "3", "Array-01");
    EXPECT_EQ(PrintTable(), std::string(146, '-') + "\n" + kHeading);
    EXPECT_EQ(g_uiVdiskNameWindow, 8U);
    EXPECT_EQ(g_uiTotalWindow, 146U);
}

TEST_F(EsxiTest, NoLunPrintsTheNoDiskLine) {
    AddPath("vmhba2:C0:T0:L1", kDevA, "active", "fc");
    EXPECT_EQ(PrintTable(), "There is no Qelmar disk\n");
}

// The listings read end to end, then printed: the LUN of another vendor's
// path is not listed, so that path never shows.
TEST_F(EsxiTest, ListingsToTable) {
    AddPath("vmhba2:C0:T0:L1", kDevA, "active", "fc");
    AddPath("vmhba3:C0:T0:L1", kDevB, "active", "fc");
    AddPath("vmhba64:C0:T3:L12", kDevA, "standby", "fc");
    index_path_list();
    EXPECT_EQ(FeedLun(kDevA), 0);
    EXPECT_EQ(FeedLun("   Size: 10240 MB"), 0);
    FillLun(lun_, "db01", "6e0fc123456000000000000000000011", "10240 MB", "QELMAR", "0A/0B", "3",
            "Array-01");
    const std::string out = PrintTable();
    EXPECT_NE(out.find("  vmhba2:C0:T0:L1     active   "), std::string::npos);
    EXPECT_NE(out.find(" vmhba64:C0:T3:L12   standby   "), std::string::npos);
    EXPECT_EQ(out.find("vmhba3"), std::string::npos);
    EXPECT_LT(out.find("vmhba2:"), out.find("vmhba64:"));
}

// ---- query failure reports ----

// SG_IO fails as the system reports it: the scripted pass-through answers
// for the node, whose descriptor was never opened.
constexpr int kNoFd = 900;

std::string IoctlLine(int err) {
    return std::string("ioctl(SG_IO) failed: ") + std::strerror(err) +
           " (errno=" + std::to_string(err) + ")\n";
}

// The sender's report, then the query's with the number the ESXi build has
// always printed for a unit that is not ready.
bool PrefixedLine(const std::string& text, const std::string& tail, const char* who) {
    return std::regex_match(text, std::regex(tail + "\\[" + who + ": 102\\] send tur failed\\.\n"));
}

std::string Escaped(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

class EsxiQueryFailure : public scripted::ScriptedTest {
  protected:
    void TearDown() override {
        ScriptedTest::TearDown();
        g_level = 99;
    }
};

TEST_F(EsxiQueryFailure, SendTurFailedNamesTheQuery) {
    const int err = ENOTTY;
    Script({scripted::Fails(err)});
    char dest[256];
    std::memset(dest, 0, sizeof(dest));
    g_level = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(get_wwn(kNoFd, dest, sizeof(dest)), -1);
    const std::string out = ::testing::internal::GetCapturedStdout();
    // do_tur's own report (threshold 3) comes first.
    EXPECT_TRUE(PrefixedLine(out, Escaped(IoctlLine(err)), "get_wwn")) << out;
    const std::string tail = out.substr(out.find('\n') + 1);
    EXPECT_EQ(tail, "[get_wwn: 102] send tur failed.\n");
    EXPECT_STREQ(dest, "");
}

TEST_F(EsxiQueryFailure, ThresholdsOfTheTwoReports) {
    const int err = ENOTTY;
    Script({scripted::Fails(err), scripted::Fails(err)});
    char dest[64];
    std::memset(dest, 0, sizeof(dest));
    g_level = 3;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(get_wwn(kNoFd, dest, sizeof(dest)), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), IoctlLine(err));
    g_level = 4;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(get_wwn(kNoFd, dest, sizeof(dest)), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(EsxiQueryFailure, EveryQueryOnAClosedDescriptor) {
    const int err = EBADF;
    struct Case {
        int (*query)(int, char*, size_t);
        const char* who;
    };
    // get_tpg asks for the interface version first and stops with its report.
    const Case cases[] = {{get_vid, "get_vid"},
                          {get_wwn, "get_wwn"},
                          {get_interface_version, "get_interface_version"},
                          {get_lun_name, "get_lun_name"},
                          {get_host_lunID, "get_host_lunID"},
                          {get_array_name, "get_array_name"},
                          {get_tpg, "get_interface_version"}};
    g_level = 0;
    for (const Case& c : cases) {
        scripted::g_requests.clear();
        Script({scripted::Fails(err)});
        char dest[64];
        std::memset(dest, 0, sizeof(dest));
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(c.query(kNoFd, dest, sizeof(dest)), -1) << c.who;
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_TRUE(PrefixedLine(out, Escaped(IoctlLine(err)), c.who)) << out;
        EXPECT_STREQ(dest, "") << c.who;
        // Only the TEST UNIT READY that failed went out.
        EXPECT_EQ(Opcodes(), std::vector<int>{0x00}) << c.who;
    }
}

TEST_F(EsxiQueryFailure, SendersReportTheirOwnIoctlFailure) {
    const int err = ENOTTY;
    Script({scripted::Fails(err), scripted::Fails(err)});
    unsigned char page[36];
    std::memset(page, 0xEE, sizeof(page));
    g_level = 3;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(do_inquiry(kNoFd, 0, 0, page, sizeof(page)), -1);
    EXPECT_EQ(do_tur(kNoFd), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "tur " + IoctlLine(err) + IoctlLine(err));
    // The page is zero-filled before the command is sent.
    for (unsigned char b : page) {
        EXPECT_EQ(b, 0);
    }
}

}  // namespace
