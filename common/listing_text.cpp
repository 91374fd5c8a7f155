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

// A word of four groups of digits split by colons, or the #:#:#:# that
// stands for the address of a path whose device is gone.
bool IsAddressWord(const char* word, size_t length) {
    if (length == 7 && strncmp(word, "#:#:#:#", 7) == 0) {
        return true;
    }
    int groups = 0;
    size_t digits = 0;
    for (size_t i = 0; i < length; ++i) {
        if (IsDigit(word[i])) {
            ++digits;
        } else if (word[i] == ':' && digits > 0 && groups < 3) {
            ++groups;
            digits = 0;
        } else {
            return false;
        }
    }
    return groups == 3 && digits > 0;
}

bool HasAddressWord(const char* line) {
    static const char kBlanks[] = " \t";
    const char* word = line;
    while (*word != '\0') {
        word += strspn(word, kBlanks);
        const size_t length = strcspn(word, kBlanks);
        if (IsAddressWord(word, length)) {
            return true;
        }
        word += length;
    }
    return false;
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

bool PathLineDmFailed(const char* line) {
    return line != nullptr && strstr(line, "active") == nullptr &&
           strstr(line, "failed") != nullptr;
}

// A path line that shows no dm state (cut short) may be a usable path: only
// a path shown failed counts as down.
void MapQueueingNoteLine(MapQueueing* map, const char* line) {
    if (map == nullptr || line == nullptr) {
        return;
    }
    if (HasAddressWord(line)) {
        map->usablePath = map->usablePath || !PathLineDmFailed(line);
    } else if (strstr(line, "queue_if_no_path") != nullptr) {
        map->queueing = true;
    }
}

bool MapQueueingHoldsIo(const MapQueueing& map) {
    return map.queueing && !map.usablePath;
}

bool HeldMapsEnd(HeldMaps* maps, char* held, size_t size) {
    const bool ended = maps->dm[0] != '\0' && MapQueueingHoldsIo(maps->map) &&
                       sprintf_s(held, size, "%s", maps->dm) >= 0;
    (void)memset_s(maps->dm, sizeof maps->dm, 0, sizeof maps->dm);
    maps->map = MapQueueing();
    return ended;
}

bool HeldMapsNoteLine(HeldMaps* maps, const char* line, char* held, size_t size) {
    if (line == nullptr) {
        return false;
    }
    if (strstr(line, "dm-") == nullptr) {
        MapQueueingNoteLine(&maps->map, line);
        return false;
    }
    const bool ended = HeldMapsEnd(maps, held, size);
    (void)DmWordOfLine(line, " \t", maps->dm, sizeof maps->dm);
    return ended;
}
