// The vendor's names under each program's rule: the rules differ on
// purpose, and a helper that took another's would let another vendor's
// disks into a table or drop the vendor's own.
#include "lun_vendor.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* text;
    bool exact;     // lun_IsVendorName: the trimmed field, whole
    bool prefix;    // lun_VendorFieldIsVendor: the field's start
    bool anywhere;  // lun_LineNamesVendor: anywhere in a line
};

TEST(LunVendor, EachRuleMatchesAsItsProgramReads) {
    const Case cases[] = {
        {"QELMAR", true, true, true},
        {"ZUNTA", true, true, true},
        {"QELMARX", false, true, true},  // eight bytes of field, no blank
        {"ZUNTA2", false, true, true},
        {" QELMAR", false, false, true},  // not trimmed
        {"qelmar", false, false, false},  // the names are upper case
        {"QELMA", false, false, false},
        {"36e0fc1 dm-2 QELMAR,XSG1", false, false, true},
        {"36e0fc1 dm-0 ZUNTA,ZX200", false, false, true},
        {"36e0fc1 dm-3 ATA,VBOX", false, false, false},
        {"", false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lun_IsVendorName(c.text), c.exact) << c.text;
        EXPECT_EQ(lun_VendorFieldIsVendor(c.text), c.prefix) << c.text;
        EXPECT_EQ(lun_LineNamesVendor(c.text), c.anywhere) << c.text;
    }
}

TEST(LunVendor, NamedInTakesTheNamesInTableOrder) {
    EXPECT_STREQ(lun_VendorNamedIn("mpatha (36e0) dm-1 ZUNTA,ZX200"), "ZUNTA");
    EXPECT_STREQ(lun_VendorNamedIn("mpatha (36e0) dm-1 QELMAR,XSG1"), "QELMAR");
    // A line with both is the first name's, wherever each stands.
    EXPECT_STREQ(lun_VendorNamedIn("ZUNTA dm-1 QELMAR,XSG1"), kLunVendorNames[0]);
    EXPECT_EQ(lun_VendorNamedIn("dm-1 ATA,VBOX"), nullptr);
}

}  // namespace
