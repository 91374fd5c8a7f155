// tsexTool's cutters of "multipath -ll" lines: each takes its part from the
// shared reader (common/listing_line) and writes it as tsexTool's records
// hold texts, zero-filled, with a part too long for its field left empty.
#include "discovery/tstopology_listing.h"

#include <cstring>

#include "../../common/listing_line.h"
#include "../../common/listing_text.h"
#include "boundedfunc.h"

namespace {

size_t Size(int destSize) {
    return static_cast<size_t>(destSize);
}

// dest zero-filled, then the part (empty when too long); -1 when the line
// has no such part.
int ZeroFilled(const LineSpan& part, char* dest, int destSize) {
    (void)memset_s(dest, Size(destSize), 0, Size(destSize));
    return CopyLineSpan(part, SpanCopy::kZeroFilled, dest, Size(destSize));
}

bool Usable(const char* line, const char* dest, int destSize) {
    return line != nullptr && dest != nullptr && destSize > 0;
}

// The part that read finds in a non-empty line, zero-filled into dest.
template <typename Read>
int TakeSpan(const char* line, char* dest, int destSize, Read read) {
    if (!Usable(line, dest, destSize) || line[0] == '\0') {
        return -1;
    }
    const LineSpan part = read(line);
    return part.found ? ZeroFilled(part, dest, destSize) : -1;
}

// A 33-character first word from a 3 wins over the WWID in parentheses.
LineSpan WwnOfHeader(std::string_view line) {
    const LineSpan first = LineWord(line, kSplitAtBlanks, 1, WordCount::kFromStart);
    const LineSpan wwn = WwidNaaDigits(first, NaaDigits::kExactly32);
    const MapNames names = MapHeaderNames(line, NameReading::kBracketedWord);
    return wwn.found || !names.alias.found ? wwn : WwidNaaDigits(names.wwid, NaaDigits::kExactly32);
}

LineSpan AliasOfHeader(std::string_view line) {
    return MapHeaderNames(line, NameReading::kBracketedWord).alias;
}

LineSpan WwidOfHeader(std::string_view line) {
    return MapHeaderNames(line, NameReading::kBracketedWord).wwid;
}

LineSpan SdWord(std::string_view line) {
    return PathLineDevice(line, WordEnd::kBlank);
}

LineSpan ActiveWord(std::string_view line) {
    return PathLineActive(line, WordEnd::kBlank);
}

// The address as the path record holds it: the four numbers and their text.
int TakeAddress(std::string_view word, PathInfo* path) {
    ScsiAddress address;
    if (!ReadScsiAddress(word, &address)) {
        return -1;
    }
    path->iHctlValid = 1;
    path->iHost = address.host;
    path->iChannel = address.channel;
    path->iTarget = address.target;
    path->iLun = address.lun;
    (void)sprintf_s(path->acHctl.data(), path->acHctl.size() - 1, "%d:%d:%d:%d", path->iHost,
                    path->iChannel, path->iTarget, path->iLun);
    return 0;
}

}  // namespace

int GetStringSegmentWithInChar(const char* text, char delim, int index, int direction, char* dest,
                               int destSize) {
    if (!Usable(text, dest, destSize) || text[0] == '\0' || (direction != 1 && direction != -1)) {
        return -1;
    }
    const WordCount from = direction == 1 ? WordCount::kFromStart : WordCount::kFromEnd;
    return ZeroFilled(LineWord(text, std::string_view(&delim, 1), index, from), dest, destSize);
}

int GetStringByCompareRegion(const char* text, const char* pattern, char* dest, int destSize) {
    if (pattern == nullptr) {
        return -1;
    }
    return TakeSpan(text, dest, destSize, [pattern](std::string_view line) {
        return LineWordAt(line, pattern, WordEnd::kBlank);
    });
}

int GetDMwwnStringFromLinebuf(const char* line, char* dest, int destSize) {
    return TakeSpan(line, dest, destSize, WwnOfHeader);
}

int GetDMvidpidStringFromLinebuf(const char* line, char* vendor, char* product, int size) {
    if (!Usable(line, product, size)) {
        return -1;
    }
    const MapVendor parts = MapHeaderVendor(line);
    if (!parts.product.found || ZeroFilled(parts.product, product, size) != 0) {
        return -1;
    }
    return parts.vendor.found && vendor != nullptr ? ZeroFilled(parts.vendor, vendor, size) : -1;
}

int GetDMaliasStringFromLinebuf(const char* line, char* dest, int destSize) {
    return TakeSpan(line, dest, destSize, AliasOfHeader);
}

int GetDMwwidWordFromLinebuf(const char* line, char* dest, int destSize) {
    return TakeSpan(line, dest, destSize, WwidOfHeader);
}

// Deliberately stricter than "the word at the first dm-": an alias such as
// backup_dm-3 on map dm-7 would otherwise name the wrong device. Words end at
// blanks only, as every cutter of this listing splits them.
int GetDMnameStringFromLinebuf(const char* line, char* dest, int destSize) {
    if (!Usable(line, dest, destSize)) {
        return -1;
    }
    return DmWordOfLine(line, kSplitAtBlanks, dest, Size(destSize));
}

// A size word without a value ("size= ...") empties the field.
int GetSizeFromLinebuf(const char* line, char* dest, int destSize) {
    if (!Usable(line, dest, destSize) || line[0] == '\0') {
        return -1;
    }
    const MapSize size = MapSizeOfLine(line, SizeReading::kBracketedField);
    return size.word.found ? ZeroFilled(size.value, dest, destSize) : -1;
}

int GetPathSdNameFromLinebuf(const char* line, char* dest, int destSize) {
    return TakeSpan(line, dest, destSize, SdWord);
}

int GetPathActiveWordFromLinebuf(const char* line, char* dest, int destSize) {
    return TakeSpan(line, dest, destSize, ActiveWord);
}

int GetHTCLFromLinebuf(const char* line, PathInfo* path) {
    if (line == nullptr || line[0] == '\0' || path == nullptr) {
        return -1;
    }
    const LineSpan word = PathLineAddress(line, AddressSearch::kAfterTreeMark);
    return word.found ? TakeAddress(word.text, path) : -1;
}

int GetHTCLFromLineHCTLBuf(const char* text, PathInfo* path) {
    if (text == nullptr || text[0] == '\0' || path == nullptr) {
        return -1;
    }
    return TakeAddress(text, path);
}
