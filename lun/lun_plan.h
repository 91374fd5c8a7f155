// Each program's INQUIRY plan: which pages it asks a device for, with
// which allocation length, in the order it sends them. A program takes its
// page codes and lengths from its plan; the capture sends the union of the
// plans, so that a replay holds a reply to every INQUIRY either program
// sends.
#ifndef TSKIT_LUN_PLAN_H
#define TSKIT_LUN_PLAN_H

#include <stddef.h>

#include "lun_pages.h"

// One INQUIRY: standard data (evpd 0, page 0) or a vital product data page.
struct LunInquiry {
    unsigned char evpd;
    unsigned char page;
    unsigned short allocLen;
};

constexpr bool lun_SameInquiry(const LunInquiry& a, const LunInquiry& b) {
    return a.evpd == b.evpd && a.page == b.page && a.allocLen == b.allocLen;
}

// tsexTool, for a vlun's path or a plain disk: the standard data, then page
// 0xC0; from interface version 512 on the rest, page 0xC4 only below 514.
constexpr LunInquiry kLunToolPlan[] = {
    {0, kLunPageStandard, 64},       {1, kLunPageInterface, 1024}, {1, kLunPageSerial, 64},
    {1, kLunPageIdentification, 64}, {1, kLunPageController, 64},  {1, kLunPageLun, 256},
    {1, kLunPageOwnWork, 512},
};

// ts_showdisk for Linux and ESXi: each page at the length of its one buffer,
// in the order lunquery.cpp's queries are written. The order they go out in
// is each platform's query table's; page 0xC0 goes again before 0xC9 and
// 0xC8 once for each of its fields; page 0xC4 only for an interface version
// of the older layout.
constexpr LunInquiry kLunShowdiskPlan[] = {
    {0, kLunPageStandard, 36}, {1, kLunPageIdentification, 24}, {1, kLunPageInterface, 700},
    {1, kLunPageLun, 196},     {1, kLunPageController, 32},     {1, kLunPageOwnWork, 264},
};

// ts_showdisk for Solaris: the same four to every raw node, in this order.
constexpr LunInquiry kLunSolarisPlan[] = {
    {0, kLunPageStandard, 36},
    {1, kLunPageInterface, 160},
    {1, kLunPageIdentification, 24},
    {1, kLunPageLun, 196},
};

// A plan as a span, for the union.
struct LunPlan {
    const LunInquiry* steps;
    size_t count;
};

template <size_t N>
constexpr LunPlan lun_Plan(const LunInquiry (&steps)[N]) {
    return LunPlan{steps, N};
}

// The step of plan that asks for (evpd, page); allocLen 0 when it has none,
// which a program's static_assert turns into a build error.
template <size_t N>
constexpr LunInquiry lun_PlanStep(const LunInquiry (&plan)[N], unsigned char evpd,
                                  unsigned char page) {
    for (size_t i = 0; i < N; ++i) {
        if (plan[i].evpd == evpd && plan[i].page == page) {
            return plan[i];
        }
    }
    return LunInquiry{evpd, page, 0};
}

// The union of the plans: every step of the first plan, then those of each
// next plan that no plan before it sends alike (same EVPD, page and
// length), in their order. Writes at most capacity steps to out and returns
// how many the union holds (more than capacity: out holds the first ones).
size_t lun_UnionOfPlans(const LunPlan* plans, size_t planCount, LunInquiry* out, size_t capacity);

#endif  // TSKIT_LUN_PLAN_H
