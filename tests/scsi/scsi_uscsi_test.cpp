// The USCSI pass-through: how a request becomes the Solaris command record,
// over a stand-in for the platform's USCSICMD call.
#include <errno.h>
#include <gtest/gtest.h>

#include <vector>

#include "../../scsi/solaris/solaris_platform.h"
#include "scsi_request.h"

namespace {

std::vector<TS_UscsiCmd> g_sent;
int g_fail = 0;      // errno of a failing call, 0: the call succeeds
short g_status = 0;  // status of a succeeding call

}  // namespace

int TS_PlatUscsiCmd(int, TS_UscsiCmd* cmd) {
    g_sent.push_back(*cmd);
    if (g_fail != 0) {
        errno = g_fail;
        return -1;
    }
    cmd->uscsi_status = g_status;
    cmd->uscsi_resid = 3;
    return 0;
}

namespace {

TEST(UscsiPassThrough, CommandRecord) {
    unsigned char cdb[6] = {0x12, 1, 0x83, 0, 24, 0};
    unsigned char data[24];
    unsigned char sense[32];
    const struct {
        ScsiDirection direction;
        unsigned int timeoutMs;
        int flags;
        short seconds;
    } cases[] = {
        {SCSI_DIR_FROM_DEVICE, 6000, 0x08 | 0x04, 6},
        {SCSI_DIR_NONE, 30000, 0x08 | 0x04, 30},
        {SCSI_DIR_TO_DEVICE, 6000, 0x04, 6},
        {SCSI_DIR_FROM_DEVICE, 1, 0x08 | 0x04, 1},  // a part second is a second
        {SCSI_DIR_FROM_DEVICE, 6001, 0x08 | 0x04, 7},
        {SCSI_DIR_FROM_DEVICE, 0, 0x08 | 0x04, 0},
        {SCSI_DIR_FROM_DEVICE, 0xFFFFFFFFu, 0x08 | 0x04, 0x7FFF},
    };
    for (const auto& c : cases) {
        g_sent.clear();
        g_fail = 0;
        g_status = 0;
        ScsiRequest request{};
        request.cdb = cdb;
        request.cdbLen = sizeof cdb;
        request.direction = c.direction;
        request.data = data;
        request.dataLen = sizeof data;
        request.sense = sense;
        request.senseLen = sizeof sense;
        request.timeoutMs = c.timeoutMs;
        ASSERT_EQ(0, scsi_PassThrough(7, &request));
        ASSERT_EQ(1u, g_sent.size());
        const TS_UscsiCmd& cmd = g_sent[0];
        EXPECT_EQ(c.flags, cmd.uscsi_flags) << c.timeoutMs;
        EXPECT_EQ(c.seconds, cmd.uscsi_timeout) << c.timeoutMs;
        EXPECT_EQ(reinterpret_cast<char*>(cdb), cmd.uscsi_cdb);
        EXPECT_EQ(6, cmd.uscsi_cdblen);
        EXPECT_EQ(reinterpret_cast<char*>(data), cmd.uscsi_bufaddr);
        EXPECT_EQ(sizeof data, cmd.uscsi_buflen);
        EXPECT_EQ(nullptr, cmd.uscsi_rqbuf);  // no request-sense buffer goes down
        EXPECT_EQ(0, cmd.uscsi_rqlen);
        EXPECT_FALSE(request.checkReported);
        EXPECT_EQ(3, request.resid);
    }
}

TEST(UscsiPassThrough, OutcomeOfTheCall) {
    unsigned char cdb[6] = {0x12, 0, 0, 0, 36, 0};
    ScsiRequest request{};
    request.cdb = cdb;
    request.cdbLen = sizeof cdb;
    g_fail = EIO;
    EXPECT_EQ(-1, scsi_PassThrough(7, &request));
    EXPECT_EQ(EIO, request.sysError);
    g_fail = 0;
    g_status = 2;
    EXPECT_EQ(0, scsi_PassThrough(7, &request));
    EXPECT_EQ(2, request.status);
    EXPECT_TRUE(request.checkReported);
    EXPECT_EQ(0, request.hostStatus);
}

}  // namespace
