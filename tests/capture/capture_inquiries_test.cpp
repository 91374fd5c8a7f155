// The INQUIRY list of a capture: the union of the programs' plans, so that
// a replay answers every INQUIRY either program sends, and a change of a
// plan reaches the capture by itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture_device.h"

namespace {

std::string Text(const std::vector<LunInquiry>& list) {
    std::string text;
    for (const LunInquiry& step : list) {
        char item[32];
        (void)snprintf(item, sizeof item, "%u/%02X/%u ", step.evpd, step.page, step.allocLen);
        text += item;
    }
    return text;
}

// The order captures were always made in: tsexTool's requests, then
// ts_showdisk's. The kept captures (tests/kernel/captures,
// tests/capture/fixtures) hold their replies in this order.
TEST(CaptureInquiries, AreTheProgramsPlansInTheOrderCapturesHold) {
    EXPECT_EQ(Text(capture_Inquiries()),
              "0/00/64 1/C0/1024 1/80/64 1/83/64 1/C4/64 1/C8/256 1/C9/512 "
              "0/00/36 1/83/24 1/C0/700 1/C8/196 1/C4/32 1/C9/264 ");
}

TEST(CaptureInquiries, FollowAPlansAllocationLength) {
    // tsexTool's plan with page 0xC8 at 196 bytes, as ts_showdisk reads it:
    // the capture sends that request once, where tsexTool's plan has it.
    LunInquiry tool[sizeof kLunToolPlan / sizeof kLunToolPlan[0]];
    for (size_t i = 0; i < sizeof tool / sizeof tool[0]; ++i) {
        tool[i] = kLunToolPlan[i];
        if (tool[i].page == kLunPageLun) {
            tool[i].allocLen = 196;
        }
    }
    const LunPlan plans[] = {lun_Plan(tool), lun_Plan(kLunShowdiskPlan)};
    EXPECT_EQ(Text(capture_InquiriesOf(plans, 2)),
              "0/00/64 1/C0/1024 1/80/64 1/83/64 1/C4/64 1/C8/196 1/C9/512 "
              "0/00/36 1/83/24 1/C0/700 1/C4/32 1/C9/264 ");

    // ts_showdisk's page 0x83 at 200 bytes.
    LunInquiry showdisk[sizeof kLunShowdiskPlan / sizeof kLunShowdiskPlan[0]];
    for (size_t i = 0; i < sizeof showdisk / sizeof showdisk[0]; ++i) {
        showdisk[i] = kLunShowdiskPlan[i];
        if (showdisk[i].page == kLunPageIdentification) {
            showdisk[i].allocLen = 200;
        }
    }
    const LunPlan changed[] = {lun_Plan(kLunToolPlan), lun_Plan(showdisk)};
    EXPECT_EQ(Text(capture_InquiriesOf(changed, 2)),
              "0/00/64 1/C0/1024 1/80/64 1/83/64 1/C4/64 1/C8/256 1/C9/512 "
              "0/00/36 1/83/200 1/C0/700 1/C8/196 1/C4/32 1/C9/264 ");
}

}  // namespace
