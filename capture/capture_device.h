// The commands a capture sends to a device node: those that tsexTool and
// ts_showdisk send, with the allocation lengths they use, and no other; the
// node opened read-only, as they open it. Every reply is kept.
#ifndef TSKIT_CAPTURE_DEVICE_H
#define TSKIT_CAPTURE_DEVICE_H

#include <vector>

#include "capture_record.h"
#include "lun_plan.h"

// The INQUIRY list of a capture of programs with these plans: their union
// (lun_UnionOfPlans), each request once, in the order of the plans.
std::vector<LunInquiry> capture_InquiriesOf(const LunPlan* plans, size_t count);

// The list a capture sends: the union of tsexTool's plan and ts_showdisk's
// (Linux and ESXi), tsexTool's first.
std::vector<LunInquiry> capture_Inquiries();

// Records node (a name below /dev, checked by the caller) into *out: its
// state, and when it opens, TEST UNIT READY until it is ready or the
// programs' retry budget is spent, each INQUIRY, READ CAPACITY(10) and (16).
// A failure to open is the node's state, not an error of the capture.
void capture_QueryNode(const char* name, CaptureNode* out);

#endif  // TSKIT_CAPTURE_DEVICE_H
