// Small checks shared by the topology file's readers: keys, hex digits.
#ifndef SANSIM_JSON_CHECKS_H
#define SANSIM_JSON_CHECKS_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "../../common/hex_text.h"

namespace sansim {

// The first key of an object that is not among known, or "" when every key
// is known. "comment" and keys that begin with '_' are notes for the reader
// of the file and always allowed.
inline std::string UnknownKey(const nlohmann::json& obj, std::initializer_list<const char*> known) {
    for (auto it = obj.begin(); it != obj.end(); ++it) {
        const std::string& key = it.key();
        if (key == "comment" || (!key.empty() && key[0] == '_')) {
            continue;
        }
        bool found = false;
        for (const char* name : known) {
            found = found || key == name;
        }
        if (!found) {
            return key;
        }
    }
    return {};
}

// Pairs of hex digits; blanks and colons between pairs are allowed for
// readability.
inline bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
    return ::ParseHexBytes(text, out, " \t:");
}

}  // namespace sansim

#endif  // SANSIM_JSON_CHECKS_H
