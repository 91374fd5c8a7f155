// Finding a capture's identifiers and replacing them everywhere.
#include "capture_anonymize.h"

#include <ctype.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "hex_text.h"
#include "json_writer.h"

namespace {

constexpr size_t kMinHexDigits = 16;  // a WWN, an EUI-64, an NAA designator
constexpr size_t kMinTextLength = 3;  // shorter names say nothing and match too much
constexpr char kIqn[] = "iqn.";
constexpr size_t kIqnDatePrefix = 12;  // "iqn.yyyy-mm.", the naming authority's date
constexpr int kTries = 1000;
constexpr size_t kMinSerialDigits = 8;

bool IsHex(char c) {
    return isxdigit(static_cast<unsigned char>(c)) != 0;
}
bool IsAlnum(char c) {
    return isalnum(static_cast<unsigned char>(c)) != 0;
}

bool AllHex(std::string_view s) {
    return std::all_of(s.begin(), s.end(), IsHex);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// Blanks and NULs off both ends.
std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\0' || s.front() == '\n')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

// The bytes of an identifier's hex digits (an even number of them).
std::string BytesOfHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    (void)ParseHexBytes(hex, &bytes);
    return std::string(bytes.begin(), bytes.end());
}

// A text as two-byte characters, as some pages hold names.
std::string Wide(std::string_view text) {
    std::string wide;
    for (char c : text) {
        wide.push_back('\0');
        wide.push_back(c);
    }
    return wide;
}

// The page fields that hold names and port identifiers: text up to its
// first NUL (a right-aligned serial number with blanks in front).
struct PageField {
    unsigned char page;
    size_t offset;
    size_t length;  // 0: to the end of the page
    bool serial;
};
constexpr PageField kTextFields[] = {
    {0x80, 4, 0, true},       // unit serial number (the array's)
    {0xC0, 112, 16, true},    // array serial number
    {0xC0, 192, 241, false},  // target port identifier
    {0xC0, 433, 241, false},  // initiator port identifier
    {0xC8, 29, 40, false},    // LUN name
    {0xC9, 134, 127, false},  // port identifier
};
// Page 0xC8's array name: a length byte, then two-byte characters.
constexpr size_t kC8NameLength = 106;
constexpr size_t kC8Name = 107;

struct Identifier {
    std::string original;  // hex ones in lower case
    bool hex;
    size_t keep;  // leading characters kept as they are
    std::string replacement;
};

class Identifiers {
  public:
    // A value of any kind: a WWN with or without 0x, an iSCSI name, an
    // eui./naa. name, or a plain name.
    // serial: a serial number, which may be all digits.
    void AddName(std::string_view value, bool serial = false);
    void AddHex(std::string_view hex);
    void AddText(std::string_view text, size_t keep, bool serial = false);

    void MakeReplacements(unsigned long long seed);
    std::vector<Identifier>& list() { return ids_; }

  private:
    std::vector<Identifier> ids_;
    std::unordered_set<std::string> known_;
};

void Identifiers::AddHex(std::string_view hex) {
    if (hex.size() < kMinHexDigits || !AllHex(hex) ||
        hex.find_first_not_of('0') == std::string_view::npos ||
        Lower(hex).find_first_not_of('f') == std::string::npos) {
        return;
    }
    std::string key = Lower(hex);
    if (known_.insert(key).second) {
        ids_.push_back({std::move(key), true, 1, {}});  // the NAA type stays
    }
}

void Identifiers::AddText(std::string_view text, size_t keep, bool serial) {
    size_t letters = 0;
    for (char c : text.substr(std::min(keep, text.size()))) {
        letters += isalpha(static_cast<unsigned char>(c)) != 0 ? 1 : 0;
    }
    // A name needs a letter to say anything: all digits, it is a number,
    // unless it is a serial number long enough not to be one.
    const bool number = letters == 0 && !(serial && text.size() >= kMinSerialDigits);
    if (text.size() < keep + kMinTextLength || number ||
        text.find('\0') != std::string_view::npos) {
        return;
    }
    std::string key(text);
    if (known_.count(Lower(key)) == 0 && known_.insert(key).second) {
        ids_.push_back({std::move(key), false, keep, {}});
    }
}

void Identifiers::AddName(std::string_view value, bool serial) {
    value = Trim(value);
    // A SCSI port name: the iSCSI name, then ",t,0x" or ",i,0x" and the
    // portal group tag or the session id, which identify nothing.
    for (std::string_view tag : {",t,0x", ",i,0x"}) {
        value = value.substr(0, value.find(tag));
    }
    if (StartsWith(value, "0x") && AllHex(value.substr(2))) {
        AddHex(value.substr(2));
    } else if ((StartsWith(value, "eui.") || StartsWith(value, "naa.")) &&
               AllHex(value.substr(4))) {
        AddHex(value.substr(4));
    } else if (StartsWith(value, "eui.") || StartsWith(value, "naa.")) {
        AddText(value, 4);  // the name's type stays: the listings are read by it
    } else if (value.size() >= kMinHexDigits && AllHex(value)) {
        AddHex(value);
    } else if (StartsWith(value, kIqn)) {
        AddText(value, value.size() > kIqnDatePrefix && value[kIqnDatePrefix - 1] == '.'
                           ? kIqnDatePrefix
                           : sizeof kIqn - 1);
    } else {
        AddText(value, 0, serial);
    }
}

// A character of the same class: a digit for a digit, a letter of the same
// case for a letter (a hex letter for a hex letter), anything else kept.
char SameClass(char c, bool hex, std::mt19937_64* random) {
    auto pick = [random](const char* set, size_t n) { return set[(*random)() % n]; };
    if (isdigit(static_cast<unsigned char>(c)) != 0) {
        return pick("0123456789", 10);
    }
    if (hex) {
        return pick("abcdef", 6);
    }
    if (islower(static_cast<unsigned char>(c)) != 0) {
        return pick("abcdefghijklmnopqrstuvwxyz", 26);
    }
    if (isupper(static_cast<unsigned char>(c)) != 0) {
        return pick("ABCDEFGHIJKLMNOPQRSTUVWXYZ", 26);
    }
    return c;
}

void Identifiers::MakeReplacements(unsigned long long seed) {
    std::mt19937_64 random(seed);
    std::unordered_set<std::string> used;
    std::vector<Identifier> made;
    for (Identifier& id : ids_) {
        // A name with few letters and digits has few replacements; one that
        // finds none free in kTries keeps out of the mapping.
        for (int attempt = 0; attempt < kTries; ++attempt) {
            id.replacement = id.original;
            for (size_t i = id.keep; i < id.replacement.size(); ++i) {
                id.replacement[i] = SameClass(id.original[i], id.hex, &random);
            }
            if (known_.count(id.replacement) == 0 && used.insert(id.replacement).second) {
                made.push_back(std::move(id));
                break;
            }
        }
    }
    ids_ = std::move(made);
}

// ---- discovery ----

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

// multipath -ll: a map's first line names it: "ALIAS (WWID) dm-N ..." or
// "WWID dm-N ...". A WWID of an NAA designator is "3" and its digits.
void FromMultipath(std::string_view text, Identifiers* ids) {
    for (std::string_view line : Lines(text)) {
        if (line.empty() || line[0] == ' ' || line[0] == '|' || line[0] == '`' ||
            StartsWith(line, "size=")) {
            continue;
        }
        const std::string_view alias = line.substr(0, line.find(' '));
        std::string_view wwid = alias;
        const size_t open = line.find(" (");
        const size_t close = line.find(')');
        if (open == alias.size() && close != std::string_view::npos && close > open) {
            wwid = line.substr(open + 2, close - open - 2);
            ids->AddText(alias, 0);
        }
        ids->AddHex(wwid.size() > 1 && wwid[0] == '3' ? wwid.substr(1) : wwid);
    }
}

// esxcfg-mpath -l: the device of each path and its two ports ("fc.WWNN:WWPN"
// or the iSCSI name); esxcfg-scsidevs -l: the devices.
void FromEsxi(std::string_view text, Identifiers* ids) {
    constexpr std::string_view kKeys[] = {
        "Adapter Identifier: ", "Target Identifier: ", "Device: "};
    for (std::string_view line : Lines(text)) {
        if (!line.empty() && line[0] != ' ') {
            ids->AddHex(StartsWith(line, "naa.") || StartsWith(line, "eui.") ? line.substr(4) : "");
            continue;
        }
        const std::string_view item = Trim(line);
        for (std::string_view key : kKeys) {
            if (!StartsWith(item, key)) {
                continue;
            }
            std::string_view value = Trim(item.substr(key.size()));
            if (StartsWith(value, "fc.")) {
                value.remove_prefix(3);
                const size_t colon = value.find(':');
                ids->AddHex(value.substr(0, colon));
                ids->AddHex(colon == std::string_view::npos ? "" : value.substr(colon + 1));
            } else {
                ids->AddName(value);
            }
        }
    }
}

void FromSysfs(const CaptureSysfs& entry, Identifiers* ids) {
    constexpr std::string_view kNames[] = {"/port_name", "/node_name", "/fabric_name",
                                           "/initiatorname", "/targetname"};
    if (entry.kind != CaptureSysfs::Kind::File || !StartsWith(entry.path, "class/")) {
        return;
    }
    for (std::string_view name : kNames) {
        const std::string_view path = entry.path;
        if (path.size() > name.size() && path.substr(path.size() - name.size()) == name) {
            ids->AddName(entry.text);
        }
    }
}

// A field's text: up to its first NUL within the field.
std::string_view FieldText(const std::string& data, const PageField& field) {
    if (data.size() <= field.offset) {
        return {};
    }
    std::string_view text(data);
    text = text.substr(field.offset, field.length == 0 ? std::string_view::npos : field.length);
    return text.substr(0, text.find('\0'));
}

// Page 0x83: binary EUI-64 and NAA designators; SCSI name strings.
void FromDesignators(const std::string& data, Identifiers* ids) {
    size_t at = 4;
    while (at + 4 <= data.size()) {
        const unsigned codeSet = static_cast<unsigned char>(data[at]) & 0x0F;
        const unsigned type = static_cast<unsigned char>(data[at + 1]) & 0x0F;
        const size_t length = static_cast<unsigned char>(data[at + 3]);
        const std::string_view value = std::string_view(data).substr(at + 4, length);
        if (codeSet == 1 && (type == 2 || type == 3)) {
            ids->AddHex(HexTextOf(std::string(value)));
        } else if (type == 8) {
            ids->AddName(value.substr(0, value.find('\0')));
        }
        at += 4 + length;
    }
}

std::string C8ArrayName(const std::string& data) {
    std::string name;
    if (data.size() > kC8NameLength) {
        const size_t chars = static_cast<unsigned char>(data[kC8NameLength]) / 2;
        for (size_t i = 0; i < chars && kC8Name + 2 * i + 1 < data.size(); ++i) {
            name.push_back(data[kC8Name + 2 * i + 1]);
        }
    }
    return name;
}

// The page an INQUIRY block asks for; -1 for standard data and others.
int VpdPage(const std::string& cdb) {
    if (cdb.size() != 6 || static_cast<unsigned char>(cdb[0]) != 0x12 || (cdb[1] & 1) == 0) {
        return -1;
    }
    return static_cast<unsigned char>(cdb[2]);
}

void FromPage(int page, const std::string& data, Identifiers* ids) {
    if (page == 0x83) {
        FromDesignators(data, ids);
    }
    if (page == 0xC8) {
        ids->AddText(C8ArrayName(data), 0);
    }
    for (const PageField& field : kTextFields) {
        if (field.page == page) {
            ids->AddName(FieldText(data, field), field.serial);
        }
    }
}

void Discover(const CaptureRecord& record, Identifiers* ids) {
    for (const CaptureListing& listing : record.listings) {
        for (const CaptureRun& run : listing.runs) {
            if (listing.command == "multipath -ll") {
                FromMultipath(run.text, ids);
            } else {
                FromEsxi(run.text, ids);
            }
        }
    }
    for (const CaptureSysfs& entry : record.sysfs) {
        FromSysfs(entry, ids);
    }
    for (const CaptureNode& node : record.nodes) {
        for (const CaptureCommand& command : node.commands) {
            const int page = VpdPage(command.cdb);
            for (const CaptureReply& reply : command.replies) {
                FromPage(page, reply.data, ids);
            }
        }
    }
}

// ---- replacement ----

// Every form an identifier takes, looked up by its length: hex digits (any
// case), a name as a whole word, and in page data also the bytes of a hex
// identifier and a name in two-byte characters.
class Replacer {
  public:
    explicit Replacer(const std::vector<Identifier>& ids);
    std::string InText(const std::string& text) const { return Apply(text, false); }
    std::string InData(std::string data, int page) const;

  private:
    // The forms of one kind by length, longest first, and which byte may
    // stand at keyAt of each (a quick no for most positions).
    struct Forms {
        std::map<size_t, std::unordered_map<std::string, const std::string*>, std::greater<size_t>>
            byLength;
        std::array<bool, 256> key{};
        size_t keyAt = 0;
        void Add(std::string form, const std::string* replacement) {
            key[static_cast<unsigned char>(form[keyAt])] = true;
            byLength[form.size()][std::move(form)] = replacement;
        }
    };
    std::string Apply(const std::string& s, bool data) const;
    bool TryHex(const std::string& s, size_t i, std::string* out, size_t* used) const;
    static bool TryForms(const Forms& forms, const std::string& s, size_t i, bool word,
                         std::string* out, size_t* used);

    Forms hex_, text_, bytes_, wide_;
    std::vector<std::string> store_;
};

Replacer::Replacer(const std::vector<Identifier>& ids) {
    store_.reserve(ids.size());
    wide_.keyAt = 1;
    for (const Identifier& id : ids) {
        if (id.hex) {
            hex_.key[static_cast<unsigned char>(toupper(id.original[0]))] = true;
            hex_.Add(id.original, &id.replacement);
            if (id.original.size() % 2 == 0) {
                store_.push_back(BytesOfHex(id.replacement));
                bytes_.Add(BytesOfHex(id.original), &store_.back());
            }
        } else {
            text_.Add(id.original, &id.replacement);
            store_.push_back(Wide(id.replacement));
            wide_.Add(Wide(id.original), &store_.back());
        }
    }
}

bool Replacer::TryHex(const std::string& s, size_t i, std::string* out, size_t* used) const {
    size_t run = 0;
    const size_t longest = hex_.byLength.empty() ? 0 : hex_.byLength.begin()->first;
    while (run < longest && i + run < s.size() && IsHex(s[i + run])) {
        ++run;
    }
    for (const auto& [length, table] : hex_.byLength) {
        if (length > run) {
            continue;
        }
        auto it = table.find(Lower(std::string_view(s).substr(i, length)));
        if (it == table.end()) {
            continue;
        }
        // Each character keeps its case.
        for (size_t k = 0; k < length; ++k) {
            const char c = (*it->second)[k];
            out->push_back(isupper(static_cast<unsigned char>(s[i + k])) != 0
                               ? static_cast<char>(toupper(static_cast<unsigned char>(c)))
                               : c);
        }
        *used = length;
        return true;
    }
    return false;
}

bool Replacer::TryForms(const Forms& forms, const std::string& s, size_t i, bool word,
                        std::string* out, size_t* used) {
    if (i + forms.keyAt >= s.size() || !forms.key[static_cast<unsigned char>(s[i + forms.keyAt])] ||
        (word && i > 0 && IsAlnum(s[i - 1]))) {
        return false;
    }
    for (const auto& [length, names] : forms.byLength) {
        if (i + length > s.size() || (word && i + length < s.size() && IsAlnum(s[i + length]))) {
            continue;
        }
        auto it = names.find(s.substr(i, length));
        if (it != names.end()) {
            out->append(*it->second);
            *used = length;
            return true;
        }
    }
    return false;
}

std::string Replacer::Apply(const std::string& s, bool data) const {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        size_t used = 0;
        const bool hit =
            (hex_.key[static_cast<unsigned char>(s[i])] && TryHex(s, i, &out, &used)) ||
            TryForms(text_, s, i, true, &out, &used) ||
            (data && (TryForms(bytes_, s, i, false, &out, &used) ||
                      (s[i] == '\0' && TryForms(wide_, s, i, false, &out, &used))));
        if (hit) {
            i += used;
        } else {
            out.push_back(s[i++]);
        }
    }
    return out;
}

// The known fields first, whatever stands beside them, then every other
// occurrence.
std::string Replacer::InData(std::string data, int page) const {
    for (const PageField& field : kTextFields) {
        const std::string_view text = field.page == page ? Trim(FieldText(data, field)) : "";
        if (text.empty()) {
            continue;
        }
        const size_t at = static_cast<size_t>(text.data() - data.data());
        const std::string replaced = Apply(std::string(text), false);
        data.replace(at, replaced.size(), replaced);
    }
    return Apply(data, true);
}

}  // namespace

void capture_Anonymize(CaptureRecord* record, unsigned long long seed, CaptureMapping* mapping) {
    Identifiers ids;
    Discover(*record, &ids);
    ids.MakeReplacements(seed);
    const Replacer replacer(ids.list());
    for (CaptureListing& listing : record->listings) {
        for (CaptureRun& run : listing.runs) {
            run.text = replacer.InText(run.text);
        }
    }
    for (CaptureSysfs& entry : record->sysfs) {
        entry.path = replacer.InText(entry.path);
        entry.text = replacer.InText(entry.text);
    }
    for (CaptureNode& node : record->nodes) {
        node.name = replacer.InText(node.name);
        for (CaptureCommand& command : node.commands) {
            for (CaptureReply& reply : command.replies) {
                reply.data = replacer.InData(std::move(reply.data), VpdPage(command.cdb));
            }
        }
    }
    for (CaptureError& error : record->errors) {
        error.where = replacer.InText(error.where);
        error.error = replacer.InText(error.error);
    }
    record->anonymized = true;
    mapping->entries.clear();
    for (const Identifier& id : ids.list()) {
        mapping->entries.emplace_back(id.original, id.replacement);
    }
}

bool capture_WriteMapping(const CaptureMapping& mapping, FILE* out) {
    JsonWriter json(out);
    json.BeginObject();
    for (const auto& [original, replacement] : mapping.entries) {
        json.Key(original.c_str());
        json.Bytes(replacement.data(), replacement.size());
    }
    json.EndObject();
    return json.Finish();
}
