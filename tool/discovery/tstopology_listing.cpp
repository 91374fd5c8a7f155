// Cutters for the lines of a "multipath -ll" listing: segments and words,
// the WWID, vendor/product and dm name of a map header, the size of a map and
// the SCSI address of a path line.
#include "discovery/tstopology_listing.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "../../common/listing_text.h"
#include "boundedfunc.h"

namespace {

constexpr int kWorkSize = 256;  // a listing line is read in pieces of at most 255 characters
constexpr size_t kWwidWordLength = 33;       // 3 and 32 characters
constexpr size_t kBracketedWwidLength = 35;  // (3 and 32 characters)
constexpr size_t kWwidLength = 32;
constexpr size_t kGroupWork = 64;  // an address group is taken from at most 63 digits

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Copies the count characters at src into dest (already zeroed), limited to
// destSize - 1 so that the last byte stays a terminator.
void CopySegment(const char* src, size_t count, char* dest, int destSize) {
    (void)memcpy_s(dest, static_cast<size_t>(destSize) - 1, src, count);
}

// An address group as a number: the digits go through a 64-byte work buffer,
// so a group longer than 63 digits counts as 0; a value beyond the int range
// saturates.
int GroupValue(const char* digits, size_t count) {
    char work[kGroupWork];
    (void)memset_s(work, sizeof work, 0, sizeof work);
    (void)memcpy_s(work, sizeof work - 1, digits, count);
    long long value = strtoll(work, nullptr, 10);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

int GetStringSegmentWithInChar(const char* text, char delim, int index, int direction, char* dest,
                               int destSize) {
    if (text == nullptr || dest == nullptr || text[0] == '\0' || destSize <= 0 ||
        (direction != 1 && direction != -1)) {
        return -1;
    }
    (void)memset_s(dest, static_cast<size_t>(destSize), 0, static_cast<size_t>(destSize));
    const size_t length = strlen(text);
    int seen = 0;
    if (direction == 1) {
        size_t i = 0;
        while (i < length) {
            while (i < length && text[i] == delim) {
                ++i;
            }
            if (i == length) {
                break;
            }
            size_t start = i;
            while (i < length && text[i] != delim) {
                ++i;
            }
            if (++seen == index) {
                CopySegment(text + start, i - start, dest, destSize);
                return 0;
            }
        }
        return -1;
    }
    size_t end = length;  // one past the segment's last character
    while (end > 0) {
        while (end > 0 && text[end - 1] == delim) {
            --end;
        }
        if (end == 0) {
            break;
        }
        size_t start = end;
        while (start > 0 && text[start - 1] != delim) {
            --start;
        }
        if (++seen == index) {
            CopySegment(text + start, end - start, dest, destSize);
            return 0;
        }
        end = start;
    }
    return -1;
}

// Kept apart from ts_showdisk's get_str_by_reg: this word ends at a blank only
// (a "]" stays in it) and its destination is always zero-filled.
int GetStringByCompareRegion(const char* text, const char* pattern, char* dest, int destSize) {
    if (text == nullptr || text[0] == '\0' || pattern == nullptr) {
        return -1;
    }
    const char* at = strstr(text, pattern);
    if (at == nullptr) {
        return -1;
    }
    return GetStringSegmentWithInChar(at, ' ', 1, 1, dest, destSize);
}

int GetDMwwnStringFromLinebuf(const char* line, char* dest, int destSize) {
    if (dest == nullptr || destSize <= 0) {
        return -1;
    }
    char word[kWorkSize];
    if (GetStringSegmentWithInChar(line, ' ', 1, 1, word, kWorkSize) != 0) {
        return -1;
    }
    const char* wwid = nullptr;
    if (word[0] == '3' && strlen(word) == kWwidWordLength) {
        wwid = word + 1;
    } else {
        if (GetStringSegmentWithInChar(line, ' ', 2, 1, word, kWorkSize) != 0) {
            return -1;
        }
        if (strlen(word) == kBracketedWwidLength && word[0] == '(' && word[1] == '3' &&
            word[kBracketedWwidLength - 1] == ')') {
            wwid = word + 2;
        }
    }
    if (wwid == nullptr) {
        return -1;
    }
    (void)memset_s(dest, static_cast<size_t>(destSize), 0, static_cast<size_t>(destSize));
    CopySegment(wwid, kWwidLength, dest, destSize);
    return 0;
}

int GetDMvidpidStringFromLinebuf(const char* line, char* vendor, char* product, int size) {
    char part[kWorkSize];
    if (GetStringSegmentWithInChar(line, ',', 1, -1, part, kWorkSize) != 0 ||
        GetStringSegmentWithInChar(part, ' ', 1, 1, product, size) != 0) {
        return -1;
    }
    if (GetStringSegmentWithInChar(line, ',', 2, -1, part, kWorkSize) != 0 ||
        GetStringSegmentWithInChar(part, ' ', 1, -1, vendor, size) != 0) {
        return -1;
    }
    return 0;
}

namespace {

// Word 2 of a header when it is a word in parentheses: the WWID after an
// alias. Its length with the parentheses, or 0.
size_t BracketedSecondWord(const char* line, char* word, int wordSize) {
    if (GetStringSegmentWithInChar(line, ' ', 2, 1, word, wordSize) != 0) {
        return 0;
    }
    const size_t length = strlen(word);
    return length > 2 && word[0] == '(' && word[length - 1] == ')' ? length : 0;
}

}  // namespace

int GetDMaliasStringFromLinebuf(const char* line, char* dest, int destSize) {
    char word[kWorkSize];
    if (dest == nullptr || destSize <= 0 || BracketedSecondWord(line, word, kWorkSize) == 0) {
        return -1;
    }
    return GetStringSegmentWithInChar(line, ' ', 1, 1, dest, destSize);
}

int GetDMwwidWordFromLinebuf(const char* line, char* dest, int destSize) {
    if (dest == nullptr || destSize <= 0) {
        return -1;
    }
    char word[kWorkSize];
    const size_t bracketed = BracketedSecondWord(line, word, kWorkSize);
    if (bracketed != 0) {
        (void)memset_s(dest, static_cast<size_t>(destSize), 0, static_cast<size_t>(destSize));
        CopySegment(word + 1, bracketed - 2, dest, destSize);
        return 0;
    }
    if (GetStringSegmentWithInChar(line, ' ', 1, 1, word, kWorkSize) != 0 ||
        strncmp(word, "dm-", 3) == 0) {
        return -1;
    }
    return GetStringSegmentWithInChar(line, ' ', 1, 1, dest, destSize);
}

// Deliberately stricter than "the word at the first dm-": an alias such as
// backup_dm-3 on map dm-7 would otherwise name the wrong device. Words end at
// blanks only, as every cutter of this listing splits them.
int GetDMnameStringFromLinebuf(const char* line, char* dest, int destSize) {
    if (destSize <= 0) {
        return -1;
    }
    return DmWordOfLine(line, " ", dest, static_cast<size_t>(destSize));
}

int GetSizeFromLinebuf(const char* line, char* dest, int destSize) {
    if (line == nullptr || line[0] == '\0' || dest == nullptr) {
        return -1;
    }
    char part[kWorkSize];
    (void)memset_s(part, sizeof part, 0, sizeof part);
    int result = line[0] == '[' ? GetStringSegmentWithInChar(line, ']', 1, 1, part, kWorkSize)
                                : GetStringByCompareRegion(line, "size=", part, kWorkSize);
    if (result != 0) {
        return -1;
    }
    return GetStringSegmentWithInChar(part, '=', 2, 1, dest, destSize);
}

int GetHTCLFromLinebuf(const char* line, PathInfo* path) {
    if (line == nullptr || line[0] == '\0' || path == nullptr) {
        return -1;
    }
    // The tree form puts the address after "|- " or "`- ", the bracketed
    // form after "\_ ". Once the hyphen form yields a word, it decides.
    for (char lead : {'-', '_'}) {
        char part[kWorkSize];
        char word[kWorkSize];
        if (GetStringSegmentWithInChar(line, lead, 2, 1, part, kWorkSize) == 0 &&
            GetStringSegmentWithInChar(part, ' ', 1, 1, word, kWorkSize) == 0) {
            return GetHTCLFromLineHCTLBuf(word, path);
        }
    }
    return -1;
}

int GetHTCLFromLineHCTLBuf(const char* text, PathInfo* path) {
    if (text == nullptr || text[0] == '\0' || path == nullptr) {
        return -1;
    }
    int values[4] = {0, 0, 0, 0};
    int group = 0;
    size_t start = 0;
    for (size_t i = 0;; ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            continue;
        }
        if (c != ':' && c != '\0') {
            return -1;
        }
        // An empty group, a fourth colon, or fewer than four groups.
        if (i == start || (c == ':' && group == 3) || (c == '\0' && group != 3)) {
            return -1;
        }
        values[group++] = GroupValue(text + start, i - start);
        if (c == '\0') {
            break;
        }
        start = i + 1;
    }
    path->iHctlValid = 1;
    path->iHost = values[0];
    path->iChannel = values[1];
    path->iTarget = values[2];
    path->iLun = values[3];
    (void)sprintf_s(path->acHctl.data(), path->acHctl.size() - 1, "%d:%d:%d:%d", path->iHost,
                    path->iChannel, path->iTarget, path->iLun);
    return 0;
}
