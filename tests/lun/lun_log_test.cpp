// The logger under both programs: the threshold, where a message goes
// (standard output whole, a sink its first 1023 bytes), a worker thread's
// kept messages and their replay, and the two programs' options on the
// edges where they differ: empty messages and messages vsnprintf fails on.
#include "lun_log.h"

#include <gtest/gtest.h>

#include <stdarg.h>

#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> g_sunk;

void Sink(const char* text) {
    g_sunk.emplace_back(text);
}

void Log(const LunLog& log, int threshold, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void Log(const LunLog& log, int threshold, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log.Write(threshold, format, args);
    va_end(args);
}

// A wide character the C locale cannot convert: vsnprintf fails (-1) after
// writing "ab".
const wchar_t kUnconvertible[] = L"\u00e9";

const std::string kLong(3000, 'x');

class LunLogTest : public testing::Test {
  protected:
    void SetUp() override { g_sunk.clear(); }
    void TearDown() override { LunLog::Capture(nullptr); }

    // Standard output while fn runs.
    template <typename Fn>
    static std::string Printed(Fn fn) {
        testing::internal::CaptureStdout();
        fn();
        return testing::internal::GetCapturedStdout();
    }

    int level_ = 0;
    LunLog tool_{{&level_, /*keepEmpty=*/false, /*sinkTakesFailed=*/true, /*keepWhole=*/false}};
    LunLog showdisk_{{&level_, /*keepEmpty=*/true, /*sinkTakesFailed=*/false, /*keepWhole=*/true}};
};

TEST_F(LunLogTest, ThresholdReadsTheProgramsVariable) {
    level_ = 2;
    const std::string out = Printed([&] {
        Log(tool_, 1, "below\n");
        Log(tool_, 2, "at\n");
        Log(tool_, 3, "above\n");
        level_ = 99;
        Log(tool_, 3, "quiet\n");
    });
    EXPECT_EQ(out, "at\nabove\n");
}

TEST_F(LunLogTest, StandardOutputTakesTheWholeMessage) {
    for (const LunLog* log : {&tool_, &showdisk_}) {
        EXPECT_EQ(Printed([&] { Log(*log, 0, "%s\n", kLong.c_str()); }), kLong + "\n");
        EXPECT_EQ(Printed([&] { Log(*log, 0, "%s", ""); }), "");
        EXPECT_EQ(Printed([&] { Log(*log, 0, "ab%ls\n", kUnconvertible); }), "");
    }
    EXPECT_TRUE(g_sunk.empty());
}

TEST_F(LunLogTest, SinkTakesTheBytesAsTheyAreUpTo1023) {
    for (LunLog* log : {&tool_, &showdisk_}) {
        log->SetSink(Sink);
        const std::string out = Printed([&] {
            Log(*log, 0, "%s\n", kLong.c_str());
            Log(*log, 0, "a\x1b%s\n", "b");
            Log(*log, 0, "%s", "");
        });
        EXPECT_EQ(out, "");
    }
    const std::vector<std::string> each = {std::string(1023, 'x'),
                                           "a\x1b"
                                           "b\n",
                                           ""};
    std::vector<std::string> both = each;
    both.insert(both.end(), each.begin(), each.end());
    EXPECT_EQ(g_sunk, both);
}

TEST_F(LunLogTest, FailedFormatReachesOnlyTsexToolsSinkAndOnlyWhenWritten) {
    tool_.SetSink(Sink);
    showdisk_.SetSink(Sink);
    Log(tool_, 0, "ab%ls\n", kUnconvertible);
    Log(showdisk_, 0, "ab%ls\n", kUnconvertible);
    EXPECT_EQ(g_sunk, std::vector<std::string>{"ab"});

    std::string kept;
    LunLog::Capture(&kept);
    Log(tool_, 0, "ab%ls\n", kUnconvertible);
    Log(showdisk_, 0, "ab%ls\n", kUnconvertible);
    EXPECT_EQ(kept, "");
}

TEST_F(LunLogTest, KeptMessagesReplayInOrderWhereTheyGoNow) {
    std::string kept;
    const std::string out = Printed([&] {
        LunLog::Capture(&kept);
        Log(tool_, 0, "one %d\n", 1);
        Log(tool_, 0, "two\x07\n");
        LunLog::Capture(nullptr);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(kept, std::string("one 1\n\0two\x07\n\0", 13));

    EXPECT_EQ(Printed([&] { tool_.Replay(kept); }), "one 1\ntwo?\n");
    tool_.SetSink(Sink);
    tool_.Replay(kept);
    EXPECT_EQ(g_sunk, (std::vector<std::string>{"one 1\n", "two\x07\n"}));
}

TEST_F(LunLogTest, LongMessageIsKeptAsItsOutputWouldTakeIt) {
    std::string whole;
    LunLog::Capture(&whole);
    Log(tool_, 0, "%s", kLong.c_str());
    tool_.SetSink(Sink);
    std::string cut;
    LunLog::Capture(&cut);
    Log(tool_, 0, "%s", kLong.c_str());
    LunLog::Capture(nullptr);

    EXPECT_EQ(whole, kLong + '\0');
    EXPECT_EQ(cut, std::string(1023, 'x') + '\0');
    // Kept before the sink was set, it reaches the sink whole: the sink
    // cuts what it cannot hold.
    tool_.Replay(whole);
    EXPECT_EQ(g_sunk, std::vector<std::string>{kLong});
}

TEST_F(LunLogTest, TsShowdiskKeepsALongMessageWholeWhileTheSinkIsSet) {
    showdisk_.SetSink(Sink);
    std::string kept;
    LunLog::Capture(&kept);
    Log(showdisk_, 0, "%s\n", kLong.c_str());
    LunLog::Capture(nullptr);
    EXPECT_EQ(kept, kLong + "\n" + '\0');
    showdisk_.SetSink(nullptr);
    EXPECT_EQ(Printed([&] { showdisk_.Replay(kept); }), kLong + "\n");
}

TEST_F(LunLogTest, EmptyMessageIsKeptOnlyForTsShowdisk) {
    std::string tool;
    std::string showdisk;
    LunLog::Capture(&tool);
    Log(tool_, 0, "%s", "");
    LunLog::Capture(&showdisk);
    Log(showdisk_, 0, "%s", "");
    Log(showdisk_, 0, "x\n");
    LunLog::Capture(nullptr);
    EXPECT_EQ(tool, "");
    EXPECT_EQ(showdisk, std::string("\0x\n\0", 4));

    showdisk_.SetSink(Sink);
    showdisk_.Replay(showdisk);
    EXPECT_EQ(g_sunk, (std::vector<std::string>{"", "x\n"}));
}

TEST_F(LunLogTest, KeepingBelongsToTheCallingThread) {
    std::string kept;
    LunLog::Capture(&kept);
    const std::string out = Printed([&] {
        std::thread other([&] { Log(tool_, 0, "other\n"); });
        other.join();
        Log(tool_, 0, "mine\n");
    });
    EXPECT_EQ(out, "other\n");
    EXPECT_EQ(kept, std::string("mine\n\0", 6));
}

}  // namespace
