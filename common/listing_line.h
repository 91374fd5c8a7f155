// The parts of one line of the host's path listings, read in one place for
// tsexTool, ts_showdisk and tskit-capture: a map header or a path line of
// "multipath -ll", an entry of "esxcfg-mpath -l" or "esxcfg-scsidevs -l".
// Each reader says where its part stands in the line (a view into it, never
// a copy); where the programs read a part differently, the caller names its
// reading, and each reading gives that program's result to the byte.
#ifndef TSKIT_COMMON_LISTING_LINE_H
#define TSKIT_COMMON_LISTING_LINE_H

#include <cstddef>
#include <string_view>

// A part of a line: whether the line has it, and its characters.
struct LineSpan {
    bool found = false;
    std::string_view text;
};

// ---- words ----

// Characters that split a line into words.
// tsexTool splits every listing line at blanks only, as its cutters always have.
constexpr char kSplitAtBlanks[] = " ";
// ts_showdisk and the held-map reader split at tabs too: a header written
// with tabs still names its map.
constexpr char kSplitAtBlanksAndTabs[] = " \t";

enum class WordCount { kFromStart, kFromEnd };

// The index-th word (from 1) of text, words being maximal runs of
// characters other than separators, counted from the start or from the end.
LineSpan LineWord(std::string_view text, std::string_view separators, int index, WordCount from);

// Where a word read from its first characters ends.
enum class WordEnd {
    kBlank,           // tsexTool: "[active][ready]" stays one word; its status cell shows it whole
    kBlankOrBracket,  // ts_showdisk: a bracketed listing's "[active]" and "[size=10G]" read plainly
};

// The word that begins at the first occurrence of pattern in line.
LineSpan LineWordAt(std::string_view line, std::string_view pattern, WordEnd end);

// How a part goes into a caller's buffer of size bytes. A part the line
// does not have leaves the buffer as it was and gives -1.
enum class SpanCopy {
    kZeroFilled,   // tsexTool: its texts are zero-filled records; one too long stays empty (0)
    kOntoZeros,    // ts_showdisk: its callers zero the buffer; one too long empties it (0)
    kWholeOrNone,  // a dm word names a node: one too long is refused (-1), the buffer kept
};

// 0 when the part went in (kOntoZeros: also without a buffer), else -1.
int CopyLineSpan(const LineSpan& part, SpanCopy copy, char* dest, size_t size);

// ---- multipath -ll: map headers ----
// "ALIAS (WWID) dm-N VENDOR,PRODUCT" or "WWID dm-N VENDOR,PRODUCT", then the
// size line "size=10G features=..." or "[size=10G][features=...]".

// Which lines are map headers.
enum class HeaderLine {
    kHoldsDm,   // tsexTool, ts_showdisk: a line with "dm-" ends the map before it, dm word or not
    kAtMargin,  // tskit-capture: a map's names are hidden even where a header lost its dm word
};
bool IsMapHeader(std::string_view line, HeaderLine rule);

// The first word of line that is "dm-" followed by digits only (an alias
// such as backup_dm-3 on map dm-7 does not name the map).
LineSpan MapHeaderDmWord(std::string_view line, std::string_view separators);

// The alias (only in front of a WWID in parentheses) and the WWID word as
// the listing writes it, leading 3 included.
struct MapNames {
    LineSpan alias;
    LineSpan wwid;
};
enum class NameReading {
    // tsexTool: words split at blanks, the WWID a whole second word in
    // parentheses; a header that starts with its dm word has no WWID.
    kBracketedWord,
    // tskit-capture: "(" one blank after the first word, the WWID up to the
    // first ")"; else the first word, whatever it holds, is hidden as a WWID.
    kParenthesisAfterFirst,
};
MapNames MapHeaderNames(std::string_view line, NameReading reading);

// The identifier digits of a WWID word (an NAA WWID is "3" and its digits).
enum class NaaDigits {
    kExactly32,      // tsexTool: its WWN cell holds the 32 digits of a 33-character WWID or nothing
    kAnyAfterThree,  // tskit-capture: whatever follows a 3 (else the whole word) may identify
};
LineSpan WwidNaaDigits(const LineSpan& wwid, NaaDigits rule);

// The vendor (last word before the header's last comma) and the product
// (first word after it).
struct MapVendor {
    LineSpan vendor;
    LineSpan product;
};
MapVendor MapHeaderVendor(std::string_view line);

// A line that holds "size=".
bool IsSizeLine(std::string_view line);

// The size word of a size line and the value in it.
struct MapSize {
    LineSpan word;
    LineSpan value;
};
enum class SizeReading {
    // tsexTool: a line from "[" gives its first field up to "]" ("[size=576 GB"
    // keeps its blank, shown whole in the size cell), other lines the word at
    // "size=" up to a blank; the value is the word's second run of characters
    // other than "=".
    kBracketedField,
    // ts_showdisk: the word at "size=" up to a blank or "]", as every token it
    // reads; the value all of it after "size=".
    kBlankOrBracket,
};
MapSize MapSizeOfLine(std::string_view line, SizeReading reading);

// ---- multipath -ll: path lines ----
// "  |- 3:0:0:1 sdb 8:16 active ready running" (tree form),
// " \_ 3:0:0:1 sdb 8:16 [active][ready]" (bracketed form), and
// "  `- #:#:#:# - #:# active faulty running" for a path whose device is gone.

// The device name: the word at the line's first "sd".
LineSpan PathLineDevice(std::string_view line, WordEnd end);
// The word at the line's first "active".
LineSpan PathLineActive(std::string_view line, WordEnd end);

// Whether the path's dm state is "failed": the map sends it no I/O,
// whatever the device answers to TEST UNIT READY. No checker or device
// state reads "active" or "failed", so either word can only be the dm state
// ("failed ready running", "[failed][faulty]"). A line that shows neither
// (cut short) is not known to be failed.
bool PathLineDmFailed(std::string_view line);

// Where the SCSI address (H:C:T:L) of a path line is looked for.
enum class AddressSearch {
    // tsexTool: the word after the first hyphens ("|- ", "`- "), else after the
    // first underscores ("\_ "); the first of them that yields a word decides.
    kAfterTreeMark,
    // The held-map reader: any word of four digit groups, or "#:#:#:#", so
    // that a path of any listing form counts, one whose device is gone too.
    kAnyWord,
};
LineSpan PathLineAddress(std::string_view line, AddressSearch search);

// Four groups of decimal digits split by colons. A group beyond the int
// range reads INT_MAX; one of more than 63 digits reads 0 (tsexTool took
// each group through a 64-byte buffer). False, address untouched, for any
// other word.
struct ScsiAddress {
    int host = 0;
    int channel = 0;
    int target = 0;
    int lun = 0;
};
bool ReadScsiAddress(std::string_view word, ScsiAddress* address);

// ts_showdisk's host number of a path line: the line's first run of digits
// (the address's host on a listed path; on "#:#:#:# - 8:16" the major number).
LineSpan PathLineHostDigits(std::string_view line);

// ---- esxcfg-mpath -l, esxcfg-scsidevs -l ----
// A path or device at the left margin, then its "   Key: value" lines.

// The value of a line with the key.
enum class EsxiValue {
    // ts_showdisk: the key anywhere in the line; the value starts two
    // characters after the line's first colon ("State:" at the end: empty),
    // as the keys it reads hold no colon before theirs.
    kAfterFirstColon,
    // tskit-capture: an indented item that starts with the key; the value
    // without blanks, NULs or newlines at its ends, so that an identifier is
    // found whole wherever the record repeats it.
    kAfterKeyTrimmed,
};
LineSpan EsxiLineValue(std::string_view line, std::string_view key, EsxiValue reading);

// Which lines name a device (their whole text).
enum class EsxiDevice {
    kNaaAnywhere,  // ts_showdisk: the vendor's LUNs are NAA devices, each on a line holding "naa"
    kAtMargin,     // tskit-capture: any line at the margin, a path's or a device's, may identify
};
LineSpan EsxiDeviceLine(std::string_view line, EsxiDevice rule);

// The digits of a device name after "naa." or "eui.".
LineSpan EsxiDeviceDigits(std::string_view name);

// The node and port names of an FC port, "fc.WWNN:WWPN" (no port without
// the colon).
struct FcNames {
    LineSpan node;
    LineSpan port;
};
FcNames EsxiFcNames(std::string_view value);

#endif  // TSKIT_COMMON_LISTING_LINE_H
