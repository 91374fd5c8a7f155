// The union of the programs' INQUIRY plans.
#include "lun_plan.h"

namespace {

bool Listed(const LunInquiry* list, size_t count, const LunInquiry& step) {
    for (size_t i = 0; i < count; ++i) {
        if (lun_SameInquiry(list[i], step)) {
            return true;
        }
    }
    return false;
}

// Whether a plan before plans[p], or plans[p] before step s, sends the step.
bool SentBefore(const LunPlan* plans, size_t p, size_t s) {
    const LunInquiry& step = plans[p].steps[s];
    for (size_t q = 0; q < p; ++q) {
        if (Listed(plans[q].steps, plans[q].count, step)) {
            return true;
        }
    }
    return Listed(plans[p].steps, s, step);
}

}  // namespace

size_t lun_UnionOfPlans(const LunPlan* plans, size_t planCount, LunInquiry* out, size_t capacity) {
    size_t count = 0;
    for (size_t p = 0; plans != nullptr && p < planCount; ++p) {
        for (size_t s = 0; s < plans[p].count; ++s) {
            if (SentBefore(plans, p, s)) {
                continue;
            }
            if (out != nullptr && count < capacity) {
                out[count] = plans[p].steps[s];
            }
            ++count;
        }
    }
    return count;
}
