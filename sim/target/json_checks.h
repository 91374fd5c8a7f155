// Small checks shared by the topology file's readers: keys, hex digits.
#ifndef SANSIM_JSON_CHECKS_H
#define SANSIM_JSON_CHECKS_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

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

// Pairs of hex digits; blanks and colons between pairs are allowed for
// readability. False for an odd digit or any other character.
inline bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
    out->clear();
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == ':') {
            if (high >= 0) {
                return false;
            }
            continue;
        }
        const int d = HexDigitValue(c);
        if (d < 0) {
            return false;
        }
        if (high < 0) {
            high = d;
        } else {
            out->push_back(static_cast<uint8_t>(high << 4 | d));
            high = -1;
        }
    }
    return high < 0;
}

}  // namespace sansim

#endif  // SANSIM_JSON_CHECKS_H
