// Anonymizing a capture: the identifiers of the host and of its arrays
// (serial numbers, WWIDs and NAA designators, FC port and node names, iSCSI
// names, LUN and array names, map aliases) found in the listings, the /sys
// values and the response pages, each replaced everywhere it occurs by a
// replacement of the same length and character class, the same one every
// time, so that the pages stay coherent and the tables keep their widths.
#ifndef TSKIT_CAPTURE_ANONYMIZE_H
#define TSKIT_CAPTURE_ANONYMIZE_H

#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

#include "capture_record.h"

// Each original identifier with its replacement, in the order found.
// Hexadecimal identifiers are written in lower case; they are replaced
// whatever their case, which each replaced character keeps. captureId, set
// by the caller, is written in the mapping and in the capture, so that a
// mapping and a capture that do not belong together are told apart.
struct CaptureMapping {
    std::string captureId;
    std::vector<std::pair<std::string, std::string>> entries;
};

// Replaces the identifiers of *record, marks it anonymized with the
// mapping's capture id and fills *mapping. seed makes the replacements (a
// random one in the program).
void capture_Anonymize(CaptureRecord* record, unsigned long long seed, CaptureMapping* mapping);

// The mapping as one JSON object: its format, the capture id, and "mapping",
// an object from each original to its replacement; false when the stream
// failed.
bool capture_WriteMapping(const CaptureMapping& mapping, FILE* out);

#endif  // TSKIT_CAPTURE_ANONYMIZE_H
