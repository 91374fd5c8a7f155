// Base hosts and their overlays: a scenario's host is a bundled host and the
// one fault, transport class or array that differs, not a copy of it.
#include "overlay.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace sansim {
namespace {

using nlohmann::json;

// A chain of bases deeper than this is a loop in all likelihood.
constexpr int kMaxBaseDepth = 8;

// The members an element of a list is named by, in the order they are tried.
constexpr const char* kNameMembers[] = {"id",   "name", "sd",     "dm",    "alias",
                                        "wwid", "hctl", "number", "device"};

// Files a host names relative to its own folder.
constexpr const char* kFileMembers[][2] = {
    {"multipath", "canned_listing"}, {"esxi", "canned_paths"}, {"esxi", "canned_devices"}};

std::string Sub(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
}

bool Fail(std::string* error, const std::string& where, const std::string& what) {
    *error = where.empty() ? what : where + ": " + what;
    return false;
}

bool ReadText(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    *out = text.str();
    return !in.bad();
}

bool NamedBy(const json& element, const std::string& key) {
    if (!element.is_object()) {
        return false;
    }
    for (const char* member : kNameMembers) {
        auto it = element.find(member);
        if (it == element.end()) {
            continue;
        }
        if ((it->is_string() && it->get<std::string>() == key) ||
            (it->is_number_unsigned() && std::to_string(it->get<uint64_t>()) == key)) {
            return true;
        }
    }
    return false;
}

bool Apply(json* target, const json& patch, const std::string& where, std::string* error);

// An object laid over a list: elements changed or removed by name, then
// the new ones appended (so that a name never meets an element the same
// overlay appends).
bool ApplyToList(json* list, const json& patch, const std::string& where, std::string* error) {
    for (auto item = patch.begin(); item != patch.end(); ++item) {
        const std::string& key = item.key();
        if (key == "+") {
            continue;
        }
        size_t found = list->size();
        for (size_t i = 0; i < list->size(); ++i) {
            if (!NamedBy((*list)[i], key)) {
                continue;
            }
            if (found != list->size()) {
                return Fail(error, Sub(where, key), "names more than one element");
            }
            found = i;
        }
        if (found == list->size()) {
            return Fail(error, Sub(where, key), "names no element");
        }
        if (item->is_null()) {
            list->erase(found);
        } else if (!Apply(&(*list)[found], *item, Sub(where, key), error)) {
            return false;
        }
    }
    auto appended = patch.find("+");
    if (appended == patch.end()) {
        return true;
    }
    if (!appended->is_array()) {
        return Fail(error, Sub(where, "+"), "expected a list of elements to append");
    }
    for (const json& element : *appended) {
        list->push_back(element);
    }
    return true;
}

bool Apply(json* target, const json& patch, const std::string& where, std::string* error) {
    if (!patch.is_object()) {
        *target = patch;
        return true;
    }
    if (target->is_array()) {
        return ApplyToList(target, patch, where, error);
    }
    if (!target->is_object()) {
        *target = json::object();
    }
    for (auto item = patch.begin(); item != patch.end(); ++item) {
        if (item->is_null()) {
            target->erase(item.key());
        } else if (!Apply(&(*target)[item.key()], *item, Sub(where, item.key()), error)) {
            return false;
        }
    }
    return true;
}

// A base's own relative file names, made absolute against its folder so
// that they name the same files from the overlay's.
void AnchorFiles(json* host, const std::filesystem::path& folder) {
    for (const auto& member : kFileMembers) {
        auto outer = host->find(member[0]);
        if (outer == host->end() || !outer->is_object()) {
            continue;
        }
        auto name = outer->find(member[1]);
        if (name == outer->end() || !name->is_string() || name->get<std::string>().empty()) {
            continue;
        }
        std::filesystem::path path(name->get<std::string>());
        if (path.is_relative()) {
            *name = (folder / path).lexically_normal().string();
        }
    }
}

bool Expand(const std::string& file, int depth, json* out, std::string* error) {
    std::string text;
    if (!ReadText(file, &text)) {
        return Fail(error, file, "cannot read the topology file");
    }
    json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded()) {
        return Fail(error, file, "not valid JSON");
    }
    auto base = doc.is_object() ? doc.find("base") : doc.end();
    if (base == doc.end()) {
        *out = std::move(doc);
        return true;
    }
    if (!base->is_string() || base->get<std::string>().empty()) {
        return Fail(error, file, "base: expected the name of a host file");
    }
    if (depth >= kMaxBaseDepth) {
        return Fail(error, file, "base: more than 8 bases deep (a loop?)");
    }
    std::filesystem::path basePath(base->get<std::string>());
    const std::filesystem::path folder = std::filesystem::absolute(file).parent_path();
    if (basePath.is_relative()) {
        basePath = folder / basePath;
    }
    json host;
    if (!Expand(basePath.lexically_normal().string(), depth + 1, &host, error)) {
        return false;
    }
    if (!host.is_object()) {
        return Fail(error, basePath.string(), "expected a JSON object at the top");
    }
    AnchorFiles(&host, basePath.parent_path());
    doc.erase("base");
    std::string where;
    if (!Apply(&host, doc, "", &where)) {
        return Fail(error, file, where);
    }
    *out = std::move(host);
    return true;
}

}  // namespace

bool ApplyOverlay(json* target, const json& patch, std::string* error) {
    return Apply(target, patch, "", error);
}

bool ReadHostDocument(const std::string& file, json* out, std::string* error) {
    return Expand(file, 0, out, error);
}

}  // namespace sansim
