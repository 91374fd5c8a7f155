// Devices that get no more commands: one that let a command time out, and a
// node withheld because its map would hold any command forever. The script
// stands in for the devices; the descriptors are of real files, so that the
// device layer knows them again when they are opened anew.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "scripted_passthrough.h"
#include "scsi_commands.h"
#include "scsi_withheld.h"

namespace {

using scripted::Bytes;
using scripted::CheckCondition;
using scripted::Data;
using scripted::FixedSense;
using scripted::HostStatus;

class Withheld : public scripted::ScriptedTest {
  protected:
    void SetUp() override {
        ScriptedTest::SetUp();
        scsi_ForgetWithheld();
        for (std::string& name : names_) {
            char pattern[] = "/tmp/withheld-XXXXXX";
            const int fd = mkstemp(pattern);
            ASSERT_GE(fd, 0);
            close(fd);
            name = pattern;
        }
    }
    void TearDown() override {
        scsi_ForgetWithheld();
        for (const std::string& name : names_) {
            unlink(name.c_str());
        }
        ScriptedTest::TearDown();
    }
    // A new descriptor of device i, as a program opens a node again.
    int Open(int i) {
        const int fd = open(names_[i].c_str(), O_RDONLY);
        fds_.push_back(fd);
        return fd;
    }
    ~Withheld() override {
        for (int fd : fds_) {
            close(fd);
        }
    }
    std::string names_[2];
    std::vector<int> fds_;
};

int Inquiry(int fd, ScsiExchange* exchange) {
    unsigned char page[64];
    return scsi_Inquiry(fd, 1, 0x83, page, sizeof page, 10, exchange);
}

TEST_F(Withheld, ATimeOutEndsTheDevicesCommandsNotOthers) {
    const struct {
        const char* what;
        scripted::Reply reply;
    } cases[] = {
        {"host status DID_TIME_OUT", HostStatus(3)},
        {"driver status DRIVER_TIMEOUT, with a suggestion",
         [] {
             scripted::Reply r;
             r.driverStatus = 0x26;
             return r;
         }()},
    };
    for (const auto& c : cases) {
        scsi_ForgetWithheld();
        scripted::g_requests.clear();
        Script({c.reply});
        ScsiExchange exchange;
        EXPECT_EQ(SCSI_NOT_GOOD, scsi_TestUnitReady(Open(0), 10, kScsiTurAttempts, &exchange))
            << c.what;
        EXPECT_EQ(1u, Requests().size()) << c.what << ": no retry after a time-out";

        // Every later command to the device, on any descriptor, completes
        // as timed out without being sent: no data, no sense.
        unsigned char page[64];
        EXPECT_EQ(SCSI_NOT_GOOD, scsi_Inquiry(Open(0), 1, 0x83, page, sizeof page, 10, &exchange));
        EXPECT_EQ(1u, Requests().size()) << c.what;
        EXPECT_EQ(3, exchange.request.hostStatus);
        EXPECT_TRUE(exchange.request.checkReported);
        EXPECT_EQ(0, exchange.request.senseWritten);
        EXPECT_EQ(64, exchange.request.resid);
        EXPECT_EQ(Bytes(64, 0), Bytes(page, page + sizeof page));
        EXPECT_EQ(SCSI_NOT_GOOD, scsi_TestUnitReady(Open(0), 10, kScsiTurAttempts, &exchange));
        EXPECT_EQ(1u, Requests().size()) << c.what;

        // Another device is asked as ever.
        Script({Data({0, 0x83, 0, 4})});
        EXPECT_EQ(SCSI_GOOD, Inquiry(Open(1), &exchange)) << c.what;
        EXPECT_EQ(2u, Requests().size()) << c.what;
    }
}

TEST_F(Withheld, OtherTransportTroubleKeepsTheBudget) {
    const scripted::Reply unitAttention = CheckCondition(FixedSense(6, 0x29));
    Script({HostStatus(2), unitAttention, HostStatus(7), unitAttention, HostStatus(0x0E)});
    ScsiExchange exchange;
    const int fd = Open(0);
    EXPECT_EQ(SCSI_NOT_GOOD, scsi_TestUnitReady(fd, 10, kScsiTurAttempts, &exchange));
    EXPECT_EQ(5u, Requests().size());
    EXPECT_EQ(SCSI_GOOD, Inquiry(fd, &exchange));
    EXPECT_EQ(6u, Requests().size());  // the device still gets its commands
}

TEST_F(Withheld, AWithheldNodeFailsAsNotConnectedUnsent) {
    ASSERT_EQ(0, scsi_WithholdNode(names_[0].c_str()));
    EXPECT_EQ(-1, scsi_WithholdNode("/nonexistent/dm-7"));
    EXPECT_EQ(-1, scsi_WithholdNode(nullptr));
    ScsiExchange exchange;
    EXPECT_EQ(SCSI_SEND_FAILED, scsi_TestUnitReady(Open(0), 10, kScsiTurAttempts, &exchange));
    EXPECT_EQ(ENOTCONN, exchange.request.sysError);
    EXPECT_EQ(SCSI_SEND_FAILED, Inquiry(Open(0), &exchange));
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(SCSI_GOOD, Inquiry(Open(1), &exchange));
    EXPECT_EQ(1u, Requests().size());
}

TEST_F(Withheld, ADeviceNodeIsKnownByItsNumber) {
    // Two opens of one character device, and the node's path itself.
    ASSERT_EQ(0, scsi_WithholdNode("/dev/null"));
    const int a = open("/dev/null", O_RDONLY);
    ASSERT_GE(a, 0);
    ScsiExchange exchange;
    EXPECT_EQ(SCSI_SEND_FAILED, Inquiry(a, &exchange));
    close(a);
    EXPECT_TRUE(Requests().empty());
    // A descriptor the layer cannot look at is sent to as ever.
    EXPECT_EQ(SCSI_GOOD, Inquiry(1000, &exchange));
    EXPECT_EQ(1u, Requests().size());
}

}  // namespace
