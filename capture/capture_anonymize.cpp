// Finding a capture's identifiers and replacing them everywhere.
#include "capture_anonymize.h"

#include <ctype.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "hex_text.h"
#include "json_writer.h"
#include "listing_line.h"
#include "lun_decode.h"
#include "lun_pages.h"

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

// The page fields that hold identifiers come from the map of the pages
// (lun_pages.h). Those of text (names, port identifiers, serial numbers)
// are replaced where they stand, up to their first NUL (a right-aligned
// serial number with blanks in front).
bool TextField(const LunField& field) {
    return field.holds == LunHolds::Name || field.holds == LunHolds::Serial ||
           field.holds == LunHolds::SerialCopy;
}

// The transport classes whose attributes name ports and sessions, and the
// attributes that hold names (ipaddress: the initiator's network portal).
constexpr std::string_view kTransportClasses[] = {"fc_host", "fc_remote_ports", "iscsi_host",
                                                  "iscsi_session"};
constexpr std::string_view kNameAttributes[] = {"port_name", "node_name", "fabric_name",
                                                "initiatorname", "targetname"};
constexpr std::string_view kAddressAttribute = "ipaddress";

enum class IdKind { Hex, Name, Address };

struct Identifier {
    std::string original;  // hex ones in lower case
    IdKind kind;
    size_t keep;  // leading characters kept as they are
    std::string replacement;
    size_t parent = SIZE_MAX;  // a copy cut from another: the start of its replacement
};

class Identifiers {
  public:
    // A value of any kind: a WWN with or without 0x, an iSCSI name, an
    // eui./naa. name, or a plain name.
    // serial: a serial number, which may be all digits.
    void AddName(std::string_view value, bool serial = false);
    void AddHex(std::string_view hex, size_t keep = 1);
    void AddText(std::string_view text, size_t keep, bool serial = false);
    void AddAddress(std::string_view address);
    // The first characters of an array serial number, as a page copies them.
    void AddSerialCopy(std::string_view copy) { copies_.emplace_back(Trim(copy)); }

    void MakeReplacements(unsigned long long seed);
    std::vector<Identifier>& list() { return ids_; }

  private:
    void AddCopies();
    bool Made(Identifier* id, std::mt19937_64* random, std::unordered_set<std::string>* used);

    std::vector<Identifier> ids_;
    std::unordered_set<std::string> known_;
    std::vector<std::string> copies_;
};

void Identifiers::AddHex(std::string_view hex, size_t keep) {
    if (hex.size() < kMinHexDigits || !AllHex(hex) ||
        hex.find_first_not_of('0') == std::string_view::npos ||
        Lower(hex).find_first_not_of('f') == std::string::npos) {
        return;
    }
    std::string key = Lower(hex);
    if (known_.insert(key).second) {
        ids_.push_back({std::move(key), IdKind::Hex, keep, {}});
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
        ids_.push_back({std::move(key), IdKind::Name, keep, {}});
    }
}

// An IPv4 address (dotted decimal) or an IPv6 one (hex groups and colons).
void Identifiers::AddAddress(std::string_view address) {
    address = Trim(address);
    const bool digits = std::any_of(address.begin(), address.end(),
                                    [](char c) { return isdigit(static_cast<unsigned char>(c)); });
    const bool plain = std::all_of(address.begin(), address.end(),
                                   [](char c) { return IsHex(c) || c == '.' || c == ':'; });
    std::string key(address);
    if (digits && plain && address.size() >= kMinTextLength && known_.insert(key).second) {
        ids_.push_back({std::move(key), IdKind::Address, 0, {}});
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

// A page's copy of the first characters of the array serial number gets
// the first characters of the serial number's replacement; a copy of no
// serial number found is a name of its own.
void Identifiers::AddCopies() {
    for (const std::string& copy : copies_) {
        const size_t count = ids_.size();
        size_t parent = SIZE_MAX;
        if (known_.count(copy) != 0 || known_.count(Lower(copy)) != 0) {
            continue;  // the whole serial number, or found before
        }
        for (size_t i = 0; i < count && parent == SIZE_MAX; ++i) {
            const Identifier& id = ids_[i];
            const std::string form = id.kind == IdKind::Hex ? Lower(copy) : copy;
            if (id.parent == SIZE_MAX && id.kind != IdKind::Address &&
                id.original.size() > form.size() && StartsWith(id.original, form) &&
                form.size() > id.keep) {
                parent = i;
            }
        }
        if (parent == SIZE_MAX) {
            AddName(copy, true);
            continue;
        }
        const Identifier& whole = ids_[parent];
        std::string key = whole.kind == IdKind::Hex ? Lower(copy) : copy;
        if (known_.insert(key).second) {
            ids_.push_back({std::move(key), whole.kind, whole.keep, {}, parent});
        }
    }
    copies_.clear();
}

// A character of the same class: a digit for a digit, a letter of the same
// case for a letter (a hex letter for a hex letter), anything else kept.
char SameClass(char c, bool hex, std::mt19937_64* random) {
    auto pick = [random](const char* set, size_t n) { return set[(*random)() % n]; };
    if (isdigit(static_cast<unsigned char>(c)) != 0) {
        return pick("0123456789", 10);
    }
    if (hex && isxdigit(static_cast<unsigned char>(c)) != 0) {
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

// A dotted decimal address gets numbers of 0 to 255 with as many digits
// as each of its own; an IPv6 one hex digits for hex digits.
std::string AddressLike(const std::string& address, std::mt19937_64* random) {
    if (address.find(':') != std::string::npos) {
        std::string out = address;
        for (char& c : out) {
            c = SameClass(static_cast<char>(tolower(static_cast<unsigned char>(c))), true, random);
        }
        return out;
    }
    std::string out;
    size_t start = 0;
    while (start <= address.size()) {
        const size_t dot = std::min(address.find('.', start), address.size());
        const size_t digits = dot - start;
        const unsigned low = digits <= 1 ? 0 : digits == 2 ? 10 : 100;
        const unsigned high = digits <= 1 ? 9 : digits == 2 ? 99 : 255;
        out += digits == 0 ? std::string() : std::to_string(low + (*random)() % (high - low + 1));
        if (dot < address.size()) {
            out += '.';
        }
        start = dot + 1;
    }
    return out;
}

bool Identifiers::Made(Identifier* id, std::mt19937_64* random,
                       std::unordered_set<std::string>* used) {
    if (id->parent != SIZE_MAX) {
        id->replacement = ids_[id->parent].replacement.substr(0, id->original.size());
        return !ids_[id->parent].replacement.empty() && used->insert(id->replacement).second;
    }
    // A name with few letters and digits has few replacements; one that
    // finds none free in kTries keeps out of the mapping.
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (id->kind == IdKind::Address) {
            id->replacement = AddressLike(id->original, random);
        } else {
            id->replacement = id->original;
            for (size_t i = id->keep; i < id->replacement.size(); ++i) {
                id->replacement[i] = SameClass(id->original[i], id->kind == IdKind::Hex, random);
            }
        }
        if (known_.count(id->replacement) == 0 && used->insert(id->replacement).second) {
            return true;
        }
    }
    id->replacement.clear();
    return false;
}

void Identifiers::MakeReplacements(unsigned long long seed) {
    AddCopies();
    std::mt19937_64 random(seed);
    std::unordered_set<std::string> used;
    // Copies after the identifiers they are cut from.
    for (Identifier& id : ids_) {
        if (id.parent == SIZE_MAX) {
            (void)Made(&id, &random, &used);
        }
    }
    for (Identifier& id : ids_) {
        if (id.parent != SIZE_MAX && !Made(&id, &random, &used)) {
            id.replacement.clear();
        }
    }
    std::vector<Identifier> made;
    for (Identifier& id : ids_) {
        if (!id.replacement.empty()) {
            made.push_back(std::move(id));
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
// "WWID dm-N ...". Its alias, or empty when the line is no map's first line
// or names the map by its WWID; the WWID word in *wwid.
std::string_view MapHeadAlias(std::string_view line, std::string_view* wwid) {
    MapNames names;
    if (IsMapHeader(line, HeaderLine::kAtMargin)) {
        names = MapHeaderNames(line, NameReading::kParenthesisAfterFirst);
    }
    *wwid = names.wwid.text;
    return names.alias.text;
}

// A WWID of an NAA designator is "3" and its digits.
void FromMultipath(std::string_view text, Identifiers* ids) {
    for (std::string_view line : Lines(text)) {
        std::string_view wwid;
        const std::string_view alias = MapHeadAlias(line, &wwid);
        if (!alias.empty()) {
            ids->AddText(alias, 0);
        }
        ids->AddHex(WwidNaaDigits(LineSpan{true, wwid}, NaaDigits::kAnyAfterThree).text);
    }
}

// A port's value: "fc.WWNN:WWPN" gives two hex identifiers, any other value
// (an iSCSI name, a device) is a name.
void FromEsxiValue(std::string_view value, Identifiers* ids) {
    const FcNames fc = EsxiFcNames(value);
    if (fc.node.found) {
        ids->AddHex(fc.node.text);
        ids->AddHex(fc.port.text);
    } else {
        ids->AddName(value);
    }
}

// esxcfg-mpath -l: the device of each path and its two ports ("fc.WWNN:WWPN"
// or the iSCSI name); esxcfg-scsidevs -l: the devices.
void FromEsxi(std::string_view text, Identifiers* ids) {
    constexpr std::string_view kKeys[] = {
        "Adapter Identifier: ", "Target Identifier: ", "Device: "};
    for (std::string_view line : Lines(text)) {
        const LineSpan device = EsxiDeviceLine(line, EsxiDevice::kAtMargin);
        if (device.found) {
            ids->AddHex(EsxiDeviceDigits(device.text).text);
            continue;
        }
        for (std::string_view key : kKeys) {
            const LineSpan value = EsxiLineValue(line, key, EsxiValue::kAfterKeyTrimmed);
            if (value.found) {
                FromEsxiValue(value.text, ids);
            }
        }
    }
}

// The attribute a /sys path names when it is one of a transport class
// entry (CLASS/ENTRY/ATTRIBUTE at the end of the path, whether below
// class/ or below the devices the class entries link to), else empty.
std::string_view TransportAttribute(std::string_view path) {
    std::string_view parts[2];
    for (std::string_view& part : parts) {
        const size_t slash = path.rfind('/');
        if (slash == std::string_view::npos) {
            return {};
        }
        part = path.substr(slash + 1);
        path = path.substr(0, slash);
    }
    const std::string_view cls = path.substr(path.rfind('/') + 1);
    const bool transport = std::find(std::begin(kTransportClasses), std::end(kTransportClasses),
                                     cls) != std::end(kTransportClasses);
    return transport ? parts[0] : std::string_view();
}

void FromSysfs(const CaptureSysfs& entry, Identifiers* ids) {
    if (entry.kind != CaptureSysfs::Kind::File) {
        return;
    }
    const std::string path = "/" + entry.path;
    const std::string_view attribute = TransportAttribute(path);
    if (attribute == kAddressAttribute) {
        ids->AddAddress(entry.text);
    } else if (std::find(std::begin(kNameAttributes), std::end(kNameAttributes), attribute) !=
               std::end(kNameAttributes)) {
        ids->AddName(entry.text);
    }
}

// A field's text: up to its first NUL within the field.
std::string_view FieldText(const std::string& data, const LunField& field) {
    if (data.size() <= field.offset) {
        return {};
    }
    std::string_view text(data);
    text = text.substr(field.offset, field.length == 0 ? std::string_view::npos : field.length);
    return text.substr(0, text.find('\0'));
}

// Page 0x83's designators: calls found(code set, type, value) for each,
// with as much of its value as the data holds.
template <typename Found>
void EachDesignator(std::string_view data, Found found) {
    const auto* page = reinterpret_cast<const unsigned char*>(data.data());
    lun_EachDesignator(page, data.size(), [&data, &found](const LunDesignator& d) {
        found(d.codeSet, d.type, data.substr(std::min(d.at, data.size()), d.length));
    });
}

// Page 0x83: binary EUI-64 and NAA designators; SCSI name strings.
void FromDesignators(const std::string& data, Identifiers* ids) {
    EachDesignator(data, [ids](unsigned codeSet, unsigned type, std::string_view value) {
        if (codeSet == 1 && (type == 2 || type == 3)) {
            ids->AddHex(HexTextOf(std::string(value)));
        } else if (type == 8) {
            ids->AddName(value.substr(0, value.find('\0')));
        }
    });
}

// A name of two-byte characters (page 0xC8's array name): where they
// stand, as many bytes as the length byte before them says (an even number
// of them), at most to the end of the data.
std::string_view WideNameBytes(std::string_view data, const LunField& field) {
    const size_t lengthAt = field.offset - 1u;
    if (data.size() <= lengthAt) {
        return {};
    }
    const size_t length = static_cast<unsigned char>(data[lengthAt]) & ~1u;
    return data.substr(field.offset, std::min(length, data.size() - field.offset) & ~size_t{1});
}

std::string WideName(const std::string& data, const LunField& field) {
    std::string name;
    const std::string_view wide = WideNameBytes(data, field);
    for (size_t i = 1; i < wide.size(); i += 2) {
        name.push_back(wide[i]);
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
    if (page == kLunPageIdentification) {
        FromDesignators(data, ids);
    }
    for (const LunField& field : kLunIdentifierFields) {
        if (field.page != page) {
            continue;
        }
        switch (field.holds) {
            case LunHolds::Name:
            case LunHolds::Serial:
                ids->AddName(FieldText(data, field), field.holds == LunHolds::Serial);
                break;
            case LunHolds::SerialCopy:
                ids->AddSerialCopy(FieldText(data, field));
                break;
            case LunHolds::Bytes:
                if (data.size() >= static_cast<size_t>(field.offset) + field.length) {
                    // A raw id's own first digit is no NAA type: all of it goes.
                    ids->AddHex(HexTextOf(data.substr(field.offset, field.length)), 0);
                }
                break;
            case LunHolds::WideName:
                ids->AddText(WideName(data, field), 0);
                break;
            case LunHolds::Text:
            case LunHolds::Number:
            case LunHolds::Code:
                break;  // names no host, array or LUN
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

// Hex identifiers are replaced wherever their digits occur (any case) and
// in page data also as their bytes. Names are replaced only where a name
// stands: a field of a page, a whole /sys value, a map's alias; a name that
// happens to be a word of a listing or of /sys (a LUN called "active")
// leaves that word alone. Names with a type ("naa.", "iqn.", any "WORD.")
// cannot be such a word and are replaced as whole words in the ESXi
// listings, which name devices and ports in many places.
class Replacer {
  public:
    explicit Replacer(const std::vector<Identifier>& ids);
    // Hex identifiers only: /sys paths and links, the parts of a listing
    // where no name stands.
    std::string Hex(const std::string& text) const { return Apply(text, kHexOnly); }
    // A text that is one value (a /sys attribute, a node's name after its
    // last '/'): a name when it is one whole, else its hex identifiers.
    std::string Value(const std::string& text) const;
    std::string MultipathListing(const std::string& text) const;
    std::string EsxiListing(const std::string& text) const;
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
    enum Mode { kHexOnly, kTypedNames, kAllNames, kBytes };
    std::string Apply(const std::string& s, Mode mode) const;
    std::string Whole(std::string_view value) const;
    bool TryHex(const std::string& s, size_t i, std::string* out, size_t* used) const;
    static bool TryForms(const Forms& forms, const std::string& s, size_t i, bool word,
                         std::string* out, size_t* used);
    void ReplaceSpan(std::string* data, size_t at, std::string_view span, Mode mode) const;

    Forms hex_, typed_, names_, bytes_, wide_;
    std::unordered_map<std::string, const std::string*> whole_;
    std::vector<std::string> store_;
};

bool Typed(const std::string& name) {
    const size_t dot = name.find('.');
    return dot != std::string::npos && dot > 0 && dot + 1 < name.size();
}

Replacer::Replacer(const std::vector<Identifier>& ids) {
    store_.reserve(2 * ids.size());
    wide_.keyAt = 1;
    for (const Identifier& id : ids) {
        if (id.kind == IdKind::Hex) {
            hex_.key[static_cast<unsigned char>(toupper(id.original[0]))] = true;
            hex_.Add(id.original, &id.replacement);
            if (id.original.size() % 2 == 0) {
                store_.push_back(BytesOfHex(id.replacement));
                bytes_.Add(BytesOfHex(id.original), &store_.back());
            }
            continue;
        }
        whole_[id.original] = &id.replacement;
        if (id.kind == IdKind::Address) {
            continue;
        }
        names_.Add(id.original, &id.replacement);
        if (Typed(id.original)) {
            typed_.Add(id.original, &id.replacement);
        }
        store_.push_back(Wide(id.replacement));
        wide_.Add(Wide(id.original), &store_.back());
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

std::string Replacer::Apply(const std::string& s, Mode mode) const {
    const Forms* names = mode == kTypedNames ? &typed_ : mode == kAllNames ? &names_ : nullptr;
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        size_t used = 0;
        const bool hit =
            (hex_.key[static_cast<unsigned char>(s[i])] && TryHex(s, i, &out, &used)) ||
            (names != nullptr && TryForms(*names, s, i, true, &out, &used)) ||
            (mode == kBytes && TryForms(bytes_, s, i, false, &out, &used));
        if (hit) {
            i += used;
        } else {
            out.push_back(s[i++]);
        }
    }
    return out;
}

// The value's name when the value (blanks and the newline aside) is one.
std::string Replacer::Whole(std::string_view value) const {
    const std::string_view name = Trim(value);
    auto it = name.empty() ? whole_.end() : whole_.find(std::string(name));
    if (it == whole_.end()) {
        return {};
    }
    const size_t at = static_cast<size_t>(name.data() - value.data());
    return std::string(value.substr(0, at)) + *it->second +
           std::string(value.substr(at + name.size()));
}

std::string Replacer::Value(const std::string& text) const {
    std::string whole = Whole(text);
    return whole.empty() ? Hex(text) : whole;
}

// A map's alias in its first line; elsewhere only WWIDs and other hex.
std::string Replacer::MultipathListing(const std::string& text) const {
    std::string out;
    out.reserve(text.size());
    for (std::string_view line : Lines(text)) {
        std::string_view wwid;
        const std::string_view alias = MapHeadAlias(line, &wwid);
        const std::string named = alias.empty() ? std::string() : Whole(alias);
        const size_t skip = named.empty() ? 0 : alias.size();
        out += named + Hex(std::string(line.substr(skip)));
        if (line.data() + line.size() < text.data() + text.size()) {
            out += '\n';
        }
    }
    return out;
}

// Typed names as whole words on the device lines at the left margin and in
// the values of "Key: value" lines, a plain name only as a whole value.
std::string Replacer::EsxiListing(const std::string& text) const {
    std::string out;
    out.reserve(text.size());
    for (std::string_view line : Lines(text)) {
        const size_t colon = line.empty() || line[0] != ' ' ? 0 : line.find(": ");
        const size_t split = colon == std::string_view::npos || colon == 0 ? 0 : colon + 2;
        const std::string_view value = line.substr(split);
        const std::string whole = Whole(value);
        out += Hex(std::string(line.substr(0, split)));
        out += whole.empty() ? Apply(std::string(value), kTypedNames) : whole;
        if (line.data() + line.size() < text.data() + text.size()) {
            out += '\n';
        }
    }
    return out;
}

// Replaces the span of *data that starts at at (the replacements keep its
// length) with its replaced text.
void Replacer::ReplaceSpan(std::string* data, size_t at, std::string_view span, Mode mode) const {
    const std::string replaced = Apply(std::string(span), mode);
    data->replace(at, replaced.size(), replaced);
}

// The name fields first, whatever stands beside them (the array name in
// two-byte characters, the SCSI name strings of page 0x83), then every hex
// identifier as digits or as bytes.
std::string Replacer::InData(std::string data, int page) const {
    for (const LunField& field : kLunIdentifierFields) {
        const std::string_view text =
            field.page == page && TextField(field) ? Trim(FieldText(data, field)) : "";
        if (!text.empty()) {
            ReplaceSpan(&data, static_cast<size_t>(text.data() - data.data()), text, kAllNames);
        }
    }
    for (const LunField& field : kLunIdentifierFields) {
        if (field.page != page || field.holds != LunHolds::WideName) {
            continue;
        }
        const std::string_view wide = WideNameBytes(data, field);
        std::string out;
        size_t used = 0;
        if (!wide.empty() && TryForms(wide_, std::string(wide), 0, false, &out, &used) &&
            used == wide.size()) {
            data.replace(field.offset, out.size(), out);
        }
    }
    if (page == kLunPageIdentification) {
        std::vector<std::pair<size_t, std::string_view>> names;
        EachDesignator(data, [&](unsigned, unsigned type, std::string_view value) {
            if (type == 8) {
                names.emplace_back(static_cast<size_t>(value.data() - data.data()), value);
            }
        });
        for (const auto& [at, value] : names) {
            ReplaceSpan(&data, at, value, kAllNames);
        }
    }
    return Apply(data, kBytes);
}

// A node's name (below /dev) or where an error was: a device name with a
// type after the last '/' when it is one whole, else hex identifiers only.
std::string NodeName(const Replacer& replacer, const std::string& name) {
    const size_t slash = name.rfind('/');
    const size_t at = slash == std::string::npos ? 0 : slash + 1;
    const std::string tail = name.substr(at);
    return Typed(tail) ? name.substr(0, at) + replacer.Value(tail) : replacer.Hex(name);
}

void ReplaceSysfs(const Replacer& replacer, CaptureSysfs* entry) {
    const std::string path = "/" + entry->path;
    const std::string_view attribute = TransportAttribute(path);
    const bool named = entry->kind == CaptureSysfs::Kind::File &&
                       (attribute == kAddressAttribute ||
                        std::find(std::begin(kNameAttributes), std::end(kNameAttributes),
                                  attribute) != std::end(kNameAttributes));
    entry->path = replacer.Hex(entry->path);
    entry->text = named ? replacer.Value(entry->text) : replacer.Hex(entry->text);
}

}  // namespace

void capture_Anonymize(CaptureRecord* record, unsigned long long seed, CaptureMapping* mapping) {
    Identifiers ids;
    Discover(*record, &ids);
    ids.MakeReplacements(seed);
    const Replacer replacer(ids.list());
    for (CaptureListing& listing : record->listings) {
        const bool multipath = listing.command == "multipath -ll";
        for (CaptureRun& run : listing.runs) {
            run.text =
                multipath ? replacer.MultipathListing(run.text) : replacer.EsxiListing(run.text);
        }
    }
    for (CaptureSysfs& entry : record->sysfs) {
        ReplaceSysfs(replacer, &entry);
    }
    for (CaptureNode& node : record->nodes) {
        node.name = NodeName(replacer, node.name);
        for (CaptureCommand& command : node.commands) {
            for (CaptureReply& reply : command.replies) {
                reply.data = replacer.InData(std::move(reply.data), VpdPage(command.cdb));
            }
        }
    }
    for (CaptureError& error : record->errors) {
        error.where = NodeName(replacer, error.where);
        error.error = replacer.Hex(error.error);
    }
    record->anonymized = true;
    record->captureId = mapping->captureId;
    mapping->entries.clear();
    for (const Identifier& id : ids.list()) {
        mapping->entries.emplace_back(id.original, id.replacement);
    }
}

bool capture_WriteMapping(const CaptureMapping& mapping, FILE* out) {
    JsonWriter json(out);
    json.BeginObject();
    json.KeyString("format", "tskit-capture-map");
    json.KeyString("capture_id", mapping.captureId.c_str());
    json.Key("mapping");
    json.BeginObject();
    for (const auto& [original, replacement] : mapping.entries) {
        json.Key(original.c_str());
        json.Bytes(replacement.data(), replacement.size());
    }
    json.EndObject();
    json.EndObject();
    return json.Finish();
}
