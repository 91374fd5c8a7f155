// The look-up of a vlun by its kernel name, its alias or its WWID.
#include "discovery/tsname.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "../../common/terminal_text.h"

namespace {

constexpr char kMapperPrefix[] = "mapper/";
constexpr size_t kMapperPrefixLength = sizeof kMapperPrefix - 1;

// The name under /dev/mapper: the alias, or the WWID of a map without one.
const char* MapperName(const TsMapNames& map) {
    return tstopo_TextHasValue(map.acAlias.data()) ? map.acAlias.data() : map.acWwid.data();
}

// The WWID itself, or the WWID without its leading 3, in either case.
bool NamesWwid(const char* name, const TsMapNames& map) {
    const char* wwid = map.acWwid.data();
    if (!tstopo_TextHasValue(wwid)) {
        return false;
    }
    return strcasecmp(name, wwid) == 0 || (wwid[1] != '\0' && strcasecmp(name, wwid + 1) == 0);
}

bool NamesByAliasOrWwid(const char* name, const TsMapNames& map) {
    if (strncmp(name, kMapperPrefix, kMapperPrefixLength) == 0) {
        const char* node = MapperName(map);
        return tstopo_TextHasValue(node) && strcmp(name + kMapperPrefixLength, node) == 0;
    }
    return (tstopo_TextHasValue(map.acAlias.data()) && strcmp(name, map.acAlias.data()) == 0) ||
           NamesWwid(name, map);
}

void Add(TsNameLookup* lookup, const char* dmName) {
    std::vector<std::string>& names = lookup->dmNames;
    if (std::find(names.begin(), names.end(), dmName) == names.end()) {
        names.emplace_back(dmName);
    }
}

}  // namespace

void tsname_Resolve(const char* name, const TsMapNames* maps, size_t count, TsNameLookup* lookup) {
    if (lookup == nullptr) {
        return;
    }
    lookup->dmNames.clear();
    if (name == nullptr || name[0] == '\0' || maps == nullptr) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        if (strcmp(name, maps[i].acDmName.data()) == 0) {
            Add(lookup, maps[i].acDmName.data());
            return;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (NamesByAliasOrWwid(name, maps[i])) {
            Add(lookup, maps[i].acDmName.data());
        }
    }
}

std::string tsname_AmbiguousLine(const char* name, const TsNameLookup& lookup) {
    std::string line =
        "Error: the name " + TerminalSafeText(name) + " matches more than one vlun: ";
    for (size_t i = 0; i < lookup.dmNames.size(); ++i) {
        line += (i == 0 ? "" : ", ") + lookup.dmNames[i];
    }
    line += ".";
    return line;
}
