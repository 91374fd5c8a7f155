// The shared reader of listing lines: each reading a caller can name, on the
// lines where the readings part ways.
#include "listing_line.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

constexpr const char* kNone = nullptr;  // the line has no such part

// A part as the tables write it: its text, or kNone.
std::string Shown(const LineSpan& part) {
    return part.found ? "[" + std::string(part.text) + "]" : "none";
}

std::string Shown(const char* text) {
    return text == kNone ? "none" : "[" + std::string(text) + "]";
}

TEST(LineWordAt, EachProgramsEndOfAWord) {
    const struct {
        const char* line;
        const char* pattern;
        const char* blank;           // WordEnd::kBlank
        const char* blankOrBracket;  // WordEnd::kBlankOrBracket
    } cases[] = {
        {"  `- 3:0:0:1 sdb 8:16 active ready", "sd", "sdb", "sdb"},
        {" \\_ 3:0:0:1 sdc 8:32 [active][ready]", "active", "active][ready]", "active"},
        {"[size=10G][features=0]", "size=", "size=10G][features=0]", "size=10G"},
        {"ends with sdq", "sd", "sdq", "sdq"},
        {"x ]y", "]", "]y", ""},  // the word may be empty where it starts at its end
        {"failed faulty running", "active", kNone, kNone},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Shown(LineWordAt(c.line, c.pattern, WordEnd::kBlank)), Shown(c.blank)) << c.line;
        EXPECT_EQ(Shown(LineWordAt(c.line, c.pattern, WordEnd::kBlankOrBracket)),
                  Shown(c.blankOrBracket))
            << c.line;
    }
}

// What each copy leaves in an 8-byte buffer that held "QQQQQQQ".
TEST(CopyLineSpan, EachCopyOnFitOverflowAndAbsence) {
    const LineSpan fits{true, "abc"};
    const LineSpan exact{true, "abcdefg"};      // 7 characters: the most that fits
    const LineSpan overlong{true, "abcdefgh"};  // 8
    const LineSpan absent;
    const struct {
        LineSpan part;
        SpanCopy copy;
        int result;
        std::string after;
    } cases[] = {
        {fits, SpanCopy::kZeroFilled, 0, std::string("abc\0\0\0\0\0", 8)},
        {fits, SpanCopy::kOntoZeros, 0, std::string("abcQQQQ\0", 8)},  // no terminator of its own
        {fits, SpanCopy::kWholeOrNone, 0, std::string("abc\0\0\0\0\0", 8)},
        {exact, SpanCopy::kWholeOrNone, 0, std::string("abcdefg\0", 8)},
        {overlong, SpanCopy::kZeroFilled, 0, std::string(8, '\0')},
        {overlong, SpanCopy::kOntoZeros, 0, std::string(8, '\0')},
        {overlong, SpanCopy::kWholeOrNone, -1, std::string("QQQQQQQ\0", 8)},
        {absent, SpanCopy::kZeroFilled, -1, std::string("QQQQQQQ\0", 8)},
        {absent, SpanCopy::kOntoZeros, -1, std::string("QQQQQQQ\0", 8)},
    };
    for (const auto& c : cases) {
        char dest[9] = "QQQQQQQ";
        dest[8] = 'Z';  // a guard byte behind the buffer
        EXPECT_EQ(CopyLineSpan(c.part, c.copy, dest, 8), c.result) << Shown(c.part);
        EXPECT_EQ(std::string(dest, 8), c.after) << Shown(c.part);
        EXPECT_EQ(dest[8], 'Z') << "written beyond the buffer";
    }
    // Without a buffer only ts_showdisk's copy answers whether the part is there.
    EXPECT_EQ(CopyLineSpan(fits, SpanCopy::kOntoZeros, nullptr, 0), 0);
    EXPECT_EQ(CopyLineSpan(absent, SpanCopy::kOntoZeros, nullptr, 0), -1);
    EXPECT_EQ(CopyLineSpan(fits, SpanCopy::kZeroFilled, nullptr, 0), -1);
}

TEST(MapHeader, WhichLinesAreHeaders) {
    const struct {
        const char* line;
        bool holdsDm;
        bool atMargin;
    } cases[] = {
        {"mpatha (36e0fc12) dm-0 QELMAR,VSA1000", true, true},
        {"mpatha (36e0fc12) QELMAR,VSA1000", false, true},  // a header without its dm word
        {"size=10G features='0' hwhandler='0' wp=rw", false, false},
        {"[size=10G][features=0]", false, false},
        {"`-+- policy='service-time 0' prio=1 status=active", false, false},
        {"| `- 3:0:0:1 sdb 8:16 active ready running", false, false},
        {" \\_ 3:0:0:1 sdb 8:16 [active][ready]", false, false},
        {"\\_ round-robin 0 [prio=1][active]", false, false},
        {"  backup_dm-3 indented", true, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsMapHeader(c.line, HeaderLine::kHoldsDm), c.holdsDm) << c.line;
        EXPECT_EQ(IsMapHeader(c.line, HeaderLine::kAtMargin), c.atMargin) << c.line;
    }
}

// The two readings of the names agree on the headers multipath prints and
// part ways on the others.
TEST(MapHeader, NamesUnderEachReading) {
    const struct {
        const char* line;
        const char* alias;  // kBracketedWord
        const char* wwid;
        const char* captureAlias;  // kParenthesisAfterFirst
        const char* captureWwid;
    } cases[] = {
        {"oradata (36e0fc1) dm-2 QELMAR,VSA", "oradata", "36e0fc1", "oradata", "36e0fc1"},
        {"36e0fc1 dm-1 QELMAR,VSA", kNone, "36e0fc1", kNone, "36e0fc1"},
        {"mpatha  (36e0fc1) dm-2 Q,V", "mpatha", "36e0fc1", kNone, "mpatha"},  // two blanks
        {"name (36 e0) dm-2 Q,V", kNone, "name", "name", "36 e0"},             // a blank inside
        {"name (a)b) dm-2 Q,V", "name", "a)b", "name", "a"},
        {"name () dm-4 Q,V", kNone, "name", "name", ""},
        {"dm-4 QELMAR,VSA", kNone, kNone, kNone, "dm-4"},  // the dm word first
        {"   ", kNone, kNone, kNone, ""},
    };
    for (const auto& c : cases) {
        const MapNames words = MapHeaderNames(c.line, NameReading::kBracketedWord);
        EXPECT_EQ(Shown(words.alias), Shown(c.alias)) << c.line;
        EXPECT_EQ(Shown(words.wwid), Shown(c.wwid)) << c.line;
        const MapNames capture = MapHeaderNames(c.line, NameReading::kParenthesisAfterFirst);
        EXPECT_EQ(Shown(capture.alias), Shown(c.captureAlias)) << c.line;
        EXPECT_EQ(Shown(capture.wwid), Shown(c.captureWwid)) << c.line;
    }
}

TEST(MapHeader, NaaDigitsOfAWwid) {
    const std::string digits(32, 'a');
    const std::string more = digits + "b";
    const struct {
        std::string wwid;
        const char* exactly32;
        const char* anyAfterThree;
    } cases[] = {
        {"3" + digits, digits.c_str(), digits.c_str()},
        {"3" + more, kNone, more.c_str()},
        {"36e0fc", kNone, "6e0fc"},
        {"2001234", kNone, "2001234"},  // no 3: the whole word
        {"3", kNone, "3"},
    };
    for (const auto& c : cases) {
        const LineSpan wwid{true, c.wwid};
        EXPECT_EQ(Shown(WwidNaaDigits(wwid, NaaDigits::kExactly32)), Shown(c.exactly32)) << c.wwid;
        EXPECT_EQ(Shown(WwidNaaDigits(wwid, NaaDigits::kAnyAfterThree)), Shown(c.anyAfterThree))
            << c.wwid;
    }
    EXPECT_FALSE(WwidNaaDigits(LineSpan{}, NaaDigits::kAnyAfterThree).found);
}

TEST(MapSize, EachProgramsSizeWordAndValue) {
    const struct {
        const char* line;
        const char* field;         // SizeReading::kBracketedField
        const char* blankBracket;  // SizeReading::kBlankOrBracket
    } cases[] = {
        {"size=10G features='1 queue_if_no_path' hwhandler='0' wp=rw", "10G", "10G"},
        {"[size=10G][features=1 queue_if_no_path][hwhandler=0]", "10G", "10G"},
        {"[size=576 GB][features=\"1 queue_if_no_path\"]", "576 GB", "576"},
        {"  [size=1G][features=0]", "1G][features", "1G"},  // not from "[": a word
        {"size==5G wp=rw", "5G", "=5G"},
        {"size=a=b wp=rw", "a", "a=b"},
        {"size= features='0'", kNone, ""},
        {"[features=0]", "0", kNone},  // a line from "[" gives its first field
        {"features='0' wp=rw", kNone, kNone},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Shown(MapSizeOfLine(c.line, SizeReading::kBracketedField).value), Shown(c.field))
            << c.line;
        EXPECT_EQ(Shown(MapSizeOfLine(c.line, SizeReading::kBlankOrBracket).value),
                  Shown(c.blankBracket))
            << c.line;
    }
    EXPECT_EQ(Shown(MapSizeOfLine("size= features", SizeReading::kBracketedField).word), "[size=]");
}

TEST(PathLine, AddressWordUnderEachSearch) {
    const struct {
        const char* line;
        const char* afterTreeMark;
        const char* anyWord;
    } cases[] = {
        {"| |- 3:0:0:1 sdb 8:16  active ready running", "3:0:0:1", "3:0:0:1"},
        {" \\_ 13:0:1:0  sdc 8:32  [active]", "13:0:1:0", "13:0:1:0"},
        {"  `- #:#:#:# - #:# active faulty running", "#:#:#:#", "#:#:#:#"},
        // The first hyphens decide even when no address follows them.
        {"x-y \\_ 3:0:0:1 sdb", "y", "3:0:0:1"},
        {"\\_ 3:0:0:7 sdb -", "3:0:0:7", "3:0:0:7"},  // nothing after the hyphens
        {"no marks 3:0:0:1", kNone, "3:0:0:1"},
        {"\t3:0:0:2\tsdd", kNone, "3:0:0:2"},
        {"size=10G features='0'", kNone, kNone},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Shown(PathLineAddress(c.line, AddressSearch::kAfterTreeMark)),
                  Shown(c.afterTreeMark))
            << c.line;
        EXPECT_EQ(Shown(PathLineAddress(c.line, AddressSearch::kAnyWord)), Shown(c.anyWord))
            << c.line;
    }
}

// The limits of a group: beyond the int range, and more than 63 digits.
TEST(PathLine, ScsiAddressNumbersAtTheirLimits) {
    const std::string longGroup = "1:2:" + std::string(63, '0') + "9:4";  // 64 digits
    ScsiAddress address;
    ASSERT_TRUE(ReadScsiAddress("2147483648:0:99999999999999999999:1", &address));
    EXPECT_EQ(address.host, INT_MAX);
    EXPECT_EQ(address.target, INT_MAX);
    ASSERT_TRUE(ReadScsiAddress(longGroup, &address));
    EXPECT_EQ(address.target, 0);
    EXPECT_EQ(address.lun, 4);
    address = ScsiAddress{7, 7, 7, 7};
    EXPECT_FALSE(ReadScsiAddress("3:0:0:1:5", &address));
    EXPECT_EQ(address.host, 7) << "a word left unread leaves the address as it was";
}

TEST(PathLine, DeviceStateAndHostDigits) {
    const struct {
        const char* line;
        const char* device;  // WordEnd::kBlankOrBracket
        bool dmFailed;
        const char* host;
    } cases[] = {
        {"  |- 4:0:0:2 sde 8:64 failed faulty running", "sde", true, "4"},
        {"  `- 12:0:1:1 sdq 65:0 active ready running", "sdq", false, "12"},
        {" \\_ 7:0:1:4 sdt 65:48 [failed][faulty]", "sdt", true, "7"},
        {"  `- #:#:#:# - #:# active faulty running", kNone, false, kNone},
        {"  `- #:#:#:# sdb 8:16 failed", "sdb", true, "8"},  // the major number
        {"  `- 3:0:0:2 sdd 8:", "sdd", false, "3"},          // cut before the states
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Shown(PathLineDevice(c.line, WordEnd::kBlankOrBracket)), Shown(c.device))
            << c.line;
        EXPECT_EQ(PathLineDmFailed(c.line), c.dmFailed) << c.line;
        EXPECT_EQ(Shown(PathLineHostDigits(c.line)), Shown(c.host)) << c.line;
    }
}

TEST(EsxiLine, ValueUnderEachReading) {
    const struct {
        const char* line;
        const char* key;
        const char* firstColon;  // EsxiValue::kAfterFirstColon
        const char* keyTrimmed;  // EsxiValue::kAfterKeyTrimmed
    } cases[] = {
        // The capture's key is the item's start, ts_showdisk's value the first colon's.
        {"   Runtime Name: vmhba2:C0:T0:L1", "Runtime", "vmhba2:C0:T0:L1", "Name: vmhba2:C0:T0:L1"},
        {"   Device: naa.6e0fc1  ", "Device: ", "naa.6e0fc1  ", "naa.6e0fc1"},
        {"   State:", "State:", "", ""},
        {"   State:", "State: ", kNone, kNone},
        {"   Adapter Identifier: fc.2000:2100", "Adapter Identifier: ", "fc.2000:2100",
         "fc.2000:2100"},
        {"   Device Display Name: QELMAR Disk (naa.6e0)", "Device: ", kNone, kNone},
        {"State:xactive", "State:", "active", kNone},  // the character after the colon skipped
        {"x Size: 10 MB", "Size:", "10 MB", kNone},    // ts_showdisk: the key anywhere
        {"naa.6e0fc1", "Device: ", kNone, kNone},
        {"", "", kNone, kNone},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Shown(EsxiLineValue(c.line, c.key, EsxiValue::kAfterFirstColon)),
                  Shown(c.firstColon))
            << c.line;
        EXPECT_EQ(Shown(EsxiLineValue(c.line, c.key, EsxiValue::kAfterKeyTrimmed)),
                  Shown(c.keyTrimmed))
            << c.line;
    }
}

TEST(EsxiLine, DeviceLinesAndTheirNames) {
    const struct {
        const char* line;
        bool naaAnywhere;
        bool atMargin;
        const char* digits;
    } cases[] = {
        {"naa.6e0fc1234560000000000000000000b1", true, true, "6e0fc1234560000000000000000000b1"},
        {"eui.0025385b71b0", false, true, "0025385b71b0"},
        {"fc.2000:2100-fc.2100:2100-naa.6e0fc1", true, true, kNone},
        {"   Device: naa.6e0fc1", true, false, kNone},
        {"mpx.vmhba32:C0:T0:L0", false, true, kNone},
        {"", false, false, kNone},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EsxiDeviceLine(c.line, EsxiDevice::kNaaAnywhere).found, c.naaAnywhere) << c.line;
        EXPECT_EQ(EsxiDeviceLine(c.line, EsxiDevice::kAtMargin).found, c.atMargin) << c.line;
        EXPECT_EQ(Shown(EsxiDeviceDigits(c.line)), Shown(c.digits)) << c.line;
    }
    const struct {
        const char* value;
        const char* node;
        const char* port;
    } ports[] = {
        {"fc.20000024ff4a5b01:21000024ff4a5b01", "20000024ff4a5b01", "21000024ff4a5b01"},
        {"fc.20000024ff4a5b01", "20000024ff4a5b01", kNone},
        {"iqn.1998-01.com.vmware:esx01", kNone, kNone},
    };
    for (const auto& p : ports) {
        const FcNames names = EsxiFcNames(p.value);
        EXPECT_EQ(Shown(names.node), Shown(p.node)) << p.value;
        EXPECT_EQ(Shown(names.port), Shown(p.port)) << p.value;
    }
}

}  // namespace
