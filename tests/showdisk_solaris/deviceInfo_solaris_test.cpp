// ts_showdisk for Solaris against a test double of the Solaris services:
// request refusal, the four queries' decoding, the device-id list, the open
// and the table cells.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../tool/flushed_output.h"
#include "deviceInfo_solaris.h"
#include "fake_platform.h"

namespace {

const std::string kRule = std::string(178, '-') + "\n";

// A VPD page of total bytes whose page length says total - 4.
std::vector<uint8_t> Page(int code, size_t total) {
    std::vector<uint8_t> b(total, 0);
    b[1] = static_cast<uint8_t>(code);
    b[2] = static_cast<uint8_t>((total - 4) >> 8);
    b[3] = static_cast<uint8_t>(total - 4);
    return b;
}

void Put(std::vector<uint8_t>* b, size_t at, const std::string& text) {
    memcpy(b->data() + at, text.data(), text.size());
}

// Page 0xC8 with its length bytes saying pageLength and the id 0x01020304.
std::vector<uint8_t> LunPage(int pageLength) {
    std::vector<uint8_t> b = Page(0xC8, 256);
    b[2] = static_cast<uint8_t>(pageLength >> 8);
    b[3] = static_cast<uint8_t>(pageLength);
    Put(&b, 29, "lun-a");
    b[192] = 0x01;
    b[193] = 0x02;
    b[194] = 0x03;
    b[195] = 0x04;
    return b;
}

class SolarisTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFake();
        TS_ResetDeviceInfo();
        save_node = nullptr;
        g_pSsdIdHeader = nullptr;
        g_pSsdIdTail = nullptr;
    }
    void TearDown() override { TS_FreeDevIdList(); }

    // A list head as main makes it.
    void MakeHead() { g_pSsdIdHeader = g_pSsdIdTail = NewNode(nullptr); }

    void Append(TS_DevId devid) {
        DevIdNode* node = NewNode(devid);
        g_pSsdIdTail->next = node;
        g_pSsdIdTail = node;
    }

    // Freed by TS_FreeDevIdList, hence malloc.
    static DevIdNode* NewNode(TS_DevId devid) {
        auto* node = static_cast<DevIdNode*>(malloc(sizeof(DevIdNode)));
        node->devid = devid;
        node->next = nullptr;
        return node;
    }
};

// ---- requests refused before anything is sent ----

TEST_F(SolarisTest, RefusesRequestsBeforeSending) {
    unsigned char cdb[17] = {0x12};
    unsigned char buf[8];
    ScsiCmdRequest request{};
    request.cdb = cdb;
    request.buffer = buf;
    request.buffer_len = sizeof buf;

    request.cdb_len = 17;
    request.direction = 1;
    int result = 0;
    EXPECT_EQ(Flushed([&] { result = TS_HatDoScsiCmd(3, &request); }), "cdb length is error\n");
    EXPECT_EQ(result, -22);

    request.cdb_len = 6;
    for (int direction : {-1, 3}) {
        request.direction = direction;
        EXPECT_EQ(Flushed([&] { result = TS_HatDoScsiCmd(3, &request); }), "");
        EXPECT_EQ(result, -22) << "direction " << direction;
    }
    unsigned char big[300];
    EXPECT_EQ(TS_ScsiStdInquiry(3, big, 256, 0xC8), -22);
    EXPECT_EQ(TS_ScsiStdInquiry(3, big, 300, 0), -22);
    EXPECT_TRUE(Fake().requests.empty());
    EXPECT_EQ(TS_ScsiGetDriveInfo(3, 5), -1);
    EXPECT_EQ(TS_ScsiGetDriveInfo(3, 0), -1);
    EXPECT_TRUE(Fake().requests.empty());
}

TEST_F(SolarisTest, SixteenCommandBytesAndLength255AreSent) {
    unsigned char big[255];
    ASSERT_EQ(TS_ScsiStdInquiry(3, big, 255, 0xC8), 0);
    ASSERT_EQ(Fake().requests.size(), 1u);
    EXPECT_EQ(Fake().requests[0].cdb, (std::vector<uint8_t>{0x12, 0x01, 0xC8, 0x00, 0xFF, 0x00}));

    unsigned char cdb[16] = {0x12};
    ScsiCmdRequest request{};
    request.cdb = cdb;
    request.cdb_len = 16;
    request.direction = 0;
    EXPECT_EQ(TS_HatDoScsiCmd(3, &request), 0);
    EXPECT_EQ(Fake().requests.size(), 2u);
}

// ---- the USCSI record ----

TEST_F(SolarisTest, UscsiRecordOfEachDirection) {
    unsigned char cdb[6] = {0x12};
    unsigned char buf[4];
    ScsiCmdRequest request{};
    request.cdb = cdb;
    request.cdb_len = 6;
    request.buffer = buf;
    request.buffer_len = sizeof buf;
    unsigned char sense[32];
    request.sense = sense;
    request.sense_len = 32;
    for (int direction : {0, 1, 2}) {
        request.direction = direction;
        ASSERT_EQ(TS_HatDoScsiCmd(3, &request), 0);
    }
    request.timeout = 30;
    ASSERT_EQ(TS_HatDoScsiCmd(3, &request), 0);
    const std::vector<FakeRequest>& sent = Fake().requests;
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].cmd.uscsi_flags, 0x08 | 0x04);
    EXPECT_EQ(sent[1].cmd.uscsi_flags, 0x08 | 0x04);
    EXPECT_EQ(sent[2].cmd.uscsi_flags, 0x04);
    EXPECT_EQ(sent[0].cmd.uscsi_timeout, 6);
    EXPECT_EQ(sent[3].cmd.uscsi_timeout, 30);
    EXPECT_EQ(sent[0].cmd.uscsi_bufaddr, reinterpret_cast<char*>(buf));
    EXPECT_EQ(sent[0].cmd.uscsi_buflen, sizeof buf);
    // No request-sense buffer goes to the platform.
    EXPECT_EQ(sent[0].cmd.uscsi_rqbuf, nullptr);
    EXPECT_EQ(sent[0].cmd.uscsi_rqlen, 0);
}

TEST_F(SolarisTest, InquiryCommandBlocks) {
    ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_STD), 0);
    EXPECT_EQ(g_uiReqLen, 36u);
    ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_SERIAL), 0);
    EXPECT_EQ(g_uiReqLen, 160u);
    ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_WWN), 0);
    EXPECT_EQ(g_uiReqLen, 24u);
    ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_LUN), 0);
    EXPECT_EQ(g_uiReqLen, 196u);
    const std::vector<FakeRequest>& sent = Fake().requests;
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].cdb, (std::vector<uint8_t>{0x12, 0, 0, 0, 36, 0}));
    EXPECT_EQ(sent[1].cdb, (std::vector<uint8_t>{0x12, 1, 0xC0, 0, 160, 0}));
    EXPECT_EQ(sent[2].cdb, (std::vector<uint8_t>{0x12, 1, 0x83, 0, 24, 0}));
    EXPECT_EQ(sent[3].cdb, (std::vector<uint8_t>{0x12, 1, 0xC8, 0, 196, 0}));
    EXPECT_EQ(sent[3].cmd.uscsi_buflen, 196u);
}

TEST_F(SolarisTest, FailedIoctlIsReportedAndNegated) {
    Fake().ioctlErrno = EIO;
    int result = 0;
    const std::string out = Flushed([&] { result = TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_SERIAL); });
    EXPECT_EQ(result, -EIO);
    EXPECT_EQ(out, "errno is:" + std::to_string(EIO) + "," + strerror(EIO) + "\n");
}

// ---- decoding ----

TEST_F(SolarisTest, StandardDataKeepsVendorBlanks) {
    std::vector<uint8_t> std(36, 0);
    Put(&std, 8, "ABC     ABC DEF         0100");
    Fake().pages[-1] = std;
    ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_STD), 0);
    EXPECT_STREQ(g_acVendorID, "ABC     ");
    EXPECT_STREQ(g_acProductID, "ABC DEF         ");
    EXPECT_STREQ(g_acVersion, "0100");
}

TEST_F(SolarisTest, SerialStopsAtNulAndTakesSixteen) {
    std::vector<uint8_t> c0 = Page(0xC0, 160);
    Put(&c0, 112, "SN-0001");
    Fake().pages[0xC0] = c0;
    ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_SERIAL), 0);
    EXPECT_STREQ(g_acSerialNumber, "SN-0001");
    Put(&c0, 112, "0123456789ABCDEFXYZ");  // runs past byte 127
    Fake().pages[0xC0] = c0;
    ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_SERIAL), 0);
    EXPECT_STREQ(g_acSerialNumber, "0123456789ABCDEF");
}

// Page 0x83 whose first designator is a 16-byte NAA one (binary, logical
// unit), its bytes from byte 8 as given.
std::vector<uint8_t> NaaPage() {
    std::vector<uint8_t> p83 = Page(0x83, 24);
    p83[4] = 0x01;
    p83[5] = 0x03;
    p83[7] = 16;
    return p83;
}

TEST_F(SolarisTest, WwnIsLowerCaseHexOfBytes8To23) {
    std::vector<uint8_t> p83 = NaaPage();
    for (int i = 0; i < 16; ++i) {
        p83[8 + i] = static_cast<uint8_t>(0xA0 + i);
    }
    Fake().pages[0x83] = p83;
    ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_WWN), 0);
    EXPECT_STREQ(g_acWwn, "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
}

// A T10 vendor ID designator first, or an NAA one of 8 bytes: no WWN.
TEST_F(SolarisTest, WwnOnlyFromAFirstSixteenByteNaaDesignator) {
    std::vector<uint8_t> t10 = Page(0x83, 24);
    t10[4] = 0x02;
    t10[5] = 0x01;
    t10[7] = 24;
    Put(&t10, 8, "QELMAR  VSA1000 ");
    std::vector<uint8_t> naa8 = NaaPage();
    naa8[7] = 8;
    naa8[8] = 0x6e;
    for (const std::vector<uint8_t>& page : {t10, naa8}) {
        Fake().pages[0x83] = page;
        (void)memset(g_acWwn, 0, sizeof g_acWwn);
        ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_WWN), 0);
        EXPECT_STREQ(g_acWwn, "");
    }
}

TEST_F(SolarisTest, LunIdOnlyWhenThePageHoldsIt) {
    struct Case {
        int pageLength;
        int32_t id;
    } cases[] = {{252, 0x01020304}, {192, 0x01020304}, {191, -1}, {188, -1}, {0, -1}};
    for (const Case& c : cases) {
        Fake().pages[0xC8] = LunPage(c.pageLength);
        ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_LUN), 0);
        EXPECT_EQ(g_lDevLunId, c.id) << "page length " << c.pageLength;
        EXPECT_STREQ(g_acLunName, "lun-a");
    }
    std::vector<uint8_t> zero = LunPage(192);
    zero[192] = zero[193] = zero[194] = zero[195] = 0;
    Fake().pages[0xC8] = zero;
    ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_LUN), 0);
    EXPECT_EQ(g_lDevLunId, 0);
}

TEST_F(SolarisTest, LunNameTakesSixtyCharacters) {
    std::vector<uint8_t> c8 = LunPage(252);
    Put(&c8, 29, std::string(70, 'n'));
    Fake().pages[0xC8] = c8;
    ASSERT_EQ(TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_LUN), 0);
    EXPECT_EQ(std::string(g_acLunName), std::string(60, 'n'));
}

TEST_F(SolarisTest, FailedQueryLeavesTheAttribute) {
    strcpy(g_acSerialNumber, "KEPT");
    Fake().ioctlErrno = EIO;
    (void)Flushed([] { (void)TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_SERIAL); });
    EXPECT_STREQ(g_acSerialNumber, "KEPT");
    g_lDevLunId = 7;
    (void)Flushed([] { (void)TS_ScsiGetDriveInfo(3, TS_DRIVE_INFO_LUN); });
    EXPECT_EQ(g_lDevLunId, 7);
}

// ---- device-id list ----

TEST_F(SolarisTest, DeviceIdsMatchOnlyWithEqualSizes) {
    MakeHead();
    TS_DevId longer = RegisterDevid({1, 2, 3, 4, 5, 6, 7, 8});
    TS_DevId shorter = RegisterDevid({1, 2, 3, 4});
    TS_DevId same = RegisterDevid({1, 2, 3, 4});
    TS_DevId other = RegisterDevid({1, 2, 3, 5});
    EXPECT_EQ(TS_IsDeviceIdExist(nullptr), 0);
    EXPECT_EQ(TS_IsDeviceIdExist(shorter), 0);  // empty list
    Append(longer);
    // A shorter id whose bytes begin the stored one is another id.
    EXPECT_EQ(TS_IsDeviceIdExist(shorter), 0);
    Append(shorter);
    EXPECT_EQ(TS_IsDeviceIdExist(same), 1);
    EXPECT_EQ(TS_IsDeviceIdExist(other), 0);
    EXPECT_EQ(TS_IsDeviceIdExist(longer), 1);
}

// The index of recorded ids answers as the walk does, for ids of mixed
// sizes that share prefixes and repeat.
TEST_F(SolarisTest, DeviceIdIndexAnswersAsTheWalk) {
    MakeHead();
    std::vector<TS_DevId> ids;
    unsigned seed = 3;
    for (int i = 0; i < 200; ++i) {
        seed = seed * 1103515245U + 12345U;
        std::vector<unsigned char> bytes(4 + (seed >> 8) % 3, 0x5A);
        bytes.back() = static_cast<unsigned char>((seed >> 16) % 9);
        ids.push_back(RegisterDevid(bytes));
    }
    for (size_t i = 0; i < ids.size(); i += 3) {
        Append(ids[i]);
    }
    int found = 0;
    for (TS_DevId id : ids) {
        const int walked = TS_IsDeviceIdExist(id);
        TS_IndexDeviceIds(1);
        EXPECT_EQ(TS_IsDeviceIdExist(id), walked);
        TS_IndexDeviceIds(0);
        found += walked;
    }
    EXPECT_GT(found, 67);
    EXPECT_LT(found, 200);
}

// ---- open ----

TEST_F(SolarisTest, OpenIsReadWriteNonBlockingAndZeroIsADescriptor) {
    Fake().openResult = 0;
    EXPECT_EQ(TS_DeviceOpen("/dev/rdsk/c1t0d0s2"), 0);
    Fake().openResult = -1;
    Fake().openErrno = ENOENT;
    EXPECT_EQ(TS_DeviceOpen("/dev/rdsk/c1t0d0s2"), -1);
    EXPECT_EQ(Fake().openFlags, (std::vector<int>{0x82, 0x82}));
}

// Descriptor 0 is queried like any other (standard input is put back after).
TEST_F(SolarisTest, DeviceOnDescriptorZeroIsQueried) {
    const int saved = dup(0);
    ASSERT_GE(saved, 0);
    Fake().openResult = 0;
    const std::string out = Flushed([] { TS_GetLunInfo("/dev/rdsk/c1t0d0s2"); });
    ASSERT_EQ(dup2(saved, 0), 0);
    (void)close(saved);
    EXPECT_EQ(Fake().requests.size(), 4u);
    EXPECT_EQ(out.find("Can't open"), std::string::npos);
    EXPECT_EQ(out.compare(0, 18, "/dev/rdsk/c1t0d0s2"), 0);
}

TEST_F(SolarisTest, DeviceThatDoesNotOpenHasNoRow) {
    Fake().openResult = -1;
    Fake().openErrno = EACCES;
    EXPECT_EQ(Flushed([] { TS_GetLunInfo("/dev/rdsk/c9t9d9s2"); }),
              "Can't open device /dev/rdsk/c9t9d9s2, exit!\n");
    EXPECT_TRUE(Fake().requests.empty());
}

// ---- one device: queries, messages and its row ----

TEST_F(SolarisTest, RowOfAFullyReadDevice) {
    std::vector<uint8_t> std(36, 0);
    Put(&std, 8, "QELMAR  VSA1000 X       0100");
    Fake().pages[-1] = std;
    std::vector<uint8_t> c0 = Page(0xC0, 160);
    Put(&c0, 112, "SN-0001");
    Fake().pages[0xC0] = c0;
    std::vector<uint8_t> p83 = NaaPage();
    p83[8] = 0x6e;
    Fake().pages[0x83] = p83;
    Fake().pages[0xC8] = LunPage(252);
    const std::string out = Flushed([] { TS_GetLunInfo("/dev/rdsk/c1t0d0s2"); });
    const std::string expected =
        "/dev/rdsk/c1t0d0s2" + std::string(34, ' ') + "lun-a" + std::string(30, ' ') + "QELMAR" +
        std::string(6, ' ') + "VSA1000" + std::string(3, ' ') + "SN-0001" + std::string(9, ' ') +
        "16909060" + std::string(4, ' ') + "6e" + std::string(30, '0') + "\n\n";
    EXPECT_EQ(out, expected);
    EXPECT_STREQ(g_acVersion, "0100");
}

TEST_F(SolarisTest, AllQueriesFailingGiveCmdFailedAndUnknownCells) {
    Fake().ioctlErrno = EIO;
    const std::string out = Flushed([] { TS_GetLunInfo("/dev/rdsk/c1t0d0s2"); });
    const std::string err = "errno is:" + std::to_string(EIO) + "," + strerror(EIO) + "\n";
    const std::string row = "/dev/rdsk/c1t0d0s2" + std::string(34, ' ') + "UNKNOWN" +
                            std::string(28, ' ') + "UNKNOWN" + std::string(5, ' ') + "UNKNOWN" +
                            std::string(3, ' ') + "UNKNOWN" + std::string(9, ' ') + "UNKNOWN" +
                            std::string(5, ' ') + "UNKNOWN" + std::string(15, ' ') + "\n\n";
    EXPECT_EQ(out, err + err + err + err + "cmd failed\n" + row);
}

TEST_F(SolarisTest, OneWorkingQueryIsNoCmdFailed) {
    Fake().ioctlErrno = EIO;
    Fake().pageErrno[0x83] = 0;
    Fake().pages[0x83] = NaaPage();
    const std::string out = Flushed([] { TS_GetLunInfo("/dev/rdsk/c1t0d0s2"); });
    EXPECT_EQ(out.find("cmd failed"), std::string::npos);
    EXPECT_STREQ(g_acWwn, std::string(32, '0').c_str());
}

TEST_F(SolarisTest, AttributesAreResetBetweenDevices) {
    std::vector<uint8_t> c0 = Page(0xC0, 160);
    Put(&c0, 112, "SN-0001");
    Fake().pages[0xC0] = c0;
    Fake().pages[0xC8] = LunPage(252);
    (void)Flushed([] { TS_GetLunInfo("/dev/rdsk/c1t0d0s2"); });
    EXPECT_STREQ(g_acSerialNumber, "SN-0001");
    Fake().pageErrno[0xC0] = EIO;
    Fake().pages[0xC8] = LunPage(100);
    (void)Flushed([] { TS_GetLunInfo("/dev/rdsk/c1t0d1s2"); });
    EXPECT_STREQ(g_acSerialNumber, "UNKNOWN");
    EXPECT_EQ(g_lDevLunId, -1);
}

TEST_F(SolarisTest, ProductIsCutAtItsFirstBlank) {
    std::vector<uint8_t> std(36, 0);
    Put(&std, 8, "ABC     ABC DEF         0100");
    Fake().pages[-1] = std;
    (void)Flushed([] { TS_GetLunInfo("/dev/rdsk/c1t0d0s2"); });
    EXPECT_STREQ(g_acProductID, "ABC");
    EXPECT_STREQ(g_acVendorID, "ABC     ");
}

// ---- table ----

TEST_F(SolarisTest, HeadAndTail) {
    const std::string head =
        "Disk Name" + std::string(43, ' ') + "Lun Name" + std::string(27, ' ') + "Vendor ID" +
        std::string(3, ' ') + "Type" + std::string(6, ' ') + "Serial Number" + std::string(3, ' ') +
        "Dev Lun ID" + std::string(3, ' ') + "Device WWN" + std::string(12, ' ') + "\n";
    EXPECT_EQ(Flushed([] { TS_PrintfHead(); }), kRule + head);
    EXPECT_EQ(Flushed([] { TS_PrintfTail(); }), kRule);
}

TEST_F(SolarisTest, LongCellsPushTheRowAndNegativeIdsPrint) {
    strcpy(g_acLunName, std::string(40, 'L').c_str());
    strcpy(g_acVendorID, "V");
    strcpy(g_acProductID, "P");
    strcpy(g_acSerialNumber, "S");
    strcpy(g_acWwn, "W");
    g_lDevLunId = -2;
    const std::string out = Flushed([] { TS_DisplayDeviceInfo("/p"); });
    EXPECT_EQ(out, "/p" + std::string(50, ' ') + std::string(40, 'L') + "V" + std::string(11, ' ') +
                       "P" + std::string(9, ' ') + "S" + std::string(15, ' ') + "-2" +
                       std::string(10, ' ') + "W" + std::string(21, ' ') + "\n\n");
}

// Each cell padded from the bytes as they came, each byte outside
// 0x20..0x7E shown as '?': the LUN name of 9 bytes pads to 35 with 26, the
// path of 12 bytes to 52 with 40.
TEST_F(SolarisTest, DeviceTextPrintsQuestionMarksAndKeepsTheWidths) {
    strcpy(g_acLunName, "\x1b[2J\x1b[H\xc3\xa9");
    strcpy(g_acVendorID, "QEL\x1bMAR");
    strcpy(g_acProductID, "P\x7f");
    strcpy(g_acSerialNumber, "SN\x9b\x31m\xff");
    strcpy(g_acWwn, "6e0f");
    g_lDevLunId = 7;
    const std::string out = Flushed([] { TS_DisplayDeviceInfo("/dev/rdsk/\x07x"); });
    EXPECT_EQ(out, "/dev/rdsk/?x" + std::string(40, ' ') + "?[2J?[H??" + std::string(26, ' ') +
                       "QEL?MAR" + std::string(5, ' ') + "P?" + std::string(8, ' ') + "SN?1m?" +
                       std::string(10, ' ') + "7" + std::string(11, ' ') + "6e0f" +
                       std::string(18, ' ') + "\n\n");
}

// A cell longer than the printer's working piece comes out whole, and a
// path past its 52 columns pushes the row as printf did.
TEST_F(SolarisTest, LongPathIsPrintedWhole) {
    const std::string path = "/dev/rdsk/" + std::string(290, 'c') + "\x1b";
    strcpy(g_acLunName, "L");
    const std::string out = Flushed([&path] { TS_DisplayDeviceInfo(path.c_str()); });
    EXPECT_EQ(out.substr(0, 302), "/dev/rdsk/" + std::string(290, 'c') + "?L");
}

// ---- the walk ----

FakeNode Node(const char* driver, std::vector<uint8_t> devid, std::vector<FakeMinor> minors) {
    FakeNode node;
    node.driver = driver;
    node.devid = std::move(devid);
    node.minors = std::move(minors);
    return node;
}

TEST_F(SolarisTest, WalkTakesTheFirstRawMinorOfEachSsdIdentity) {
    MakeHead();
    Fake().nodes = {Node("sd", {1}, {{"a,raw", true}}),
                    Node("ssd", {2}, {{"a", false}, {"a,raw", true}, {"b,raw", true}}),
                    Node("ssd", {2}, {{"a,raw", true}}), Node("ssd", {}, {{"a,raw", true}}),
                    Node("ssd", {3, 3}, {{"c,raw", true}})};
    const std::string out = Flushed([] { EXPECT_EQ(TS_GetLunList(), 0); });
    EXPECT_EQ(Fake().nmlistCalls, (std::vector<std::string>{"a,raw", "c,raw"}));
    EXPECT_EQ(Fake().openPaths, (std::vector<std::string>{"/dev/rdsk/a,raw", "/dev/rdsk/c,raw"}));
    EXPECT_EQ(out.compare(out.size() - kRule.size(), kRule.size(), kRule), 0);
}

// When the names of a node's first raw minor cannot be had, its identity is
// not recorded, but the node's later raw minors are still passed over.
TEST_F(SolarisTest, WalkUsesOneRawMinorPerNodeEvenWhenNamesFail) {
    MakeHead();
    Fake().nmlistFails = true;
    Fake().nodes = {Node("ssd", {2}, {{"a,raw", true}, {"b,raw", true}}),
                    Node("ssd", {2}, {{"a,raw", true}})};
    (void)Flushed([] { (void)TS_GetLunList(); });
    EXPECT_EQ(Fake().nmlistCalls, (std::vector<std::string>{"a,raw", "a,raw"}));
    EXPECT_EQ(g_pSsdIdHeader->next, nullptr);
}

}  // namespace
