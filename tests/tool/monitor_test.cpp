// Tests of the monitoring forms' texts: the Nagios state of every alarm type,
// the '?' of device bytes and of '|' in plugin text, the plugin's
// performance data and its long output cut to Nagios core's 8 KiB, and the
// escapes of Prometheus label values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "../common/written_text.h"
#include "checks/tsalarm.h"
#include "records/tsstatus.h"
#include "records/tstopology.h"
#include "rendering/tsmonitor.h"
#include "rendering/tsnagios.h"
#include "rendering/tsprom.h"

namespace {

TEST(NagiosState, EveryAlarmTypeHasItsState) {
    const struct {
        int type;
        TsNagiosState state;
    } kCases[] = {
        {10, TS_NAGIOS_UNKNOWN}, {11, TS_NAGIOS_WARNING},  {12, TS_NAGIOS_WARNING},
        {13, TS_NAGIOS_WARNING}, {14, TS_NAGIOS_CRITICAL}, {15, TS_NAGIOS_WARNING},
        {16, TS_NAGIOS_WARNING}, {17, TS_NAGIOS_CRITICAL}, {18, TS_NAGIOS_WARNING},
        {9, TS_NAGIOS_UNKNOWN},  {19, TS_NAGIOS_UNKNOWN},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(tsnagios_AlarmState(c.type), c.state) << "alarm " << c.type;
    }
}

TEST(MonitorText, DeviceBytesAndRefusedCharactersPrintAsQuestionMarks) {
    const struct {
        const char* text;
        const char* extra;
        const char* written;
    } kCases[] = {
        {"Array-01", "|", "Array-01"},      {"sn|01", "|", "sn?01"}, {"sn|01", nullptr, "sn|01"},
        {"\x1b[2J\xc3\xa9", "|", "?[2J??"}, {"", "|", ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Written([&](FILE* out) { tsmonitor_PutSafe(out, c.text, c.extra); }), c.written)
            << c.text;
    }
}

// The plugin guidelines' form, label=value;warn;crit;min;max, with no
// thresholds (empty), min 0, the whole as a failed count's max, trailing
// empty fields dropped, and no "U" for the counts the listing did not give.
TEST(NagiosPerfdata, CountsHaveTheirFloorAndCeiling) {
    const struct {
        TsMonitorCounts counts;
        const char* written;
    } kCases[] = {
        {{5, 20, 4, 8, 0, 1, true},
         "vluns=5;;;0 paths=20;;;0 paths_failed=4;;;0;20 phypaths=8;;;0 "
         "phypaths_failed=0;;;0;8 alarms=1;;;0"},
        {{0, 0, 0, 0, 0, 0, true},
         "vluns=0;;;0 paths=0;;;0 paths_failed=0;;;0;0 phypaths=0;;;0 "
         "phypaths_failed=0;;;0;0 alarms=0;;;0"},
        {{2048, 16384, 16384, 64, 63, 4200, true},
         "vluns=2048;;;0 paths=16384;;;0 paths_failed=16384;;;0;16384 phypaths=64;;;0 "
         "phypaths_failed=63;;;0;64 alarms=4200;;;0"},
        {{0, 0, 0, 0, 0, 1, false}, "alarms=1;;;0"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(tsnagios_Perfdata(c.counts), c.written) << c.written;
    }
}

// What the last line of a cut long output says of the lines it stands for.
std::string LeftOut(unsigned alarms, unsigned devices) {
    std::string text = "and ";
    if (alarms > 0) {
        text += std::to_string(alarms) + (alarms == 1 ? " more alarm" : " more alarms");
    }
    if (devices > 0) {
        text += std::string(alarms > 0 ? ", " : "") + std::to_string(devices) +
                (devices == 1 ? " more device" : " more devices") + " not checked";
    }
    return text + "\n";
}

TEST(NagiosLongOutput, TheLastLineSaysWhatWasLeftOut) {
    const std::vector<TsNagiosLine> lines = {
        {"CRITICAL: alarm 14: a\n", true},   // 22 bytes
        {"WARNING: alarm 18: b\n", true},    // 21
        {"WARNING: alarm 18: c\n", true},    // 21
        {"not checked: /dev/sdb\n", false},  // 22
        {"not checked: /dev/sdc\n", false},  // 22
    };
    const struct {
        size_t room;
        const char* written;
    } kCases[] = {
        {108,
         "CRITICAL: alarm 14: a\nWARNING: alarm 18: b\nWARNING: alarm 18: c\n"
         "not checked: /dev/sdb\nnot checked: /dev/sdc\n"},
        // One byte short: both device lines give way to the line about them
        // (31 bytes), as one line (30) would not save a byte.
        {107,
         "CRITICAL: alarm 14: a\nWARNING: alarm 18: b\nWARNING: alarm 18: c\n"
         "and 2 more devices not checked\n"},
        {95,
         "CRITICAL: alarm 14: a\nWARNING: alarm 18: b\nWARNING: alarm 18: c\n"
         "and 2 more devices not checked\n"},
        {94,
         "CRITICAL: alarm 14: a\nWARNING: alarm 18: b\n"
         "and 1 more alarm, 2 more devices not checked\n"},
        {87, "CRITICAL: alarm 14: a\nand 2 more alarms, 2 more devices not checked\n"},
        {67, "and 3 more alarms, 2 more devices not checked\n"},
        // Too small even for the last line: it is written all the same.
        {0, "and 3 more alarms, 2 more devices not checked\n"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Written([&](FILE* out) { tsnagios_PutLongOutput(out, c.room, lines); }),
                  c.written)
            << "room " << c.room;
    }
}

// For every room: the whole when it fits, else a prefix of the lines and
// the line about the rest, within the room, and no room left for one more.
TEST(NagiosLongOutput, KeepsTheLongestPrefixThatFits) {
    std::vector<TsNagiosLine> lines;
    size_t total = 0;
    for (int i = 0; i < 40; ++i) {
        const bool alarm = i < 33;
        std::string text = (alarm ? "WARNING: alarm 18: " : "not checked: /dev/sd") +
                           std::string(static_cast<size_t>(10 + (i * 37) % 90), 'x') + "\n";
        total += text.size();
        lines.push_back({text, alarm});
    }
    const size_t smallest = LeftOut(33, 7).size();
    for (size_t room = smallest; room <= total + 2; ++room) {
        const std::string got =
            Written([&](FILE* out) { tsnagios_PutLongOutput(out, room, lines); });
        ASSERT_LE(got.size(), room);
        std::string kept;
        size_t count = 0;
        while (count < lines.size() &&
               got.compare(kept.size(), lines[count].text.size(), lines[count].text) == 0) {
            kept += lines[count++].text;
        }
        if (total <= room) {
            ASSERT_EQ(got, kept) << "room " << room;
            ASSERT_EQ(count, lines.size()) << "room " << room;
            continue;
        }
        const unsigned alarms = count < 33 ? 33 - static_cast<unsigned>(count) : 0;
        const unsigned devices = 7 - (count > 33 ? static_cast<unsigned>(count) - 33 : 0);
        ASSERT_EQ(got, kept + LeftOut(alarms, devices)) << "room " << room;
        const bool nextIsAlarm = count < 33;
        const std::string longer =
            kept + lines[count].text +
            (count + 1 < lines.size()
                 ? LeftOut(alarms - (nextIsAlarm ? 1 : 0), devices - (nextIsAlarm ? 0 : 1))
                 : "");
        ASSERT_GT(longer.size(), room) << "room " << room << ": one more line fits";
    }
}

// The bytes of a plugin's output that Nagios core reads.
constexpr size_t kNagiosCoreOutput = 8192;

// A host of 281 alarms, its two CRITICAL ones the 15th and the
// 210th, one UNKNOWN (no listing) among them: the whole plugin output.
class NagiosOutput : public testing::Test {
  protected:
    void SetUp() override {
        for (ListHead* list : {&g_tsvlunlist, &g_tsphypathlist, &g_tsdevicelist, &g_tsalarmlist}) {
            INIT_LIST_HEAD(list);
        }
    }
    void TearDown() override {
        ListHead* link = g_tsalarmlist.next;
        while (link != &g_tsalarmlist) {
            ListHead* next = link->next;
            free(list_entry(link, AlarmInfo, stNode));
            link = next;
        }
    }
    static void Raise(int type, const std::string& description) {
        AlarmInfo* alarm = static_cast<AlarmInfo*>(calloc(1, sizeof(AlarmInfo)));
        ASSERT_NE(alarm, nullptr);
        alarm->iType = type;
        (void)snprintf(alarm->acDescription.data(), alarm->acDescription.size(), "%s",
                       description.c_str());
        list_add_tail(&alarm->stNode, &g_tsalarmlist);
    }
    static std::string PathAlarm(int index) {
        return "The path (alias:sd" + std::to_string(index) +
               ", host wwn:21000024ff4a5b01, controller:A, target wwn:2100e0fc12345601) of "
               "vlun (alias:dm-" +
               std::to_string(index) + ", wwn:6e0fc123456000000000000000000011) is abnormal.";
    }
};

TEST_F(NagiosOutput, CriticalFirstWithinEightKibibytes) {
    const std::string dead15 = "All paths of vlun (alias:dm-15, wwn:6e0f; 15) are abnormal";
    const std::string dead210 = "All paths of vlun (alias:dm-210, wwn:6e0f|210) are abnormal";
    for (int i = 1; i <= 281; ++i) {
        if (i == 15 || i == 210) {
            Raise(TS_ALARM_VLUN_ALL_PATHS_DOWN, i == 15 ? dead15 : dead210);
        } else if (i == 3) {
            Raise(TS_ALARM_MULTIPATH_INVALID, "The multipath is invalid.");
        } else {
            Raise(TS_ALARM_PATH_ABNORMAL, PathAlarm(i));
        }
    }
    const TsMonitorScan scan = {0, 0.0};
    TsNagiosState state = TS_NAGIOS_OK;
    const std::string out = Written([&](FILE* stream) { state = tsnagios_Write(stream, scan); });
    EXPECT_EQ(state, TS_NAGIOS_CRITICAL);
    EXPECT_LE(out.size(), kNagiosCoreOutput);
    std::vector<std::string> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    ASSERT_GE(lines.size(), 4u);
    // The counts stand on the status line whatever the long output keeps;
    // the ';' of a device's text does not stand before the '|'.
    EXPECT_EQ(lines[0],
              "SAN CRITICAL - multipath listing unavailable - 281 alarms (2 critical, 278 "
              "warning), worst: All paths of vlun (alias:dm-15, wwn:6e0f? 15) are abnormal | "
              "alarms=281;;;0");
    EXPECT_EQ(lines[1], "CRITICAL: alarm 14: " + dead15);
    EXPECT_EQ(lines[2],
              "CRITICAL: alarm 14: All paths of vlun (alias:dm-210, wwn:6e0f?210) "
              "are abnormal");
    const size_t kept = lines.size() - 2;  // the status line, the last line
    // The warnings in the order they were raised: 1, 2, 4, 5, ..., 14, 16, ...
    std::vector<int> warnings;
    for (int i = 1; i <= 281; ++i) {
        if (i != 3 && i != 15 && i != 210) {
            warnings.push_back(i);
        }
    }
    for (size_t i = 3; i < lines.size() - 1; ++i) {
        EXPECT_EQ(lines[i], "WARNING: alarm 18: " + PathAlarm(warnings[i - 3])) << "line " << i;
    }
    EXPECT_EQ(lines.back(), "and " + std::to_string(281 - kept) + " more alarms");
    // One more warning line would not have fitted beside the shorter last line.
    const size_t left = 281 - kept;
    const std::string next = "WARNING: alarm 18: " + PathAlarm(warnings[kept - 2]) + "\n";
    const size_t longer = out.size() - LeftOut(static_cast<unsigned>(left), 0).size() +
                          next.size() + LeftOut(static_cast<unsigned>(left - 1), 0).size();
    EXPECT_GT(longer, kNagiosCoreOutput);
}

TEST_F(NagiosOutput, UnknownAlarmsFollowTheWarnings) {
    Raise(TS_ALARM_MULTIPATH_INVALID, "The multipath is invalid.");
    Raise(TS_ALARM_PATH_ABNORMAL, PathAlarm(1));
    const TsMonitorScan scan = {0, 0.0};
    EXPECT_EQ(Written([&](FILE* stream) { (void)tsnagios_Write(stream, scan); }),
              "SAN WARNING - multipath listing unavailable - 2 alarms (0 critical, 1 warning), "
              "worst: " +
                  PathAlarm(1) + " | alarms=2;;;0\nWARNING: alarm 18: " + PathAlarm(1) +
                  "\nUNKNOWN: alarm 10: The multipath is invalid.\n");
}

TEST(NagiosOutputFailure, AScanThatDidNotRunHasNoPerformanceData) {
    const TsMonitorScan scan = {TS_ERR_FAILED, 0.0};
    EXPECT_EQ(Written([&](FILE* stream) { (void)tsnagios_Write(stream, scan); }),
              "SAN UNKNOWN - the multipath command could not be run\n");
}

TEST(PrometheusLabel, ValuesAreEscapedAsTheFormatRequires) {
    const struct {
        const char* text;
        const char* written;
    } kCases[] = {
        {"2102351234ABCDEF0001", "2102351234ABCDEF0001"},
        {"--", ""},
        {"--/--", "--/--"},
        {"a\"b", "a\\\"b"},
        {"c:\\d", "c:\\\\d"},
        {"line\nnext\xff", "line?next?"},
        {"", ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Written([&](FILE* out) { tsprom_PutLabelValue(out, c.text); }), c.written)
            << c.text;
    }
}

}  // namespace
