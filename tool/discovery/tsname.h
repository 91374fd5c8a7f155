// tsexTool's look-up of a vlun by the names an administrator knows it by.
// Dm numbers change across reboots; the multipath alias and the WWID do not.
// A name given to show vlun, show path or show device (its "/dev/" already
// dropped) is tried, in this order, as
//
//   1. the kernel name of a map: dm-N (so also /dev/dm-N);
//   2. its alias (mpatha, oradata), or mapper/NAME, the map's node under
//      /dev/mapper (so /dev/mapper/NAME), whose NAME is the alias, or the
//      WWID for a map that has no alias;
//   3. its WWID as the listing writes it (36e0fc...), or without its first
//      character, the leading 3 (6e0fc..., as the WWN column shows it).
//
// A kernel name is unique and always means its map, as it always did. An
// alias or a WWID that names two maps (an alias equal to another map's WWID,
// say) names no map: the caller refuses it. Kernel names and aliases compare
// exactly, as the kernel and multipath keep them; a WWID compares without
// regard to the case of its letters, since the same hexadecimal digits come
// in upper case from an array's own tools.
#ifndef TSEXTOOL_TSNAME_H
#define TSEXTOOL_TSNAME_H

#include <cstddef>
#include <string>
#include <vector>

#include "records/tstopology.h"

// One of the vendor's maps as its listing header names it.
struct TsMapNames {
    TsText<64> acDmName;  // dm-N
    TsText<128> acAlias;  // "--" for a map without an alias
    TsText<128> acWwid;   // the WWID word, "--" when the header has none
};

// What a name came to: the dm names of the maps it names, in listing order,
// each once. One name: that map; none: no map; more: refused.
struct TsNameLookup {
    std::vector<std::string> dmNames;
};

// The maps of maps (count of them) that name names.
void tsname_Resolve(const char* name, const TsMapNames* maps, size_t count, TsNameLookup* lookup);

// The one line that refuses a name of more than one map, without its
// newline: "Error: the name NAME matches more than one vlun: dm-0, dm-3."
// Bytes of name outside printable ASCII show as '?'.
std::string tsname_AmbiguousLine(const char* name, const TsNameLookup& lookup);

#endif  // TSEXTOOL_TSNAME_H
