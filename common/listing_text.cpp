// The dm word of a map header, shell-safe names and capacity texts, as both
// programs read them.
#include "listing_text.h"

#include <cstring>

#include "boundedfunc.h"
#include "listing_line.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int DmWordOfLine(const char* line, const char* separators, char* dest, size_t size) {
    if (line == nullptr || separators == nullptr) {
        return -1;
    }
    return CopyLineSpan(MapHeaderDmWord(line, separators), SpanCopy::kWholeOrNone, dest, size);
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

// A path line that shows no dm state (cut short) may be a usable path: only
// a path shown failed counts as down.
void MapQueueingNoteLine(MapQueueing* map, const char* line) {
    if (map == nullptr || line == nullptr) {
        return;
    }
    if (PathLineAddress(line, AddressSearch::kAnyWord).found) {
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
    if (!IsMapHeader(line, HeaderLine::kHoldsDm)) {
        MapQueueingNoteLine(&maps->map, line);
        return false;
    }
    const bool ended = HeldMapsEnd(maps, held, size);
    (void)DmWordOfLine(line, kSplitAtBlanksAndTabs, maps->dm, sizeof maps->dm);
    return ended;
}
