// The page field decoders and the programs' readings of them, held to what
// the pages mean: designators, interface versions, controller codes, the
// array's two-byte name and the text fields, and every field a program reads
// inside the buffer its plan asks for.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lun_decode.h"
#include "lun_plan.h"

namespace {

// A page 0x83 of one designator: code set 1, the given type and length,
// bytes 0x60, 0x61, ... ; pageLength is what bytes 2 and 3 say.
std::vector<unsigned char> IdentificationPage(unsigned char type, unsigned char length,
                                              unsigned char pageLength) {
    std::vector<unsigned char> page(24, 0);
    page[1] = kLunPageIdentification;
    page[3] = pageLength;
    page[4] = 0x01;
    page[5] = type;
    page[7] = length;
    for (size_t i = 8; i < page.size(); ++i) {
        page[i] = static_cast<unsigned char>(0x60 + i - 8);
    }
    return page;
}

std::string Wwn(const std::vector<unsigned char>& page, LunLength reading) {
    char dest[64] = "unset";
    const int len = static_cast<int>(page.size());
    if (!lun_Wwn(page.data(), lun_ReadableLength(page.data(), len, reading), dest, sizeof(dest))) {
        EXPECT_STREQ(dest, "unset");  // untouched when there is no WWN
        return "none";
    }
    return dest;
}

}  // namespace

TEST(LunWwn, OnlyAFirstSixteenByteNaaDesignatorIsTheWwn) {
    const std::string digits = "606162636465666768696a6b6c6d6e6f";
    const struct Case {
        unsigned char type;
        unsigned char length;
        unsigned char pageLength;
        LunLength reading;
        std::string wwn;
    } cases[] = {
        {3, 16, 20, LunLength::Page, digits},
        {3, 16, 20, LunLength::Buffer, digits},
        {1, 16, 20, LunLength::Buffer, "none"},  // a T10 vendor ID designator first
        {3, 8, 12, LunLength::Buffer, "none"},   // an NAA designator of 8 bytes
        // Cut short after the designator's header: tsexTool reads only what
        // was sent, ts_showdisk the whole zero-filled buffer.
        {3, 16, 4, LunLength::Page, "none"},
        {3, 16, 4, LunLength::Buffer, digits},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Wwn(IdentificationPage(c.type, c.length, c.pageLength), c.reading), c.wwn)
            << int(c.type) << "/" << int(c.length) << "/" << int(c.pageLength);
    }
    // A buffer shorter than one designator holds no WWN.
    std::vector<unsigned char> short_page = IdentificationPage(3, 16, 20);
    short_page.resize(23);
    EXPECT_EQ(Wwn(short_page, LunLength::Buffer), "none");
}

TEST(LunDesignators, WalkStopsAtTheLastWholeHeader) {
    // Two designators, then three stray bytes: no third header.
    const unsigned char page[] = {0, 0x83, 0, 15, 1, 3, 0, 2, 0xAA, 0xBB, 2, 8, 0, 1, 'n', 0, 0, 0};
    std::vector<LunDesignator> seen;
    lun_EachDesignator(page, sizeof(page), [&seen](const LunDesignator& d) { seen.push_back(d); });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].type, 3u);
    EXPECT_EQ(seen[0].at, 8u);
    EXPECT_EQ(seen[0].length, 2u);
    EXPECT_EQ(seen[1].codeSet, 2u);
    EXPECT_EQ(seen[1].type, 8u);
    EXPECT_EQ(seen[1].at, 14u);
}

TEST(LunQualifier, TopThreeBitsOfByteZero) {
    const unsigned char page[] = {0x3F};
    const unsigned char absent[] = {0x20};
    EXPECT_EQ(lun_Qualifier(page, 1), 1);
    EXPECT_EQ(lun_Qualifier(absent, 0), 0);  // nothing returned
}

TEST(LunInterfaceVersion, EachProgramReadsItsPlace) {
    const struct Case {
        unsigned char bytes[4];
        int eitherPlace;   // tsexTool
        bool namesLayout;  // ts_showdisk: page 0xC9 names the controllers
    } cases[] = {
        {{2, 2, 0, 4}, 0x204, false},  // newer place set: 516 there
        {{2, 0, 3, 0}, 0x203, true},   // older place only: 515
        {{2, 0, 2, 0}, 0x202, false},     {{3, 0, 0, 0}, 0x300, true},
        {{1, 9, 9, 9}, 0x909, false},      // tsexTool reads the newer place
        {{0x83, 0, 9, 0}, 0x8309, false},  // a negative byte for ts_showdisk
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lun_InterfaceVersion(c.bytes, LunVersion::EitherPlace), c.eitherPlace);
        EXPECT_EQ(lun_InterfaceVersion(c.bytes, LunVersion::OlderPlaceSigned) > kLunVersionLetters,
                  c.namesLayout)
            << int(c.bytes[0]) << "." << int(c.bytes[2]);
    }
}

TEST(LunPortType, EachProgramNamesItsTransports) {
    const char* const every[] = {"--", "FC", "SAS", "iSCSI", "FCoE", "IB", "--"};
    const char* const tool[] = {"--", "FC", "--", "iSCSI", "--", "--", "--"};
    for (unsigned char code = 0; code < 7; ++code) {
        EXPECT_STREQ(lun_PortTypeText(code, LunPortTypes::Every), every[code]);
        EXPECT_STREQ(lun_PortTypeText(code, LunPortTypes::FcAndIscsi), tool[code]);
    }
    EXPECT_STREQ(lun_PortTypeText(0xFF, LunPortTypes::Every), "--");
}

TEST(LunControllers, CodesCountFromTheFirstController) {
    const struct Case {
        int code;
        int index;
    } cases[] = {{0x81, 0}, {0x82, 1}, {'1', 0}, {'2', 1}, {0, 0}, {1, 1}, {0x30, 0x30}};
    for (const Case& c : cases) {
        EXPECT_EQ(lun_ControllerIndex(c.code), c.index) << c.code;
    }
    EXPECT_EQ(lun_ControllerLetter(0x31), 'A');
    EXPECT_EQ(lun_ControllerLetter(0x32), 'B');
}

TEST(LunControllers, ShowdiskPairOfTheOldestArrays) {
    const struct Case {
        unsigned char x, a, b;
        const char* text;
    } cases[] = {
        {'2', 0, 2, "0A/0A"}, {'1', 0, 2, "0B/0B"}, {'1', 1, 1, "0A/0A"},
        {'3', 1, 1, "0B/0B"}, {'1', 1, 2, "0B/0A"}, {'2', 1, 2, "0A/0B"},
    };
    for (const Case& c : cases) {
        char dest[16] = {0};
        lun_OwnWorkPairText(c.x, c.a, c.b, dest, sizeof(dest));
        EXPECT_STREQ(dest, c.text) << c.x << int(c.a) << int(c.b);
    }
}

namespace {

// A page 0xC8 with the length byte and name bytes given; the page length
// says readable bytes were sent.
std::string ArrayName(const std::vector<unsigned char>& name, unsigned char lengthByte,
                      LunArrayName reading, int version = kLunVersionLetters, int readable = 196,
                      size_t size = 64) {
    unsigned char page[256] = {0};
    page[2] = static_cast<unsigned char>((readable - 4) >> 8);
    page[3] = static_cast<unsigned char>(readable - 4);
    page[kLunArrayNameLength] = lengthByte;
    // The device sends readable bytes; the buffer's zero fill follows.
    for (size_t i = 0; i < name.size() && kLunArrayName.offset + i < static_cast<size_t>(readable);
         ++i) {
        page[kLunArrayName.offset + i] = name[i];
    }
    char dest[128];
    std::memset(dest, 0, sizeof(dest));
    if (lun_ArrayNameOf(page, 196, readable, version, reading, dest, size) != 0) {
        return "refused";
    }
    return dest;
}

std::vector<unsigned char> Wide(const std::string& text) {
    std::vector<unsigned char> bytes;
    for (char c : text) {
        bytes.push_back(0);
        bytes.push_back(static_cast<unsigned char>(c));
    }
    return bytes;
}

}  // namespace

TEST(LunArrayName, BothReadingsAgreeOnAPlainName) {
    for (LunArrayName reading : {LunArrayName::SecondBytes, LunArrayName::NonZeroBytes}) {
        EXPECT_EQ(ArrayName(Wide("Array_07"), 16, reading), "Array_07");
    }
}

TEST(LunArrayName, ReadingsDifferWhereThePagesDiffer) {
    // ts_showdisk trusts the length byte: past 80 no name, and only as many
    // bytes as it says; tsexTool never reads it.
    EXPECT_EQ(ArrayName(Wide("Array"), 81, LunArrayName::NonZeroBytes), "");
    EXPECT_EQ(ArrayName(Wide("Array"), 81, LunArrayName::SecondBytes), "Array");
    EXPECT_EQ(ArrayName(Wide("Array"), 6, LunArrayName::NonZeroBytes), "Arr");
    EXPECT_EQ(ArrayName(Wide("Array"), 6, LunArrayName::SecondBytes), "Array");
    // NULs among single bytes are left out by ts_showdisk only.
    EXPECT_EQ(ArrayName({'A', 'B', 0, 'C', 'D'}, 5, LunArrayName::NonZeroBytes), "ABCD");
    // A 64-byte destination keeps 63 of 80 bytes and its terminator.
    EXPECT_EQ(ArrayName(std::vector<unsigned char>(80, 'x'), 80, LunArrayName::NonZeroBytes),
              std::string(63, 'x'));
    EXPECT_EQ(ArrayName(Wide("Array"), 10, LunArrayName::NonZeroBytes, 0, 196, 4), "Arr");
}

TEST(LunArrayName, TsexToolNeedsTheNameSent) {
    // From 514 all 80 bytes must have been sent; before, the name runs to
    // the end of what was sent.
    EXPECT_EQ(ArrayName(Wide("Array"), 0, LunArrayName::SecondBytes, kLunVersionLetters, 186),
              "refused");
    EXPECT_EQ(ArrayName(Wide("Array"), 0, LunArrayName::SecondBytes, kLunVersionVpd, 113), "Arr");
    EXPECT_EQ(ArrayName(Wide("Array"), 0, LunArrayName::SecondBytes, kLunVersionVpd, 107),
              "refused");
}

TEST(LunText, ReadingsOfOneField) {
    // "AB CD", a NUL, then "EF" in an eight-byte field at 8.
    unsigned char page[36] = {0};
    std::memcpy(page + 8, "AB CD\0EF", 8);
    const struct Case {
        LunText reading;
        const char* text;
        const char* afterNul;  // what the destination holds behind the first NUL
    } cases[] = {
        {LunText::AsSent, "AB CD", "EF"},
        {LunText::ToNul, "AB CD", ""},
        {LunText::BlanksEnd, "AB", "CD"},
    };
    for (const Case& c : cases) {
        char dest[16];
        std::memset(dest, 0, sizeof(dest));
        ASSERT_EQ(lun_Text(page, sizeof(page), kLunVendorId, c.reading, dest, sizeof(dest)), 0);
        EXPECT_STREQ(dest, c.text);
        EXPECT_STREQ(dest + std::strlen(dest) + 1, c.afterNul);
    }
}

TEST(LunText, BeyondTheBufferReadsZerosAndSmallDestinationsRefuse) {
    unsigned char page[12] = {0};
    std::memcpy(page + 8, "ABCD", 4);
    char dest[16];
    std::memset(dest, 'x', sizeof(dest));
    ASSERT_EQ(lun_Text(page, sizeof(page), kLunVendorId, LunText::AsSent, dest, sizeof(dest)), 0);
    EXPECT_STREQ(dest, "ABCD");
    char small[8] = "unset";
    EXPECT_EQ(lun_Text(page, sizeof(page), kLunVendorId, LunText::AsSent, small, sizeof(small)),
              -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(lun_Text(page, sizeof(page), kLunVendorId, LunText::ToNul, small, sizeof(small)), 0);
    EXPECT_STREQ(small, "ABCD");
}

TEST(LunNumber, LunIdsMostSignificantFirst) {
    unsigned char page[196] = {0};
    const unsigned char id[] = {0x01, 0x02, 0x03, 0x04};
    std::memcpy(page + kLunHostLunId.offset, id, 4);
    EXPECT_EQ(lun_Number(page, sizeof(page), kLunHostLunId), 0x01020304u);
    EXPECT_EQ(lun_LowNumber(page, sizeof(page), kLunHostLunId), 0x0304u);
    EXPECT_EQ(lun_Number(page, 87, kLunHostLunId), 0x01020000u);  // the rest not in the buffer
}

namespace {

struct Reads {
    LunPlan plan;
    std::vector<LunField> fields;
};

template <size_t N>
Reads ReadsOf(const LunInquiry (&plan)[N], std::vector<LunField> fields) {
    return Reads{lun_Plan(plan), std::move(fields)};
}

}  // namespace

// Every field a program decodes lies inside the buffer its plan asks for:
// shortening a plan's allocation length under a field is caught here, not
// by a table that quietly shows zeros.
TEST(LunPlans, EveryFieldAProgramReadsFitsItsRequest) {
    const Reads programs[] = {
        ReadsOf(kLunToolPlan, {kLunVendorId, kLunProductId, kLunShieldByte, kLunDualArrayByte,
                               kLunInterfaceVersion, kLunPortType, kLunTargetPortId,
                               kLunInitiatorPortId, kLunControllerCode, kLunLunName, kLunHostLunId,
                               kLunRawLunId, kLunArrayName, kLunDevLunId, kLunPathController,
                               kLunWorkController, kLunOwnController, kLunPortId}),
        ReadsOf(kLunShowdiskPlan,
                {kLunVendorId, kLunInterfaceVersion, kLunPortType, kLunLunName, kLunHostLunId,
                 kLunArrayName, kLunControllerCode, kLunWorkController, kLunOwnController}),
        ReadsOf(kLunSolarisPlan, {kLunVendorId, kLunProductId, kLunRevision, kLunArraySerialCopy,
                                  kLunLunNameToNul, kLunDevLunId}),
    };
    for (const Reads& program : programs) {
        for (const LunField& field : program.fields) {
            int allocLen = 0;
            for (size_t i = 0; i < program.plan.count; ++i) {
                if (program.plan.steps[i].page == field.page) {
                    allocLen = program.plan.steps[i].allocLen;
                }
            }
            EXPECT_GE(allocLen, lun_FieldEnd(field))
                << "page " << int(field.page) << " offset " << field.offset;
        }
    }
}
