// The commands a capture sends to a device node: those that tsexTool and
// ts_showdisk send, with the allocation lengths they use, and no other; the
// node opened read-only, as they open it. Every reply is kept.
#ifndef TSKIT_CAPTURE_DEVICE_H
#define TSKIT_CAPTURE_DEVICE_H

#include "capture_record.h"

// One INQUIRY the programs send: standard data (evpd 0) or a VPD page.
struct CaptureInquiry {
    unsigned char evpd;
    unsigned char page;
    unsigned short allocLen;
};

// Every INQUIRY of tsexTool (tsioctrl's TS_ALLOC_ lengths) and of
// ts_showdisk (its page buffers), in the order they are sent.
extern const CaptureInquiry kCaptureInquiries[];
extern const unsigned kCaptureInquiryCount;

// Records node (a name below /dev, checked by the caller) into *out: its
// state, and when it opens, TEST UNIT READY until it is ready or the
// programs' retry budget is spent, each INQUIRY, READ CAPACITY(10) and (16).
// A failure to open is the node's state, not an error of the capture.
void capture_QueryNode(const char* name, CaptureNode* out);

#endif  // TSKIT_CAPTURE_DEVICE_H
