// Small checks shared by the topology file's readers.
#ifndef SANSIM_JSON_CHECKS_H
#define SANSIM_JSON_CHECKS_H

#include <initializer_list>
#include <string>

#include <nlohmann/json.hpp>

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

// The value of a hex digit, -1 for any other character.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace sansim

#endif  // SANSIM_JSON_CHECKS_H
