// The plans' union, which the capture sends, and the look-up by which each
// program takes its steps from its plan.
#include "lun_plan.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<LunInquiry> Union(std::initializer_list<LunPlan> plans) {
    const std::vector<LunPlan> list(plans);
    std::vector<LunInquiry> out(lun_UnionOfPlans(list.data(), list.size(), nullptr, 0));
    EXPECT_EQ(lun_UnionOfPlans(list.data(), list.size(), out.data(), out.size()), out.size());
    return out;
}

bool Same(const std::vector<LunInquiry>& got, const std::vector<LunInquiry>& want) {
    if (got.size() != want.size()) {
        return false;
    }
    for (size_t i = 0; i < got.size(); ++i) {
        if (!lun_SameInquiry(got[i], want[i])) {
            return false;
        }
    }
    return true;
}

TEST(LunPlanUnion, KeepsEachRequestOnceInTheOrderFirstSent) {
    constexpr LunInquiry first[] = {{0, 0x00, 36}, {1, 0xC0, 700}, {1, 0xC0, 700}};
    constexpr LunInquiry second[] = {{1, 0xC0, 700}, {1, 0xC0, 160}, {0, 0x00, 36}, {1, 0x00, 36}};
    // The repeat within a plan and the same request of the second plan go;
    // another length of a page, and page 0 with EVPD, are requests of their
    // own.
    EXPECT_TRUE(Same(Union({lun_Plan(first), lun_Plan(second)}),
                     {{0, 0x00, 36}, {1, 0xC0, 700}, {1, 0xC0, 160}, {1, 0x00, 36}}));
    EXPECT_TRUE(Same(Union({lun_Plan(second), lun_Plan(first)}),
                     {{1, 0xC0, 700}, {1, 0xC0, 160}, {0, 0x00, 36}, {1, 0x00, 36}}));
    EXPECT_TRUE(Union({}).empty());
}

TEST(LunPlanUnion, CountsBeyondTheRoomItIsGiven) {
    const LunPlan plans[] = {lun_Plan(kLunToolPlan), lun_Plan(kLunShowdiskPlan)};
    const size_t total = lun_UnionOfPlans(plans, 2, nullptr, 0);
    ASSERT_GT(total, 3u);
    // Three slots and a guard: the union writes the first three only.
    LunInquiry out[4] = {{}, {}, {}, {9, 9, 9}};
    EXPECT_EQ(lun_UnionOfPlans(plans, 2, out, 3), total);
    EXPECT_TRUE(lun_SameInquiry(out[0], kLunToolPlan[0]));
    EXPECT_TRUE(lun_SameInquiry(out[2], kLunToolPlan[2]));
    EXPECT_TRUE(lun_SameInquiry(out[3], LunInquiry{9, 9, 9}));
}

TEST(LunPlanStep, FindsAPageByItsEvpdAndCode) {
    constexpr LunInquiry c0 = lun_PlanStep(kLunToolPlan, 1, kLunPageInterface);
    static_assert(c0.evpd == 1 && c0.page == kLunPageInterface && c0.allocLen != 0, "found");
    // A page the plan does not send; page 0 asked as a VPD page is not the
    // standard data.
    EXPECT_EQ(lun_PlanStep(kLunSolarisPlan, 1, kLunPageOwnWork).allocLen, 0);
    EXPECT_EQ(lun_PlanStep(kLunToolPlan, 1, kLunPageStandard).allocLen, 0);
    EXPECT_EQ(lun_PlanStep(kLunToolPlan, 0, kLunPageStandard).allocLen, kLunToolPlan[0].allocLen);
}

}  // namespace
