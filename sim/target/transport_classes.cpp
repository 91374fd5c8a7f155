// Transport class entries of a simulated Linux host. The kernel's FC
// transport adds a remote port (rport-H:C-R, R counted per SCSI host) for
// every target port the HBA logs in to, and the iSCSI transport a session
// (sessionK, K counted across the whole machine from 1) for every login;
// both are children of the SCSI host's device, with their class device
// (fc_remote_ports/..., iscsi_session/...) inside and linked from
// /sys/class. Here the paths of the vendor's LUNs stand for those logins:
// one rport or session per distinct host, channel and target.
#include "transport_classes.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace sansim {
namespace {

bool IsWwn(const std::string& text) {
    if (text.size() != 16) {
        return false;
    }
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// port_name and node_name print a 64-bit name as "0x%llx": a WWN's first
// digit (its NAA type) is never 0, so that is all 16 digits in lower case.
// An identifier that is no WWN is shown as it is.
std::string NameText(const std::string& identifier) {
    return "0x" + (IsWwn(identifier) ? Lower(identifier) : identifier) + "\n";
}

// The node of an HBA or array port: NAA type 2 with a zero port digit and
// the port's other digits (21000024ff4a5b01 -> 20000024ff4a5b01, as the
// HBAs name their node).
std::string DerivedNodeName(const std::string& port) {
    return IsWwn(port) ? "20" + Lower(port.substr(2)) : port;
}

// The switch the HBA logs in to: the same vendor prefix for every fabric,
// the port's last eight digits after it.
std::string DerivedFabricName(const std::string& port) {
    return "10000005" + (IsWwn(port) ? Lower(port.substr(8)) : std::string("00000000"));
}

// An iSCSI target port identifier is the target name and ",t,0x" with the
// target portal group tag in hex; without that suffix the group is 1.
void SplitTargetName(const std::string& identifier, std::string* name, unsigned long* tpgt) {
    *name = identifier;
    *tpgt = 1;
    const std::string kTag = ",t,0x";
    const size_t at = identifier.rfind(kTag);
    if (at == std::string::npos) {
        return;
    }
    const std::string hex = identifier.substr(at + kTag.size());
    if (hex.empty() || hex.size() > 8) {
        return;
    }
    unsigned long value = 0;
    for (char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return;
        }
        value = value * 16 + static_cast<unsigned long>(
                                 std::isdigit(static_cast<unsigned char>(c))
                                     ? c - '0'
                                     : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    *name = identifier.substr(0, at);
    *tpgt = value;
}

std::string StateOf(const std::map<std::string, std::string>& states, const std::string& port,
                    const char* fallback) {
    auto it = states.find(port);
    return it != states.end() ? it->second : fallback;
}

// One login of an initiator to a target port: a distinct host, channel and
// target among the LUNs' paths, with the port its first path names.
struct Nexus {
    const ScsiHost* host = nullptr;
    int channel = 0, target = 0;
    std::string portId;  // TargetPort::id
    const TargetPort* port = nullptr;
    size_t arrayIndex = 0, portIndex = 0;  // where the port is in the topology
};

std::vector<Nexus> Nexuses(const Topology& topo) {
    std::vector<Nexus> out;
    std::set<std::tuple<int, int, int>> seen;
    for (const Lun& lun : topo.luns) {
        auto arrayAt = topo.arrayIndex.find(lun.array);
        const Array* array = FindArray(topo, lun.array);
        for (const Path& path : lun.paths) {
            if (!seen.emplace(path.host, path.channel, path.target).second) {
                continue;
            }
            Nexus n;
            n.host = FindHost(topo, path.host);
            n.channel = path.channel;
            n.target = path.target;
            n.portId = path.targetPort;
            if (array != nullptr) {
                n.port = FindTargetPort(*array, path.targetPort);
                n.arrayIndex = arrayAt->second;
                n.portIndex = static_cast<size_t>(n.port - array->targetPorts.data());
            }
            if (n.host != nullptr && n.port != nullptr) {
                out.push_back(std::move(n));
            }
        }
    }
    return out;
}

class Items {
  public:
    void Dir(const std::string& path) { items_.push_back({SysfsItem::Kind::Dir, path, {}}); }
    void File(const std::string& path, const std::string& text) {
        items_.push_back({SysfsItem::Kind::File, path, text});
    }
    void Link(const std::string& path, const std::string& target) {
        items_.push_back({SysfsItem::Kind::Link, path, target});
    }
    std::vector<SysfsItem> Take() { return std::move(items_); }

  private:
    std::vector<SysfsItem> items_;
};

std::string HostDir(int number) {
    return "devices/platform/host" + std::to_string(number);
}

std::string TargetName(int host, int channel, int target) {
    return "target" + std::to_string(host) + ":" + std::to_string(channel) + ":" +
           std::to_string(target);
}

// devices/platform/hostN/fc_host/hostN and /sys/class/fc_host/hostN.
void AddFcHost(const ScsiHost& host, Items* items) {
    const std::string name = "host" + std::to_string(host.number);
    const std::string dir = HostDir(host.number) + "/fc_host/" + name;
    const HostTransportView& view = host.view;
    items->Dir(dir);
    if ((view.missing & kFcHostPortName) == 0) {
        items->File(dir + "/port_name", NameText(host.initiatorPort));
    }
    items->File(dir + "/node_name",
                "0x" +
                    (view.nodeName.empty() ? DerivedNodeName(host.initiatorPort) : view.nodeName) +
                    "\n");
    if ((view.missing & kFcHostPortState) == 0) {
        items->File(dir + "/port_state", view.portState + "\n");
    }
    items->File(
        dir + "/fabric_name",
        "0x" + (view.fabricName.empty() ? DerivedFabricName(host.initiatorPort) : view.fabricName) +
            "\n");
    items->File(dir + "/speed", view.speed + "\n");
    items->Link(dir + "/device", "../../../" + name);
    items->Link("class/fc_host/" + name, "../../" + dir);
}

// devices/platform/hostN/rport-H:C-R with its class device, and
// /sys/class/fc_remote_ports/rport-H:C-R. The kernel parents the SCSI target
// on the rport; a link to the target stands for that here.
void AddRport(const Nexus& n, int number, Items* items) {
    const int h = n.host->number;
    const std::string name = "rport-" + std::to_string(h) + ":" + std::to_string(n.channel) + "-" +
                             std::to_string(number);
    const std::string rport = HostDir(h) + "/" + name;
    const std::string dir = rport + "/fc_remote_ports/" + name;
    const unsigned missing = n.host->view.missing;
    items->Dir(dir);
    if ((missing & kRportPortName) == 0) {
        items->File(dir + "/port_name", NameText(n.port->identifier));
    }
    items->File(dir + "/node_name", "0x" + DerivedNodeName(n.port->identifier) + "\n");
    // The fabric address: a domain per array, an area per target port.
    char portId[16];
    snprintf(portId, sizeof portId, "0x%06x\n",
             static_cast<unsigned>(((n.arrayIndex + 1) % 0xF0) << 16 | (n.portIndex % 0x100) << 8));
    items->File(dir + "/port_id", portId);
    if ((missing & kRportPortState) == 0) {
        items->File(dir + "/port_state",
                    StateOf(n.host->view.rportStates, n.portId, "Online") + "\n");
    }
    items->File(dir + "/roles", "FCP Target\n");
    if ((missing & kRportScsiTargetId) == 0) {
        items->File(dir + "/scsi_target_id", std::to_string(n.target) + "\n");
    }
    items->Link(dir + "/device", "../../../" + name);
    const std::string target = TargetName(h, n.channel, n.target);
    items->Link(rport + "/" + target, "../" + target);
    items->Link("class/fc_remote_ports/" + name, "../../" + dir);
}

// devices/platform/hostN/iscsi_host/hostN and /sys/class/iscsi_host/hostN.
void AddIscsiHost(const ScsiHost& host, Items* items) {
    const std::string name = "host" + std::to_string(host.number);
    const std::string dir = HostDir(host.number) + "/iscsi_host/" + name;
    items->Dir(dir);
    if ((host.view.missing & kIscsiHostInitiatorName) == 0) {
        const std::string& shown = host.view.hostInitiatorName;
        items->File(dir + "/initiatorname", (shown.empty() ? host.initiatorPort : shown) + "\n");
    }
    // The initiator's network portal: one subnet per host unless given.
    items->File(dir + "/ipaddress",
                (host.view.ipAddress.empty() ? "10.0." + std::to_string(host.number) + ".1"
                                             : host.view.ipAddress) +
                    "\n");
    items->Link(dir + "/device", "../../../" + name);
    items->Link("class/iscsi_host/" + name, "../../" + dir);
}

// devices/platform/hostN/sessionK with its class device and its SCSI
// target (the session is the target's parent), and
// /sys/class/iscsi_session/sessionK.
void AddSession(const Nexus& n, int number, Items* items) {
    const int h = n.host->number;
    const std::string name = "session" + std::to_string(number);
    const std::string session = HostDir(h) + "/" + name;
    const std::string dir = session + "/iscsi_session/" + name;
    const unsigned missing = n.host->view.missing;
    std::string targetName;
    unsigned long tpgt = 1;
    SplitTargetName(n.port->identifier, &targetName, &tpgt);
    items->Dir(dir);
    if ((missing & kSessionTargetName) == 0) {
        items->File(dir + "/targetname", targetName + "\n");
    }
    // The login's own initiator name, as the kernel keeps it per session.
    if ((missing & kSessionInitiatorName) == 0) {
        items->File(dir + "/initiatorname", n.host->initiatorPort + "\n");
    }
    if ((missing & kSessionTpgt) == 0) {
        items->File(dir + "/tpgt", std::to_string(tpgt) + "\n");
    }
    if ((missing & kSessionState) == 0) {
        items->File(dir + "/state",
                    StateOf(n.host->view.sessionStates, n.portId, "LOGGED_IN") + "\n");
    }
    items->Link(dir + "/device", "../../../" + name);
    if ((missing & kSessionTargetLink) == 0) {
        const std::string target = TargetName(h, n.channel, n.target);
        items->Link(session + "/" + target, "../" + target);
    }
    items->Link("class/iscsi_session/" + name, "../../" + dir);
}

}  // namespace

std::vector<SysfsItem> TransportClassItems(const Topology& topo) {
    Items items;
    if (!topo.transportClasses || topo.platform != Platform::Linux) {
        return items.Take();
    }
    bool fc = false, iscsi = false;
    for (const ScsiHost& host : topo.hosts) {
        fc = fc || HostTransportKind(host) == TransportKind::Fc;
        iscsi = iscsi || HostTransportKind(host) == TransportKind::Iscsi;
    }
    // A class directory exists once the transport has a host.
    if (fc) {
        items.Dir("class/fc_host");
        items.Dir("class/fc_remote_ports");
    }
    if (iscsi) {
        items.Dir("class/iscsi_host");
        items.Dir("class/iscsi_session");
    }
    for (const ScsiHost& host : topo.hosts) {
        switch (HostTransportKind(host)) {
            case TransportKind::Fc:
                AddFcHost(host, &items);
                break;
            case TransportKind::Iscsi:
                AddIscsiHost(host, &items);
                break;
            case TransportKind::None:
                break;
        }
    }
    std::unordered_map<int, int> nextRport;  // SCSI host -> its next rport number
    int nextSession = 1;
    for (const Nexus& n : Nexuses(topo)) {
        switch (HostTransportKind(*n.host)) {
            case TransportKind::Fc:
                AddRport(n, nextRport[n.host->number]++, &items);
                break;
            case TransportKind::Iscsi:
                AddSession(n, nextSession++, &items);
                break;
            case TransportKind::None:
                break;
        }
    }
    return items.Take();
}

}  // namespace sansim
