// The transport classes of a simulated Linux host: the topology fields that
// describe them, their checks, and the /sys items laid out from them (names,
// numbering, values, links, attributes left out).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim_test_util.h"
#include "topology.h"
#include "transport_classes.h"

namespace {

using sansim::SysfsItem;
using sansim::Topology;
using simtest::BaseHost;
using simtest::json;

constexpr const char* kAbsent = "<absent>";

// BaseHost with its classes on. Its paths: host 3 reaches target 0 (a1-p0);
// host 4 reaches target 1 (a1-p1), then target 2 (a1-p2), so host 4's rports
// are numbered 0 and 1 for targets 1 and 2.
json FcHost() {
    json host = BaseHost();
    host["transport_classes"] = true;
    return host;
}

// Two iSCSI hosts; LUN 0's first path is on host 6, so host 6's session is
// session1 although host 5 is listed first.
json IscsiHost() {
    return json::parse(R"({
      "transport_classes": true,
      "scsi_hosts": [
        { "number": 5, "driver": "iscsi_tcp", "initiator_port": "iqn.1993-08.org.debian:01:aa" },
        { "number": 6, "driver": "iscsi_tcp", "initiator_port": "iqn.1993-08.org.debian:01:aa" } ],
      "arrays": [
        { "id": "a1", "port_type": 3, "target_ports": [
            { "id": "p0", "identifier": "iqn.2006-08.com.qelmar:t0,t,0x0010" },
            { "id": "p1", "identifier": "iqn.2006-08.com.qelmar:t1" },
            { "id": "p2", "identifier": "iqn.2006-08.com.qelmar:t2,t,0xZZ" } ] } ],
      "luns": [
        { "wwid": "36e0fc123456789abcdef012345670011", "array": "a1", "paths": [
            { "sd": "sdb", "hctl": "6:0:0:1", "target_port": "p0" },
            { "sd": "sdc", "hctl": "5:0:0:1", "target_port": "p1" },
            { "sd": "sdd", "hctl": "5:0:3:1", "target_port": "p2" } ] },
        { "wwid": "36e0fc123456789abcdef0123456700a2", "array": "a1", "paths": [
            { "sd": "sde", "hctl": "6:0:0:2", "target_port": "p0" } ] } ]
    })");
}

class TransportClasses : public ::testing::Test {
  protected:
    // Loads host and lays out its classes, by path.
    void Load(const json& host) {
        const std::string error = simtest::LoadText(dir_, host.dump(), &topo_);
        ASSERT_EQ(error, "");
        items_.clear();
        for (const SysfsItem& item : sansim::TransportClassItems(topo_)) {
            EXPECT_TRUE(items_.emplace(item.path, item).second) << "twice: " << item.path;
        }
    }
    std::string Error(const json& host) {
        Topology topo;
        return simtest::LoadText(dir_, host.dump(), &topo);
    }
    // A file's content, or kAbsent.
    std::string File(const std::string& path) const {
        auto it = items_.find(path);
        if (it == items_.end()) {
            return kAbsent;
        }
        EXPECT_EQ(it->second.kind, SysfsItem::Kind::File) << path;
        return it->second.text;
    }
    std::string Link(const std::string& path) const {
        auto it = items_.find(path);
        if (it == items_.end()) {
            return kAbsent;
        }
        EXPECT_EQ(it->second.kind, SysfsItem::Kind::Link) << path;
        return it->second.text;
    }
    std::set<std::string> Paths() const {
        std::set<std::string> paths;
        for (const auto& entry : items_) {
            paths.insert(entry.first);
        }
        return paths;
    }

    simtest::ScratchDir dir_;
    Topology topo_;
    std::map<std::string, SysfsItem> items_;
};

// ---- Topology fields ---------------------------------------------------------

TEST_F(TransportClasses, FieldsDefaultToAHealthyLoggedInHost) {
    Load(BaseHost());
    EXPECT_FALSE(topo_.transportClasses);
    const sansim::HostTransportView& view = topo_.hosts.at(0).view;
    EXPECT_EQ(view.portState, "Online");
    EXPECT_EQ(view.speed, "16 Gbit");
    EXPECT_EQ(view.nodeName, "");
    EXPECT_EQ(view.fabricName, "");
    EXPECT_TRUE(view.rportStates.empty());
    EXPECT_TRUE(view.sessionStates.empty());
    EXPECT_EQ(view.missing, 0u);
    EXPECT_TRUE(items_.empty()) << "a host that does not ask has no transport classes";
}

TEST_F(TransportClasses, FieldsAreReadAndNamesKeptAsLowerCaseDigits) {
    json host = FcHost();
    host["scsi_hosts"][1].update(json::parse(R"({
        "port_state": "Linkdown", "node_name": "0x20000024FF4A5B02", "speed": "8 Gbit",
        "fabric_name": "100000051E0A0B0C",
        "rport_states": {"a1-p1": "Blocked", "a1-p2": "Not Present"},
        "session_states": {"a1-p0": "FAILED"},
        "transport_missing": ["rport.port_state", "session.target_link"] })"));
    Load(host);
    EXPECT_TRUE(topo_.transportClasses);
    const sansim::HostTransportView& view = topo_.hosts.at(1).view;
    EXPECT_EQ(view.portState, "Linkdown");
    EXPECT_EQ(view.nodeName, "20000024ff4a5b02");
    EXPECT_EQ(view.speed, "8 Gbit");
    EXPECT_EQ(view.fabricName, "100000051e0a0b0c");
    EXPECT_EQ(view.rportStates,
              (std::map<std::string, std::string>{{"a1-p1", "Blocked"}, {"a1-p2", "Not Present"}}));
    EXPECT_EQ(view.sessionStates, (std::map<std::string, std::string>{{"a1-p0", "FAILED"}}));
    EXPECT_EQ(view.missing, sansim::kRportPortState | sansim::kSessionTargetLink);
}

struct BadField {
    const char* what;
    std::function<void(json&)> change;
    const char* error;  // expected in the message
};

TEST_F(TransportClasses, BadFieldsAreRefusedWithTheirPlace) {
    auto host4 = [](json& h) -> json& { return h["scsi_hosts"][1]; };
    const BadField cases[] = {
        {"classes not a bool", [](json& h) { h["transport_classes"] = "yes"; },
         "transport_classes: expected true or false"},
        {"classes on ESXi",
         [](json& h) {
             h["platform"] = "esxi";
             h["transport_classes"] = true;
         },
         "transport_classes: only a \"linux\" host"},
        {"empty port state", [&](json& h) { host4(h)["port_state"] = ""; },
         "scsi_hosts[1].port_state: empty"},
        {"port state of 16 characters",
         [&](json& h) { host4(h)["port_state"] = std::string(16, 'x'); },
         "scsi_hosts[1].port_state"},
        {"port state with a newline", [&](json& h) { host4(h)["port_state"] = "Online\n"; },
         "control character"},
        {"port state not a string", [&](json& h) { host4(h)["port_state"] = 1; },
         "scsi_hosts[1].port_state: expected a string"},
        {"empty speed", [&](json& h) { host4(h)["speed"] = ""; }, "scsi_hosts[1].speed: empty"},
        {"node name not hex", [&](json& h) { host4(h)["node_name"] = "2000zz"; },
         "scsi_hosts[1].node_name: \"2000zz\" is not 1 to 16 hex digits"},
        {"node name of 17 digits", [&](json& h) { host4(h)["node_name"] = "20000024ff4a5b020"; },
         "scsi_hosts[1].node_name"},
        {"fabric name only 0x", [&](json& h) { host4(h)["fabric_name"] = "0x"; },
         "scsi_hosts[1].fabric_name"},
        {"rport states a list", [&](json& h) { host4(h)["rport_states"] = {"Blocked"}; },
         "scsi_hosts[1].rport_states: expected an object"},
        {"empty rport state",
         [&](json& h) {
             host4(h)["rport_states"] = {{"a1-p1", ""}};
         },
         "scsi_hosts[1].rport_states.a1-p1: empty"},
        {"rport state not a string",
         [&](json& h) {
             host4(h)["rport_states"] = {{"a1-p1", true}};
         },
         "scsi_hosts[1].rport_states.a1-p1: expected a string"},
        {"rport state of an unknown port",
         [&](json& h) {
             host4(h)["rport_states"] = {{"a1-p9", "Blocked"}};
         },
         "scsi_hosts[1].rport_states.a1-p9: no array has a target port \"a1-p9\""},
        {"session state too long",
         [&](json& h) {
             h["scsi_hosts"][0]["session_states"] = {{"a1-p0", "LOGGED_IN_AND_OK"}};
         },
         "scsi_hosts[0].session_states.a1-p0"},
        {"session state of an unknown port",
         [&](json& h) {
             h["scsi_hosts"][0]["session_states"] = {{"p0", "FAILED"}};
         },
         "scsi_hosts[0].session_states.p0: no array has a target port"},
        {"unknown missing attribute",
         [&](json& h) {
             host4(h)["transport_missing"] = {"rport.port_name", "rport.node_name"};
         },
         "scsi_hosts[1].transport_missing[1]: \"rport.node_name\" is not a transport attribute"},
        {"missing attribute of another class's spelling",
         [&](json& h) { host4(h)["transport_missing"] = {"fc_host.initiatorname"}; },
         "scsi_hosts[1].transport_missing[0]"},
        {"missing attributes not a list",
         [&](json& h) { host4(h)["transport_missing"] = "session.state"; },
         "scsi_hosts[1].transport_missing: expected a list"},
        {"misspelt host field", [&](json& h) { host4(h)["rport_state"] = json::object(); },
         "scsi_hosts[1].rport_state: unknown key"},
    };
    for (const BadField& c : cases) {
        SCOPED_TRACE(c.what);
        json host = FcHost();
        c.change(host);
        const std::string error = Error(host);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST_F(TransportClasses, TransportFollowsTheFieldElseTheDriver) {
    struct Case {
        const char* driver;
        const char* transport;
        sansim::TransportKind kind;
    };
    const Case cases[] = {
        {"qla2xxx", "", sansim::TransportKind::Fc},
        {"lpfc", "", sansim::TransportKind::Fc},
        {"bnx2fc", "", sansim::TransportKind::Fc},
        {"fcoe", "", sansim::TransportKind::Fc},
        {"iscsi_tcp", "", sansim::TransportKind::Iscsi},
        {"iscsi_vmk", "", sansim::TransportKind::Iscsi},
        {"ahci", "", sansim::TransportKind::None},
        {"qla2xxx", "iscsi", sansim::TransportKind::Iscsi},
        {"iscsi_tcp", "fcoe", sansim::TransportKind::Fc},
        {"mpt3sas", "sas", sansim::TransportKind::None},
    };
    for (const Case& c : cases) {
        sansim::ScsiHost host;
        host.driver = c.driver;
        host.transport = c.transport;
        EXPECT_EQ(sansim::HostTransportKind(host), c.kind) << c.driver << " " << c.transport;
    }
}

// ---- Fibre Channel -----------------------------------------------------------

TEST_F(TransportClasses, FcHostFieldsReplaceTheDerivedValues) {
    json host = FcHost();
    host["scsi_hosts"][1].update(json::parse(R"({"port_state": "Linkdown",
        "node_name": "0x2000AABBCCDDEEFF", "fabric_name": "1", "speed": "Not Negotiated"})"));
    host["scsi_hosts"][0]["initiator_port"] = "10000000C9A1B2C3";  // lower-cased when shown
    Load(host);
    EXPECT_EQ(File("devices/platform/host4/fc_host/host4/port_state"), "Linkdown\n");
    EXPECT_EQ(File("devices/platform/host4/fc_host/host4/node_name"), "0x2000aabbccddeeff\n");
    EXPECT_EQ(File("devices/platform/host4/fc_host/host4/fabric_name"), "0x1\n");
    EXPECT_EQ(File("devices/platform/host4/fc_host/host4/speed"), "Not Negotiated\n");
    EXPECT_EQ(File("devices/platform/host3/fc_host/host3/port_name"), "0x10000000c9a1b2c3\n");
    EXPECT_EQ(File("devices/platform/host3/fc_host/host3/node_name"), "0x20000000c9a1b2c3\n");
    EXPECT_EQ(File("devices/platform/host3/fc_host/host3/fabric_name"), "0x10000005c9a1b2c3\n");
}

TEST_F(TransportClasses, RportsAreNumberedPerHostInFirstAppearanceOrder) {
    json host = FcHost();
    host["scsi_hosts"][1]["rport_states"] = {{"a1-p2", "Blocked"}};
    Load(host);
    struct Rport {
        const char* name;
        const char* portName;
        const char* portId;  // domain: array 1; area: the port's place in the array
        const char* state;
        const char* targetId;
        const char* target;
    };
    const Rport rports[] = {
        {"rport-3:0-0", "0x2100e0fc12345601\n", "0x010000\n", "Online\n", "0\n", "target3:0:0"},
        {"rport-4:0-0", "0x2100e0fc12345602\n", "0x010100\n", "Online\n", "1\n", "target4:0:1"},
        {"rport-4:0-1", "0x2100e0fc12345603\n", "0x010200\n", "Blocked\n", "2\n", "target4:0:2"},
    };
    for (const Rport& r : rports) {
        SCOPED_TRACE(r.name);
        const std::string hostNumber = std::string(r.name).substr(6, 1);
        const std::string rport = "devices/platform/host" + hostNumber + "/" + r.name;
        const std::string dir = rport + "/fc_remote_ports/" + r.name + "/";
        EXPECT_EQ(File(dir + "port_name"), r.portName);
        EXPECT_EQ(File(dir + "port_id"), r.portId);
        EXPECT_EQ(File(dir + "port_state"), r.state);
        EXPECT_EQ(File(dir + "roles"), "FCP Target\n");
        EXPECT_EQ(File(dir + "scsi_target_id"), r.targetId);
        EXPECT_EQ(Link(dir + "device"), std::string("../../../") + r.name);
        EXPECT_EQ(Link(rport + "/" + r.target), std::string("../") + r.target);
        EXPECT_EQ(Link(std::string("class/fc_remote_ports/") + r.name),
                  "../../" + dir.substr(0, dir.size() - 1));
    }
    EXPECT_EQ(File("devices/platform/host4/rport-4:0-0/fc_remote_ports/rport-4:0-0/node_name"),
              "0x2000e0fc12345602\n");
    size_t rportLinks = 0;
    for (const std::string& path : Paths()) {
        rportLinks += path.rfind("class/fc_remote_ports/", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(rportLinks, 3u) << "one rport per host, channel and target";
}

TEST_F(TransportClasses, RportOfAPortThatIsNoWwnShowsItsIdentifier) {
    json host = FcHost();
    host["arrays"][0]["target_ports"][0]["identifier"] = "2100E0FC12345601";
    host["arrays"][0]["target_ports"][1]["identifier"] = "port-b";
    Load(host);
    EXPECT_EQ(File("devices/platform/host3/rport-3:0-0/fc_remote_ports/rport-3:0-0/port_name"),
              "0x2100e0fc12345601\n");
    EXPECT_EQ(File("devices/platform/host4/rport-4:0-0/fc_remote_ports/rport-4:0-0/port_name"),
              "0xport-b\n");
}

// ---- iSCSI -------------------------------------------------------------------

TEST_F(TransportClasses, SessionsAreNumberedAcrossHostsWithNameAndPortalGroup) {
    json host = IscsiHost();
    host["scsi_hosts"][0]["session_states"] = {{"p2", "FREE"}};
    Load(host);
    EXPECT_EQ(File("devices/platform/host5/iscsi_host/host5/initiatorname"),
              "iqn.1993-08.org.debian:01:aa\n");
    EXPECT_EQ(Link("class/iscsi_host/host6"), "../../devices/platform/host6/iscsi_host/host6");
    struct Session {
        int host, number;
        const char* targetName;
        const char* tpgt;
        const char* state;
        const char* target;
    };
    const Session sessions[] = {
        {6, 1, "iqn.2006-08.com.qelmar:t0\n", "16\n", "LOGGED_IN\n", "target6:0:0"},
        {5, 2, "iqn.2006-08.com.qelmar:t1\n", "1\n", "LOGGED_IN\n", "target5:0:0"},
        // Not a portal group tag: the whole identifier is the name.
        {5, 3, "iqn.2006-08.com.qelmar:t2,t,0xZZ\n", "1\n", "FREE\n", "target5:0:3"},
    };
    for (const Session& s : sessions) {
        const std::string name = "session" + std::to_string(s.number);
        SCOPED_TRACE(name);
        const std::string session = "devices/platform/host" + std::to_string(s.host) + "/" + name;
        const std::string dir = session + "/iscsi_session/" + name;
        EXPECT_EQ(File(dir + "/targetname"), s.targetName);
        EXPECT_EQ(File(dir + "/tpgt"), s.tpgt);
        EXPECT_EQ(File(dir + "/state"), s.state);
        EXPECT_EQ(Link(dir + "/device"), "../../../" + name);
        EXPECT_EQ(Link(session + "/" + s.target), std::string("../") + s.target);
        EXPECT_EQ(Link("class/iscsi_session/" + name), "../../" + dir);
    }
    EXPECT_EQ(items_.count("class/iscsi_session/session4"), 0u);
    EXPECT_EQ(items_.count("class/fc_host"), 0u) << "no FC host, no FC classes";
}

// ---- Attributes left out -----------------------------------------------------

TEST_F(TransportClasses, EachMissingAttributeRemovesOnlyItsEntry) {
    struct Case {
        const char* name;
        bool iscsi;
        std::vector<std::string> gone;  // every entry it removes, on every host
    };
    const Case cases[] = {
        {"fc_host.port_name",
         false,
         {"devices/platform/host3/fc_host/host3/port_name",
          "devices/platform/host4/fc_host/host4/port_name"}},
        {"fc_host.port_state",
         false,
         {"devices/platform/host3/fc_host/host3/port_state",
          "devices/platform/host4/fc_host/host4/port_state"}},
        {"rport.port_name",
         false,
         {"devices/platform/host3/rport-3:0-0/fc_remote_ports/rport-3:0-0/port_name",
          "devices/platform/host4/rport-4:0-0/fc_remote_ports/rport-4:0-0/port_name",
          "devices/platform/host4/rport-4:0-1/fc_remote_ports/rport-4:0-1/port_name"}},
        {"rport.port_state",
         false,
         {"devices/platform/host3/rport-3:0-0/fc_remote_ports/rport-3:0-0/port_state",
          "devices/platform/host4/rport-4:0-0/fc_remote_ports/rport-4:0-0/port_state",
          "devices/platform/host4/rport-4:0-1/fc_remote_ports/rport-4:0-1/port_state"}},
        {"rport.scsi_target_id",
         false,
         {"devices/platform/host3/rport-3:0-0/fc_remote_ports/rport-3:0-0/scsi_target_id",
          "devices/platform/host4/rport-4:0-0/fc_remote_ports/rport-4:0-0/scsi_target_id",
          "devices/platform/host4/rport-4:0-1/fc_remote_ports/rport-4:0-1/scsi_target_id"}},
        {"iscsi_host.initiatorname",
         true,
         {"devices/platform/host5/iscsi_host/host5/initiatorname",
          "devices/platform/host6/iscsi_host/host6/initiatorname"}},
        {"session.targetname",
         true,
         {"devices/platform/host6/session1/iscsi_session/session1/targetname",
          "devices/platform/host5/session2/iscsi_session/session2/targetname",
          "devices/platform/host5/session3/iscsi_session/session3/targetname"}},
        {"session.state",
         true,
         {"devices/platform/host6/session1/iscsi_session/session1/state",
          "devices/platform/host5/session2/iscsi_session/session2/state",
          "devices/platform/host5/session3/iscsi_session/session3/state"}},
        {"session.tpgt",
         true,
         {"devices/platform/host6/session1/iscsi_session/session1/tpgt",
          "devices/platform/host5/session2/iscsi_session/session2/tpgt",
          "devices/platform/host5/session3/iscsi_session/session3/tpgt"}},
        {"session.initiatorname",
         true,
         {"devices/platform/host6/session1/iscsi_session/session1/initiatorname",
          "devices/platform/host5/session2/iscsi_session/session2/initiatorname",
          "devices/platform/host5/session3/iscsi_session/session3/initiatorname"}},
        {"session.target_link",
         true,
         {"devices/platform/host6/session1/target6:0:0",
          "devices/platform/host5/session2/target5:0:0",
          "devices/platform/host5/session3/target5:0:3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const json base = c.iscsi ? IscsiHost() : FcHost();
        Load(base);
        const std::set<std::string> whole = Paths();
        json host = base;
        for (json& h : host["scsi_hosts"]) {
            h["transport_missing"] = {c.name};
        }
        Load(host);
        std::set<std::string> expected = whole;
        for (const std::string& path : c.gone) {
            EXPECT_EQ(expected.erase(path), 1u) << path << " is not laid out at all";
        }
        EXPECT_EQ(Paths(), expected);
    }
}

}  // namespace
