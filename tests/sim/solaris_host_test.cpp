// The Solaris device tree of a simulated host: what the loader accepts and
// refuses, the node names its links get, and the description the host's
// Solaris services read.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim_test_util.h"
#include "solaris_host.h"
#include "topology.h"

namespace {

using simtest::json;

json SolarisHost() {
    json host = simtest::BaseHost();
    host["platform"] = "solaris";
    host["solaris"] = json::parse(R"({
      "nodes": [
        { "driver": "ssd", "devid": "69 64 00 01 0a ff", "device": "sdb",
          "minors": [ { "name": "a", "type": "block", "link": "c1t0d1s0" },
                      { "name": "a,raw", "type": "raw", "link": "c1t0d1s0" } ] },
        { "driver": "dad", "devid_valid": false, "minors": [ { "name": "a,raw" } ] } ] })");
    return host;
}

TEST(SolarisHost, LinksNameTheDevicesOfTheirNodes) {
    simtest::ScratchDir dir;
    sansim::Topology topo;
    ASSERT_EQ(simtest::LoadText(dir, SolarisHost().dump(), &topo), "");
    ASSERT_NE(topo.solaris, nullptr);
    const sansim::DeviceRef* raw = sansim::FindDevice(topo, "rdsk/c1t0d1s0");
    const sansim::DeviceRef* block = sansim::FindDevice(topo, "dsk/c1t0d1s0");
    const sansim::DeviceRef* sdb = sansim::FindDevice(topo, "sdb");
    ASSERT_NE(raw, nullptr);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(raw->kind, sdb->kind);
    EXPECT_EQ(raw->lun, sdb->lun);
    EXPECT_EQ(raw->path, sdb->path);
    EXPECT_EQ(sansim::RenderSolarisTree(*topo.solaris),
              "# simulated Solaris device tree\n"
              "node ssd 696400010aff 1\n"
              "minor a block /dev/dsk/c1t0d1s0\n"
              "minor a,raw raw /dev/rdsk/c1t0d1s0\n"
              "node dad - 0\n"
              "minor a,raw raw -\n");
}

TEST(SolarisHost, RefusesWhatCannotBeLaidOut) {
    struct Case {
        const char* what;
        std::string patch;  // JSON merged over solaris.nodes[0]
        std::string error;
    } cases[] = {
        {"unknown key", R"({"drivr": "ssd"})", "solaris.nodes[0].drivr: unknown key"},
        {"odd hex", R"({"devid": "696"})", "solaris.nodes[0].devid"},
        {"unknown device", R"({"device": "sdz"})", "\"sdz\" names no device"},
        {"slash in a link", R"({"minors": [{"name": "a,raw", "link": "x/y"}]})",
         "solaris.nodes[0].minors[0].link"},
        {"minor type", R"({"minors": [{"name": "a,raw", "type": "char"}]})",
         "expected \"raw\" or \"block\""},
    };
    for (const Case& c : cases) {
        json host = SolarisHost();
        host["solaris"]["nodes"][0].merge_patch(json::parse(c.patch));
        simtest::ScratchDir dir;
        sansim::Topology topo;
        EXPECT_NE(simtest::LoadText(dir, host.dump(), &topo).find(c.error), std::string::npos)
            << c.what;
    }
    // Two minors with one raw link.
    json host = SolarisHost();
    host["solaris"]["nodes"][1]["device"] = "sdc";
    host["solaris"]["nodes"][1]["minors"][0]["link"] = "c1t0d1s0";
    simtest::ScratchDir dir;
    sansim::Topology topo;
    EXPECT_NE(simtest::LoadText(dir, host.dump(), &topo).find("duplicate link /dev/rdsk/c1t0d1s0"),
              std::string::npos);
}

TEST(SolarisHost, OnlyASolarisHostHasATree) {
    json host = SolarisHost();
    host["platform"] = "linux";
    simtest::ScratchDir dir;
    sansim::Topology topo;
    EXPECT_NE(simtest::LoadText(dir, host.dump(), &topo).find("only a \"solaris\" platform"),
              std::string::npos);
    host.erase("solaris");
    host["platform"] = "solaris";
    ASSERT_EQ(simtest::LoadText(dir, host.dump(), &topo), "");
    ASSERT_NE(topo.solaris, nullptr);
    EXPECT_TRUE(topo.solaris->snapshot);
    EXPECT_TRUE(topo.solaris->nodes.empty());
}

}  // namespace
