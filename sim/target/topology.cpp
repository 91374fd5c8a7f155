// Topology loader: reads one host description, checks it field by field and
// builds the name indexes every later lookup goes through. A malformed file
// yields the first problem found, with where it is ("luns[2].paths[0].hctl").
#include "topology.h"

#include "json_checks.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <sstream>
#include <unordered_set>
#include <utility>

#include <nlohmann/json.hpp>

#include "overlay.h"
#include "replay.h"
#include "solaris_host.h"

namespace sansim {
namespace {

using nlohmann::json;

// Which pseudo pages a page key may name.
enum PageKinds : unsigned {
    kVpdOnly = 0,
    kAllowStandard = 1,
    kAllowCapacity = 2,
};

constexpr size_t kMaxPatchEnd = 4 + 65535;  // a VPD page cannot be longer

std::string Sub(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
}

std::string Item(const std::string& where, size_t i) {
    return where + "[" + std::to_string(i) + "]";
}

// An absent or null field takes its default.
const json* Field(const json& obj, const char* key) {
    if (!obj.is_object()) {
        return nullptr;
    }
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

int DigitValue(char c, int base) {
    int d = -1;
    if (c >= '0' && c <= '9') {
        d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
    }
    return d < base ? d : -1;
}

// "0x1F" (hexadecimal) or "201" (decimal).
bool ParseUnsignedText(const std::string& text, uint64_t* out) {
    int base = 10;
    size_t i = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= text.size()) {
        return false;
    }
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        int d = DigitValue(text[i], base);
        if (d < 0) {
            return false;
        }
        if (value > (std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(d)) /
                        static_cast<uint64_t>(base)) {
            return false;
        }
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    *out = value;
    return true;
}

bool IsHexText(const std::string& text) {
    for (char c : text) {
        if (DigitValue(c, 16) < 0) {
            return false;
        }
    }
    return true;
}

bool HasBlank(const std::string& text) {
    return text.find_first_of(" \t\r\n") != std::string::npos;
}

// Kernel names of SCSI disks: "sd" and one to four letters (sda .. sdzzzz).
bool IsSdName(const std::string& name) {
    if (name.size() < 3 || name.size() > 6 || name.compare(0, 2, "sd") != 0) {
        return false;
    }
    for (size_t i = 2; i < name.size(); ++i) {
        if (name[i] < 'a' || name[i] > 'z') {
            return false;
        }
    }
    return true;
}

bool IsDmName(const std::string& name) {
    if (name.size() < 4 || name.size() > 10 || name.compare(0, 3, "dm-") != 0) {
        return false;
    }
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
    }
    return name.size() == 4 || name[3] != '0';
}

bool ReadWholeFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        return false;
    }
    *out = text.str();
    return true;
}

class Loader {
  public:
    bool Load(const json& root, const std::string& file, Topology* t);
    const std::string& error() const { return error_; }

  private:
    bool Fail(const std::string& where, const std::string& what) {
        if (error_.empty()) {
            error_ = where.empty() ? what : where + ": " + what;
        }
        return false;
    }

    bool Keys(const json& obj, const std::string& where, std::initializer_list<const char*> known);
    bool List(const json& obj, const std::string& where, const char* key, const json** out);
    bool Number(const json& v, const std::string& where, uint64_t max, uint64_t* out);
    template <typename T>
    bool OptNumber(const json& obj, const std::string& where, const char* key, T* out,
                   uint64_t max = static_cast<uint64_t>(std::numeric_limits<T>::max()));
    bool OptBool(const json& obj, const std::string& where, const char* key, bool* out);
    bool OptString(const json& obj, const std::string& where, const char* key, std::string* out,
                   size_t maxLen = std::string::npos);
    bool ReqString(const json& obj, const std::string& where, const char* key, std::string* out,
                   size_t maxLen = std::string::npos);
    bool StringList(const json& obj, const std::string& where, const char* key,
                    std::vector<std::string>* out);
    bool PageKey(const json& v, const std::string& where, unsigned kinds, int* page);
    bool Hctl(const json& obj, const std::string& where, int* host, int* channel, int* target,
              int* lun);

    bool ReadFaults(const json& obj, const std::string& where, const char* key, Faults* f);
    bool ReadMultipath(const json& root, MultipathConfig* mp);
    bool ReadTiming(const json& root, Timing* timing);
    bool ReadPadding(const json& v, const std::string& where, ListingPadding* padding);
    bool ReadHosts(const json& root, Topology* t);
    bool ReadHostView(const json& v, const std::string& where, HostTransportView* view);
    bool ShownText(const json& obj, const std::string& where, const char* key, size_t maxLen,
                   std::string* out);
    bool WwnDigits(const json& obj, const std::string& where, const char* key, std::string* out);
    bool StateMap(const json& obj, const std::string& where, const char* key,
                  std::map<std::string, std::string>* out);
    bool CheckTransportPorts(const Topology& t);
    bool ReadEsxi(const json& root, const std::string& file, EsxiConfig* esxi);
    bool ReadArrays(const json& root, Topology* t);
    bool ReadArray(const json& v, const std::string& where, Array* a);
    bool ReadLuns(const json& root, Topology* t);
    bool ReadLun(const json& v, const std::string& where, const Topology& t, Lun* lun);
    bool ReadPath(const json& v, const std::string& where, const Topology& t, const Array& array,
                  Path* p);
    bool ReadOthers(const json& root, Topology* t);
    bool AssignDmNames(Topology* t);
    bool CheckHctls(const Topology& t);
    bool BuildIndex(Topology* t);
    bool ReadCannedListing(const std::string& file, Topology* t);
    bool ReadSolaris(const json& root, Topology* t);

    std::string error_;
};

bool Loader::Keys(const json& obj, const std::string& where,
                  std::initializer_list<const char*> known) {
    if (!obj.is_object()) {
        return Fail(where, "expected an object");
    }
    const std::string unknown = UnknownKey(obj, known);
    return unknown.empty() || Fail(Sub(where, unknown), "unknown key");
}

bool Loader::List(const json& obj, const std::string& where, const char* key, const json** out) {
    *out = Field(obj, key);
    if (*out != nullptr && !(*out)->is_array()) {
        return Fail(Sub(where, key), "expected a list");
    }
    return true;
}

bool Loader::Number(const json& v, const std::string& where, uint64_t max, uint64_t* out) {
    uint64_t n = 0;
    if (v.is_number_unsigned()) {
        n = v.get<uint64_t>();
    } else if (v.is_number_integer()) {
        int64_t signedValue = v.get<int64_t>();
        if (signedValue < 0) {
            return Fail(where, "negative number " + std::to_string(signedValue));
        }
        n = static_cast<uint64_t>(signedValue);
    } else if (v.is_string()) {
        if (!ParseUnsignedText(v.get<std::string>(), &n)) {
            return Fail(where, "not a number: \"" + v.get<std::string>() + "\"");
        }
    } else {
        return Fail(where, "expected a whole number");
    }
    if (n > max) {
        return Fail(where,
                    std::to_string(n) + " is out of range (at most " + std::to_string(max) + ")");
    }
    *out = n;
    return true;
}

template <typename T>
bool Loader::OptNumber(const json& obj, const std::string& where, const char* key, T* out,
                       uint64_t max) {
    const json* v = Field(obj, key);
    if (v == nullptr) {
        return true;
    }
    uint64_t n = 0;
    if (!Number(*v, Sub(where, key), max, &n)) {
        return false;
    }
    *out = static_cast<T>(n);
    return true;
}

bool Loader::OptBool(const json& obj, const std::string& where, const char* key, bool* out) {
    const json* v = Field(obj, key);
    if (v == nullptr) {
        return true;
    }
    if (!v->is_boolean()) {
        return Fail(Sub(where, key), "expected true or false");
    }
    *out = v->get<bool>();
    return true;
}

bool Loader::OptString(const json& obj, const std::string& where, const char* key, std::string* out,
                       size_t maxLen) {
    const json* v = Field(obj, key);
    if (v == nullptr) {
        return true;
    }
    if (!v->is_string()) {
        return Fail(Sub(where, key), "expected a string");
    }
    std::string text = v->get<std::string>();
    if (text.size() > maxLen) {
        return Fail(Sub(where, key),
                    "\"" + text + "\" is longer than " + std::to_string(maxLen) + " characters");
    }
    *out = std::move(text);
    return true;
}

bool Loader::ReqString(const json& obj, const std::string& where, const char* key, std::string* out,
                       size_t maxLen) {
    if (Field(obj, key) == nullptr) {
        return Fail(where, std::string("missing \"") + key + "\"");
    }
    if (!OptString(obj, where, key, out, maxLen)) {
        return false;
    }
    if (out->empty()) {
        return Fail(Sub(where, key), "empty");
    }
    return true;
}

bool Loader::StringList(const json& obj, const std::string& where, const char* key,
                        std::vector<std::string>* out) {
    const json* list = nullptr;
    if (!List(obj, where, key, &list)) {
        return false;
    }
    if (list == nullptr) {
        return true;
    }
    out->clear();
    for (size_t i = 0; i < list->size(); ++i) {
        const json& v = (*list)[i];
        if (!v.is_string() || v.get<std::string>().empty()) {
            return Fail(Item(Sub(where, key), i), "expected a non-empty string");
        }
        out->push_back(v.get<std::string>());
    }
    return true;
}

// "std", "rc10", "rc16", or a VPD page code as a number or a text ("0xC9", "201").
bool Loader::PageKey(const json& v, const std::string& where, unsigned kinds, int* page) {
    if (v.is_string()) {
        const std::string text = v.get<std::string>();
        if (text == "std") {
            if ((kinds & kAllowStandard) == 0) {
                return Fail(where, "the standard data is not allowed here");
            }
            *page = kPageStandard;
            return true;
        }
        if (text == "rc10" || text == "rc16") {
            if ((kinds & kAllowCapacity) == 0) {
                return Fail(where, "READ CAPACITY data is not allowed here");
            }
            *page = text == "rc10" ? kPageCapacity10 : kPageCapacity16;
            return true;
        }
    }
    uint64_t code = 0;
    if (!Number(v, where, 0xFF, &code)) {
        return false;
    }
    *page = static_cast<int>(code);
    return true;
}

bool Loader::Hctl(const json& obj, const std::string& where, int* host, int* channel, int* target,
                  int* lun) {
    const json* v = Field(obj, "hctl");
    const std::string at = Sub(where, "hctl");
    if (v == nullptr) {
        return Fail(where, "missing \"hctl\"");
    }
    if (!v->is_string()) {
        return Fail(at, "expected \"H:C:T:L\"");
    }
    const std::string text = v->get<std::string>();
    int* parts[4] = {host, channel, target, lun};
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = i < 3 ? text.find(':', start) : text.size();
        if (end == std::string::npos || end == start || end - start > 9) {
            return Fail(at, "bad hctl \"" + text + "\" (expected H:C:T:L)");
        }
        int value = 0;
        for (size_t k = start; k < end; ++k) {
            if (text[k] < '0' || text[k] > '9') {
                return Fail(at, "bad hctl \"" + text + "\" (expected H:C:T:L)");
            }
            value = value * 10 + (text[k] - '0');
        }
        *parts[i] = value;
        start = end + 1;
    }
    return true;
}

bool Loader::ReadFaults(const json& obj, const std::string& parent, const char* key, Faults* f) {
    const json* v = Field(obj, key);
    if (v == nullptr) {
        return true;
    }
    const std::string where = Sub(parent, key);
    if (!Keys(*v, where,
              {"unit_attention_turs",
               "host_status",
               "host_status_count",
               "ioctl_errno",
               "dead",
               "hung",
               "paths_lost",
               "missing_pages",
               "page_length",
               "qualifier",
               "fail_opcodes",
               "patches",
               "sense_format",
               "sense_length",
               "unreadable",
               "vanished",
               "offline",
               "shield",
               "missing",
               "sysfs_not_dir",
               "sysfs_size"})) {
        return false;
    }
    f->sysfsSizeGiven = Field(*v, "sysfs_size") != nullptr;
    if (!OptBool(*v, where, "missing", &f->missing) ||
        !OptBool(*v, where, "sysfs_not_dir", &f->sysfsNotDir) ||
        !OptString(*v, where, "sysfs_size", &f->sysfsSize, 4096)) {
        return false;
    }
    const uint64_t kIntMax = INT_MAX;
    if (!OptNumber(*v, where, "unit_attention_turs", &f->unitAttentionTurs, kIntMax) ||
        !OptNumber(*v, where, "host_status", &f->hostStatus, 0xFFFF) ||
        !OptNumber(*v, where, "host_status_count", &f->hostStatusCount, kIntMax) ||
        !OptNumber(*v, where, "ioctl_errno", &f->ioctlErrno, 4095) ||
        !OptBool(*v, where, "dead", &f->dead) || !OptBool(*v, where, "hung", &f->hung) ||
        !OptBool(*v, where, "paths_lost", &f->pathsLost) ||
        !OptBool(*v, where, "unreadable", &f->unreadable) ||
        !OptBool(*v, where, "vanished", &f->vanished) ||
        !OptBool(*v, where, "offline", &f->offline) || !OptBool(*v, where, "shield", &f->shield) ||
        !OptNumber(*v, where, "sense_length", &f->senseLength, 32)) {
        return false;
    }
    // A host status without a count is a transport that never recovers.
    if (f->hostStatus != 0 && Field(*v, "host_status_count") == nullptr) {
        f->hostStatusCount = INT_MAX;
    }

    std::string senseFormat = "fixed";
    if (!OptString(*v, where, "sense_format", &senseFormat)) {
        return false;
    }
    if (senseFormat != "fixed" && senseFormat != "descriptor") {
        return Fail(Sub(where, "sense_format"), "expected \"fixed\" or \"descriptor\"");
    }
    f->senseFormat = senseFormat == "fixed" ? SenseFormat::Fixed : SenseFormat::Descriptor;

    const json* list = nullptr;
    if (!List(*v, where, "missing_pages", &list)) {
        return false;
    }
    for (size_t i = 0; list != nullptr && i < list->size(); ++i) {
        int page = 0;
        if (!PageKey((*list)[i], Item(Sub(where, "missing_pages"), i), kVpdOnly, &page)) {
            return false;
        }
        f->missingPages.push_back(page);
    }
    if (!List(*v, where, "fail_opcodes", &list)) {
        return false;
    }
    for (size_t i = 0; list != nullptr && i < list->size(); ++i) {
        uint64_t opcode = 0;
        if (!Number((*list)[i], Item(Sub(where, "fail_opcodes"), i), 0xFF, &opcode)) {
            return false;
        }
        f->failOpcodes.push_back(static_cast<int>(opcode));
    }

    if (const json* lengths = Field(*v, "page_length")) {
        const std::string at = Sub(where, "page_length");
        if (!lengths->is_object()) {
            return Fail(at, "expected an object of page: length");
        }
        for (auto it = lengths->begin(); it != lengths->end(); ++it) {
            int page = 0;
            uint64_t length = 0;
            const std::string entry = Sub(at, it.key());
            // The standard data carries its length in one byte (byte 4).
            if (!PageKey(json(it.key()), entry, kAllowStandard, &page) ||
                !Number(it.value(), entry, page == kPageStandard ? 0xFF : 0xFFFF, &length)) {
                return false;
            }
            f->pageLength[page] = static_cast<int>(length);
        }
    }
    if (const json* qualifiers = Field(*v, "qualifier")) {
        const std::string at = Sub(where, "qualifier");
        if (!qualifiers->is_object()) {
            return Fail(at, "expected an object of page: qualifier");
        }
        for (auto it = qualifiers->begin(); it != qualifiers->end(); ++it) {
            int page = 0;
            uint64_t qualifier = 0;
            const std::string entry = Sub(at, it.key());
            if (!PageKey(json(it.key()), entry, kAllowStandard, &page) ||
                !Number(it.value(), entry, 7, &qualifier)) {
                return false;
            }
            f->qualifier[page] = static_cast<int>(qualifier);
        }
    }

    if (!List(*v, where, "patches", &list)) {
        return false;
    }
    for (size_t i = 0; list != nullptr && i < list->size(); ++i) {
        const json& item = (*list)[i];
        const std::string at = Item(Sub(where, "patches"), i);
        PagePatch patch;
        std::string hex;
        if (!Keys(item, at, {"page", "offset", "hex"})) {
            return false;
        }
        const json* page = Field(item, "page");
        if (page == nullptr) {
            return Fail(at, "missing \"page\"");
        }
        if (!PageKey(*page, Sub(at, "page"), kAllowStandard | kAllowCapacity, &patch.page) ||
            !OptNumber(item, at, "offset", &patch.offset, kMaxPatchEnd) ||
            !ReqString(item, at, "hex", &hex)) {
            return false;
        }
        if (!ParseHexBytes(hex, &patch.bytes)) {
            return Fail(Sub(at, "hex"), "expected pairs of hex digits, got \"" + hex + "\"");
        }
        if (static_cast<size_t>(patch.offset) + patch.bytes.size() > kMaxPatchEnd) {
            return Fail(at, "patch ends beyond the longest possible page");
        }
        f->patches.push_back(std::move(patch));
    }
    return true;
}

// At most 10 million filler lines and a 64 MiB line: a listing of hostile
// size, still one a test can hold.
bool Loader::ReadPadding(const json& v, const std::string& where, ListingPadding* padding) {
    return OptNumber(v, where, "filler_lines", &padding->fillerLines, 10000000) &&
           OptNumber(v, where, "long_line_bytes", &padding->longLineBytes, 64 * 1024 * 1024);
}

bool Loader::ReadMultipath(const json& root, MultipathConfig* mp) {
    const json* v = Field(root, "multipath");
    if (v == nullptr) {
        return true;
    }
    const std::string where = "multipath";
    if (!Keys(*v, where,
              {"installed", "list_fails", "hang", "format", "canned_listing", "filler_lines",
               "long_line_bytes", "warnings"}) ||
        !StringList(*v, where, "warnings", &mp->warnings) ||
        !ReadPadding(*v, where, &mp->padding) || !OptBool(*v, where, "installed", &mp->installed) ||
        !OptBool(*v, where, "list_fails", &mp->listFails) ||
        !OptBool(*v, where, "hang", &mp->hang) ||
        !OptString(*v, where, "canned_listing", &mp->cannedListing)) {
        return false;
    }
    std::string format = "current";
    if (!OptString(*v, where, "format", &format)) {
        return false;
    }
    if (format != "current" && format != "bracketed") {
        return Fail(Sub(where, "format"), "expected \"current\" or \"bracketed\"");
    }
    mp->format = format == "current" ? ListingFormat::Current : ListingFormat::Bracketed;
    return true;
}

// A canned listing file named relative to the topology file, made absolute.
bool CannedFile(const std::string& topologyFile, std::string* name) {
    if (name->empty()) {
        return true;
    }
    std::filesystem::path path(*name);
    if (path.is_relative()) {
        path = std::filesystem::path(topologyFile).parent_path() / path;
    }
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    *name = ec ? path.string() : absolute.string();
    std::string text;
    return ReadWholeFile(*name, &text);
}

bool Loader::ReadEsxi(const json& root, const std::string& file, EsxiConfig* esxi) {
    const json* v = Field(root, "esxi");
    if (v == nullptr) {
        return true;
    }
    if (!v->is_object()) {
        return Fail("esxi", "expected an object");
    }
    if (!Keys(*v, "esxi",
              {"canned_paths", "canned_devices", "vibs", "missing", "failing", "hang",
               "filler_lines", "long_line_bytes"}) ||
        !OptString(*v, "esxi", "canned_paths", &esxi->cannedPaths) ||
        !OptString(*v, "esxi", "canned_devices", &esxi->cannedDevices) ||
        !StringList(*v, "esxi", "vibs", &esxi->vibs) ||
        !StringList(*v, "esxi", "missing", &esxi->missing) ||
        !StringList(*v, "esxi", "failing", &esxi->failing) ||
        !StringList(*v, "esxi", "hang", &esxi->hang) || !ReadPadding(*v, "esxi", &esxi->padding)) {
        return false;
    }
    for (const std::vector<std::string>* names : {&esxi->missing, &esxi->failing, &esxi->hang}) {
        for (const std::string& name : *names) {
            if (name != "esxcfg-mpath" && name != "esxcfg-scsidevs" && name != "esxcli") {
                return Fail("esxi",
                            "\"" + name + "\" is not esxcfg-mpath, esxcfg-scsidevs or esxcli");
            }
        }
    }
    if (!CannedFile(file, &esxi->cannedPaths)) {
        return Fail("esxi.canned_paths", "cannot read " + esxi->cannedPaths);
    }
    if (!CannedFile(file, &esxi->cannedDevices)) {
        return Fail("esxi.canned_devices", "cannot read " + esxi->cannedDevices);
    }
    return true;
}

// The attributes a host's transport class entries may lack, by their
// topology names.
constexpr std::pair<const char*, unsigned> kTransportAttrNames[] = {
    {"fc_host.port_name", kFcHostPortName},
    {"fc_host.port_state", kFcHostPortState},
    {"rport.port_name", kRportPortName},
    {"rport.port_state", kRportPortState},
    {"rport.scsi_target_id", kRportScsiTargetId},
    {"iscsi_host.initiatorname", kIscsiHostInitiatorName},
    {"session.targetname", kSessionTargetName},
    {"session.state", kSessionState},
    {"session.tpgt", kSessionTpgt},
    {"session.target_link", kSessionTargetLink},
    {"session.initiatorname", kSessionInitiatorName},
};

// The longest state text a sysfs attribute of the transport classes shows
// ("Not Present", "LOGGED_IN", ...).
constexpr size_t kMaxStateText = 15;

// A one-line sysfs value: not empty, no control characters (its newline is
// the one the show function adds).
bool Loader::ShownText(const json& obj, const std::string& where, const char* key, size_t maxLen,
                       std::string* out) {
    if (Field(obj, key) == nullptr) {
        return true;
    }
    std::string text;
    if (!OptString(obj, where, key, &text, maxLen)) {
        return false;
    }
    if (text.empty()) {
        return Fail(Sub(where, key), "empty");
    }
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return Fail(Sub(where, key), "\"" + text + "\" has a control character");
        }
    }
    *out = std::move(text);
    return true;
}

// A world wide name: 1 to 16 hex digits, "0x" before them allowed; kept as
// the lower-case digits.
bool Loader::WwnDigits(const json& obj, const std::string& where, const char* key,
                       std::string* out) {
    std::string text;
    if (!ShownText(obj, where, key, 18, &text)) {
        return false;
    }
    if (text.empty()) {
        return true;  // absent: derived from the port
    }
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
    }
    if (digits.empty() || digits.size() > 16 || !IsHexText(digits)) {
        return Fail(Sub(where, key), "\"" + text + "\" is not 1 to 16 hex digits");
    }
    for (char& c : digits) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    *out = std::move(digits);
    return true;
}

// An object of target port id: state text.
bool Loader::StateMap(const json& obj, const std::string& where, const char* key,
                      std::map<std::string, std::string>* out) {
    const json* v = Field(obj, key);
    if (v == nullptr) {
        return true;
    }
    const std::string at = Sub(where, key);
    if (!v->is_object()) {
        return Fail(at, "expected an object of target port: state");
    }
    for (auto it = v->begin(); it != v->end(); ++it) {
        std::string state;
        if (!ShownText(*v, at, it.key().c_str(), kMaxStateText, &state)) {
            return false;
        }
        if (state.empty()) {
            return Fail(Sub(at, it.key()), "expected a state text");
        }
        (*out)[it.key()] = std::move(state);
    }
    return true;
}

bool Loader::ReadHostView(const json& v, const std::string& where, HostTransportView* view) {
    std::vector<std::string> missing;
    if (!ShownText(v, where, "port_state", kMaxStateText, &view->portState) ||
        !WwnDigits(v, where, "node_name", &view->nodeName) ||
        !ShownText(v, where, "speed", 31, &view->speed) ||
        !WwnDigits(v, where, "fabric_name", &view->fabricName) ||
        !ShownText(v, where, "ip_address", 63, &view->ipAddress) ||
        !ShownText(v, where, "host_initiatorname", 223, &view->hostInitiatorName) ||
        !StateMap(v, where, "rport_states", &view->rportStates) ||
        !StateMap(v, where, "session_states", &view->sessionStates) ||
        !StringList(v, where, "transport_missing", &missing)) {
        return false;
    }
    for (size_t i = 0; i < missing.size(); ++i) {
        unsigned bit = 0;
        for (const auto& [name, attr] : kTransportAttrNames) {
            if (missing[i] == name) {
                bit = attr;
            }
        }
        if (bit == 0) {
            return Fail(Item(Sub(where, "transport_missing"), i),
                        "\"" + missing[i] + "\" is not a transport attribute (fc_host.port_name, " +
                            "fc_host.port_state, rport.port_name, rport.port_state, " +
                            "rport.scsi_target_id, iscsi_host.initiatorname, session.targetname, " +
                            "session.state, session.tpgt, session.target_link, " +
                            "session.initiatorname)");
        }
        view->missing |= bit;
    }
    return true;
}

// The states of rports and sessions name target ports of the host's arrays.
bool Loader::CheckTransportPorts(const Topology& t) {
    auto known = [&](const std::string& id) {
        for (const Array& array : t.arrays) {
            if (FindTargetPort(array, id) != nullptr) {
                return true;
            }
        }
        return false;
    };
    for (size_t i = 0; i < t.hosts.size(); ++i) {
        const HostTransportView& view = t.hosts[i].view;
        for (const auto& [key, states] : {std::make_pair("rport_states", &view.rportStates),
                                          std::make_pair("session_states", &view.sessionStates)}) {
            for (const auto& entry : *states) {
                if (!known(entry.first)) {
                    return Fail(Sub(Sub(Item("scsi_hosts", i), key), entry.first),
                                "no array has a target port \"" + entry.first + "\"");
                }
            }
        }
    }
    return true;
}

bool Loader::ReadHosts(const json& root, Topology* t) {
    const json* list = nullptr;
    if (!List(root, "", "scsi_hosts", &list)) {
        return false;
    }
    for (size_t i = 0; list != nullptr && i < list->size(); ++i) {
        const json& v = (*list)[i];
        const std::string where = Item("scsi_hosts", i);
        ScsiHost host;
        if (!Keys(v, where,
                  {"number", "driver", "initiator_port", "transport", "port_state", "node_name",
                   "speed", "fabric_name", "ip_address", "host_initiatorname", "rport_states",
                   "session_states", "transport_missing"})) {
            return false;
        }
        if (Field(v, "number") == nullptr) {
            return Fail(where, "missing \"number\"");
        }
        // Page 0xC0 holds the initiator port identifier in 241 bytes.
        if (!OptNumber(v, where, "number", &host.number, 999999) ||
            !OptString(v, where, "driver", &host.driver) ||
            !OptString(v, where, "initiator_port", &host.initiatorPort, 241) ||
            !OptString(v, where, "transport", &host.transport) ||
            !ReadHostView(v, where, &host.view)) {
            return false;
        }
        if (!t->hostIndex.emplace(host.number, t->hosts.size()).second) {
            return Fail(Sub(where, "number"), "duplicate SCSI host " + std::to_string(host.number));
        }
        t->hosts.push_back(std::move(host));
    }
    return true;
}

bool Loader::ReadArray(const json& v, const std::string& where, Array* a) {
    if (!Keys(v, where,
              {"id", "vendor", "product", "revision", "name", "serial", "interface_version",
               "version_bytes", "port_type", "controllers", "target_ports"}) ||
        !ReqString(v, where, "id", &a->id) || !OptString(v, where, "vendor", &a->vendor, 8) ||
        !OptString(v, where, "product", &a->product, 16) ||
        !OptString(v, where, "revision", &a->revision, 4) ||
        !OptString(v, where, "name", &a->name, 40) ||
        !OptString(v, where, "serial", &a->serial, 20) ||
        !OptNumber(v, where, "interface_version", &a->interfaceVersion, 0xFFFF) ||
        !OptNumber(v, where, "port_type", &a->portTypeCode, 0xFF)) {
        return false;
    }
    if (const json* bytes = Field(v, "version_bytes")) {
        const std::string at = Sub(where, "version_bytes");
        if (!bytes->is_array() || bytes->size() != 4) {
            return Fail(at, "expected four numbers");
        }
        for (size_t i = 0; i < 4; ++i) {
            uint64_t b = 0;
            if (!Number((*bytes)[i], Item(at, i), 0xFF, &b)) {
                return false;
            }
            a->versionBytes[i] = static_cast<uint8_t>(b);
        }
        a->versionBytesGiven = true;
    }

    a->controllers = {"A", "B"};
    if (!StringList(v, where, "controllers", &a->controllers)) {
        return false;
    }
    if (a->controllers.empty()) {
        return Fail(Sub(where, "controllers"), "an array needs at least one controller");
    }
    std::unordered_set<std::string> controllers;
    for (size_t i = 0; i < a->controllers.size(); ++i) {
        const std::string& c = a->controllers[i];
        // Pages 0xC9 carry controller names in 8-byte fields.
        if (c.size() > 8) {
            return Fail(Item(Sub(where, "controllers"), i),
                        "\"" + c + "\" is longer than 8 characters");
        }
        if (!controllers.insert(c).second) {
            return Fail(Item(Sub(where, "controllers"), i), "duplicate controller \"" + c + "\"");
        }
    }

    const json* ports = nullptr;
    if (!List(v, where, "target_ports", &ports)) {
        return false;
    }
    for (size_t i = 0; ports != nullptr && i < ports->size(); ++i) {
        const json& pv = (*ports)[i];
        const std::string at = Item(Sub(where, "target_ports"), i);
        TargetPort port;
        port.controller = a->controllers.front();
        if (!Keys(pv, at, {"id", "identifier", "controller"}) ||
            !ReqString(pv, at, "id", &port.id) ||
            !OptString(pv, at, "identifier", &port.identifier, 241) ||
            !OptString(pv, at, "controller", &port.controller)) {
            return false;
        }
        if (controllers.count(port.controller) == 0) {
            return Fail(Sub(at, "controller"),
                        "\"" + port.controller + "\" is not a controller of array " + a->id);
        }
        if (!a->portIndex.emplace(port.id, a->targetPorts.size()).second) {
            return Fail(Sub(at, "id"), "duplicate target port \"" + port.id + "\"");
        }
        a->targetPorts.push_back(std::move(port));
    }
    return true;
}

bool Loader::ReadArrays(const json& root, Topology* t) {
    const json* list = nullptr;
    if (!List(root, "", "arrays", &list)) {
        return false;
    }
    for (size_t i = 0; list != nullptr && i < list->size(); ++i) {
        const std::string where = Item("arrays", i);
        Array array;
        if (!ReadArray((*list)[i], where, &array)) {
            return false;
        }
        if (!t->arrayIndex.emplace(array.id, t->arrays.size()).second) {
            return Fail(Sub(where, "id"), "duplicate array \"" + array.id + "\"");
        }
        t->arrays.push_back(std::move(array));
    }
    return true;
}

bool Loader::ReadPath(const json& v, const std::string& where, const Topology& t,
                      const Array& array, Path* p) {
    // ESXi paths have no kernel name.
    const bool esxi = t.platform == Platform::Esxi;
    if (!Keys(v, where,
              {"sd", "hctl", "target_port", "dm_state", "checker_state", "device_state",
               "esx_state", "faults"}) ||
        (esxi ? !OptString(v, where, "sd", &p->sd) : !ReqString(v, where, "sd", &p->sd)) ||
        !Hctl(v, where, &p->host, &p->channel, &p->target, &p->lun) ||
        !ReqString(v, where, "target_port", &p->targetPort) ||
        !OptString(v, where, "dm_state", &p->dmState) ||
        !OptString(v, where, "checker_state", &p->checkerState) ||
        !OptString(v, where, "device_state", &p->deviceState) ||
        !OptString(v, where, "esx_state", &p->esxState, 255) ||
        !ReadFaults(v, where, "faults", &p->faults)) {
        return false;
    }
    if (!(esxi && p->sd.empty()) && !IsSdName(p->sd)) {
        return Fail(Sub(where, "sd"), "\"" + p->sd + "\" is not a SCSI disk name (sda .. sdzzzz)");
    }
    if (FindTargetPort(array, p->targetPort) == nullptr) {
        return Fail(Sub(where, "target_port"),
                    "unknown target port \"" + p->targetPort + "\" of array " + array.id);
    }
    if (FindHost(t, p->host) == nullptr) {
        return Fail(Sub(where, "hctl"),
                    "SCSI host " + std::to_string(p->host) + " is not in scsi_hosts");
    }
    for (const std::string* state : {&p->dmState, &p->checkerState, &p->deviceState}) {
        if (state->empty() || HasBlank(*state)) {
            return Fail(where, "a path state must be one word, got \"" + *state + "\"");
        }
    }
    return true;
}

bool Loader::ReadLun(const json& v, const std::string& where, const Topology& t, Lun* lun) {
    if (!Keys(v, where,
              {"wwid",
               "array",
               "name",
               "size_bytes",
               "block_size",
               "host_lun_id",
               "array_lun_id",
               "raw_lun_id",
               "port_id",
               "owner",
               "worker",
               "dual_array",
               "dm",
               "alias",
               "listing_size",
               "dm_fails_when_no_active_path",
               "queue_if_no_path",
               "dm_faults",
               "t10_designator_first",
               "paths"}) ||
        !ReqString(v, where, "wwid", &lun->wwid)) {
        return false;
    }
    if (lun->wwid.size() != 33 || lun->wwid[0] != '3' || !IsHexText(lun->wwid.substr(1))) {
        return Fail(Sub(where, "wwid"),
                    "\"" + lun->wwid + "\" is not '3' and 32 hex digits (33 characters)");
    }
    if (!ReqString(v, where, "array", &lun->array)) {
        return false;
    }
    const Array* array = FindArray(t, lun->array);
    if (array == nullptr) {
        return Fail(Sub(where, "array"), "unknown array \"" + lun->array + "\"");
    }
    lun->owner = lun->worker = array->controllers.front();
    if (!OptString(v, where, "name", &lun->name, 40) ||
        !OptNumber(v, where, "size_bytes", &lun->sizeBytes) ||
        !OptNumber(v, where, "block_size", &lun->blockSize) ||
        !OptNumber(v, where, "host_lun_id", &lun->hostLunId) ||
        !OptNumber(v, where, "array_lun_id", &lun->arrayLunId) ||
        !OptString(v, where, "raw_lun_id", &lun->rawLunId) ||
        !OptString(v, where, "port_id", &lun->portId, 127) ||
        !OptString(v, where, "owner", &lun->owner) ||
        !OptString(v, where, "worker", &lun->worker) ||
        !OptBool(v, where, "dual_array", &lun->dualArray) || !OptString(v, where, "dm", &lun->dm) ||
        !OptString(v, where, "alias", &lun->alias) ||
        !OptString(v, where, "listing_size", &lun->listingSize) ||
        !OptBool(v, where, "dm_fails_when_no_active_path", &lun->dmFailsWhenNoActivePath) ||
        !OptBool(v, where, "queue_if_no_path", &lun->queueIfNoPath) ||
        !OptBool(v, where, "t10_designator_first", &lun->t10DesignatorFirst) ||
        !ReadFaults(v, where, "dm_faults", &lun->dmFaults)) {
        return false;
    }
    if (lun->blockSize == 0) {
        return Fail(Sub(where, "block_size"), "must not be 0");
    }
    if (!lun->rawLunId.empty() && (lun->rawLunId.size() != 32 || !IsHexText(lun->rawLunId))) {
        return Fail(Sub(where, "raw_lun_id"), "\"" + lun->rawLunId + "\" is not 32 hex digits");
    }
    for (const auto& [key, name] :
         {std::make_pair("owner", &lun->owner), std::make_pair("worker", &lun->worker)}) {
        bool known = false;
        for (const std::string& c : array->controllers) {
            known = known || c == *name;
        }
        if (!known) {
            return Fail(Sub(where, key),
                        "\"" + *name + "\" is not a controller of array " + array->id);
        }
    }
    if (!lun->dm.empty() && !IsDmName(lun->dm)) {
        return Fail(Sub(where, "dm"), "\"" + lun->dm + "\" is not a dm-N name");
    }
    if (HasBlank(lun->alias)) {
        return Fail(Sub(where, "alias"), "\"" + lun->alias + "\" has blanks");
    }

    const json* paths = nullptr;
    if (!List(v, where, "paths", &paths)) {
        return false;
    }
    for (size_t i = 0; paths != nullptr && i < paths->size(); ++i) {
        Path path;
        if (!ReadPath((*paths)[i], Item(Sub(where, "paths"), i), t, *array, &path)) {
            return false;
        }
        lun->paths.push_back(std::move(path));
    }
    return true;
}

bool Loader::ReadLuns(const json& root, Topology* t) {
    const json* list = nullptr;
    if (!List(root, "", "luns", &list)) {
        return false;
    }
    std::unordered_set<std::string> wwids, aliases;
    for (size_t i = 0; list != nullptr && i < list->size(); ++i) {
        const std::string where = Item("luns", i);
        Lun lun;
        if (!ReadLun((*list)[i], where, *t, &lun)) {
            return false;
        }
        if (!wwids.insert(lun.wwid).second) {
            return Fail(Sub(where, "wwid"), "duplicate WWID " + lun.wwid);
        }
        if (!lun.alias.empty() && !aliases.insert(lun.alias).second) {
            return Fail(Sub(where, "alias"), "duplicate alias \"" + lun.alias + "\"");
        }
        t->luns.push_back(std::move(lun));
    }
    return true;
}

bool Loader::ReadOthers(const json& root, Topology* t) {
    const json* list = nullptr;
    if (!List(root, "", "others", &list)) {
        return false;
    }
    for (size_t i = 0; list != nullptr && i < list->size(); ++i) {
        const json& v = (*list)[i];
        const std::string where = Item("others", i);
        OtherDevice d;
        if (!Keys(v, where,
                  {"name", "scsi", "vendor", "product", "revision", "hctl", "size_bytes",
                   "faults"}) ||
            !ReqString(v, where, "name", &d.name) || !OptBool(v, where, "scsi", &d.scsi) ||
            !OptString(v, where, "vendor", &d.vendor, 8) ||
            !OptString(v, where, "product", &d.product, 16) ||
            !OptString(v, where, "revision", &d.revision, 4) ||
            !OptNumber(v, where, "size_bytes", &d.sizeBytes) ||
            !ReadFaults(v, where, "faults", &d.faults)) {
            return false;
        }
        if (Field(v, "hctl") != nullptr &&
            !Hctl(v, where, &d.host, &d.channel, &d.target, &d.lun)) {
            return false;
        }
        // The runner binds these from the real /dev.
        if (d.name == "." || d.name == ".." || d.name.find('/') != std::string::npos ||
            HasBlank(d.name) || d.name == "null" || d.name == "zero" || d.name == "tty") {
            return Fail(Sub(where, "name"), "\"" + d.name + "\" cannot be a simulated node");
        }
        t->others.push_back(std::move(d));
    }
    return true;
}

// A LUN without "dm" gets the lowest dm-N no other LUN names.
bool Loader::AssignDmNames(Topology* t) {
    std::unordered_set<std::string> taken;
    for (const Lun& lun : t->luns) {
        if (!lun.dm.empty()) {
            taken.insert(lun.dm);
        }
    }
    size_t next = 0;
    for (Lun& lun : t->luns) {
        if (!lun.dm.empty()) {
            continue;
        }
        while (taken.count("dm-" + std::to_string(next)) != 0) {
            ++next;
        }
        lun.dm = "dm-" + std::to_string(next++);
    }
    return true;
}

bool Loader::CheckHctls(const Topology& t) {
    std::unordered_map<std::string, std::string> seen;
    auto add = [&](int h, int c, int tg, int l, const std::string& where) {
        std::string key = std::to_string(h) + ":" + std::to_string(c) + ":" + std::to_string(tg) +
                          ":" + std::to_string(l);
        auto [it, inserted] = seen.emplace(key, where);
        if (!inserted) {
            return Fail(Sub(where, "hctl"), "duplicate hctl " + key + " (also " + it->second + ")");
        }
        return true;
    };
    for (size_t i = 0; i < t.luns.size(); ++i) {
        for (size_t j = 0; j < t.luns[i].paths.size(); ++j) {
            const Path& p = t.luns[i].paths[j];
            if (!add(p.host, p.channel, p.target, p.lun, Item(Sub(Item("luns", i), "paths"), j))) {
                return false;
            }
        }
    }
    for (size_t i = 0; i < t.others.size(); ++i) {
        const OtherDevice& d = t.others[i];
        if (d.scsi && !add(d.host, d.channel, d.target, d.lun, Item("others", i))) {
            return false;
        }
    }
    return true;
}

std::string DescribeRef(const DeviceRef& ref) {
    switch (ref.kind) {
        case DeviceRef::Kind::Path:
            return Item(Sub(Item("luns", ref.lun), "paths"), ref.path);
        case DeviceRef::Kind::Dm:
            return Sub(Item("luns", ref.lun), "dm");
        case DeviceRef::Kind::Other:
            break;
    }
    return Item("others", ref.other);
}

bool Loader::BuildIndex(Topology* t) {
    size_t nodes = t->luns.size() + t->others.size();
    for (const Lun& lun : t->luns) {
        nodes += lun.paths.size();
    }
    t->index.reserve(nodes);
    auto add = [&](const std::string& name, const DeviceRef& ref) {
        auto [it, inserted] = t->index.emplace(name, ref);
        if (!inserted) {
            return Fail(DescribeRef(ref), "duplicate node name \"" + name + "\" (also " +
                                              DescribeRef(it->second) + ")");
        }
        return true;
    };
    // ESXi: a LUN is one node under /dev/disks, answering through its paths
    // as a dm node does; the paths have no nodes.
    const bool esxi = t->platform == Platform::Esxi;
    for (size_t i = 0; i < t->luns.size(); ++i) {
        DeviceRef dm;
        dm.kind = DeviceRef::Kind::Dm;
        dm.lun = i;
        if (!add(esxi ? EsxiNodeName(EsxiDeviceName(t->luns[i])) : t->luns[i].dm, dm)) {
            return false;
        }
        for (size_t j = 0; !esxi && j < t->luns[i].paths.size(); ++j) {
            DeviceRef path;
            path.kind = DeviceRef::Kind::Path;
            path.lun = i;
            path.path = j;
            if (!add(t->luns[i].paths[j].sd, path)) {
                return false;
            }
        }
    }
    for (size_t k = 0; k < t->others.size(); ++k) {
        DeviceRef other;
        other.kind = DeviceRef::Kind::Other;
        other.other = k;
        if (!add(esxi ? EsxiNodeName(t->others[k].name) : t->others[k].name, other)) {
            return false;
        }
    }
    return true;
}

// The runner makes /dev nodes for the dm and sd names a canned listing shows,
// including those named only in its debug lines ("sdz: size = ...").
bool Loader::ReadCannedListing(const std::string& file, Topology* t) {
    std::string& canned = t->multipath.cannedListing;
    if (canned.empty()) {
        return true;
    }
    std::filesystem::path path(canned);
    if (path.is_relative()) {
        path = std::filesystem::path(file).parent_path() / path;
    }
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (!ec) {
        path = absolute.lexically_normal();
    }
    std::string text;
    if (!ReadWholeFile(path.string(), &text)) {
        return Fail("multipath.canned_listing", "cannot read " + path.string());
    }
    canned = path.string();

    std::unordered_set<std::string> seen;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        if (!word.empty() && word.back() == ':') {
            word.pop_back();
        }
        if ((IsSdName(word) || IsDmName(word)) && t->index.count(word) == 0 &&
            seen.insert(word).second) {
            t->cannedNodes.push_back(word);
        }
    }
    return true;
}

bool Loader::ReadTiming(const json& root, Timing* timing) {
    const json* v = Field(root, "timing");
    if (v == nullptr) {
        return true;
    }
    if (!Keys(*v, "timing", {"service_us", "jitter_us", "seed", "listing_ms", "scale"})) {
        return false;
    }
    timing->given = true;
    // A day of host time at most: a longer one is a typing error.
    const uint64_t kDayUs = 86400ull * 1000000;
    if (!OptNumber(*v, "timing", "service_us", &timing->serviceUs, kDayUs) ||
        !OptNumber(*v, "timing", "jitter_us", &timing->jitterUs, kDayUs) ||
        !OptNumber(*v, "timing", "seed", &timing->seed) ||
        !OptNumber(*v, "timing", "listing_ms", &timing->listingMs, kDayUs / 1000)) {
        return false;
    }
    const json* scale = Field(*v, "scale");
    if (scale != nullptr) {
        if (!scale->is_number() || !(scale->get<double>() > 0) || scale->get<double>() > 1000) {
            return Fail("timing.scale", "expected a number above 0, at most 1000");
        }
        timing->scale = scale->get<double>();
    }
    return true;
}

bool Loader::Load(const json& root, const std::string& file, Topology* t) {
    t->file = file;
    if (!Keys(root, "",
              {"platform", "multipath", "esxi", "solaris", "product_cli", "cannot_start",
               "tools_missing", "sys_block", "transport_classes", "timing", "scsi_hosts", "arrays",
               "luns", "others"})) {
        return false;
    }
    std::string platform = "linux";
    if (!OptString(root, "", "platform", &platform)) {
        return false;
    }
    if (platform == "linux") {
        t->platform = Platform::Linux;
    } else if (platform == "esxi") {
        t->platform = Platform::Esxi;
    } else if (platform == "solaris") {
        t->platform = Platform::Solaris;
    } else {
        return Fail("platform", "expected \"linux\", \"esxi\" or \"solaris\"");
    }
    if (!OptBool(root, "", "sys_block", &t->sysBlock) ||
        !OptBool(root, "", "transport_classes", &t->transportClasses) ||
        !ReadMultipath(root, &t->multipath) || !ReadTiming(root, &t->timing) ||
        !StringList(root, "", "product_cli", &t->productCli) ||
        !StringList(root, "", "cannot_start", &t->cannotStart) ||
        !StringList(root, "", "tools_missing", &t->toolsMissing)) {
        return false;
    }
    for (size_t i = 0; i < t->toolsMissing.size(); ++i) {
        const std::string& tool = t->toolsMissing[i];
        if (std::find(std::begin(kShellTools), std::end(kShellTools), tool) ==
            std::end(kShellTools)) {
            return Fail(Item("tools_missing", i), "\"" + tool + "\" is not one of the shell tools");
        }
    }
    // ESXi and Solaris hosts have no sysfs.
    if (t->transportClasses && t->platform != Platform::Linux) {
        return Fail("transport_classes", "only a \"linux\" host has sysfs transport classes");
    }
    for (size_t i = 0; i < t->productCli.size(); ++i) {
        const std::string& cli = t->productCli[i];
        if (cli != "tsadm" && cli != "tsadmin" && cli != "tsTools") {
            return Fail(Item("product_cli", i),
                        "\"" + cli + "\" is not one of tsadm, tsadmin, tsTools");
        }
    }
    return ReadEsxi(root, file, &t->esxi) && ReadHosts(root, t) && ReadArrays(root, t) &&
           CheckTransportPorts(*t) && ReadLuns(root, t) && ReadOthers(root, t) &&
           AssignDmNames(t) && CheckHctls(*t) && BuildIndex(t) && ReadCannedListing(file, t) &&
           ReadSolaris(root, t);
}

// A Solaris host's device tree (solaris_host.cpp); its links name the devices
// indexed above.
bool Loader::ReadSolaris(const json& root, Topology* t) {
    const json* v = Field(root, "solaris");
    if (t->platform != Platform::Solaris) {
        return v == nullptr || Fail("solaris", "only a \"solaris\" platform has a device tree");
    }
    std::string error;
    return LoadSolarisTree(v, t, &error) || Fail("", error);
}

}  // namespace

bool LoadTopology(const std::string& file, Topology* out, std::string* error) {
    json root;
    std::string reason;
    if (!ReadHostDocument(file, &root, &reason)) {
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    }
    Topology topo;
    if (!root.is_object()) {
        reason = "expected a JSON object at the top";
    } else if (IsCapture(root)) {
        topo.file = file;
        (void)LoadCapture(root, &topo, &reason);
    } else {
        Loader loader;
        if (!loader.Load(root, file, &topo)) {
            reason = loader.error();
        }
    }
    if (!reason.empty()) {
        if (error != nullptr) {
            *error = file + ": " + reason;
        }
        return false;
    }
    *out = std::move(topo);
    return true;
}

const DeviceRef* FindDevice(const Topology& topo, const std::string& nodeName) {
    auto it = topo.index.find(nodeName);
    return it == topo.index.end() ? nullptr : &it->second;
}

const Array* FindArray(const Topology& topo, const std::string& id) {
    auto it = topo.arrayIndex.find(id);
    return it == topo.arrayIndex.end() || it->second >= topo.arrays.size()
               ? nullptr
               : &topo.arrays[it->second];
}

const TargetPort* FindTargetPort(const Array& array, const std::string& id) {
    auto it = array.portIndex.find(id);
    return it == array.portIndex.end() || it->second >= array.targetPorts.size()
               ? nullptr
               : &array.targetPorts[it->second];
}

const ScsiHost* FindHost(const Topology& topo, int number) {
    auto it = topo.hostIndex.find(number);
    return it == topo.hostIndex.end() || it->second >= topo.hosts.size() ? nullptr
                                                                         : &topo.hosts[it->second];
}

std::string PaddingLines(const ListingPadding& padding) {
    std::string text;
    for (uint64_t i = 0; i < padding.fillerLines; ++i) {
        text += "filler line " + std::to_string(i) + "\n";
    }
    if (padding.longLineBytes > 0) {
        text.append(padding.longLineBytes, 'x');
        text += "\n";
    }
    return text;
}

std::string EsxiDeviceName(const Lun& lun) {
    return "naa." + lun.wwid.substr(1);
}

std::string EsxiNodeName(const std::string& deviceName) {
    return "disks/" + deviceName;
}

std::string EsxiTransport(const ScsiHost& host) {
    if (!host.transport.empty()) {
        return host.transport;
    }
    if (host.driver.compare(0, 5, "iscsi") == 0) {
        return "iscsi";
    }
    if (host.driver == "bnx2fc" || host.driver == "fcoe") {
        return "fcoe";
    }
    if (host.driver == "ahci") {
        return "sata";
    }
    return "fc";
}

std::string EsxiPathState(const Path& path) {
    if (!path.esxState.empty()) {
        return path.esxState;
    }
    return path.dmState == "failed" ? "dead" : "active";
}

TransportKind HostTransportKind(const ScsiHost& host) {
    const std::string transport = EsxiTransport(host);
    if (transport == "fc" || transport == "fcoe") {
        return TransportKind::Fc;
    }
    return transport == "iscsi" ? TransportKind::Iscsi : TransportKind::None;
}

const Faults& FaultsOf(const Topology& topo, const DeviceRef& ref) {
    switch (ref.kind) {
        case DeviceRef::Kind::Path:
            return topo.luns[ref.lun].paths[ref.path].faults;
        case DeviceRef::Kind::Dm:
            return topo.luns[ref.lun].dmFaults;
        case DeviceRef::Kind::Other:
            break;
    }
    return topo.others[ref.other].faults;
}

uint64_t NodeSectors(const Topology& topo, const DeviceRef& ref) {
    if (ref.kind == DeviceRef::Kind::Other) {
        return ref.other < topo.others.size() ? topo.others[ref.other].sizeBytes / 512 : 0;
    }
    return ref.lun < topo.luns.size() ? topo.luns[ref.lun].sizeBytes / 512 : 0;
}

std::vector<size_t> PathsInListingOrder(const Topology& topo, const Lun& lun,
                                        size_t* activeGroupSize) {
    const Array* array = FindArray(topo, lun.array);
    auto onWorker = [&](const Path& p) {
        const TargetPort* port = array != nullptr ? FindTargetPort(*array, p.targetPort) : nullptr;
        return port != nullptr && port->controller == lun.worker;
    };
    std::vector<size_t> order;
    order.reserve(lun.paths.size());
    for (size_t i = 0; i < lun.paths.size(); ++i) {
        if (onWorker(lun.paths[i])) {
            order.push_back(i);
        }
    }
    if (activeGroupSize != nullptr) {
        *activeGroupSize = order.size();
    }
    for (size_t i = 0; i < lun.paths.size(); ++i) {
        if (!onWorker(lun.paths[i])) {
            order.push_back(i);
        }
    }
    return order;
}

}  // namespace sansim
