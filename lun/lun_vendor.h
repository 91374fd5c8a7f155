// The vendor's names as its arrays give them: in the vendor field of the
// standard INQUIRY data, and in the map headers of the multipath listing.
// Each program reads them by a rule of its own; each rule is one helper
// here, so the names are written once.
#ifndef TSKIT_LUN_VENDOR_H
#define TSKIT_LUN_VENDOR_H

#include <stddef.h>

// The command-line programs of the vendor's host product, whose presence on
// the search path means the product manages the host's paths: tsexTool
// looks for each of them, ts_showdisk for Linux for the first, and the
// capture records where each is found.
constexpr const char* kLunProductClis[] = {"tsadm", "tsadmin", "tsTools"};

// The vendor's names, in the order a listing line is searched for them.
extern const char* const kLunVendorNames[];
extern const size_t kLunVendorCount;

// A vendor field without its blanks (tsexTool trims both ends) that is one
// of the names exactly: "QELMAR" yes, "QELMARX" and "qelmar" no.
bool lun_IsVendorName(const char* trimmed);

// A vendor field as ts_showdisk keeps it (blanks turned into NULs) that
// begins with one of the names: the eight bytes of the field may run on
// past a name with no blank between.
bool lun_VendorFieldIsVendor(const char* field);

// A listing line that holds one of the names anywhere: a map header of
// `multipath -ll` carries the vendor inside "(wwid) dm-N VENDOR,PRODUCT".
bool lun_LineNamesVendor(const char* line);

// The first of the names (in kLunVendorNames order) found anywhere in the
// line; null when it holds none.
const char* lun_VendorNamedIn(const char* line);

#endif  // TSKIT_LUN_VENDOR_H
