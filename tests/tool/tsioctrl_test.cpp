// tsioctrl without a device: the page decoders on hand-built pages, the byte
// and text helpers, the sense decoder, the capacity text, and the command
// senders against a scripted pass-through installed in the device layer.
#include <errno.h>
#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../scsi/scripted_passthrough.h"
#include "lun_plan.h"
#include "scsi_commands.h"

#include "discovery/tsioctrl.h"
#include "records/tstopology.h"
#include "tslog.h"

using Bytes = std::vector<unsigned char>;

namespace {

constexpr int kNoFd = 1000;  // never opened: only the script answers it

using scripted::CheckCondition;
using scripted::Data;
using scripted::FixedSense;
using scripted::HostStatus;

scripted::Reply IoctlFails(int err) {
    return scripted::Fails(err);
}

class ScriptedSgIo : public scripted::ScriptedTest {
  protected:
    void TearDown() override {
        ScriptedTest::TearDown();
        tsprint_SetLogLevel(99);
    }
};

// Text printed on standard output while fn runs at the given log level.
template <typename Fn>
std::string Printed(int level, Fn fn) {
    tsprint_SetLogLevel(level);
    testing::internal::CaptureStdout();
    fn();
    std::string out = testing::internal::GetCapturedStdout();
    tsprint_SetLogLevel(99);
    return out;
}

// ---------------------------------------------------------------------------
// Page builders. A VPD page of total bytes whose length field covers them all.

Bytes Page(int code, size_t total, size_t buffer = 0) {
    Bytes b(std::max(total, buffer), 0);
    b[1] = static_cast<unsigned char>(code);
    b[2] = static_cast<unsigned char>((total - 4) >> 8);
    b[3] = static_cast<unsigned char>((total - 4) & 0xFF);
    return b;
}

// Makes the usable length L: the page length field says L - 4.
void SetUsable(Bytes* b, int usable) {
    (*b)[2] = static_cast<unsigned char>((usable - 4) >> 8);
    (*b)[3] = static_cast<unsigned char>((usable - 4) & 0xFF);
}

void Put(Bytes* b, size_t at, const std::string& text) {
    memcpy(b->data() + at, text.data(), text.size());
}

DevInfo Fresh(int version = 0) {
    DevInfo dev;
    tstopo_InitDevInfoToDefault(&dev, TS_DEVTYPE_PATH);
    dev.iIfVersion = version;
    return dev;
}

const std::string kTarget = "2100e0fc12345601";
const std::string kHost = "21000024ff4a5b01";

Bytes PageC0(int version, unsigned char portType = 1) {
    Bytes b = Page(0xC0, 700, lun_PlanStep(kLunToolPlan, 1, kLunPageInterface).allocLen);
    b[183] = static_cast<unsigned char>(version >> 8);
    b[185] = static_cast<unsigned char>(version & 0xFF);
    b[191] = portType;
    Put(&b, 192, kTarget);
    Put(&b, 433, kHost);
    return b;
}

int DecodeC0(const Bytes& b, DevInfo* dev) {
    return DecodePageC0(b.data(), static_cast<int>(b.size()), dev);
}

// ---------------------------------------------------------------------------
// Byte and text helpers.

TEST(Helpers, GetUnalignedBe32ReadsBigEndianAtAnyAddress) {
    const unsigned char bytes[] = {0xAA, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(0x12345678u, GetUnalignedBe32(bytes + 1));
}

TEST(Helpers, AsciiToString) {
    const unsigned char bytes[] = {0x60, 0x0A, 0xFF, 0x00};
    char text[16];
    EXPECT_EQ(0, tsioctrl_AsciiToString(bytes, 4, text, 9, 0));
    EXPECT_STREQ("600aff00", text);
    EXPECT_EQ(0, tsioctrl_AsciiToString(bytes, 4, text, 9, 1));
    EXPECT_STREQ("600aff", text);
    EXPECT_EQ(0, tsioctrl_AsciiToString(bytes, 4, text, 9, 2));  // only 1 trims
    EXPECT_STREQ("600aff00", text);
    EXPECT_EQ(-1, tsioctrl_AsciiToString(bytes, 4, text, 8, 0));
    EXPECT_EQ(0, tsioctrl_AsciiToString(bytes, 4, text, 7, 1));  // trimmed first, then fits

    const unsigned char zeros[] = {0, 0};
    memcpy(text, "xyz", 4);
    EXPECT_EQ(0, tsioctrl_AsciiToString(zeros, 2, text, 16, 1));
    EXPECT_STREQ("", text);
    EXPECT_EQ(-1, tsioctrl_AsciiToString(bytes, 0, text, 16, 0));
    EXPECT_EQ(-1, tsioctrl_AsciiToString(nullptr, 4, text, 16, 0));
    EXPECT_EQ(-1, tsioctrl_AsciiToString(bytes, 4, nullptr, 16, 0));
}

TEST(Helpers, TrimHeadTailBlankSpace) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"  ABC DE  ", "ABC DE"}, {"", ""}, {"    ", ""}, {"\tA\t ", "\tA\t"}, {"X", "X"},
    };
    for (const auto& c : cases) {
        char out[64];
        memset(out, 'z', sizeof out);
        TrimHeadTailBlankSpace(c.in, out, sizeof out);
        EXPECT_STREQ(c.out, out) << '"' << c.in << '"';
    }
}

// ---------------------------------------------------------------------------
// Sense data and the TEST UNIT READY verdict.

struct SenseCase {
    const char* what;
    Bytes sense;
    int key, asc, ascq;  // -1: left as set
};

TEST(Sense, AnalyzeRecognisesFixedAndDescriptorFormats) {
    const SenseCase cases[] = {
        {"fixed, 18 bytes", FixedSense(6, 0x29, 18, 1), 6, 0x29, 1},
        {"fixed, 14 bytes, 0xF1 with the valid bit", FixedSense(0x25, 0x24, 14, 0, 0xF1), 5, 0x24,
         0},
        {"fixed, 13 bytes: too short", FixedSense(6, 0x29, 13), -1, -1, -1},
        {"descriptor, 4 bytes", {0x72, 0x06, 0x29, 0x02}, 6, 0x29, 2},
        {"descriptor 0x73, key in the low nibble", {0x73, 0xF2, 0x04, 0x01}, 2, 4, 1},
        {"descriptor, 3 bytes", {0x72, 0x06, 0x29}, -1, -1, -1},
        {"unknown format", FixedSense(6, 0x29, 18, 0, 0x7F), -1, -1, -1},
    };
    for (const SenseCase& c : cases) {
        Bytes sense = c.sense;
        sg_io_hdr_t hdr{};
        hdr.sbp = sense.data();
        hdr.sb_len_wr = static_cast<unsigned char>(sense.size());
        int key = -1, asc = -1, ascq = -1;
        Analyze_sg_io_hdr(&hdr, &key, &asc, &ascq);
        EXPECT_EQ(c.key, key) << c.what;
        EXPECT_EQ(c.asc, asc) << c.what;
        EXPECT_EQ(c.ascq, ascq) << c.what;
    }
}

TEST(Sense, TurVerdict) {
    Bytes unitAttention = FixedSense(6, 0x29);
    Bytes notReady = FixedSense(2, 0x04);
    const struct {
        const char* what;
        unsigned info;
        unsigned short host;
        const Bytes* sense;
        ScsiTurVerdict verdict;
    } cases[] = {
        {"info OK, whatever else", 0, 7, &notReady, SCSI_TUR_READY},
        {"UNIT ATTENTION", 1, 0, &unitAttention, SCSI_TUR_RETRY},
        {"host 1 with UNIT ATTENTION", 1, 1, &unitAttention, SCSI_TUR_RETRY},
        {"host 1 with NOT READY", 1, 1, &notReady, SCSI_TUR_FAILED},
        {"host 5 lets the sense decide", 1, 5, &notReady, SCSI_TUR_FAILED},
        {"host 15 lets the sense decide", 1, 15, &notReady, SCSI_TUR_FAILED},
        {"host 2 (bus busy) is retried", 1, 2, &notReady, SCSI_TUR_RETRY},
        // A time-out would only be waited out again.
        {"host 3 (time-out) ends the budget", 1, 3, &unitAttention, SCSI_TUR_FAILED},
        {"host 14 is retried", 1, 14, &notReady, SCSI_TUR_RETRY},
        {"host above 15 is retried", 1, 16, &notReady, SCSI_TUR_RETRY},
        {"no sense at all", 1, 0, nullptr, SCSI_TUR_FAILED},
    };
    for (const auto& c : cases) {
        Bytes sense = c.sense != nullptr ? *c.sense : Bytes();
        ScsiRequest done{};
        done.checkReported = c.info != 0;
        done.hostStatus = c.host;
        done.sense = sense.data();
        done.senseWritten = static_cast<unsigned char>(sense.size());
        EXPECT_EQ(c.verdict, scsi_JudgeTur(done)) << c.what;
    }
    // Older kernels say DRIVER_TIMEOUT in the driver byte (suggestions above).
    ScsiRequest driverTimeout{};
    driverTimeout.checkReported = true;
    driverTimeout.hostStatus = 7;
    driverTimeout.driverStatus = 0x26;
    EXPECT_EQ(SCSI_TUR_FAILED, scsi_JudgeTur(driverTimeout));
}

// ---------------------------------------------------------------------------
// Command senders against the script.

void ExpectCommonHeader(const ScsiRequest& request, unsigned cmdLen, unsigned dxferLen) {
    EXPECT_EQ(SCSI_DIR_FROM_DEVICE, request.direction);
    EXPECT_EQ(cmdLen, request.cdbLen);
    EXPECT_EQ(32u, request.senseLen);
    EXPECT_NE(nullptr, request.sense);
    EXPECT_EQ(dxferLen, request.dataLen);
    EXPECT_EQ(10u, request.timeoutMs);
}

TEST_F(ScriptedSgIo, CommandBlocksAndHeaders) {
    unsigned char buffer[1024];
    uint64_t bytes = 0;
    Script({Data({}), Data({}), Data({}), Data({}), Data({0, 0, 0, 0, 0, 0, 2, 0}),
            Data({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0})});
    EXPECT_EQ(0, tsioctrl_TUR(kNoFd));
    EXPECT_EQ(0, tsioctrl_Inquiry(kNoFd, 1, 0xC0, buffer, 1024));
    EXPECT_EQ(0, tsioctrl_Inquiry(kNoFd, 1, 0xC9, buffer, 512));
    EXPECT_EQ(0, tsioctrl_Inquiry(kNoFd, 0, 0x00, buffer, 64));
    EXPECT_EQ(0, tsioctrl_ReadCapacity(kNoFd, &bytes));
    EXPECT_EQ(0, tsioctrl_ReadLongCapacity(kNoFd, &bytes));
    ASSERT_EQ(6u, Requests().size());

    const Bytes cdbs[] = {
        {0, 0, 0, 0, 0, 0},
        {0x12, 1, 0xC0, 0x04, 0x00, 0},
        {0x12, 1, 0xC9, 0x02, 0x00, 0},
        {0x12, 0, 0x00, 0x00, 0x40, 0},
        {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0},
    };
    const unsigned dxfer[] = {0, 1024, 512, 64, 8, 32};
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cdbs[i], Requests()[i].cdb);
        ExpectCommonHeader(Requests()[i].request, static_cast<unsigned>(cdbs[i].size()), dxfer[i]);
    }
}

TEST_F(ScriptedSgIo, InquiryZeroFillsAndChecksEveryStatus) {
    unsigned char buffer[64];
    memset(buffer, 0xEE, sizeof buffer);
    Script({Data({1, 2, 3})});
    EXPECT_EQ(0, tsioctrl_Inquiry(kNoFd, 1, 0x80, buffer, 64));
    EXPECT_EQ(3, buffer[2]);
    EXPECT_EQ(Bytes(61, 0), Bytes(buffer + 3, buffer + 64));

    Script({CheckCondition(FixedSense(5, 0x24)), HostStatus(7), IoctlFails(EIO)});
    std::string out = Printed(3, [&] {
        EXPECT_EQ(-1, tsioctrl_Inquiry(kNoFd, 1, 0xC8, buffer, 64));
        EXPECT_EQ(-1, tsioctrl_Inquiry(kNoFd, 0, 0x00, buffer, 64));
        EXPECT_EQ(-1, tsioctrl_Inquiry(kNoFd, 1, 0x83, buffer, 64));
    });
    EXPECT_EQ(
        "Get inqury page[opcode=0xc8] failed with error[status:2 host_status:0 driver_status:8].\n"
        "Get inqury page[opcode=0x0] failed with error[status:0 host_status:7 driver_status:0].\n"
        "Execute ioctl(SG_IO) failed: Input/output error (errno=5)\n",
        out);
    EXPECT_EQ(4u, Requests().size());  // no retry
}

TEST_F(ScriptedSgIo, TurBudgetIsSharedByBothRetryReasons) {
    Script({HostStatus(7), CheckCondition(FixedSense(6, 0x29)), HostStatus(2),
            CheckCondition(FixedSense(6, 0x29)), HostStatus(0xFFFF), Data({})});
    EXPECT_EQ(-1, tsioctrl_TUR(kNoFd));
    EXPECT_EQ(5u, Requests().size());
}

TEST_F(ScriptedSgIo, TurStopsAtNoConnectWithNotReady) {
    scripted::Reply noConnect = HostStatus(1);
    noConnect.sense = FixedSense(2, 0x04);
    Script({noConnect, Data({})});
    EXPECT_EQ(-1, tsioctrl_TUR(kNoFd));
    EXPECT_EQ(1u, Requests().size());
}

TEST_F(ScriptedSgIo, ReadCapacityFallsBackToSixteen) {
    uint64_t bytes = 0;
    Script({Data({0x00, 0x3F, 0xFF, 0xFF, 0, 0, 0x02, 0x00})});
    EXPECT_EQ(0, tsioctrl_ReadCapacity(kNoFd, &bytes));
    EXPECT_EQ(2147483648ULL, bytes);
    EXPECT_EQ(std::vector<int>{0x25}, Opcodes());

    const Bytes long4T = {0, 0, 0, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x02, 0x00};
    scripted::g_requests.clear();
    Script({Data({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x02, 0x00}), Data(long4T)});
    std::string quiet = Printed(0, [&] { EXPECT_EQ(0, tsioctrl_ReadCapacity(kNoFd, &bytes)); });
    EXPECT_EQ(4398046511104ULL, bytes);
    EXPECT_EQ((std::vector<int>{0x25, 0x9E}), Opcodes());
    EXPECT_EQ("", quiet);  // all ones is no failure

    scripted::g_requests.clear();
    bytes = 77;
    Script({CheckCondition(FixedSense(5, 0x20)), HostStatus(1)});
    std::string out = Printed(3, [&] { EXPECT_EQ(-1, tsioctrl_ReadCapacity(kNoFd, &bytes)); });
    EXPECT_EQ(77u, bytes);
    EXPECT_EQ(
        "Get read short capacity failed with error[status:2 host_status:0 driver_status:8].\n"
        "Get read long capacity failed with error[status:0 host_status:1 driver_status:0].\n",
        out);
}

// ---------------------------------------------------------------------------
// Identification on a node that opens (/dev/null), answered by the script.

Bytes StandardData(const std::string& vendor, const std::string& product) {
    Bytes b(96, ' ');
    b[0] = 0;
    Put(&b, 8, vendor);
    Put(&b, 16, product);
    return b;
}

DevInfo NullDevice() {
    DevInfo dev = Fresh();
    snprintf(dev.acDevPath.data(), dev.acDevPath.size(), "/dev/null");
    return dev;
}

TEST_F(ScriptedSgIo, IdentificationModes) {
    scripted::Reply stdFails = CheckCondition(FixedSense(5, 0x24));

    // Tolerant: a failed standard INQUIRY goes on to page 0xC0 and capacity.
    DevInfo tolerant = NullDevice();
    Script({Data({}), stdFails, Data(PageC0(0)), Data({0, 0, 0x07, 0xFF, 0, 0, 0x02, 0})});
    EXPECT_EQ(TS_OK, tsioctrl_GetDevInfomationByInquiry(&tolerant, TS_INQUIRY_TOLERANT));
    EXPECT_EQ((std::vector<int>{0x00, 0x12, 0x12, 0x25}), Opcodes());
    EXPECT_STREQ("--/--", tolerant.acVidPid.data());
    EXPECT_STREQ("1.0M", tolerant.acCapacity.data());
    EXPECT_STREQ("active", tolerant.acInqStatus.data());

    // Strict: the same device ends after the standard INQUIRY.
    scripted::g_requests.clear();
    DevInfo strict = NullDevice();
    Script({HostStatus(1), stdFails});
    std::string out = Printed(3, [&] {
        EXPECT_EQ(TS_ERR_INQUIRY, tsioctrl_GetDevInfomationByInquiry(&strict, TS_INQUIRY_STRICT));
    });
    EXPECT_EQ((std::vector<int>{0x00, 0x12}), Opcodes());
    EXPECT_EQ(
        "Device[/dev/null] send TUR failed.\n"
        "Get inqury page[opcode=0x0] failed with error[status:2 host_status:0 driver_status:8].\n"
        "Device[/dev/null] inquire standard page fail.\n",
        out);
    EXPECT_STREQ("--", strict.acStatus.data());
    EXPECT_STREQ("--", strict.acInqStatus.data());
}

TEST_F(ScriptedSgIo, OtherVendorIsRejected) {
    DevInfo dev = NullDevice();
    Script({Data({}), Data(StandardData("ATA", "VIRTUAL-DISK"))});
    std::string quiet = Printed(99, [&] {
        EXPECT_EQ(TS_ERR_NOT_VENDOR, tsioctrl_GetDevInfomationByInquiry(&dev, TS_INQUIRY_STRICT));
    });
    EXPECT_EQ("", quiet);
    scripted::g_requests.clear();
    Script({Data({}), Data(StandardData("ATA", "VIRTUAL-DISK"))});
    std::string out = Printed(3, [&] { tsioctrl_GetDevInfomationByInquiry(&dev, 0); });
    EXPECT_EQ("Device[/dev/null] is not qelmar device.\n", out);
    EXPECT_EQ(2u, Requests().size());
    EXPECT_STREQ("--/--", dev.acVidPid.data());
}

TEST(Identification, NullRecordAndUnopenableNode) {
    EXPECT_EQ(TS_ERR_FAILED, tsioctrl_GetDevInfomationByInquiry(nullptr, 0));
    DevInfo dev = Fresh();
    snprintf(dev.acDevPath.data(), dev.acDevPath.size(), "/nonexistent/sdq");
    const DevInfo before = dev;
    std::string out =
        Printed(1, [&] { EXPECT_EQ(TS_ERR_OPEN, tsioctrl_GetDevInfomationByInquiry(&dev, 1)); });
    EXPECT_EQ("Open device[/nonexistent/sdq] failed.\n", out);
    EXPECT_EQ("", Printed(2, [&] { tsioctrl_GetDevInfomationByInquiry(&dev, 0); }));
    EXPECT_EQ(0, memcmp(&dev, &before, sizeof dev));
}

TEST(Identification, InquiryStateKeepsAValue) {
    const struct {
        const char* before;
        int result;
        const char* after;
    } cases[] = {
        {"--", 0, "active"}, {"--", -1, "--"},         {"", -1, "--"},
        {"--/--", -1, "--"}, {"active", -1, "active"}, {"active", 0, "active"},
    };
    for (const auto& c : cases) {
        DevInfo dev = Fresh();
        snprintf(dev.acInqStatus.data(), dev.acInqStatus.size(), "%s", c.before);
        UpdateDevinfoInquiryState(&dev, c.result);
        EXPECT_STREQ(c.after, dev.acInqStatus.data()) << c.before << " " << c.result;
    }
}

// ---------------------------------------------------------------------------
// Capacity text: binary units; the digit after the point is the truncated
// tenth of the next smaller unit, dropped when it is 0 and the integer part
// has two digits or more.

TEST(Capacity, Text) {
    constexpr uint64_t KiB = 1ULL << 10, MiB = 1ULL << 20, GiB = 1ULL << 30, TiB = 1ULL << 40,
                       PiB = 1ULL << 50;
    const struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {
        {10 * GiB, "10G"},
        {5 * GiB, "5.0G"},
        {GiB + GiB / 2, "1.5G"},
        {GiB + 50 * MiB, "1.0G"},
        {2 * TiB + 100 * GiB, "2.0T"},
        {10 * GiB + 50 * MiB, "10G"},
        {1023 * GiB, "1023G"},
        {512, "512B"},
        {0, "--"},
        {5, "5.0B"},
        {KiB, "1.0K"},
        {GiB + 1023 * MiB, "1.9G"},
        {10 * GiB + 512 * MiB, "10.5G"},
        {9 * GiB + 921 * MiB, "9.8G"},
        {1ULL << 60, "0.0B"},
        {~0ULL, "1023.9P"},
        {3 * PiB + 103 * TiB, "3.1P"},
    };
    for (const auto& c : cases) {
        TsText<16> text;
        text.fill('x');
        FormatCapacityText(c.bytes, &text);
        EXPECT_STREQ(c.text, text.data()) << c.bytes;
    }
}

// ---------------------------------------------------------------------------
// Standard data.

TEST(PageStd, VendorDecidesAndBothTextsAreTrimmed) {
    const struct {
        const char* vendor;
        const char* product;
        int result;
        const char* vidPid;
    } cases[] = {
        {"QELMAR  ", "ABC123          ", 0, "QELMAR/ABC123"},
        {"ZUNTA   ", "  ZX 200        ", 0, "ZUNTA/ZX 200"},
        {"  QELMAR", "VSA1000         ", 0, "QELMAR/VSA1000"},
        {"QELMAR\0\0", "X               ", 0, "QELMAR/X"},
        {"qelmar  ", "ABC123          ", -2, "--/--"},
        {"QELMARX ", "ABC123          ", -2, "--/--"},
        {"ATA     ", "VIRTUAL-DISK    ", -2, "--/--"},
    };
    for (const auto& c : cases) {
        Bytes page(64, 0);
        memcpy(page.data() + 8, c.vendor, 8);
        memcpy(page.data() + 16, c.product, 16);
        DevInfo dev = Fresh();
        EXPECT_EQ(c.result, DecodePageSTD(page.data(), 64, &dev)) << c.vendor;
        EXPECT_STREQ(c.vidPid, dev.acVidPid.data()) << c.vendor;
    }
}

// ---------------------------------------------------------------------------
// Page 0xC0.

TEST(PageC0, InterfaceVersionBytes) {
    const struct {
        unsigned char b183, b184, b185, b186;
        int version;
    } cases[] = {
        {0x00, 0x02, 0x00, 0x03, 515}, {0x02, 0x00, 0x03, 0x00, 515},   {0x00, 0x02, 0x00, 0x00, 0},
        {0x02, 0x01, 0x04, 0x00, 516}, {0x01, 0xFF, 0x02, 0xFF, 65535},
    };
    for (const auto& c : cases) {
        Bytes b = PageC0(0);
        b[183] = c.b183;
        b[184] = c.b184;
        b[185] = c.b185;
        b[186] = c.b186;
        DevInfo dev = Fresh();
        DecodeC0(b, &dev);
        EXPECT_EQ(c.version, dev.iIfVersion);
    }
}

TEST(PageC0, PortTypeAndPortsFromVersion512) {
    const struct {
        int version;
        unsigned char code;
        const char* portType;
        bool ports;
    } cases[] = {
        {512, 1, "FC", true}, {516, 3, "iSCSI", true}, {516, 2, "--", true},
        {516, 4, "--", true}, {511, 1, "kept", false}, {0, 3, "kept", false},
    };
    for (const auto& c : cases) {
        DevInfo dev = Fresh();
        snprintf(dev.acPortType.data(), dev.acPortType.size(), "kept");
        EXPECT_EQ(0, DecodeC0(PageC0(c.version, c.code), &dev));
        EXPECT_STREQ(c.portType, dev.acPortType.data()) << c.version << "/" << int(c.code);
        EXPECT_STREQ(c.ports ? kTarget.c_str() : "--", dev.acTargetWwn.data());
        EXPECT_STREQ(c.ports ? kHost.c_str() : "--", dev.acHostWwn.data());
    }
}

TEST(PageC0, PortIdentifiersOf241Bytes) {
    Bytes b = PageC0(516);
    memset(b.data() + 192, 'T', 241);
    memset(b.data() + 433, 'H', 241);
    DevInfo dev = Fresh();
    EXPECT_EQ(0, DecodeC0(b, &dev));
    EXPECT_EQ(std::string(241, 'T'), dev.acTargetWwn.data());
    EXPECT_EQ(std::string(241, 'H'), dev.acHostWwn.data());
}

TEST(PageC0, ShieldAndDualArray) {
    const struct {
        unsigned char byte0, byte11, byte160;
        int shieldBefore, dualBefore, shield, dual;
    } cases[] = {
        {0x00, 0x40, 0x00, 0, 0, 1, 0}, {0x00, 0xBF, 0x00, 1, 0, 0, 0},
        {0x20, 0x00, 0x00, 0, 0, 1, 0}, {0x00, 0x00, 0x80, 0, 0, 0, 1},
        {0x00, 0x00, 0x40, 0, 0, 0, 1}, {0x00, 0x00, 0x3F, 0, 1, 0, 1},
    };
    for (const auto& c : cases) {
        Bytes b = PageC0(516);
        b[0] = c.byte0;
        b[11] = c.byte11;
        b[160] = c.byte160;
        DevInfo dev = Fresh();
        dev.iShieldTpg = c.shieldBefore;
        dev.iDualArray = c.dualBefore;
        DecodeC0(b, &dev);
        EXPECT_EQ(c.shield, dev.iShieldTpg) << int(c.byte0) << " " << int(c.byte11);
        EXPECT_EQ(c.dual, dev.iDualArray) << int(c.byte160);
    }
}

TEST(PageC0, ShortPageStopsAtTheFirstMissingStep) {
    // Each row: the usable length, and how many of the six steps (shield,
    // dual array, version, port type, target port, initiator port) it covers.
    const struct {
        int usable;
        int steps;
    } cases[] = {{11, 0},  {12, 1},  {160, 1}, {161, 2}, {186, 2}, {187, 3},
                 {191, 3}, {192, 4}, {432, 4}, {433, 5}, {673, 5}, {674, 6}};
    for (const auto& c : cases) {
        Bytes b = PageC0(516);
        b[11] = 0x40;
        b[160] = 0x80;
        SetUsable(&b, c.usable);
        DevInfo dev = Fresh();
        dev.iShieldTpg = 7;
        EXPECT_EQ(c.steps == 6 ? 0 : -1, DecodeC0(b, &dev)) << c.usable;
        EXPECT_EQ(c.steps >= 1 ? 1 : 7, dev.iShieldTpg) << c.usable;
        EXPECT_EQ(c.steps >= 2 ? 1 : 0, dev.iDualArray) << c.usable;
        EXPECT_EQ(c.steps >= 3 ? 516 : 0, dev.iIfVersion) << c.usable;
        EXPECT_STREQ(c.steps >= 4 ? "FC" : "--", dev.acPortType.data()) << c.usable;
        EXPECT_STREQ(c.steps >= 5 ? kTarget.c_str() : "--", dev.acTargetWwn.data()) << c.usable;
        EXPECT_STREQ(c.steps >= 6 ? kHost.c_str() : "--", dev.acHostWwn.data()) << c.usable;
    }
    // The allocation length caps the usable length too.
    Bytes b = PageC0(516);
    DevInfo dev = Fresh();
    EXPECT_EQ(-1, DecodePageC0(b.data(), 673, &dev));
    EXPECT_STREQ("--", dev.acHostWwn.data());
}

// ---------------------------------------------------------------------------
// Pages 0x80, 0x83 and 0xC4.

TEST(Page80, SerialNumberOf20Bytes) {
    Bytes b = Page(0x80, 28, 64);
    Put(&b, 4, "2102351234ABCDEF0001XYZ");
    b[0] = 0x20;  // the qualifier does not matter here
    DevInfo dev = Fresh();
    EXPECT_EQ(0, DecodePage80(b.data(), 64, &dev));
    EXPECT_STREQ("2102351234ABCDEF0001", dev.acArraySn.data());

    SetUsable(&b, 23);
    dev = Fresh();
    EXPECT_EQ(-1, DecodePage80(b.data(), 64, &dev));
    EXPECT_STREQ("--", dev.acArraySn.data());
}

TEST(Page83, SixteenByteIdentifierAsHex) {
    Bytes b = Page(0x83, 24, 64);
    b[4] = 0x01;  // binary
    b[5] = 0x03;  // logical unit, NAA
    b[7] = 16;
    const unsigned char naa[16] = {0x6E, 0x0F, 0xC1, 0x23, 0x45, 0x60, 0,    0,
                                   0,    0,    0,    0,    0,    0,    0x10, 0};
    memcpy(b.data() + 8, naa, 16);
    DevInfo dev = Fresh();
    EXPECT_EQ(0, DecodePage83(b.data(), 64, &dev));
    EXPECT_STREQ(
        "6e0fc1234560"
        "0000000000000000"
        "1000",
        dev.acLunWwn.data());

    Bytes shortPage = b;
    SetUsable(&shortPage, 20);
    Bytes unqualified = b;
    unqualified[0] = 0x20;
    // A first designator that is not a 16-byte NAA one is no WWN: a T10
    // vendor ID designator (type 1) or an 8-byte NAA one.
    Bytes t10 = Page(0x83, 52, 64);
    t10[4] = 0x02;
    t10[5] = 0x01;
    t10[7] = 24;
    memcpy(t10.data() + 8, "QELMAR  VSA1000         ", 24);
    t10[32 + 1] = 0x03;
    t10[32 + 3] = 16;
    memcpy(t10.data() + 36, naa, 16);
    Bytes naa8 = b;
    naa8[7] = 8;
    for (const Bytes* page : {&shortPage, &unqualified, &t10, &naa8}) {
        dev = Fresh();
        EXPECT_EQ(-1, DecodePage83(page->data(), 64, &dev));
        EXPECT_STREQ("--", dev.acLunWwn.data());
    }
}

TEST(PageC4, ControllerCodes) {
    const struct {
        unsigned char code;
        int ctrl;
    } cases[] = {{0x00, 'A'}, {0x31, 'A'}, {0x81, 'A'},        {0x01, 'B'},
                 {0x32, 'B'}, {0x82, 'B'}, {0x30, 'A' + 0x30}, {0x80, 'A' + 0x4F}};
    for (const auto& c : cases) {
        Bytes b = Page(0xC4, 32, 64);
        b[0] = 0x60;  // not examined
        b[29] = c.code;
        DevInfo dev = Fresh(513);
        EXPECT_EQ(0, DecodePageC4(b.data(), 64, &dev));
        EXPECT_EQ(std::string(1, static_cast<char>(c.ctrl)), dev.acCtrl.data()) << int(c.code);
    }
    Bytes b = Page(0xC4, 29, 64);
    b[29] = 0x01;  // returned, but beyond the page length
    DevInfo dev = Fresh(512);
    EXPECT_EQ(-1, DecodePageC4(b.data(), 64, &dev));
    EXPECT_STREQ("--", dev.acCtrl.data());
}

// ---------------------------------------------------------------------------
// Page 0xC8.

// The array name in 2-byte characters from byte 107: (0, character) pairs.
void PutWideName(Bytes* b, const std::string& name) {
    for (size_t i = 0; i < name.size(); ++i) {
        (*b)[107 + 2 * i] = 0;
        (*b)[108 + 2 * i] = static_cast<unsigned char>(name[i]);
    }
}

Bytes PageC8(const std::string& arrayName) {
    Bytes b = Page(0xC8, 256, 256);
    Put(&b, 29, "db01");
    b[87] = 0xFF;
    b[88] = 0xFE;
    for (int i = 0; i < 16; ++i) {
        b[90 + i] = static_cast<unsigned char>(i);
    }
    PutWideName(&b, arrayName);
    b[194] = 0x12;
    b[195] = 0x34;
    return b;
}

TEST(PageC8, FieldsByVersion) {
    const std::string name40 = "Array-Name-Of-Exactly-Forty-Characters-X";
    Bytes b = PageC8(name40 + "YZ");
    for (int version : {512, 513, 514, 515, 516, 768}) {
        DevInfo dev = Fresh(version);
        EXPECT_EQ(0, DecodePageC8(b.data(), 256, &dev)) << version;
        EXPECT_STREQ("db01", dev.acLunName.data());
        EXPECT_STREQ("65534", dev.acArrayLunId.data());
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(i, dev.acRawLunId[i]);
        }
        // Older arrays fill the name to the end of the page; from 514 on it
        // is 40 characters.
        EXPECT_EQ(version <= 513 ? name40 + "YZ" : name40, dev.acArrayName.data()) << version;
        EXPECT_STREQ(version >= 516 ? "4660" : "--", dev.acDevLunId.data()) << version;
    }
}

TEST(PageC8, QualifierKeepsNamesAndIdsButNotTheRawId) {
    Bytes b = PageC8("Array-01");
    b[0] = 0x20;
    DevInfo dev = Fresh(516);
    EXPECT_EQ(0, DecodePageC8(b.data(), 256, &dev));
    EXPECT_STREQ("--", dev.acLunName.data());
    EXPECT_STREQ("--", dev.acArrayLunId.data());
    EXPECT_STREQ("--", dev.acDevLunId.data());
    EXPECT_EQ(15, dev.acRawLunId[15]);
    EXPECT_STREQ("Array-01", dev.acArrayName.data());
}

TEST(PageC8, OlderArraysReadTheNameUpToTheUsableLength) {
    Bytes b = PageC8("XYZ");
    SetUsable(&b, 108);
    b[108] = 0;  // not returned: the zero fill
    DevInfo dev = Fresh(512);
    EXPECT_EQ(0, DecodePageC8(b.data(), 256, &dev));
    EXPECT_STREQ("", dev.acArrayName.data());

    b = PageC8("XY");
    SetUsable(&b, 112);
    dev = Fresh(512);
    EXPECT_EQ(0, DecodePageC8(b.data(), 256, &dev));
    EXPECT_STREQ("XY", dev.acArrayName.data());  // bytes 108, 110 and the zero byte 112

    // The bound is i <= L - 106: L = 109 still reads byte 110.
    b = PageC8("XY");
    SetUsable(&b, 109);
    dev = Fresh(513);
    EXPECT_EQ(0, DecodePageC8(b.data(), 256, &dev));
    EXPECT_STREQ("XY", dev.acArrayName.data());

    b = PageC8("XY");
    SetUsable(&b, 107);
    dev = Fresh(513);
    EXPECT_EQ(-1, DecodePageC8(b.data(), 256, &dev));
    EXPECT_STREQ("--", dev.acArrayName.data());
    EXPECT_EQ(15, dev.acRawLunId[15]);
}

TEST(PageC8, ShortPageStopsAtTheFirstMissingStep) {
    // Steps of version 516: LUN name, array LUN ID, raw ID, array name, LUN ID.
    const struct {
        int usable;
        int steps;
    } cases[] = {{68, 0},  {69, 1},  {88, 1},  {89, 2},  {105, 2},
                 {106, 3}, {186, 3}, {187, 4}, {195, 4}, {196, 5}};
    for (const auto& c : cases) {
        Bytes b = PageC8("Array-01");
        SetUsable(&b, c.usable);
        DevInfo dev = Fresh(516);
        EXPECT_EQ(c.steps == 5 ? 0 : -1, DecodePageC8(b.data(), 256, &dev)) << c.usable;
        EXPECT_STREQ(c.steps >= 1 ? "db01" : "--", dev.acLunName.data()) << c.usable;
        EXPECT_STREQ(c.steps >= 2 ? "65534" : "--", dev.acArrayLunId.data()) << c.usable;
        EXPECT_EQ(c.steps >= 3 ? 15 : '\0', dev.acRawLunId[15]) << c.usable;
        EXPECT_STREQ(c.steps >= 4 ? "Array-01" : "--", dev.acArrayName.data()) << c.usable;
        EXPECT_STREQ(c.steps >= 5 ? "4660" : "--", dev.acDevLunId.data()) << c.usable;
    }
}

// ---------------------------------------------------------------------------
// Page 0xC9 and the older own/work report.

TEST(OwnWork, AnalyzeWorkOwnTpgid) {
    const struct {
        unsigned char w, o;
        const char* ctrl;
        const char* work;
        const char* own;
    } cases[] = {
        {1, 2, "B", "B", "A"},
        {0, 1, "B", "A", "B"},
        {1, 1, "A", "A", "A"},
        {0, 2, "A", "B", "B"},
        {0, 2, "--", "B", "B"},
        {2, 0, "A", "--", "--"},
        {0x81, 0x82, "A", "A", "B"},
        {0x81, 0x82, "B", "A", "B"},
        {0x31, 0x32, "--", "A", "B"},
        {0x81, 0x02, "A", "A", "\xC2"},
        {0x31, 0x00, "A", "A", "\x10"},
        {0x30, 0x30, "A", "--", "--"},
        {0x80, 0x80, "A", "\x90", "\x90"},
    };
    for (const auto& c : cases) {
        unsigned char page[16] = {};
        page[8] = c.w;
        page[9] = c.o;
        char work[32];
        char own[32];
        AnalyzeWorkOwnTpgid(page, c.ctrl, work, own, 32);
        EXPECT_STREQ(c.work, work) << int(c.w) << "/" << int(c.o) << " " << c.ctrl;
        EXPECT_STREQ(c.own, own) << int(c.w) << "/" << int(c.o) << " " << c.ctrl;
    }
}

Bytes PageC9() {
    Bytes b = Page(0xC9, 264, 512);
    b[8] = 1;  // working: this controller
    b[9] = 2;  // owning: the other one
    b[12] = 0x32;
    b[13] = 0x31;
    b[14] = 0x32;
    Put(&b, 69, "CTE0.B");
    Put(&b, 77, "CTE0.B");
    Put(&b, 85, "CTE0.A");
    memset(b.data() + 134, 'p', 127);
    return b;
}

TEST(PageC9, ControllerAndOwnWorkByVersion) {
    const struct {
        int version;
        const char* ctrlBefore;
        int result;
        const char* ctrl;
        const char* ownWork;
        bool portId;
    } cases[] = {
        {512, "B", -1, "B", "A/B", false},
        {513, "A", -1, "A", "B/A", false},
        {514, "--", -1, "B", "A/B", false},
        {515, "--", -1, "CTE0.B", "CTE0.A/CTE0.B", false},
        {516, "--", 0, "CTE0.B", "CTE0.A/CTE0.B", true},
        {768, "--", 0, "CTE0.B", "CTE0.A/CTE0.B", true},
    };
    for (const auto& c : cases) {
        Bytes b = PageC9();
        DevInfo dev = Fresh(c.version);
        snprintf(dev.acCtrl.data(), dev.acCtrl.size(), "%s", c.ctrlBefore);
        EXPECT_EQ(c.result, DecodePageC9(b.data(), 512, &dev)) << c.version;
        EXPECT_STREQ(c.ctrl, dev.acCtrl.data()) << c.version;
        EXPECT_STREQ(c.ownWork, dev.acOwnWork.data()) << c.version;
        EXPECT_EQ(c.portId ? std::string(127, 'p') : std::string("--"), dev.acPortId.data());
        EXPECT_EQ(0, dev.iShieldTpg);
    }
}

TEST(PageC9, QualifierLeavesThePairAndShields) {
    for (int version : {513, 514, 516}) {
        Bytes b = PageC9();
        b[0] = 0x20;
        DevInfo dev = Fresh(version);
        DecodePageC9(b.data(), 512, &dev);
        EXPECT_STREQ("--/--", dev.acOwnWork.data()) << version;
        EXPECT_EQ(1, dev.iShieldTpg) << version;
    }
}

TEST(PageC9, ShortPageStopsAtTheFirstMissingStep) {
    // Version 516 steps: controller, own/work pair, port id.
    const struct {
        int usable;
        int steps;
    } cases[] = {{76, 0}, {77, 1}, {92, 1}, {93, 2}, {261, 2}, {262, 3}};
    for (const auto& c : cases) {
        Bytes b = PageC9();
        SetUsable(&b, c.usable);
        DevInfo dev = Fresh(516);
        EXPECT_EQ(c.steps == 3 ? 0 : -1, DecodePageC9(b.data(), 512, &dev)) << c.usable;
        EXPECT_STREQ(c.steps >= 1 ? "CTE0.B" : "--", dev.acCtrl.data()) << c.usable;
        EXPECT_STREQ(c.steps >= 2 ? "CTE0.A/CTE0.B" : "--/--", dev.acOwnWork.data()) << c.usable;
        EXPECT_EQ(c.steps >= 3 ? std::string(127, 'p') : "--", dev.acPortId.data()) << c.usable;
    }
    // Versions 514 and older: 15 and 10 bytes; the shield check needs 11.
    Bytes b = PageC9();
    b[0] = 0x20;
    SetUsable(&b, 10);
    DevInfo dev = Fresh(513);
    EXPECT_EQ(-1, DecodePageC9(b.data(), 512, &dev));
    EXPECT_EQ(0, dev.iShieldTpg);
    b = PageC9();
    SetUsable(&b, 14);
    dev = Fresh(514);
    EXPECT_EQ(-1, DecodePageC9(b.data(), 512, &dev));
    EXPECT_STREQ("--", dev.acCtrl.data());
    SetUsable(&b, 9);
    dev = Fresh(512);
    EXPECT_EQ(-1, DecodePageC9(b.data(), 512, &dev));
    EXPECT_STREQ("--/--", dev.acOwnWork.data());
}

}  // namespace
