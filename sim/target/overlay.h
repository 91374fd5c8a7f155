// Host files written as a base host and what differs from it.
//
// A host file with a "base" member names another host file (relative to its
// own folder); the host is that base, expanded in turn, with the file's other
// members laid over it as a JSON merge patch (RFC 7386: objects merge member
// by member, null removes a member, anything else replaces), and one
// addition for lists: an object laid over a list changes its elements by
// name. Each key names the one element whose "id", "name", "sd", "dm",
// "alias", "wwid", "hctl", "number" or "device" is that text; its value is
// laid over that element, or null removes it. The key "+" holds a list of
// elements appended in order. A list laid over a list replaces it whole.
//
//   { "base": "../../sim/topologies/demo.json",
//     "luns": { "db01": { "paths": { "sdb": { "faults": { "dead": true } } } },
//               "+": [ { "wwid": "3...", "array": "a1", "paths": [] } ] } }
//
// Files that a base names relative to itself (canned listings) are made
// absolute before the changes are laid over it.
#ifndef SANSIM_OVERLAY_H
#define SANSIM_OVERLAY_H

#include <string>

#include <nlohmann/json.hpp>

namespace sansim {

// Reads a host file and expands its base, if it names one. On failure
// returns false with a reason that names the file and the member.
bool ReadHostDocument(const std::string& file, nlohmann::json* out, std::string* error);

// Lays patch over target by the rules above; on failure returns false with
// the member that cannot be applied.
bool ApplyOverlay(nlohmann::json* target, const nlohmann::json& patch, std::string* error);

}  // namespace sansim

#endif  // SANSIM_OVERLAY_H
