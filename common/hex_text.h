// Hex text to bytes, for the descriptions that the simulated hosts are made
// from and the files that a simulated host's platform services read; and
// bytes to hex text, for the capture file that records them.
#ifndef TSKIT_COMMON_HEX_TEXT_H
#define TSKIT_COMMON_HEX_TEXT_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// Pairs of hex digits; any character of separators may stand between two
// pairs (never inside one). False for an odd digit or any other character.
inline bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out,
                          const char* separators = "") {
    out->clear();
    int high = -1;
    for (char c : text) {
        if (c != '\0' && std::strchr(separators, c) != nullptr) {
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

inline constexpr char kHexDigits[] = "0123456789abcdef";

// Two lower-case hex digits per byte, nothing between them.
inline std::string HexTextOf(const std::string& bytes) {
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        hex.push_back(kHexDigits[byte >> 4]);
        hex.push_back(kHexDigits[byte & 0x0F]);
    }
    return hex;
}

// The programs' WWN cells: two lower-case hex digits for each of the first
// count bytes of src, into dest as long as a pair and a terminator fit in
// destSize, each pair followed by a NUL (the next pair overwrites it).
// Nothing is written for count 0. The number of bytes written as digits.
inline size_t PutHexDigits(const unsigned char* src, size_t count, char* dest, size_t destSize) {
    size_t i = 0;
    for (; i < count && 2 * i + 2 < destSize; ++i) {
        dest[2 * i] = kHexDigits[src[i] >> 4];
        dest[2 * i + 1] = kHexDigits[src[i] & 0x0F];
        dest[2 * i + 2] = '\0';
    }
    return i;
}

#endif  // TSKIT_COMMON_HEX_TEXT_H
