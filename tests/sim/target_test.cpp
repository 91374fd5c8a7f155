// The simulated target: topology loading and checks, every page decoded field
// by field against the topology, READ CAPACITY, refusals and sense, each
// fault, and dm nodes answering through their paths.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "scsi_target.h"
#include "sim_test_util.h"
#include "topology.h"

namespace {

using sansim::DeviceRef;
using sansim::DeviceState;
using sansim::ScsiReply;
using sansim::Topology;
using simtest::BaseHost;
using simtest::Be16;
using simtest::Be32;
using simtest::Be64;
using simtest::Bytes;
using simtest::json;
using simtest::Padded;

const std::string kNul(1, '\0');

std::string ToHex(const std::vector<uint8_t>& b, size_t at, size_t width) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < width; ++i) {
        s += kDigits[b.at(at + i) >> 4];
        s += kDigits[b.at(at + i) & 0xF];
    }
    return s;
}

class SimHost : public ::testing::Test {
  protected:
    void Load(const json& host) {
        const std::string error = simtest::LoadText(dir_, host.dump(), &topo_);
        ASSERT_EQ(error, "");
    }

    ScsiReply Run(const std::string& node, std::vector<uint8_t> cdb, int allocLen,
                  DeviceState* state = nullptr) {
        const DeviceRef* ref = sansim::FindDevice(topo_, node);
        if (ref == nullptr) {
            ADD_FAILURE() << "no node " << node;
            ScsiReply none;
            none.ioctlErrno = -1;
            return none;
        }
        return sansim::ExecuteCommand(topo_, *ref, state, cdb.data(), static_cast<int>(cdb.size()),
                                      allocLen);
    }
    ScsiReply Inquiry(const std::string& node, bool evpd, int page, int cdbAlloc = 0xFFFF,
                      int dxferLen = 1024, DeviceState* state = nullptr) {
        return Run(node,
                   {0x12, static_cast<uint8_t>(evpd ? 1 : 0), static_cast<uint8_t>(page),
                    static_cast<uint8_t>(cdbAlloc >> 8), static_cast<uint8_t>(cdbAlloc), 0},
                   dxferLen, state);
    }
    // A page that must be answered in full.
    std::vector<uint8_t> Vpd(const std::string& node, int page) {
        ScsiReply r = Inquiry(node, true, page);
        EXPECT_EQ(r.status, 0) << node << " page " << page;
        return r.data;
    }
    ScsiReply Tur(const std::string& node, DeviceState* state = nullptr) {
        return Run(node, {0x00, 0, 0, 0, 0, 0}, 0, state);
    }
    ScsiReply Capacity10(const std::string& node, int dxferLen = 8) {
        return Run(node, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, dxferLen);
    }
    ScsiReply Capacity16(const std::string& node, int cdbAlloc = 32, int dxferLen = 32) {
        return Run(
            node,
            {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(cdbAlloc), 0, 0},
            dxferLen);
    }
    // Sets faults on a path ("sdb" is LUN 0's first path) and loads the host.
    void LoadWithPathFaults(const std::string& faults, int lun = 0, int path = 0) {
        json host = BaseHost();
        host["luns"][lun]["paths"][path]["faults"] = json::parse(faults);
        Load(host);
    }

    simtest::ScratchDir dir_;
    Topology topo_;
};

// CHECK CONDITION as the kernel reports it, with fixed-format sense.
void ExpectCheckCondition(const ScsiReply& r, uint8_t key, uint8_t asc, int allocLen) {
    EXPECT_EQ(r.ioctlErrno, 0);
    EXPECT_EQ(r.status, 0x02);
    EXPECT_EQ(r.maskedStatus, 0x01);
    EXPECT_EQ(r.hostStatus, 0);
    EXPECT_EQ(r.driverStatus, 0x08);
    EXPECT_EQ(r.info, 1u);
    EXPECT_TRUE(r.data.empty());
    EXPECT_EQ(r.resid, allocLen);
    ASSERT_EQ(r.sense.size(), 18u);
    EXPECT_EQ(r.sense[0], 0x70);
    EXPECT_EQ(r.sense[2] & 0x0F, key);
    EXPECT_EQ(r.sense[7], 10);
    EXPECT_EQ(r.sense[12], asc);
    EXPECT_EQ(r.sense[13], 0x00);
}

void ExpectGood(const ScsiReply& r) {
    EXPECT_EQ(r.ioctlErrno, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.hostStatus, 0);
    EXPECT_EQ(r.driverStatus, 0);
    EXPECT_EQ(r.info, 0u);
    EXPECT_TRUE(r.sense.empty());
}

// ---- Loading ---------------------------------------------------------------

TEST_F(SimHost, LoadsEveryFieldIncludingNumbersWrittenAsText) {
    json host = BaseHost();
    host["platform"] = "linux";
    host["multipath"] = json::parse(R"({"installed": false, "list_fails": true,
                                         "format": "bracketed"})");
    host["product_cli"] = {"tsadm", "tsTools"};
    host["cannot_start"] = {"multipath -ll"};
    host["arrays"][0]["version_bytes"] = {"0x03", 0, "17", 2};
    host["arrays"][0]["port_type"] = "0x03";
    host["luns"][0]["host_lun_id"] = "0x1F";
    host["luns"][0]["array_lun_id"] = "201";
    host["luns"][0]["listing_size"] = "10.0G";
    host["luns"][0]["dm_fails_when_no_active_path"] = false;
    host["luns"][0]["queue_if_no_path"] = false;
    host["luns"][0]["paths"][0]["faults"] = json::parse(R"({
        "unit_attention_turs": 2, "host_status": "0x07", "host_status_count": 3,
        "ioctl_errno": 5, "missing_pages": ["0xC9", 128],
        "page_length": {"0xC8": 40, "std": 31}, "qualifier": {"201": 1, "std": 3},
        "fail_opcodes": ["0x25"], "sense_format": "descriptor", "sense_length": 24,
        "unreadable": true, "vanished": true, "shield": true,
        "patches": [{"page": "rc10", "offset": 4, "hex": "00 00 10 00"},
                    {"page": "rc16", "offset": 0, "hex": "ff"},
                    {"page": "std", "hex": "7f"}, {"page": "0xC0", "offset": 800, "hex": "A5"}]
    })");
    Load(host);

    EXPECT_EQ(topo_.platform, sansim::Platform::Linux);
    EXPECT_FALSE(topo_.multipath.installed);
    EXPECT_TRUE(topo_.multipath.listFails);
    EXPECT_EQ(topo_.multipath.format, sansim::ListingFormat::Bracketed);
    EXPECT_EQ(topo_.productCli, (std::vector<std::string>{"tsadm", "tsTools"}));
    EXPECT_EQ(topo_.cannotStart, (std::vector<std::string>{"multipath -ll"}));
    ASSERT_EQ(topo_.hosts.size(), 2u);
    EXPECT_EQ(topo_.hosts[1].number, 4);
    EXPECT_EQ(topo_.hosts[1].driver, "qla2xxx");
    EXPECT_EQ(topo_.hosts[1].initiatorPort, "21000024ff4a5b02");

    const sansim::Array& a = topo_.arrays.at(0);
    EXPECT_TRUE(a.versionBytesGiven);
    EXPECT_EQ(a.versionBytes, (std::array<uint8_t, 4>{3, 0, 17, 2}));
    EXPECT_EQ(a.portTypeCode, 3);
    ASSERT_EQ(a.targetPorts.size(), 3u);
    EXPECT_EQ(a.targetPorts[1].controller, "B");

    const sansim::Lun& lun = topo_.luns.at(0);
    EXPECT_EQ(lun.hostLunId, 0x1Fu);
    EXPECT_EQ(lun.arrayLunId, 201u);
    EXPECT_EQ(lun.sizeBytes, 10737418240u);
    EXPECT_EQ(lun.owner, "B");
    EXPECT_EQ(lun.worker, "A");
    EXPECT_TRUE(lun.dualArray);
    EXPECT_EQ(lun.listingSize, "10.0G");
    EXPECT_FALSE(lun.dmFailsWhenNoActivePath);
    EXPECT_FALSE(lun.queueIfNoPath);
    EXPECT_TRUE(topo_.luns.at(1).queueIfNoPath);
    const sansim::Path& p = lun.paths.at(1);
    EXPECT_EQ(p.host, 4);
    EXPECT_EQ(p.channel, 0);
    EXPECT_EQ(p.target, 1);
    EXPECT_EQ(p.lun, 1);
    EXPECT_EQ(topo_.luns.at(1).paths.at(1).checkerState, "faulty");

    const sansim::Faults& f = lun.paths.at(0).faults;
    EXPECT_EQ(f.unitAttentionTurs, 2);
    EXPECT_EQ(f.hostStatus, 7);
    EXPECT_EQ(f.hostStatusCount, 3);
    EXPECT_EQ(f.ioctlErrno, 5);
    EXPECT_EQ(f.missingPages, (std::vector<int>{0xC9, 0x80}));
    EXPECT_EQ(f.pageLength, (std::map<int, int>{{0xC8, 40}, {sansim::kPageStandard, 31}}));
    EXPECT_EQ(f.qualifier, (std::map<int, int>{{0xC9, 1}, {sansim::kPageStandard, 3}}));
    EXPECT_EQ(f.failOpcodes, (std::vector<int>{0x25}));
    EXPECT_EQ(f.senseFormat, sansim::SenseFormat::Descriptor);
    EXPECT_EQ(f.senseLength, 24);
    EXPECT_TRUE(f.unreadable && f.vanished && f.shield);
    ASSERT_EQ(f.patches.size(), 4u);
    EXPECT_EQ(f.patches[0].page, sansim::kPageCapacity10);
    EXPECT_EQ(f.patches[0].offset, 4);
    EXPECT_EQ(f.patches[0].bytes, (std::vector<uint8_t>{0x00, 0x00, 0x10, 0x00}));
    EXPECT_EQ(f.patches[1].page, sansim::kPageCapacity16);
    EXPECT_EQ(f.patches[2].page, sansim::kPageStandard);
    EXPECT_EQ(f.patches[2].offset, 0);
    EXPECT_EQ(f.patches[3].page, 0xC0);
    EXPECT_EQ(f.patches[3].bytes, (std::vector<uint8_t>{0xA5}));
}

TEST_F(SimHost, AbsentFieldsTakeTheirDefaults) {
    Load(json::parse(R"({
      "scsi_hosts": [{"number": 1}],
      "arrays": [{"id": "x", "target_ports": [{"id": "p"}]}],
      "luns": [
        {"wwid": "36e0fc123456789abcdef012345670011", "array": "x",
         "paths": [{"sd": "sdf", "hctl": "1:0:0:0", "target_port": "p"}]},
        {"wwid": "36e0fc123456789abcdef0123456700a2", "array": "x", "dm": "dm-0",
         "dm_faults": {"host_status": 7},
         "paths": [{"sd": "sdg", "hctl": "1:0:0:1", "target_port": "p"}]},
        {"wwid": "36e0fc123456789abcdef0123456700b3", "array": "x",
         "paths": [{"sd": "sdh", "hctl": "1:0:0:2", "target_port": "p"}]}]
    })"));
    EXPECT_EQ(topo_.platform, sansim::Platform::Linux);
    EXPECT_TRUE(topo_.multipath.installed);
    EXPECT_FALSE(topo_.multipath.listFails);
    EXPECT_EQ(topo_.multipath.format, sansim::ListingFormat::Current);
    EXPECT_TRUE(topo_.multipath.cannedListing.empty());
    const sansim::Array& a = topo_.arrays.at(0);
    EXPECT_EQ(a.vendor, "QELMAR");
    EXPECT_EQ(a.product, "VSA1000");
    EXPECT_EQ(a.interfaceVersion, 516);
    EXPECT_FALSE(a.versionBytesGiven);
    EXPECT_EQ(a.portTypeCode, 1);
    EXPECT_EQ(a.controllers, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(a.targetPorts.at(0).controller, "A");

    const sansim::Lun& lun = topo_.luns.at(0);
    EXPECT_EQ(lun.blockSize, 512u);
    EXPECT_EQ(lun.owner, "A");
    EXPECT_EQ(lun.worker, "A");
    EXPECT_TRUE(lun.dmFailsWhenNoActivePath);
    EXPECT_TRUE(lun.queueIfNoPath);
    EXPECT_TRUE(lun.alias.empty());
    // A LUN without a dm name takes the lowest one no other LUN uses.
    EXPECT_EQ(lun.dm, "dm-1");
    EXPECT_EQ(topo_.luns.at(2).dm, "dm-2");
    const sansim::Path& p = lun.paths.at(0);
    EXPECT_EQ(p.dmState, "active");
    EXPECT_EQ(p.checkerState, "ready");
    EXPECT_EQ(p.deviceState, "running");
    EXPECT_EQ(p.faults.senseFormat, sansim::SenseFormat::Fixed);
    EXPECT_EQ(p.faults.senseLength, 18);
    // A host status without a count never clears.
    EXPECT_GE(topo_.luns.at(1).dmFaults.hostStatusCount, 1000000);
}

struct BadHost {
    const char* what;
    std::function<void(json&)> change;
    const char* error;  // expected in the message
};

TEST_F(SimHost, MalformedTopologiesAreRefusedWithTheirPlace) {
    auto path0 = [](json& h) -> json& { return h["luns"][0]["paths"][0]; };
    const BadHost cases[] = {
        {"array without id", [](json& h) { h["arrays"][0].erase("id"); },
         "arrays[0]: missing \"id\""},
        {"short wwid", [](json& h) { h["luns"][0]["wwid"] = "36e0fc123456789abcdef01234567001"; },
         "luns[0].wwid"},
        {"wwid not hex",
         [](json& h) { h["luns"][0]["wwid"] = "36e0fc123456789abcdef0123456700zz"; },
         "luns[0].wwid"},
        {"wwid not NAA",
         [](json& h) { h["luns"][0]["wwid"] = "26e0fc123456789abcdef012345670011"; },
         "luns[0].wwid"},
        {"unknown array", [](json& h) { h["luns"][1]["array"] = "a9"; },
         "luns[1].array: unknown array \"a9\""},
        {"unknown target port", [&](json& h) { path0(h)["target_port"] = "a1-p9"; },
         "luns[0].paths[0].target_port: unknown target port"},
        {"duplicate sd", [](json& h) { h["luns"][1]["paths"][0]["sd"] = "sdb"; },
         "duplicate node name \"sdb\""},
        {"sd named like another device", [](json& h) { h["others"][0]["name"] = "sdab"; },
         "duplicate node name \"sdab\""},
        {"duplicate dm", [](json& h) { h["luns"][1]["dm"] = "dm-0"; },
         "duplicate node name \"dm-0\""},
        {"hctl with three parts", [&](json& h) { path0(h)["hctl"] = "3:0:0"; }, "bad hctl"},
        {"hctl with five parts", [&](json& h) { path0(h)["hctl"] = "3:0:0:1:2"; }, "bad hctl"},
        {"hctl with a letter", [&](json& h) { path0(h)["hctl"] = "3:0:x:1"; }, "bad hctl"},
        {"hctl with an empty part", [&](json& h) { path0(h)["hctl"] = "3::0:1"; }, "bad hctl"},
        {"hctl missing", [&](json& h) { path0(h).erase("hctl"); }, "missing \"hctl\""},
        {"hctl used twice", [](json& h) { h["luns"][1]["paths"][0]["hctl"] = "3:0:0:1"; },
         "duplicate hctl 3:0:0:1"},
        {"path on an unknown HBA", [&](json& h) { path0(h)["hctl"] = "9:0:0:1"; },
         "SCSI host 9 is not in scsi_hosts"},
        {"worker not a controller", [](json& h) { h["luns"][0]["worker"] = "C"; },
         "luns[0].worker"},
        {"port on an unknown controller",
         [](json& h) { h["arrays"][0]["target_ports"][0]["controller"] = "Z"; },
         "target_ports[0].controller"},
        {"misspelt fault",
         [&](json& h) {
             path0(h)["faults"] = {{"dead_", true}};
         },
         "faults.dead_: unknown key"},
        {"sense longer than 32",
         [&](json& h) {
             path0(h)["faults"] = {{"sense_length", 33}};
         },
         "sense_length"},
        {"number text not a number", [](json& h) { h["luns"][0]["host_lun_id"] = "0xZZ"; },
         "not a number"},
        {"negative number", [](json& h) { h["luns"][0]["size_bytes"] = -1; }, "negative"},
        {"standard data as a missing page",
         [&](json& h) {
             path0(h)["faults"] = {{"missing_pages", {"std"}}};
         },
         "missing_pages[0]"},
        {"patch of odd hex",
         [&](json& h) {
             path0(h)["faults"] = json::parse(R"({"patches": [{"page": 0, "hex": "abc"}]})");
         },
         "hex"},
        {"string where a bool belongs", [](json& h) { h["luns"][0]["dual_array"] = "yes"; },
         "dual_array"},
        {"queueing given as the feature's text",
         [](json& h) { h["luns"][1]["queue_if_no_path"] = "1 queue_if_no_path"; },
         "luns[1].queue_if_no_path: expected true or false"},
        {"unknown product CLI",
         [](json& h) {
             h["product_cli"] = {"tsadm", "other"};
         },
         "product_cli[1]"},
        {"unknown listing format",
         [](json& h) {
             h["multipath"] = {{"format", "old"}};
         },
         "multipath.format"},
        {"serial too long", [](json& h) { h["arrays"][0]["serial"] = "2102351234ABCDEF00012"; },
         "serial"},
        {"not a disk name", [&](json& h) { path0(h)["sd"] = "vdb"; }, "luns[0].paths[0].sd"},
    };
    for (const BadHost& c : cases) {
        SCOPED_TRACE(c.what);
        json host = BaseHost();
        c.change(host);
        Topology topo;
        const std::string error = simtest::LoadText(dir_, host.dump(), &topo);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_TRUE(topo.luns.empty()) << "a refused topology must leave the output alone";
    }

    Topology topo;
    EXPECT_NE(simtest::LoadText(dir_, "{\"luns\": [", &topo).find("not valid JSON"),
              std::string::npos);
    EXPECT_NE(simtest::LoadText(dir_, "[1, 2]", &topo).find("JSON object"), std::string::npos);
    std::string error;
    EXPECT_FALSE(sansim::LoadTopology(dir_.path() + "/absent.json", &topo, &error));
    EXPECT_NE(error.find("absent.json"), std::string::npos);
}

TEST_F(SimHost, NodesArraysPortsAndHostsAreFoundByName) {
    Load(BaseHost());
    struct Expect {
        const char* name;
        DeviceRef::Kind kind;
        size_t lun, path, other;
    };
    const Expect expected[] = {
        {"sdb", DeviceRef::Kind::Path, 0, 0, 0},  {"sdc", DeviceRef::Kind::Path, 0, 1, 0},
        {"sdab", DeviceRef::Kind::Path, 1, 2, 0}, {"dm-1", DeviceRef::Kind::Dm, 1, 0, 0},
        {"sda", DeviceRef::Kind::Other, 0, 0, 0}, {"loop0", DeviceRef::Kind::Other, 0, 0, 1},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.name);
        const DeviceRef* ref = sansim::FindDevice(topo_, e.name);
        ASSERT_NE(ref, nullptr);
        EXPECT_EQ(ref->kind, e.kind);
        if (e.kind == DeviceRef::Kind::Other) {
            EXPECT_EQ(ref->other, e.other);
        } else {
            EXPECT_EQ(ref->lun, e.lun);
        }
        if (e.kind == DeviceRef::Kind::Path) {
            EXPECT_EQ(ref->path, e.path);
        }
    }
    EXPECT_EQ(topo_.index.size(), 9u);
    EXPECT_EQ(sansim::FindDevice(topo_, "sdz"), nullptr);
    EXPECT_EQ(sansim::FindDevice(topo_, "mpatha"), nullptr);

    const sansim::Array* array = sansim::FindArray(topo_, "a1");
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->name, "Array-01");
    EXPECT_EQ(sansim::FindArray(topo_, "a2"), nullptr);
    const sansim::TargetPort* port = sansim::FindTargetPort(*array, "a1-p2");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->identifier, "2100e0fc12345603");
    EXPECT_EQ(sansim::FindTargetPort(*array, "a1-p3"), nullptr);
    const sansim::ScsiHost* hba = sansim::FindHost(topo_, 4);
    ASSERT_NE(hba, nullptr);
    EXPECT_EQ(hba->initiatorPort, "21000024ff4a5b02");
    EXPECT_EQ(sansim::FindHost(topo_, 0), nullptr);

    // 512-byte sectors whatever the block size.
    EXPECT_EQ(sansim::NodeSectors(topo_, *sansim::FindDevice(topo_, "dm-0")), 20971520u);
    EXPECT_EQ(sansim::NodeSectors(topo_, *sansim::FindDevice(topo_, "sdd")), 3221225472u);
    EXPECT_EQ(sansim::NodeSectors(topo_, *sansim::FindDevice(topo_, "sda")), 41943040u);
    EXPECT_EQ(sansim::NodeSectors(topo_, *sansim::FindDevice(topo_, "loop0")), 0u);

    // LUN 1 works on B: its paths on B come first, in topology order.
    size_t active = 0;
    EXPECT_EQ(sansim::PathsInListingOrder(topo_, topo_.luns[1], &active),
              (std::vector<size_t>{1, 2, 0}));
    EXPECT_EQ(active, 2u);
}

TEST_F(SimHost, CannedListingIsFoundBesideTheTopologyAndNamesItsNodes) {
    dir_.Write("hosts/lists/canned.txt",
               "sddv: checker msg is \"tur checker reports path is down\"\n"
               "mpatha (3aaaabbbbccccddddeeeeffff00001111) dm-16 DGC,VRAID\n"
               "\\_ round-robin 0 [prio=100][active]\n"
               " \\_ 2:0:2:10 sdao 66:128  [active][ready] \n"
               " \\_ 1:0:2:10 sdb 8:16    [active][ready] \n"
               " \\_ 1:0:3:10 sddv 71:208  [active][faulty]\n");
    json host = BaseHost();
    host["multipath"] = {{"canned_listing", "lists/canned.txt"}};
    const std::string error = simtest::LoadText(dir_, host.dump(), &topo_, "hosts/host.json");
    ASSERT_EQ(error, "");
    // sdb is a node of the topology already.
    EXPECT_EQ(topo_.cannedNodes, (std::vector<std::string>{"sddv", "dm-16", "sdao"}));
    EXPECT_EQ(topo_.multipath.cannedListing, dir_.path() + "/hosts/lists/canned.txt");

    host["multipath"] = {{"canned_listing", "lists/absent.txt"}};
    Topology topo;
    EXPECT_NE(simtest::LoadText(dir_, host.dump(), &topo, "hosts/host.json")
                  .find("multipath.canned_listing: cannot read"),
              std::string::npos);
}

// ---- Pages ------------------------------------------------------------------

TEST_F(SimHost, StandardInquiryIdentifiesTheArrayBlankPadded) {
    Load(BaseHost());
    ScsiReply r = Inquiry("sdb", false, 0, 255, 255);
    ExpectGood(r);
    const std::vector<uint8_t>& b = r.data;
    ASSERT_EQ(b.size(), 96u);
    EXPECT_EQ(r.resid, 255 - 96);
    EXPECT_EQ(b[0], 0x00);  // qualifier 0, direct-access device
    EXPECT_EQ(b[2], 6);
    EXPECT_EQ(b[3] & 0x0F, 2);
    EXPECT_EQ(b[4] + 5, 96);  // additional length covers the rest
    EXPECT_EQ(Bytes(b, 8, 8), "QELMAR  ");
    EXPECT_EQ(Bytes(b, 16, 16), "VSA1000         ");
    EXPECT_EQ(Bytes(b, 32, 4), "0100");
}

TEST_F(SimHost, SupportedSerialAndIdentificationPages) {
    Load(BaseHost());
    std::vector<uint8_t> b = Vpd("sdb", 0x00);
    ASSERT_GE(b.size(), 4u);
    EXPECT_EQ(b[1], 0x00);
    EXPECT_EQ(Be16(b, 2) + 4, b.size());
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 4, b.end()),
              (std::vector<uint8_t>{0x00, 0x80, 0x83, 0xC0, 0xC4, 0xC8, 0xC9}));

    b = Vpd("sdb", 0x80);
    ASSERT_EQ(b.size(), 24u);
    EXPECT_EQ(b[1], 0x80);
    EXPECT_EQ(Be16(b, 2), 20u);
    EXPECT_EQ(Bytes(b, 4, 20), "2102351234ABCDEF0001");

    b = Vpd("sdc", 0x83);
    ASSERT_EQ(b.size(), 24u);
    EXPECT_EQ(b[1], 0x83);
    EXPECT_EQ(Be16(b, 2), 20u);
    EXPECT_EQ(b[4] & 0x0F, 1);         // code set: binary
    EXPECT_EQ((b[5] >> 4) & 0x03, 0);  // association: logical unit
    EXPECT_EQ(b[5] & 0x0F, 3);         // designator type: NAA
    EXPECT_EQ(b[7], 16);
    EXPECT_EQ("3" + ToHex(b, 8, 16), simtest::kWwid0);

    // A serial shorter than the field is right-aligned behind blanks.
    json host = BaseHost();
    host["arrays"][0]["serial"] = "SN42";
    Load(host);
    EXPECT_EQ(Bytes(Vpd("sdb", 0x80), 4, 20), std::string(16, ' ') + "SN42");
}

TEST_F(SimHost, PageC0CarriesArrayTargetPortAndInitiator) {
    Load(BaseHost());
    for (const char* node : {"sdb", "sdc"}) {
        SCOPED_TRACE(node);
        const bool onA = std::string(node) == "sdb";
        std::vector<uint8_t> b = Vpd(node, 0xC0);
        ASSERT_EQ(b.size(), 700u);
        EXPECT_EQ(b[1], 0xC0);
        EXPECT_EQ(Be16(b, 2), 696u);
        EXPECT_EQ(b[11] & 0x40, 0);  // no shield
        EXPECT_EQ(b[160], 0x80);     // dual array
        EXPECT_EQ(Bytes(b, 112, 16), "2102351234ABCDEF");
        EXPECT_EQ(Bytes(b, 183, 4), std::string("\x02\x00\x04\x00", 4));  // 516 = 0x0204
        EXPECT_EQ(b[191], 1);
        EXPECT_EQ(Bytes(b, 192, 241),
                  Padded(onA ? "2100e0fc12345601" : "2100e0fc12345602", 241, '\0'));
        EXPECT_EQ(Bytes(b, 433, 241),
                  Padded(onA ? "21000024ff4a5b01" : "21000024ff4a5b02", 241, '\0'));
    }
    // LUN 1 is not dual-array; raw version bytes replace the version.
    json host = BaseHost();
    host["arrays"][0]["version_bytes"] = {9, 8, 7, 6};
    host["arrays"][0]["port_type"] = 3;
    host["luns"][1]["paths"][0]["faults"] = {{"shield", true}};
    Load(host);
    std::vector<uint8_t> b = Vpd("sdd", 0xC0);
    ASSERT_EQ(b.size(), 700u);
    EXPECT_EQ(b[11] & 0x40, 0x40);
    EXPECT_EQ(b[160], 0x00);
    EXPECT_EQ(Bytes(b, 183, 4), "\x09\x08\x07\x06");
    EXPECT_EQ(b[191], 3);
}

TEST_F(SimHost, PageC4NamesTheControllerThePathEnters) {
    Load(BaseHost());
    for (auto [node, expected] :
         {std::make_pair("sdb", '1'), std::make_pair("sdc", '2'), std::make_pair("sdab", '2')}) {
        std::vector<uint8_t> b = Vpd(node, 0xC4);
        ASSERT_EQ(b.size(), 32u) << node;
        EXPECT_EQ(Be16(b, 2), 28u);
        EXPECT_EQ(b[29], expected) << node;
    }
}

TEST_F(SimHost, PageC8CarriesLunIdsAndTheWideArrayName) {
    Load(BaseHost());
    std::vector<uint8_t> b = Vpd("sdc", 0xC8);
    ASSERT_EQ(b.size(), 256u);
    EXPECT_EQ(b[1], 0xC8);
    EXPECT_EQ(Be16(b, 2), 252u);
    EXPECT_EQ(Bytes(b, 29, 40), Padded("db01", 40, '\0'));
    EXPECT_EQ(Be32(b, 85), 1u);
    EXPECT_EQ(ToHex(b, 90, 16), "0123456789abcdef0011223344556677");
    const std::string name = "Array-01";
    ASSERT_EQ(b[106], 2 * name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        EXPECT_EQ(b[107 + 2 * i], 0) << i;
        EXPECT_EQ(b[108 + 2 * i], name[i]) << i;
    }
    EXPECT_EQ(b[107 + 2 * name.size()], 0);
    EXPECT_EQ(Be32(b, 192), 17u);
}

TEST_F(SimHost, PageC9SaysWhoWorksAndWhoOwnsFromEachSide) {
    Load(BaseHost());  // LUN 0: worker A, owner B
    struct Side {
        const char* node;
        uint8_t working, owning, self;
        const char* name;
    };
    for (const Side& s : {Side{"sdb", 1, 2, 0x31, "A"}, Side{"sdc", 0, 1, 0x32, "B"}}) {
        SCOPED_TRACE(s.node);
        std::vector<uint8_t> b = Vpd(s.node, 0xC9);
        ASSERT_EQ(b.size(), 264u);
        EXPECT_EQ(Be16(b, 2), 260u);
        EXPECT_EQ(b[8], s.working);
        EXPECT_EQ(b[9], s.owning);
        EXPECT_EQ(b[12], 'A' - 0x10);
        EXPECT_EQ(b[13], 'B' - 0x10);
        EXPECT_EQ(b[14], s.self);
        EXPECT_EQ(Bytes(b, 69, 8), Padded(s.name, 8, '\0'));
        EXPECT_EQ(Bytes(b, 77, 8), Padded("A", 8, '\0'));
        EXPECT_EQ(Bytes(b, 85, 8), Padded("B", 8, '\0'));
        EXPECT_EQ(Bytes(b, 134, 127), Padded("port-group-7", 127, '\0'));
    }
}

TEST_F(SimHost, ReadCapacityReportsTheLastBlockAndBlockLength) {
    json host = BaseHost();
    host["luns"].push_back(json::parse(R"({"wwid": "36e0fc123456789abcdef0123456700b3",
        "array": "a1", "size_bytes": 4398046511104,
        "paths": [{"sd": "sdf", "hctl": "3:0:0:3", "target_port": "a1-p0"}]})"));
    host["luns"].push_back(json::parse(R"({"wwid": "36e0fc123456789abcdef0123456700b4",
        "array": "a1", "size_bytes": 0,
        "paths": [{"sd": "sdg", "hctl": "3:0:0:4", "target_port": "a1-p0"}]})"));
    host["luns"].push_back(json::parse(R"({"wwid": "36e0fc123456789abcdef0123456700b5",
        "array": "a1", "size_bytes": 2199023255552,
        "paths": [{"sd": "sdh", "hctl": "3:0:0:5", "target_port": "a1-p0"}]})"));
    Load(host);
    struct Expect {
        const char* node;
        uint64_t lastLba;
        uint32_t blockLength;
    };
    const Expect cases[] = {
        {"sdb", 10737418240ull / 512 - 1, 512},      // 10 GiB
        {"sdd", 1649267441664ull / 4096 - 1, 4096},  // 1.5 TiB of 4 KiB blocks
        {"sdf", (1ull << 33) - 1, 512},              // 4 TiB: beyond 32 bits
        {"sdh", (1ull << 32) - 1, 512},              // exactly 2^32 blocks
        {"sdg", 0, 512},                             // empty: LBA 0 is the lowest it can say
        {"sda", 21474836480ull / 512 - 1, 512},
    };
    for (const Expect& e : cases) {
        SCOPED_TRACE(e.node);
        ScsiReply r10 = Capacity10(e.node);
        ExpectGood(r10);
        ASSERT_EQ(r10.data.size(), 8u);
        EXPECT_EQ(r10.resid, 0);
        EXPECT_EQ(Be32(r10.data, 0), e.lastLba > 0xFFFFFFFFull ? 0xFFFFFFFFu : e.lastLba);
        EXPECT_EQ(Be32(r10.data, 4), e.blockLength);

        ScsiReply r16 = Capacity16(e.node);
        ExpectGood(r16);
        ASSERT_EQ(r16.data.size(), 32u);
        EXPECT_EQ(Be64(r16.data, 0), e.lastLba);
        EXPECT_EQ(Be32(r16.data, 8), e.blockLength);
        EXPECT_EQ(std::vector<uint8_t>(r16.data.begin() + 12, r16.data.end()),
                  std::vector<uint8_t>(20, 0));
    }
}

// ---- Transfer, refusals and sense ----------------------------------------------

TEST_F(SimHost, DataIsClippedToBothAllocationLengths) {
    Load(BaseHost());
    ScsiReply r = Inquiry("sdb", true, 0xC0, 255, 700);  // CDB allows less than the page
    ASSERT_EQ(r.data.size(), 255u);
    EXPECT_EQ(r.resid, 700 - 255);
    EXPECT_EQ(Be16(r.data, 2), 696u);           // the length still tells the whole page
    r = Inquiry("sdb", true, 0xC0, 1000, 100);  // the buffer is smaller
    EXPECT_EQ(r.data.size(), 100u);
    EXPECT_EQ(r.resid, 0);
    r = Inquiry("sdb", true, 0xC9, 1000, 1000);
    EXPECT_EQ(r.data.size(), 264u);
    EXPECT_EQ(r.resid, 1000 - 264);
    r = Inquiry("sdb", false, 0, 0, 96);  // allocation length 0 is not an error
    ExpectGood(r);
    EXPECT_TRUE(r.data.empty());
    EXPECT_EQ(r.resid, 96);
    r = Capacity16("sdb", 12, 32);
    ASSERT_EQ(r.data.size(), 12u);
    EXPECT_EQ(r.resid, 20);
    EXPECT_EQ(Be32(r.data, 8), 512u);
    r = Capacity10("sdb", 4);
    EXPECT_EQ(r.data.size(), 4u);
    EXPECT_EQ(r.resid, 0);
}

TEST_F(SimHost, UnsupportedRequestsAreIllegalRequests) {
    Load(BaseHost());
    ExpectCheckCondition(Run("sdb", {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512), 0x05, 0x20, 512);
    ExpectCheckCondition(Run("sdb", {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0), 0x05, 0x20, 0);
    ExpectCheckCondition(Inquiry("sdb", false, 0x80, 255, 255), 0x05, 0x24, 255);
    ExpectCheckCondition(Inquiry("sdb", true, 0xB0, 255, 255), 0x05, 0x24, 255);
    ExpectCheckCondition(Run("sdb", {0x12, 0x02, 0, 0, 96, 0}, 96), 0x05, 0x24, 96);  // CmdDt
    ExpectCheckCondition(Run("sdb", {0x9E, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, 32),
                         0x05, 0x24, 32);
    // Another vendor's disk has none of the array's pages.
    ExpectCheckCondition(Inquiry("sda", true, 0x83, 255, 255), 0x05, 0x24, 255);
}

TEST_F(SimHost, SenseFollowsTheFormAndLengthAsked) {
    LoadWithPathFaults(R"({"sense_format": "descriptor"})");
    ScsiReply r = Run("sdb", {0xFF, 0, 0, 0, 0, 0}, 0);
    ASSERT_EQ(r.sense.size(), 18u);
    EXPECT_EQ(r.sense[0], 0x72);
    EXPECT_EQ(r.sense[1] & 0x0F, 0x05);
    EXPECT_EQ(r.sense[2], 0x20);
    EXPECT_EQ(r.sense[3], 0x00);
    EXPECT_EQ(r.sense[7], 0);  // no descriptors
    EXPECT_EQ(r.driverStatus, 0x08);

    LoadWithPathFaults(R"({"sense_length": 8})");
    r = Inquiry("sdb", true, 0x12);
    ASSERT_EQ(r.sense.size(), 8u);
    EXPECT_EQ(r.sense[0], 0x70);
    EXPECT_EQ(r.sense[2], 0x05);

    LoadWithPathFaults(R"({"sense_length": 32})");
    r = Inquiry("sdb", true, 0x12);
    ASSERT_EQ(r.sense.size(), 32u);
    EXPECT_EQ(r.sense[12], 0x24);
    EXPECT_EQ(std::vector<uint8_t>(r.sense.begin() + 18, r.sense.end()),
              std::vector<uint8_t>(14, 0));

    LoadWithPathFaults(R"({"sense_length": 0})");
    r = Inquiry("sdb", true, 0x12);
    EXPECT_EQ(r.status, 0x02);
    EXPECT_TRUE(r.sense.empty());
}

// ---- Faults -----------------------------------------------------------------------

TEST_F(SimHost, UnitAttentionGreetsOnlyTheFirstTestUnitReadies) {
    LoadWithPathFaults(R"({"unit_attention_turs": 2})");
    DeviceState state;
    ExpectGood(Inquiry("sdb", false, 0, 96, 96, &state));  // not a TUR: not consumed
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ScsiReply r = Tur("sdb", &state);
        EXPECT_EQ(r.status, 0x02);
        EXPECT_EQ(r.driverStatus, 0x08);
        EXPECT_EQ(r.info, 1u);
        ASSERT_EQ(r.sense.size(), 18u);
        EXPECT_EQ(r.sense[2] & 0x0F, 0x06);
        EXPECT_EQ(r.sense[12], 0x29);
        EXPECT_EQ(r.sense[13], 0x00);
    }
    ExpectGood(Tur("sdb", &state));
    EXPECT_EQ(state.tursSeen, 3);
    EXPECT_EQ(state.requestsSeen, 4);
    // Each node keeps its own count.
    ExpectGood(Tur("sdc"));
}

TEST_F(SimHost, HostStatusLastsForTheRequestsCounted) {
    LoadWithPathFaults(R"({"host_status": 7, "host_status_count": 2})");
    DeviceState state;
    for (int i = 0; i < 2; ++i) {
        ScsiReply r = i == 0 ? Tur("sdb", &state) : Inquiry("sdb", false, 0, 96, 96, &state);
        EXPECT_EQ(r.hostStatus, 7) << i;
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.info, 1u);
        EXPECT_TRUE(r.data.empty());
        EXPECT_TRUE(r.sense.empty());
    }
    ScsiReply r = Inquiry("sdb", false, 0, 96, 96, &state);
    ExpectGood(r);
    EXPECT_EQ(r.data.size(), 96u);

    LoadWithPathFaults(R"({"host_status": 14})");
    state = DeviceState();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Tur("sdb", &state).hostStatus, 14) << i;
    }
}

TEST_F(SimHost, IoctlErrnoAndDeadPaths) {
    LoadWithPathFaults(R"({"ioctl_errno": 5})");
    ScsiReply r = Inquiry("sdb", false, 0);
    EXPECT_EQ(r.ioctlErrno, 5);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.hostStatus, 0);
    EXPECT_TRUE(r.data.empty());

    LoadWithPathFaults(R"({"dead": true})");
    for (const ScsiReply& d :
         {Tur("sdb"), Inquiry("sdb", true, 0x83, 255, 255), Capacity10("sdb")}) {
        EXPECT_EQ(d.ioctlErrno, 0);
        EXPECT_EQ(d.hostStatus, 1);  // DID_NO_CONNECT
        EXPECT_EQ(d.status, 0);
        EXPECT_EQ(d.driverStatus, 0);
        EXPECT_EQ(d.info, 1u);
        EXPECT_TRUE(d.data.empty());
        EXPECT_TRUE(d.sense.empty());
    }
    EXPECT_EQ(Inquiry("sdb", true, 0x83, 255, 255).resid, 255);
    ExpectGood(Tur("sdc"));
}

TEST_F(SimHost, MissingPagesAreRefusedAndNotListed) {
    LoadWithPathFaults(R"({"missing_pages": ["0xC9", 128]})");
    ExpectCheckCondition(Inquiry("sdb", true, 0xC9, 255, 255), 0x05, 0x24, 255);
    ExpectCheckCondition(Inquiry("sdb", true, 0x80, 255, 255), 0x05, 0x24, 255);
    std::vector<uint8_t> b = Vpd("sdb", 0x00);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 4, b.end()),
              (std::vector<uint8_t>{0x00, 0x83, 0xC0, 0xC4, 0xC8}));
    EXPECT_TRUE(sansim::EncodePage(topo_, *sansim::FindDevice(topo_, "sdb"), 0xC9).empty());
    EXPECT_EQ(Vpd("sdc", 0xC9).size(), 264u);
}

TEST_F(SimHost, PageLengthFaultMakesAShortPage) {
    LoadWithPathFaults(R"({"page_length": {"0xC9": 20, "0xC8": 1000, "std": 31}})");
    std::vector<uint8_t> b = Vpd("sdb", 0xC9);
    EXPECT_EQ(b.size(), 24u);
    EXPECT_EQ(Be16(b, 2), 20u);
    EXPECT_EQ(b[8], 1);    // what is left is unchanged
    b = Vpd("sdb", 0xC8);  // a length beyond the page only changes the field
    EXPECT_EQ(b.size(), 256u);
    EXPECT_EQ(Be16(b, 2), 1000u);
    ScsiReply r = Inquiry("sdb", false, 0, 255, 255);
    ASSERT_EQ(r.data.size(), 36u);
    EXPECT_EQ(r.data[4], 31);
    EXPECT_EQ(r.resid, 255 - 36);
    EXPECT_EQ(Bytes(r.data, 32, 4), "0100");
}

TEST_F(SimHost, QualifierFaultSetsTheTopBitsOfByteZero) {
    LoadWithPathFaults(R"({"qualifier": {"0x83": 1, "std": 3}})");
    EXPECT_EQ(Vpd("sdb", 0x83)[0], 0x20);
    EXPECT_EQ(Inquiry("sdb", false, 0).data.at(0), 0x60);
    EXPECT_EQ(Vpd("sdb", 0x80)[0], 0x00);
}

TEST_F(SimHost, FailedOpcodesAreRefusedAsUnknownCommands) {
    LoadWithPathFaults(R"({"fail_opcodes": ["0x25", 158]})");
    ExpectCheckCondition(Capacity10("sdb"), 0x05, 0x20, 8);
    ExpectCheckCondition(Capacity16("sdb"), 0x05, 0x20, 32);
    ExpectGood(Inquiry("sdb", true, 0x83));
    ExpectGood(Capacity10("sdc"));
}

TEST_F(SimHost, PatchesLandLastAndGrowThePage) {
    LoadWithPathFaults(R"({
        "page_length": {"0xC4": 26},
        "patches": [{"page": "0xC4", "offset": 29, "hex": "33"},
                    {"page": "std", "offset": 8, "hex": "58 59 5a"},
                    {"page": "rc10", "offset": 4, "hex": "00001000"},
                    {"page": "0x80", "offset": 26, "hex": "aabb"}]})");
    std::vector<uint8_t> b = Vpd("sdb", 0xC4);
    ASSERT_EQ(b.size(), 30u);  // cut to 4 + 26, then grown by the patch
    EXPECT_EQ(Be16(b, 2), 26u);
    EXPECT_EQ(b[29], '3');
    EXPECT_EQ(Bytes(Inquiry("sdb", false, 0).data, 8, 8), "XYZMAR  ");
    EXPECT_EQ(Be32(Capacity10("sdb").data, 4), 4096u);
    b = Vpd("sdb", 0x80);
    ASSERT_EQ(b.size(), 28u);
    EXPECT_EQ(b[24], 0);
    EXPECT_EQ(b[26], 0xAA);
    EXPECT_EQ(b[27], 0xBB);
    EXPECT_EQ(sansim::EncodePage(topo_, *sansim::FindDevice(topo_, "sdb"), 0x80), b);
}

// ---- dm nodes and other devices ---------------------------------------------------

TEST_F(SimHost, DmAnswersAsItsFirstActivePathInListingOrder) {
    Load(BaseHost());
    // LUN 1 works on B: sde (failed) and sdab come before sdd on A.
    const std::vector<uint8_t> viaDm = Vpd("dm-1", 0xC0);
    EXPECT_EQ(Bytes(viaDm, 192, 16), "2100e0fc12345603");  // sdab's target port
    EXPECT_EQ(viaDm, Vpd("sdab", 0xC0));
    EXPECT_EQ(Vpd("dm-0", 0xC4)[29], '1');  // sdb on A

    json host = BaseHost();
    host["luns"][1]["paths"][2]["dm_state"] = "failed";
    Load(host);
    EXPECT_EQ(Vpd("dm-1", 0xC4)[29], '1');  // only sdd is left

    host["luns"][1]["dm_fails_when_no_active_path"] = false;
    host["luns"][1]["paths"][0]["dm_state"] = "failed";
    Load(host);
    EXPECT_EQ(Bytes(Vpd("dm-1", 0xC0), 192, 16), "2100e0fc12345602");  // sde, first listed
}

// LUN 1 of the base host with every path failed.
json NoUsablePath() {
    json host = BaseHost();
    for (json& path : host["luns"][1]["paths"]) {
        path["dm_state"] = "failed";
    }
    return host;
}

TEST_F(SimHost, DmWithoutAUsablePathHoldsWhileItsMapQueues) {
    Load(NoUsablePath());
    DeviceState state;
    for (const ScsiReply& r : {Inquiry("dm-1", false, 0, 96, 96, &state), Tur("dm-1", &state)}) {
        EXPECT_TRUE(r.held);
        EXPECT_EQ(r.ioctlErrno, 0);
        EXPECT_TRUE(r.data.empty());
        EXPECT_TRUE(r.sense.empty());
    }
    EXPECT_TRUE(sansim::EncodePage(topo_, *sansim::FindDevice(topo_, "dm-1"), 0x83).empty());
    EXPECT_FALSE(Tur("dm-0").held);  // the map with paths answers
    ExpectGood(Tur("sdd"));          // the failed paths themselves are no worse

    json host = NoUsablePath();
    host["luns"][1]["queue_if_no_path"] = false;
    Load(host);
    const ScsiReply r = Tur("dm-1");
    EXPECT_FALSE(r.held);
    EXPECT_EQ(r.ioctlErrno, EIO);

    // The dm node's own faults still come first.
    host = NoUsablePath();
    host["luns"][1]["dm_faults"] = json::parse(R"({"ioctl_errno": 13})");
    Load(host);
    EXPECT_EQ(Tur("dm-1").ioctlErrno, 13);
    EXPECT_FALSE(Tur("dm-1").held);
}

TEST_F(SimHost, EsxiDeviceWithoutAnActivePathFailsAsADeadPath) {
    json host = NoUsablePath();
    host["platform"] = "esxi";
    Load(host);
    const std::string node = sansim::EsxiNodeName(sansim::EsxiDeviceName(topo_.luns.at(1)));
    const ScsiReply r = Inquiry(node, false, 0);
    EXPECT_FALSE(r.held);
    EXPECT_EQ(r.ioctlErrno, 0);
    EXPECT_EQ(r.hostStatus, 1);  // DID_NO_CONNECT
    EXPECT_EQ(r.info, 1u);
    EXPECT_TRUE(r.data.empty());
}

TEST_F(SimHost, DmFaultsActBeforeThePathFaults) {
    json host = BaseHost();
    host["luns"][0]["paths"][0]["faults"] = json::parse(R"({"qualifier": {"0x83": 1},
        "unit_attention_turs": 1})");
    Load(host);
    EXPECT_EQ(Vpd("dm-0", 0x83)[0], 0x20);  // the answering path's faults show through

    host["luns"][0]["dm_faults"] = json::parse(R"({"dead": true})");
    Load(host);
    EXPECT_EQ(Tur("dm-0").hostStatus, 1);
    EXPECT_EQ(Tur("sdb").status, 0x02);  // the path itself still has its attention

    host["luns"][0]["dm_faults"] = json::parse(R"({"qualifier": {"0x83": 2},
        "sense_format": "descriptor", "missing_pages": ["0xC8"]})");
    Load(host);
    EXPECT_EQ(Vpd("dm-0", 0x83)[0], 0x40);  // the dm's own setting wins
    ScsiReply r = Inquiry("dm-0", true, 0xC8);
    EXPECT_EQ(r.status, 0x02);
    ASSERT_FALSE(r.sense.empty());
    EXPECT_EQ(r.sense[0], 0x72);
    EXPECT_EQ(Vpd("sdb", 0xC8).size(), 256u);
}

TEST_F(SimHost, OtherDevicesAnswerAsPlainDisks) {
    Load(BaseHost());
    ScsiReply r = Inquiry("sda", false, 0, 96, 96);
    ExpectGood(r);
    ASSERT_EQ(r.data.size(), 96u);
    EXPECT_EQ(Bytes(r.data, 8, 8), "ATA     ");
    EXPECT_EQ(Bytes(r.data, 16, 16), "VIRTUAL-DISK    ");
    EXPECT_EQ(Bytes(r.data, 32, 4), "2.5+");
    std::vector<uint8_t> b = Vpd("sda", 0x00);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 4, b.end()), std::vector<uint8_t>{0x00});
    ExpectGood(Tur("sda"));

    // A loop device refuses SG_IO itself.
    for (const ScsiReply& loop : {Tur("loop0"), Inquiry("loop0", false, 0), Capacity10("loop0")}) {
        EXPECT_EQ(loop.ioctlErrno, ENOTTY);
        EXPECT_TRUE(loop.data.empty());
    }
    EXPECT_TRUE(
        sansim::EncodePage(topo_, *sansim::FindDevice(topo_, "loop0"), sansim::kPageStandard)
            .empty());
}

}  // namespace
