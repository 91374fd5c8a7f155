// The device layer's senders and readers, against a scripted pass-through,
// and the platform's SG_IO pass-through on a descriptor that is no SCSI
// device.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "scripted_passthrough.h"
#include "scsi_bytes.h"
#include "scsi_commands.h"

namespace {

using scripted::Bytes;
using scripted::CheckCondition;
using scripted::Data;
using scripted::FixedSense;
using scripted::HostStatus;

constexpr int kNoFd = 1000;

TEST(ScsiBytes, BigEndianAtAnyAlignment) {
    const unsigned char bytes[] = {0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    EXPECT_EQ(0x0102u, scsi_Be16(bytes + 1));
    EXPECT_EQ(0x01020304u, scsi_Be32(bytes + 1));
    EXPECT_EQ(0x0102030405060708ULL, scsi_Be64(bytes + 1));
    const unsigned char high[] = {0xFF, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8};
    EXPECT_EQ(0xFFFEu, scsi_Be16(high));
    EXPECT_EQ(0xFFFEFDFCu, scsi_Be32(high));  // no sign extension
    EXPECT_EQ(0xFFFEFDFCFBFAF9F8ULL, scsi_Be64(high));
}

TEST(ScsiBytes, UsableLengthIsThePageLengthCappedAtTheAllocation) {
    const struct {
        unsigned char lengthHigh, lengthLow;
        int allocLen, usable;
    } cases[] = {
        {0, 0, 64, 4},    // header only
        {0, 60, 64, 64},  // exactly the allocation
        {0, 61, 64, 64},  // the device had more than was asked for
        {0, 20, 64, 24},  // a short page
        {0x01, 0x00, 1024, 260}, {0xFF, 0xFF, 64, 64},
        {0, 20, 3, 0},  // no room for the length field
        {0, 20, 0, 0},
    };
    for (const auto& c : cases) {
        unsigned char page[4] = {0, 0xC8, c.lengthHigh, c.lengthLow};
        EXPECT_EQ(c.usable, scsi_UsableLength(page, c.allocLen))
            << int(c.lengthHigh) << "/" << int(c.lengthLow) << " in " << c.allocLen;
    }
}

using ScsiSenders = scripted::ScriptedTest;

TEST_F(ScsiSenders, TestUnitReadyKeepsToItsBudget) {
    const scripted::Reply unitAttention = CheckCondition(FixedSense(6, 0x29));
    const struct {
        int attempts;
        std::initializer_list<scripted::Reply> replies;
        int result;
        size_t sent;
    } cases[] = {
        {5, {Data({})}, SCSI_GOOD, 1},
        {5, {unitAttention, HostStatus(7), Data({})}, SCSI_GOOD, 3},
        {2, {unitAttention, unitAttention, Data({})}, SCSI_NOT_GOOD, 2},
        {1, {HostStatus(3), Data({})}, SCSI_NOT_GOOD, 1},
        {5, {CheckCondition(FixedSense(2, 0x04)), Data({})}, SCSI_NOT_GOOD, 1},
        {5, {unitAttention, scripted::Fails(EIO), Data({})}, SCSI_SEND_FAILED, 2},
        {0, {Data({})}, SCSI_NOT_GOOD, 0},
    };
    for (const auto& c : cases) {
        scripted::g_requests.clear();
        Script(c.replies);
        ScsiExchange exchange;
        EXPECT_EQ(c.result, scsi_TestUnitReady(kNoFd, 30, c.attempts, &exchange)) << c.attempts;
        ASSERT_EQ(c.sent, Requests().size()) << c.attempts;
        for (const scripted::Request& r : Requests()) {
            EXPECT_EQ(Bytes(6, 0), r.cdb);
            EXPECT_EQ(kNoFd, r.fd);
            EXPECT_EQ(30u, r.request.timeoutMs);
            EXPECT_EQ(0u, r.request.dataLen);
            EXPECT_EQ(SCSI_DIR_FROM_DEVICE, r.request.direction);
        }
        if (c.result == SCSI_SEND_FAILED) {
            EXPECT_EQ(EIO, exchange.request.sysError);
        }
    }
}

TEST_F(ScsiSenders, InquiryRefusesWhatItCannotAskFor) {
    unsigned char buffer[8];
    ScsiExchange exchange;
    EXPECT_EQ(SCSI_REFUSED, scsi_Inquiry(kNoFd, 0, 0, nullptr, 8, 10, &exchange));
    EXPECT_EQ(SCSI_REFUSED, scsi_Inquiry(kNoFd, 0, 0, buffer, 0, 10, &exchange));
    EXPECT_EQ(SCSI_REFUSED, scsi_Inquiry(kNoFd, 0, 0, buffer, -1, 10, &exchange));
    EXPECT_TRUE(Requests().empty());
}

TEST_F(ScsiSenders, InquiryVerdictsAndBlock) {
    unsigned char buffer[300];
    const struct {
        scripted::Reply reply;
        int result;
    } cases[] = {
        {Data({1, 2}), SCSI_GOOD},
        {CheckCondition(FixedSense(5, 0x24)), SCSI_NOT_GOOD},
        {HostStatus(1), SCSI_NOT_GOOD},
        {scripted::Fails(ENXIO), SCSI_SEND_FAILED},
    };
    for (const auto& c : cases) {
        scripted::g_requests.clear();
        std::memset(buffer, 0xEE, sizeof buffer);
        Script({c.reply});
        ScsiExchange exchange;
        EXPECT_EQ(c.result, scsi_Inquiry(kNoFd, 1, 0xC9, buffer, 264, 10, &exchange));
        ASSERT_EQ(1u, Requests().size());
        EXPECT_EQ((Bytes{0x12, 1, 0xC9, 0x01, 0x08, 0}), Requests()[0].cdb);
        EXPECT_EQ(264u, Requests()[0].request.dataLen);
        EXPECT_EQ(0xEE, buffer[264]);  // nothing beyond the allocation is touched
        EXPECT_EQ(0, buffer[263]);     // what the device did not send reads as 0
    }
}

TEST_F(ScsiSenders, ReadCapacityReadsBothLayouts) {
    Script({Data({0x00, 0x3F, 0xFF, 0xFF, 0, 0, 0x02, 0x00}),
            Data({0x01, 0, 0, 0, 0, 0, 0, 0x07, 0, 0, 0x10, 0x00}),
            CheckCondition(FixedSense(5, 0x20))});
    ScsiExchange exchange;
    uint32_t last10 = 0;
    uint32_t block = 0;
    EXPECT_EQ(SCSI_GOOD, scsi_ReadCapacity10(kNoFd, 10, &last10, &block, &exchange));
    EXPECT_EQ(0x003FFFFFu, last10);
    EXPECT_EQ(512u, block);
    uint64_t last16 = 0;
    EXPECT_EQ(SCSI_GOOD, scsi_ReadCapacity16(kNoFd, 10, &last16, &block, &exchange));
    EXPECT_EQ(0x0100000000000007ULL, last16);
    EXPECT_EQ(4096u, block);
    last16 = 77;
    EXPECT_EQ(SCSI_NOT_GOOD, scsi_ReadCapacity16(kNoFd, 10, &last16, &block, &exchange));
    EXPECT_EQ(77u, last16);  // untouched when the command failed
    ASSERT_EQ(3u, Requests().size());
    EXPECT_EQ(10u, Requests()[0].cdb.size());
    EXPECT_EQ(8u, Requests()[0].request.dataLen);
    EXPECT_EQ((Bytes{0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0}), Requests()[1].cdb);
    EXPECT_EQ(32u, Requests()[1].request.dataLen);
}

TEST(ScsiPlatform, SgIoOnANodeThatIsNoScsiDeviceFailsWithItsError) {
    // Installing nothing puts the platform's SG_IO back.
    scsi_SetPassThrough(nullptr);
    const int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    ScsiExchange exchange;
    const int result = scsi_TestUnitReady(fd, 10, 5, &exchange);
    (void)close(fd);
    EXPECT_EQ(SCSI_SEND_FAILED, result);
    EXPECT_NE(0, exchange.request.sysError);
}

}  // namespace
