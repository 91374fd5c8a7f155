// The journal of the query process: what a run records is what the run
// over the journal sees, byte for byte, without a command reaching a device;
// a journal cut anywhere (the SIGKILL at the deadline) leaves every node
// either whole or "not checked", and a listing cut before its end missing.
#include "query_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "../scsi/scripted_passthrough.h"
#include "scsi_request.h"

namespace {

using scripted::Bytes;

// What one command came back with, as a sender sees it.
struct Seen {
    int result;
    int sysError;
    unsigned char status;
    unsigned short hostStatus;
    unsigned char senseWritten;
    int resid;
    Bytes data;
    Bytes sense;
    bool operator==(const Seen& o) const {
        return result == o.result && sysError == o.sysError && status == o.status &&
               hostStatus == o.hostStatus && senseWritten == o.senseWritten && resid == o.resid &&
               data == o.data && sense == o.sense;
    }
};

Seen Send(int fd, unsigned char op) {
    const unsigned char cdb[6] = {op, 0, 0, 0, 16, 0};
    unsigned char data[16] = {};
    unsigned char sense[8] = {};
    ScsiRequest request{};
    request.cdb = cdb;
    request.cdbLen = sizeof cdb;
    request.direction = SCSI_DIR_FROM_DEVICE;
    request.data = data;
    request.dataLen = sizeof data;
    request.sense = sense;
    request.senseLen = sizeof sense;
    request.timeoutMs = 1000;
    const int result = scsi_PassThrough(fd, &request);
    return {result,
            result != 0 ? request.sysError : 0,
            request.status,
            request.hostStatus,
            request.senseWritten,
            request.resid,
            Bytes(data, data + sizeof data),
            Bytes(sense, sense + sizeof sense)};
}

// What a run of two nodes and a listing saw.
struct RunView {
    std::vector<Seen> a;
    std::vector<Seen> b;
    std::string listing;
    int listingStatus = -1;
};

class QueryProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/query_process_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        nodeA_ = dir_ + "/sda";
        nodeB_ = dir_ + "/sdb";
        for (const std::string& node : {nodeA_, nodeB_}) {
            const int fd = open(node.c_str(), O_CREAT | O_WRONLY, 0600);
            ASSERT_GE(fd, 0);
            close(fd);
        }
        scripted::g_replies.clear();
        scripted::g_requests.clear();
        previous_ = scsi_SetPassThrough(scripted::PassThrough);
    }
    void TearDown() override {
        query_Reset();
        scsi_SetPassThrough(previous_);
        unlink(nodeA_.c_str());
        unlink(nodeB_.c_str());
        rmdir(dir_.c_str());
    }

    // The run every test records and replays: A gets two commands (data,
    // then a check condition with sense), the listing runs, B gets one
    // command that fails in the system call.
    RunView RunOnce() {
        RunView view;
        const int a = query_OpenDevice(nodeA_.c_str(), O_RDONLY);
        EXPECT_GE(a, 0);
        view.a.push_back(Send(a, 0x12));
        view.a.push_back(Send(a, 0x00));
        close(a);
        {
            ListingPipe pipe("printf 'mpatha (36e0f) dm-0\\nsize=10G\\n'; exit 3");
            char line[64];
            while (pipe.Valid() && fgets(line, sizeof line, pipe.Get()) != nullptr) {
                view.listing += line;
            }
            view.listingStatus = pipe.Close();
        }
        const int b = query_OpenDevice(nodeB_.c_str(), O_RDONLY);
        EXPECT_GE(b, 0);
        view.b.push_back(Send(b, 0x25));
        close(b);
        return view;
    }

    void QueueReplies() {
        scripted::Reply inquiry;
        inquiry.data = {0x00, 0x00, 0x05, 0x02, 'Q', 'E', 'L'};
        scripted::Reply check;
        check.status = 0x02;
        check.sense = {0x70, 0, 0x06, 0, 0, 0, 0, 0x0a};
        scripted::Reply gone;
        gone.err = ENODEV;
        scripted::g_replies = {inquiry, check, gone};
    }

    // Records the run into a journal; the run's own view in *recorded.
    std::string Record(RunView* recorded) {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        QueueReplies();
        query_JournalForTest(ends[1]);
        *recorded = RunOnce();
        // What the query process writes last; read back through the pipe.
        query_Reset();
        close(ends[1]);
        std::string journal;
        char chunk[4096];
        ssize_t got = 0;
        while ((got = read(ends[0], chunk, sizeof chunk)) > 0) {
            journal.append(chunk, static_cast<size_t>(got));
        }
        close(ends[0]);
        return journal;
    }

    std::string dir_, nodeA_, nodeB_;
    ScsiPassThroughFn previous_ = nullptr;
};

TEST_F(QueryProcessTest, ReplayOfAWholeJournalIsTheRunByteForByteWithNothingSent) {
    RunView recorded;
    const std::string journal = Record(&recorded);
    ASSERT_EQ(scripted::g_requests.size(), 3u);
    EXPECT_EQ(recorded.listing, "mpatha (36e0f) dm-0\nsize=10G\n");
    EXPECT_EQ(WEXITSTATUS(recorded.listingStatus), 3);
    EXPECT_EQ(recorded.a[1].status, 0x02);
    EXPECT_EQ(recorded.b[0].result, -1);
    EXPECT_EQ(recorded.b[0].sysError, ENODEV);

    // Without query_ChildEnd's mark the journal reads as cut after B's
    // answer: every answer is there all the same.
    query_ReplayForTest(journal, QUERY_DEADLINE, 5);
    const RunView cut = RunOnce();
    EXPECT_EQ(scripted::g_requests.size(), 3u) << "the replay sent a command";
    EXPECT_EQ(cut.a, recorded.a);
    EXPECT_EQ(cut.b, recorded.b);
    EXPECT_EQ(cut.listing, recorded.listing);
    EXPECT_EQ(cut.listingStatus, recorded.listingStatus);
    EXPECT_TRUE(query_NotCheckedNodes().empty());
    EXPECT_FALSE(query_ListingMissing());
    EXPECT_EQ(query_Summary(), "deadline of 5 s reached, 0 devices not checked");
}

// Every prefix of the journal is a possible cut. Whatever it holds, the
// replay sends nothing, each node's answers are the recorded ones or a time
// out (and then the node is not checked), and the listing is the recorded
// one or missing.
TEST_F(QueryProcessTest, AJournalCutAnywhereLeavesNodesWholeOrNotChecked) {
    RunView recorded;
    const std::string journal = Record(&recorded);
    for (size_t cut = 0; cut <= journal.size(); ++cut) {
        SCOPED_TRACE("journal cut at byte " + std::to_string(cut));
        scripted::g_requests.clear();
        query_ReplayForTest(journal.substr(0, cut), QUERY_DEADLINE, 2);
        const bool missing = query_ListingMissing();
        const RunView seen = RunOnce();
        EXPECT_TRUE(scripted::g_requests.empty());
        for (const auto& [node, answers, wanted] : {std::make_tuple(nodeA_, seen.a, recorded.a),
                                                    std::make_tuple(nodeB_, seen.b, recorded.b)}) {
            if (query_NotChecked(node.c_str())) {
                EXPECT_EQ(answers.back().hostStatus, 0x03) << node;
                EXPECT_EQ(answers.back().resid, 16) << node;
            } else {
                EXPECT_EQ(answers, wanted) << node;
            }
        }
        if (seen.listing != recorded.listing) {
            EXPECT_TRUE(query_ListingMissing());
            EXPECT_EQ(seen.listing, "");
        }
        if (missing) {
            EXPECT_EQ(query_Summary(), "deadline of 2 s reached before the listing arrived");
        }
    }
}

TEST_F(QueryProcessTest, ANodeWithACommandInFlightIsNotCheckedFromItsFirstCommand) {
    RunView recorded;
    std::string journal = Record(&recorded);
    // Cut inside B's answer: its command was sent and never came back.
    journal.resize(journal.size() - 1);
    query_ReplayForTest(journal, QUERY_DEADLINE, 8);
    const RunView seen = RunOnce();
    EXPECT_EQ(seen.a, recorded.a);
    EXPECT_EQ(seen.listing, recorded.listing);
    EXPECT_EQ(seen.b[0].result, 0);
    EXPECT_EQ(seen.b[0].hostStatus, 0x03);
    EXPECT_EQ(query_NotCheckedNodes(), std::vector<std::string>{nodeB_});
    EXPECT_EQ(query_Summary(), "deadline of 8 s reached, 1 device not checked");
}

TEST(QueryProcessSeconds, TakesWholeSecondsFromOneTo3600) {
    struct Case {
        const char* text;
        bool ok;
        unsigned seconds;
    };
    const Case cases[] = {
        {"1", true, 1},     {"8", true, 8},      {"3600", true, 3600}, {"0", false, 0},
        {"3601", false, 0}, {"01", false, 0},    {"+5", false, 0},     {" 5", false, 0},
        {"5s", false, 0},   {"", false, 0},      {"-1", false, 0},     {"99999999999", false, 0},
        {"2.5", false, 0},  {nullptr, false, 0},
    };
    for (const Case& c : cases) {
        unsigned seconds = 77;
        EXPECT_EQ(query_ParseSeconds(c.text, &seconds), c.ok) << (c.text ? c.text : "(null)");
        EXPECT_EQ(seconds, c.ok ? c.seconds : 77u) << (c.text ? c.text : "(null)");
    }
}

TEST(QueryProcessPlain, WithoutADeadlineTheSeamsAreThePlainCalls) {
    query_Reset();
    EXPECT_EQ(query_Outcome(), QUERY_COMPLETE);
    EXPECT_EQ(query_Summary(), "");
    ListingPipe pipe("echo plain; exit 2");
    ASSERT_TRUE(pipe.Valid());
    char line[16] = {};
    ASSERT_NE(fgets(line, sizeof line, pipe.Get()), nullptr);
    EXPECT_STREQ(line, "plain\n");
    EXPECT_EQ(WEXITSTATUS(pipe.Close()), 2);
    EXPECT_LT(query_OpenDevice("/nonexistent/sdz", O_RDONLY), 0);
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
