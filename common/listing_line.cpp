// The parts of one listing line, as the three programs read them.
#include "listing_line.h"

#include <climits>
#include <cstring>

#include "boundedfunc.h"

namespace {

constexpr size_t kNone = std::string_view::npos;
constexpr char kDigits[] = "0123456789";
constexpr size_t kGroupDigits = 63;  // tsexTool's 64-byte buffer of an address group

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

LineSpan Found(std::string_view text) {
    return LineSpan{true, text};
}

// The first word (split at separators) that passes test.
template <typename Test>
LineSpan FirstWordThat(std::string_view line, std::string_view separators, Test test) {
    size_t start = 0;
    while ((start = line.find_first_not_of(separators, start)) != kNone) {
        const std::string_view word =
            line.substr(start, line.find_first_of(separators, start) - start);
        if (test(word)) {
            return Found(word);
        }
        start += word.size();
    }
    return {};
}

LineSpan WordFromStart(std::string_view text, std::string_view separators, int index) {
    int seen = 0;
    return FirstWordThat(text, separators,
                         [&seen, index](std::string_view) { return ++seen == index; });
}

LineSpan WordFromEnd(std::string_view text, std::string_view separators, int index) {
    int seen = 0;
    size_t end = text.size();  // one past the word's last character
    while (end > 0) {
        const size_t last = text.find_last_not_of(separators, end - 1);
        if (last == kNone) {
            break;
        }
        const size_t before = text.find_last_of(separators, last);
        const size_t start = before == kNone ? 0 : before + 1;
        if (++seen == index) {
            return Found(text.substr(start, last + 1 - start));
        }
        end = start;
    }
    return {};
}

bool IsDmWord(std::string_view word) {
    return word.size() > 3 && StartsWith(word, "dm-") &&
           word.find_first_not_of(kDigits, 3) == kNone;
}

MapNames BracketedWordNames(std::string_view line) {
    MapNames names;
    const LineSpan first = LineWord(line, kSplitAtBlanks, 1, WordCount::kFromStart);
    const LineSpan second = LineWord(line, kSplitAtBlanks, 2, WordCount::kFromStart);
    const std::string_view word = second.text;
    if (second.found && word.size() > 2 && word.front() == '(' && word.back() == ')') {
        names.alias = first;
        names.wwid = Found(word.substr(1, word.size() - 2));
    } else if (first.found && !StartsWith(first.text, "dm-")) {
        names.wwid = first;
    }
    return names;
}

MapNames ParenthesisAfterFirstNames(std::string_view line) {
    MapNames names;
    if (line.empty()) {
        return names;
    }
    const std::string_view first = line.substr(0, line.find(' '));
    names.wwid = Found(first);
    const size_t open = line.find(" (");
    const size_t close = line.find(')');
    if (open == first.size() && close != kNone && close > open) {
        names.alias = Found(first);
        names.wwid = Found(line.substr(open + 2, close - open - 2));
    }
    return names;
}

// An address group's value: more than 63 digits read 0, a value beyond the
// int range INT_MAX.
int GroupValue(std::string_view digits) {
    if (digits.size() > kGroupDigits) {
        return 0;
    }
    long long value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > INT_MAX) {
            return INT_MAX;
        }
    }
    return static_cast<int>(value);
}

bool IsAddressWord(std::string_view word) {
    ScsiAddress ignored;
    return word == "#:#:#:#" || ReadScsiAddress(word, &ignored);
}

// "   Key: value" with blanks, NULs and newlines off both ends.
std::string_view Trim(std::string_view text) {
    constexpr std::string_view kEnds(" \0\n", 3);
    const size_t first = text.find_first_not_of(kEnds);
    if (first == kNone) {
        return text.substr(text.size());
    }
    return text.substr(first, text.find_last_not_of(kEnds) + 1 - first);
}

LineSpan ValueAfterFirstColon(std::string_view line, std::string_view key) {
    if (line.empty() || line.find(key) == kNone) {
        return {};
    }
    const size_t colon = line.find(':');
    const bool value = colon != kNone && colon + 1 < line.size();
    return Found(line.substr(value ? colon + 2 : line.size()));
}

LineSpan ValueAfterKeyTrimmed(std::string_view line, std::string_view key) {
    if (line.empty() || line[0] != ' ') {
        return {};
    }
    const std::string_view item = Trim(line);
    return StartsWith(item, key) ? Found(Trim(item.substr(key.size()))) : LineSpan{};
}

}  // namespace

LineSpan LineWord(std::string_view text, std::string_view separators, int index, WordCount from) {
    return from == WordCount::kFromStart ? WordFromStart(text, separators, index)
                                         : WordFromEnd(text, separators, index);
}

LineSpan LineWordAt(std::string_view line, std::string_view pattern, WordEnd end) {
    const size_t at = line.find(pattern);
    if (at == kNone) {
        return {};
    }
    const std::string_view rest = line.substr(at);
    return Found(rest.substr(0, rest.find_first_of(end == WordEnd::kBlank ? " " : " ]")));
}

int CopyLineSpan(const LineSpan& part, SpanCopy copy, char* dest, size_t size) {
    if (!part.found) {
        return -1;
    }
    if (dest == nullptr || size == 0) {
        return copy == SpanCopy::kOntoZeros ? 0 : -1;
    }
    const bool fits = part.text.size() <= size - 1;
    if (!fits && copy == SpanCopy::kWholeOrNone) {
        return -1;
    }
    if (!fits || copy != SpanCopy::kOntoZeros) {
        (void)memset_s(dest, size, 0, size);
    }
    if (fits && !part.text.empty()) {
        (void)memcpy_s(dest, size - 1, part.text.data(), part.text.size());
    }
    return 0;
}

bool IsMapHeader(std::string_view line, HeaderLine rule) {
    if (rule == HeaderLine::kHoldsDm) {
        return line.find("dm-") != kNone;
    }
    return !line.empty() && std::strchr(" |`\\[", line[0]) == nullptr && !StartsWith(line, "size=");
}

LineSpan MapHeaderDmWord(std::string_view line, std::string_view separators) {
    // The first word of dm- and digits decides, whatever its length.
    return FirstWordThat(line, separators, IsDmWord);
}

MapNames MapHeaderNames(std::string_view line, NameReading reading) {
    return reading == NameReading::kBracketedWord ? BracketedWordNames(line)
                                                  : ParenthesisAfterFirstNames(line);
}

LineSpan WwidNaaDigits(const LineSpan& wwid, NaaDigits rule) {
    const std::string_view word = wwid.text;
    const bool naa = word.size() > 1 && word[0] == '3';
    if (!wwid.found || (rule == NaaDigits::kExactly32 && (!naa || word.size() != 33))) {
        return {};
    }
    return Found(naa ? word.substr(1) : word);
}

MapVendor MapHeaderVendor(std::string_view line) {
    MapVendor vendor;
    const LineSpan last = LineWord(line, ",", 1, WordCount::kFromEnd);
    const LineSpan before = LineWord(line, ",", 2, WordCount::kFromEnd);
    if (last.found) {
        vendor.product = LineWord(last.text, kSplitAtBlanks, 1, WordCount::kFromStart);
    }
    if (before.found) {
        vendor.vendor = LineWord(before.text, kSplitAtBlanks, 1, WordCount::kFromEnd);
    }
    return vendor;
}

bool IsSizeLine(std::string_view line) {
    return line.find("size=") != kNone;
}

MapSize MapSizeOfLine(std::string_view line, SizeReading reading) {
    MapSize size;
    if (reading == SizeReading::kBlankOrBracket) {
        size.word = LineWordAt(line, "size=", WordEnd::kBlankOrBracket);
        if (size.word.found) {
            size.value = Found(size.word.text.substr(size.word.text.find('=') + 1));
        }
        return size;
    }
    size.word = !line.empty() && line[0] == '[' ? LineWord(line, "]", 1, WordCount::kFromStart)
                                                : LineWordAt(line, "size=", WordEnd::kBlank);
    if (size.word.found) {
        size.value = LineWord(size.word.text, "=", 2, WordCount::kFromStart);
    }
    return size;
}

LineSpan PathLineDevice(std::string_view line, WordEnd end) {
    return LineWordAt(line, "sd", end);
}

LineSpan PathLineActive(std::string_view line, WordEnd end) {
    return LineWordAt(line, "active", end);
}

bool PathLineDmFailed(std::string_view line) {
    return line.find("active") == kNone && line.find("failed") != kNone;
}

LineSpan PathLineAddress(std::string_view line, AddressSearch search) {
    if (search == AddressSearch::kAnyWord) {
        return FirstWordThat(line, kSplitAtBlanksAndTabs, IsAddressWord);
    }
    for (const char lead : {'-', '_'}) {
        const LineSpan after = LineWord(line, std::string_view(&lead, 1), 2, WordCount::kFromStart);
        const LineSpan word = LineWord(after.text, kSplitAtBlanks, 1, WordCount::kFromStart);
        if (after.found && word.found) {
            return word;
        }
    }
    return {};
}

bool ReadScsiAddress(std::string_view word, ScsiAddress* address) {
    int values[4] = {0, 0, 0, 0};
    int group = 0;
    size_t start = 0;
    for (size_t i = 0; i <= word.size(); ++i) {
        const bool end = i == word.size();
        if (!end && IsDigit(word[i])) {
            continue;
        }
        // Another character, an empty group, a fourth colon, or fewer than
        // four groups.
        if ((!end && word[i] != ':') || i == start || (!end && group == 3) || (end && group != 3)) {
            return false;
        }
        values[group++] = GroupValue(word.substr(start, i - start));
        start = i + 1;
    }
    *address = ScsiAddress{values[0], values[1], values[2], values[3]};
    return true;
}

LineSpan PathLineHostDigits(std::string_view line) {
    const size_t start = line.find_first_of(kDigits);
    if (start == kNone) {
        return {};
    }
    return Found(line.substr(start, line.find_first_not_of(kDigits, start) - start));
}

LineSpan EsxiLineValue(std::string_view line, std::string_view key, EsxiValue reading) {
    return reading == EsxiValue::kAfterFirstColon ? ValueAfterFirstColon(line, key)
                                                  : ValueAfterKeyTrimmed(line, key);
}

LineSpan EsxiDeviceLine(std::string_view line, EsxiDevice rule) {
    const bool names =
        !line.empty() &&
        (rule == EsxiDevice::kNaaAnywhere ? line.find("naa") != kNone : line[0] != ' ');
    return names ? Found(line) : LineSpan{};
}

LineSpan EsxiDeviceDigits(std::string_view name) {
    return StartsWith(name, "naa.") || StartsWith(name, "eui.") ? Found(name.substr(4))
                                                                : LineSpan{};
}

FcNames EsxiFcNames(std::string_view value) {
    FcNames names;
    if (!StartsWith(value, "fc.")) {
        return names;
    }
    const std::string_view rest = value.substr(3);
    const size_t colon = rest.find(':');
    names.node = Found(rest.substr(0, colon));
    if (colon != kNone) {
        names.port = Found(rest.substr(colon + 1));
    }
    return names;
}
