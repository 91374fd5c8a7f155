// Tests of the monitoring forms' texts: the Nagios state of every alarm type,
// the '?' of device bytes and of '|' in plugin text, and the escapes of
// Prometheus label values.
#include <gtest/gtest.h>

#include <string>

#include "../common/written_text.h"
#include "tsmonitor.h"
#include "tsnagios.h"
#include "tsprom.h"

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
