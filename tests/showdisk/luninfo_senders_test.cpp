// do_tur and do_inquiry over a scripted pass-through, in each build: the
// commands as the program sends them to a device (6-byte blocks, 30 ms,
// TEST UNIT READY at most five times) and the report of each kind of
// failure. Built into the Linux and the ESXi unit tests; SHOWDISK_TEST_ESXI
// says which build it runs in.
#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../scsi/scripted_passthrough.h"
#include "lunquery.h"

namespace {

constexpr bool kEsxi = SHOWDISK_TEST_ESXI != 0;
constexpr int kNoFd = 1000;  // never opened: only the script answers it

using scripted::Bytes;
using scripted::CheckCondition;
using scripted::Data;
using scripted::Fails;
using scripted::FixedSense;
using scripted::HostStatus;
using scripted::Reply;

std::string IoctlLine(const char* prefix, int err) {
    return std::string(prefix) + "ioctl(SG_IO) failed: " + std::strerror(err) +
           " (errno=" + std::to_string(err) + ")\n";
}

class Senders : public scripted::ScriptedTest {
  protected:
    void TearDown() override {
        ScriptedTest::TearDown();
        g_level = 99;
    }
    static void Script(const std::vector<Reply>& replies) {
        scripted::g_replies.assign(replies.begin(), replies.end());
    }
    // Standard output while fn runs at the given log level.
    template <typename Fn>
    static std::string Printed(int level, Fn fn) {
        g_level = level;
        testing::internal::CaptureStdout();
        fn();
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(Senders, TestUnitReadyIsASixByteBlockOf30Ms) {
    EXPECT_EQ(do_tur(kNoFd), 0);
    ASSERT_EQ(Requests().size(), 1U);
    EXPECT_EQ(Requests()[0].fd, kNoFd);
    EXPECT_EQ(Requests()[0].cdb, Bytes(6, 0));
    EXPECT_EQ(Requests()[0].request.timeoutMs, 30U);
}

// One scenario per kind of answer: how many tries, the result, the report.
TEST_F(Senders, TestUnitReadyTriesAtMostFiveTimes) {
    const Reply attention = CheckCondition(FixedSense(6, 0x29));
    const struct Case {
        const char* what;
        std::vector<Reply> script;
        int result;
        size_t sent;
        std::string printed;
    } cases[] = {
        {"unit attention throughout", std::vector<Reply>(6, attention), -1, 5, ""},
        {"unit attention four times, then ready",
         {attention, attention, attention, attention},
         0,
         5,
         ""},
        {"transport error throughout", std::vector<Reply>(6, HostStatus(7)), -1, 5, ""},
        {"not ready: no retry", {CheckCondition(FixedSense(2, 0x04))}, -1, 1, ""},
        {"no connection: the sense data decides", {HostStatus(1)}, -1, 1, ""},
        {"SG_IO fails: no retry", {Fails(EIO)}, -1, 1, IoctlLine("", EIO)},
    };
    for (const Case& c : cases) {
        scripted::g_requests.clear();
        Script(c.script);
        int result = 0;
        EXPECT_EQ(Printed(3, [&] { result = do_tur(kNoFd); }), c.printed) << c.what;
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(Requests().size(), c.sent) << c.what;
        for (const scripted::Request& r : Requests()) {
            EXPECT_EQ(r.request.timeoutMs, 30U) << c.what;
        }
    }
}

TEST_F(Senders, InquiryAsksForItsWholeBufferWithA16BitLength) {
    const struct Case {
        int evpd;
        int page;
        int len;
        Bytes cdb;
    } cases[] = {
        {0, 0x00, 36, {0x12, 0, 0x00, 0x00, 36, 0}},
        {1, 0xC0, 700, {0x12, 1, 0xC0, 0x02, 0xBC, 0}},
        {1, 0xC9, 264, {0x12, 1, 0xC9, 0x01, 0x08, 0}},
        {1, 0xC4, 32, {0x12, 1, 0xC4, 0x00, 32, 0}},
    };
    for (const Case& c : cases) {
        scripted::g_requests.clear();
        Script({Data({0xAA, 0xBB})});
        std::vector<unsigned char> buf(static_cast<size_t>(c.len), 0xEE);
        EXPECT_EQ(do_inquiry(kNoFd, c.evpd, c.page, buf.data(), c.len), 0) << c.page;
        ASSERT_EQ(Requests().size(), 1U);
        EXPECT_EQ(Requests()[0].cdb, c.cdb) << c.page;
        EXPECT_EQ(Requests()[0].request.dataLen, static_cast<unsigned int>(c.len)) << c.page;
        EXPECT_EQ(Requests()[0].request.timeoutMs, 30U) << c.page;
        // What the device did not return reads as 0.
        std::vector<unsigned char> expected(buf.size(), 0);
        expected[0] = 0xAA;
        expected[1] = 0xBB;
        EXPECT_EQ(buf, expected) << c.page;
    }
}

TEST_F(Senders, InquiryReportsEachKindOfFailure) {
    const struct Case {
        const char* what;
        Reply reply;
        std::string printed;
    } cases[] = {
        {"SG_IO fails", Fails(ENODEV), IoctlLine(kEsxi ? "tur " : "", ENODEV)},
        {"check condition", CheckCondition(FixedSense(5, 0x24)),
         "inqury page 0xc8 failed.status:2, host_status:0, driver_status:8\n"},
        {"transport error", HostStatus(7),
         "inqury page 0xc8 failed.status:0, host_status:7, driver_status:0\n"},
    };
    for (const Case& c : cases) {
        Script({c.reply});
        unsigned char buf[196];
        int result = 0;
        EXPECT_EQ(Printed(3, [&] { result = do_inquiry(kNoFd, 1, 0xC8, buf, sizeof(buf)); }),
                  c.printed)
            << c.what;
        EXPECT_EQ(result, -1) << c.what;
        // Errors only: threshold 3.
        Script({c.reply});
        EXPECT_EQ(Printed(4, [&] { (void)do_inquiry(kNoFd, 1, 0xC8, buf, sizeof(buf)); }), "")
            << c.what;
    }
}

TEST_F(Senders, InquiryWithoutBufferOrLengthSendsAndSaysNothing) {
    unsigned char buf[8];
    EXPECT_EQ(Printed(0,
                      [&] {
                          EXPECT_EQ(do_inquiry(kNoFd, 0, 0, nullptr, 8), -1);
                          EXPECT_EQ(do_inquiry(kNoFd, 0, 0, buf, 0), -1);
                          EXPECT_EQ(do_inquiry(kNoFd, 0, 0, buf, -1), -1);
                      }),
              "");
    EXPECT_TRUE(Requests().empty());
}

// A failed query reports it after the sender's own report; the ESXi build
// names the query and a fixed number for each kind of failure (102: TEST
// UNIT READY, 117: the INQUIRY of the query's page, 453: get_tpg's page
// 0xC9), the same numbers whatever the source looks like.
TEST_F(Senders, QueryReportOfEachBuild) {
    Bytes newer(700, 0);  // page 0xC0 of an interface version 3.x.x.x
    newer[183] = 3;
    const struct Case {
        const char* what;
        int (*query)(int, char*, size_t);
        std::vector<Reply> script;
        const char* esxi;
        const char* linux_text;
        std::vector<int> opcodes;
    } cases[] = {
        {"unit not ready",
         get_wwn,
         {Fails(EIO)},
         "[get_wwn: 102] send tur failed.\n",
         "send tur failed.\n",
         {0x00}},
        {"page not read",
         get_lun_name,
         {Reply(), Fails(EIO)},
         "[get_lun_name: 117] get lun name failed\n",
         "get lun name failed\n",
         {0x00, 0x12}},
        {"tpg: unit not ready for 0xC9",
         get_tpg,
         {Reply(), Data(newer), Fails(EIO)},
         "[get_tpg: 102] send tur failed.\n",
         "send tur failed.\n",
         {0x00, 0x12, 0x00}},
        {"tpg: page 0xC9 not read",
         get_tpg,
         {Reply(), Data(newer), Reply(), Fails(EIO)},
         "[get_tpg: 453] get tpg failed.\n",
         "get tpg failed.\n",
         {0x00, 0x12, 0x00, 0x12}},
    };
    for (const Case& c : cases) {
        scripted::g_requests.clear();
        Script(c.script);
        char dest[64] = {0};
        const std::string out =
            Printed(0, [&] { EXPECT_EQ(c.query(kNoFd, dest, sizeof dest), -1); });
        // The sender's report, then the query's.
        const size_t end = out.find('\n');
        ASSERT_NE(end, std::string::npos) << c.what;
        EXPECT_EQ(out.substr(end + 1), kEsxi ? c.esxi : c.linux_text) << c.what;
        EXPECT_EQ(Opcodes(), c.opcodes) << c.what;
    }
}

// Bytes 85..88 of page 0xC8, most significant first, printed unsigned.
TEST_F(Senders, HostLunIdIsBigEndian) {
    const struct Case {
        Bytes id;
        const char* text;
    } cases[] = {{{0x00, 0x00, 0x01, 0x02}, "258"},
                 {{0x01, 0x02, 0x03, 0x04}, "16909060"},
                 {{0xFF, 0xFF, 0xFF, 0xFE}, "4294967294"}};
    for (const Case& c : cases) {
        Bytes page(196, 0);
        std::copy(c.id.begin(), c.id.end(), page.begin() + 85);
        Script({Reply(), Data(page)});
        char dest[16] = {0};
        EXPECT_EQ(get_host_lunID(kNoFd, dest, sizeof dest), 0);
        EXPECT_STREQ(dest, c.text);
    }
}

}  // namespace
