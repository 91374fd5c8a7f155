// Loader and renderer of a simulated Solaris host's device tree.
#include "solaris_host.h"

#include "json_checks.h"

#include <initializer_list>
#include <memory>
#include <unordered_set>
#include <utility>

namespace sansim {
namespace {

using nlohmann::json;

class TreeLoader {
  public:
    explicit TreeLoader(Topology* topo) : topo_(topo) {}

    bool Load(const json* v, SolarisTree* tree);
    const std::string& error() const { return error_; }

  private:
    bool Fail(const std::string& where, const std::string& what) {
        if (error_.empty()) {
            error_ = where + ": " + what;
        }
        return false;
    }
    bool Keys(const json& obj, const std::string& where, std::initializer_list<const char*> known);
    bool Word(const json& obj, const std::string& where, const char* key, bool required,
              std::string* out);
    bool Bool(const json& obj, const std::string& where, const char* key, bool* out);
    bool ReadNode(const json& v, const std::string& where, SolarisNode* node);
    bool ReadMinor(const json& v, const std::string& where, SolarisMinor* minor);
    bool Index(const SolarisNode& node, const std::string& where);

    Topology* topo_;
    std::string error_;
};

bool IsWord(const std::string& text) {
    return !text.empty() && text.find_first_of(" \t\r\n/") == std::string::npos;
}

std::string Sub(const std::string& where, const char* key) {
    return where + "." + key;
}

std::string Item(const std::string& where, size_t i) {
    return where + "[" + std::to_string(i) + "]";
}

bool TreeLoader::Keys(const json& obj, const std::string& where,
                      std::initializer_list<const char*> known) {
    if (!obj.is_object()) {
        return Fail(where, "expected an object");
    }
    const std::string unknown = UnknownKey(obj, known);
    return unknown.empty() || Fail(where + "." + unknown, "unknown key");
}

// A string of one word without '/'.
bool TreeLoader::Word(const json& obj, const std::string& where, const char* key, bool required,
                      std::string* out) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) {
        return !required || Fail(where, std::string("missing \"") + key + "\"");
    }
    if (!it->is_string() || !IsWord(it->get<std::string>())) {
        return Fail(Sub(where, key), "expected one word without '/'");
    }
    *out = it->get<std::string>();
    return true;
}

bool TreeLoader::Bool(const json& obj, const std::string& where, const char* key, bool* out) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) {
        return true;
    }
    if (!it->is_boolean()) {
        return Fail(Sub(where, key), "expected true or false");
    }
    *out = it->get<bool>();
    return true;
}

bool TreeLoader::ReadMinor(const json& v, const std::string& where, SolarisMinor* minor) {
    std::string type = "raw";
    if (!Keys(v, where, {"name", "type", "link"}) || !Word(v, where, "name", true, &minor->name) ||
        !Word(v, where, "type", false, &type) || !Word(v, where, "link", false, &minor->link)) {
        return false;
    }
    if (type != "raw" && type != "block") {
        return Fail(Sub(where, "type"), "expected \"raw\" or \"block\"");
    }
    minor->raw = type == "raw";
    return true;
}

bool TreeLoader::ReadNode(const json& v, const std::string& where, SolarisNode* node) {
    if (!Keys(v, where, {"driver", "devid", "devid_valid", "device", "minors"}) ||
        !Word(v, where, "driver", true, &node->driver) ||
        !Bool(v, where, "devid_valid", &node->devidValid) ||
        !Word(v, where, "device", false, &node->device)) {
        return false;
    }
    auto id = v.find("devid");
    if (id != v.end() && !id->is_null()) {
        if (!id->is_string() || !ParseHexBytes(id->get<std::string>(), &node->devid) ||
            node->devid.empty()) {
            return Fail(Sub(where, "devid"), "expected the id's bytes as pairs of hex digits");
        }
    }
    auto minors = v.find("minors");
    if (minors != v.end() && !minors->is_null()) {
        if (!minors->is_array()) {
            return Fail(Sub(where, "minors"), "expected a list");
        }
        for (size_t i = 0; i < minors->size(); ++i) {
            SolarisMinor minor;
            if (!ReadMinor((*minors)[i], Item(Sub(where, "minors"), i), &minor)) {
                return false;
            }
            node->minors.push_back(std::move(minor));
        }
    }
    return true;
}

// The links of a node's minors become node names of its device.
bool TreeLoader::Index(const SolarisNode& node, const std::string& where) {
    for (size_t i = 0; i < node.minors.size(); ++i) {
        const SolarisMinor& minor = node.minors[i];
        if (minor.link.empty()) {
            continue;
        }
        const std::string at = Item(Sub(where, "minors"), i);
        if (node.device.empty()) {
            return Fail(where, "a node with links needs \"device\"");
        }
        const DeviceRef* ref = FindDevice(*topo_, node.device);
        if (ref == nullptr) {
            return Fail(Sub(where, "device"), "\"" + node.device + "\" names no device");
        }
        const std::string name = (minor.raw ? "rdsk/" : "dsk/") + minor.link;
        const DeviceRef copy = *ref;
        if (!topo_->index.emplace(name, copy).second) {
            return Fail(Sub(at, "link"), "duplicate link /dev/" + name);
        }
    }
    return true;
}

bool TreeLoader::Load(const json* v, SolarisTree* tree) {
    const std::string where = "solaris";
    if (v == nullptr) {
        return true;
    }
    if (!Keys(*v, where, {"snapshot", "nodes"}) || !Bool(*v, where, "snapshot", &tree->snapshot)) {
        return false;
    }
    auto nodes = v->find("nodes");
    if (nodes == v->end() || nodes->is_null()) {
        return true;
    }
    if (!nodes->is_array()) {
        return Fail(Sub(where, "nodes"), "expected a list");
    }
    for (size_t i = 0; i < nodes->size(); ++i) {
        const std::string at = Item(Sub(where, "nodes"), i);
        SolarisNode node;
        if (!ReadNode((*nodes)[i], at, &node) || !Index(node, at)) {
            return false;
        }
        tree->nodes.push_back(std::move(node));
    }
    return true;
}

const char kHexDigits[] = "0123456789abcdef";

}  // namespace

bool LoadSolarisTree(const nlohmann::json* v, Topology* topo, std::string* error) {
    auto tree = std::make_shared<SolarisTree>();
    TreeLoader loader(topo);
    if (!loader.Load(v, tree.get())) {
        *error = loader.error();
        return false;
    }
    topo->solaris = std::move(tree);
    return true;
}

std::string RenderSolarisTree(const SolarisTree& tree) {
    std::string text = "# simulated Solaris device tree\n";
    for (const SolarisNode& node : tree.nodes) {
        text += "node " + node.driver + " ";
        if (node.devid.empty()) {
            text += "-";
        }
        for (uint8_t b : node.devid) {
            text += kHexDigits[b >> 4];
            text += kHexDigits[b & 0x0F];
        }
        text += node.devidValid ? " 1\n" : " 0\n";
        for (const SolarisMinor& minor : node.minors) {
            text += "minor " + minor.name + (minor.raw ? " raw " : " block ");
            if (minor.link.empty()) {
                text += "-\n";
            } else {
                text += (minor.raw ? "/dev/rdsk/" : "/dev/dsk/") + minor.link + "\n";
            }
        }
    }
    return text;
}

}  // namespace sansim
