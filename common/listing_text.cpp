// The dm word of a map header, shell-safe names and capacity texts, as both
// programs read them.
#include "listing_text.h"

#include <cstring>

#include "boundedfunc.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsSeparator(char c, const char* separators) {
    return c != '\0' && strchr(separators, c) != nullptr;
}

}  // namespace

int DmWordOfLine(const char* line, const char* separators, char* dest, size_t size) {
    if (line == nullptr || separators == nullptr || dest == nullptr || size == 0) {
        return -1;
    }
    const char* word = line;
    while (*word != '\0') {
        while (IsSeparator(*word, separators)) {
            ++word;
        }
        const size_t length = strcspn(word, separators);
        if (length > 3 && strncmp(word, "dm-", 3) == 0) {
            size_t digits = 3;
            while (digits < length && IsDigit(word[digits])) {
                ++digits;
            }
            if (digits == length) {
                if (length > size - 1) {
                    return -1;
                }
                (void)memset_s(dest, size, 0, size);
                (void)memcpy_s(dest, size - 1, word, length);
                return 0;
            }
        }
        word += length;
    }
    return -1;
}

bool IsShellSafeName(const char* name) {
    if (name == nullptr) {
        return false;
    }
    for (const char* c = name; *c != '\0'; ++c) {
        const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || IsDigit(*c) ||
                           strchr("._-:!+", *c) != nullptr;
        if (!plain) {
            return false;
        }
    }
    return true;
}

int SizeTextFromSectors(uint64_t sectors, char* dest, size_t size) {
    static const char kUnits[] = "KMGTP";
    float value = static_cast<float>(sectors / 2);
    size_t unit = 0;
    while (value >= 1024.0F && kUnits[unit] != 'P') {
        value /= 1024.0F;
        ++unit;
    }
    const int written =
        value < 10.0F ? sprintf_s(dest, size, "%.1f%c", static_cast<double>(value), kUnits[unit])
                      : sprintf_s(dest, size, "%.0f%c", static_cast<double>(value), kUnits[unit]);
    return written < 0 ? -1 : 0;
}
