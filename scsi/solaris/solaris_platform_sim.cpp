// The Solaris services on a host without them: a simulated Solaris host.
//
// The device tree comes from a plain-text description whose path is in the
// environment variable SANSIM_SOLARIS_TREE (the simulator's runner writes it;
// without it no snapshot can be taken). One item a line:
//
//   node DRIVER DEVID VALID        DEVID: the id's bytes in hex, "-" for none;
//                                  VALID: 1 when devid_valid accepts it
//   minor NAME raw|block LINK      a minor of the node above; LINK: its /dev
//                                  path, "-" for none
//
// Lines starting with '#' are notes. The raw nodes are simulated device nodes
// of that host: a USCSI command goes to them as the same command block in an
// SG_IO request, which the host answers. A command that does not complete
// with GOOD status fails with EIO, as the disk driver fails it.
#include <errno.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <stdlib.h>
#include <sys/ioctl.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "../../common/hex_text.h"
#include "solaris_platform.h"

namespace {

struct SimMinor {
    std::string name;
    bool raw = false;
    std::string link;
};

struct SimNode {
    std::string driver;
    std::vector<uint8_t> devid;  // empty: none
    bool devidValid = false;
    std::vector<SimMinor> minors;
};

struct SimTree {
    std::vector<SimNode> nodes;
    // Looked up once per node of a host of thousands: the node that owns a
    // device id's bytes, and the nodes of one id in tree order.
    std::unordered_map<const void*, const SimNode*> owner;
    std::unordered_map<std::string, std::vector<const SimNode*>> byDevid;
};

std::string DevidKey(const std::vector<uint8_t>& devid) {
    return std::string(devid.begin(), devid.end());
}

void IndexTree(SimTree* tree) {
    for (const SimNode& node : tree->nodes) {
        if (!node.devid.empty()) {
            tree->owner.emplace(node.devid.data(), &node);
            tree->byDevid[DevidKey(node.devid)].push_back(&node);
        }
    }
}

const unsigned char kInquiry = 0x12;
const unsigned int kMsPerSecond = 1000;

// The whole description, or false when it is absent or malformed.
bool LoadTree(const char* file, SimTree* tree) {
    std::ifstream in(file);
    if (!in) {
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind;
        if (!(words >> kind) || kind[0] == '#') {
            continue;
        }
        if (kind == "node") {
            SimNode node;
            std::string devid, valid;
            if (!(words >> node.driver >> devid >> valid)) {
                return false;
            }
            if (devid != "-" && (!ParseHexBytes(devid, &node.devid) || node.devid.empty())) {
                return false;
            }
            node.devidValid = valid == "1";
            tree->nodes.push_back(std::move(node));
        } else if (kind == "minor") {
            SimMinor minor;
            std::string type;
            if (tree->nodes.empty() || !(words >> minor.name >> type >> minor.link) ||
                (type != "raw" && type != "block")) {
                return false;
            }
            minor.raw = type == "raw";
            if (minor.link == "-") {
                minor.link.clear();
            }
            tree->nodes.back().minors.push_back(std::move(minor));
        } else {
            return false;
        }
    }
    return !in.bad();
}

// The snapshot the device ids point into.
SimTree* g_snapshot = nullptr;

const SimNode* NodeOfDevid(TS_DevId devid) {
    if (g_snapshot == nullptr || devid == nullptr) {
        return nullptr;
    }
    auto it = g_snapshot->owner.find(devid);
    return it == g_snapshot->owner.end() ? nullptr : it->second;
}

}  // namespace

TS_DiSnapshot TS_PlatDiInit(const char* root, unsigned int flags) {
    (void)flags;
    const char* file = getenv("SANSIM_SOLARIS_TREE");
    if (root == nullptr || strcmp(root, "/") != 0 || file == nullptr || *file == '\0' ||
        g_snapshot != nullptr) {
        return nullptr;
    }
    auto* tree = new SimTree;
    if (!LoadTree(file, tree)) {
        delete tree;
        return nullptr;
    }
    IndexTree(tree);
    g_snapshot = tree;
    return tree;
}

int TS_PlatDiWalkMinor(TS_DiSnapshot snapshot, const char* minorType, unsigned int flags, void* arg,
                       TS_MinorWalker walker) {
    (void)flags;
    // Every minor of a disk node is of type "ddi_block", raw or block.
    if (snapshot == nullptr || snapshot != g_snapshot || walker == nullptr ||
        minorType == nullptr || strcmp(minorType, "ddi_block") != 0) {
        errno = EINVAL;
        return -1;
    }
    for (SimNode& node : g_snapshot->nodes) {
        for (SimMinor& minor : node.minors) {
            if (walker(&node, &minor, arg) != TS_DI_WALK_CONTINUE) {
                return 0;
            }
        }
    }
    return 0;
}

void TS_PlatDiFini(TS_DiSnapshot snapshot) {
    if (snapshot != nullptr && snapshot == g_snapshot) {
        delete g_snapshot;
        g_snapshot = nullptr;
    }
}

const char* TS_PlatDiNodeName(TS_DiNode node) {
    return node == nullptr ? nullptr : static_cast<SimNode*>(node)->driver.c_str();
}

TS_DevId TS_PlatDiDevid(TS_DiNode node) {
    if (node == nullptr) {
        return nullptr;
    }
    SimNode* sim = static_cast<SimNode*>(node);
    return sim->devid.empty() ? nullptr : sim->devid.data();
}

const char* TS_PlatDiMinorName(TS_DiMinor minor) {
    return minor == nullptr ? nullptr : static_cast<SimMinor*>(minor)->name.c_str();
}

int TS_PlatDiMinorSpectype(TS_DiMinor minor) {
    if (minor == nullptr) {
        return 0;
    }
    // S_IFBLK as Solaris numbers it for a block minor.
    return static_cast<SimMinor*>(minor)->raw ? TS_S_IFCHR : 0x6000;
}

int TS_PlatDevidValid(TS_DevId devid) {
    const SimNode* node = NodeOfDevid(devid);
    return node != nullptr && node->devidValid ? 1 : 0;
}

size_t TS_PlatDevidSizeof(TS_DevId devid) {
    const SimNode* node = NodeOfDevid(devid);
    return node == nullptr ? 0 : node->devid.size();
}

int TS_PlatDevidToNmlist(const char* dir, TS_DevId devid, const char* minorName,
                         TS_NameList* list) {
    const SimNode* owner = NodeOfDevid(devid);
    if (owner == nullptr || dir == nullptr || minorName == nullptr || list == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const std::string prefix = std::string(dir) + "/";
    auto* names = new std::vector<std::string>;
    for (const SimNode* node : g_snapshot->byDevid[DevidKey(owner->devid)]) {
        for (const SimMinor& minor : node->minors) {
            if (minor.name == minorName && minor.link.compare(0, prefix.size(), prefix) == 0) {
                names->push_back(minor.link);
            }
        }
    }
    if (names->empty()) {
        delete names;
        errno = ENODEV;
        return -1;
    }
    *list = names;
    return 0;
}

const char* TS_PlatNmlistPath(TS_NameList list, size_t i) {
    const auto* names = static_cast<const std::vector<std::string>*>(list);
    return names == nullptr || i >= names->size() ? nullptr : (*names)[i].c_str();
}

void TS_PlatDevidFreeNmlist(TS_NameList list) {
    delete static_cast<std::vector<std::string>*>(list);
}

int TS_PlatOpen(const char* path, int flags) {
    int hostFlags = O_RDONLY;
    if ((flags & 0x03) == TS_O_RDWR) {
        hostFlags = O_RDWR;
    } else if ((flags & 0x03) == 0x01) {
        hostFlags = O_WRONLY;
    }
    if ((flags & TS_O_NONBLOCK) != 0) {
        hostFlags |= O_NONBLOCK;
    }
    return open(path, hostFlags);
}

int TS_PlatUscsiCmd(int fd, TS_UscsiCmd* cmd) {
    if (cmd == nullptr || cmd->uscsi_cdb == nullptr || cmd->uscsi_cdblen == 0 ||
        cmd->uscsi_cdblen > 16) {
        errno = EINVAL;
        return -1;
    }
    // Only INQUIRY gets through to the simulated disk.
    if (static_cast<unsigned char>(cmd->uscsi_cdb[0]) != kInquiry) {
        errno = EINVAL;
        return -1;
    }
    sg_io_hdr_t hdr;
    memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    hdr.cmd_len = cmd->uscsi_cdblen;
    hdr.cmdp = reinterpret_cast<unsigned char*>(cmd->uscsi_cdb);
    hdr.dxferp = cmd->uscsi_bufaddr;
    hdr.dxfer_len = static_cast<unsigned int>(cmd->uscsi_buflen);
    if (cmd->uscsi_buflen == 0) {
        hdr.dxfer_direction = SG_DXFER_NONE;
    } else if ((cmd->uscsi_flags & TS_USCSI_READ) != 0) {
        hdr.dxfer_direction = SG_DXFER_FROM_DEV;
    } else {
        hdr.dxfer_direction = SG_DXFER_TO_DEV;
    }
    hdr.timeout = static_cast<unsigned int>(cmd->uscsi_timeout) * kMsPerSecond;
    if (ioctl(fd, SG_IO, &hdr) < 0) {
        return -1;
    }
    cmd->uscsi_status = static_cast<short>(hdr.status);
    cmd->uscsi_resid = hdr.resid > 0 ? static_cast<size_t>(hdr.resid) : 0;
    if (hdr.status != 0 || hdr.host_status != 0 || hdr.driver_status != 0) {
        errno = EIO;
        return -1;
    }
    return 0;
}
