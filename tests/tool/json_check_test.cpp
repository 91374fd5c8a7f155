// The --json document of check failover, written from the findings the
// check hands over: the component, each vlun of the table with its remaining
// paths, a vlun without a known WWN. The document is one per process, so
// this program writes one.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "flushed_output.h"
#include "rendering/tsjson.h"

namespace {

TEST(JsonCheck, FailoverDocumentHoldsWhatTheCheckFound) {
    const char* words[] = {"check", "failover", "host3"};
    tsjson_Start(3, words);
    tsjson_Discovering();
    tsjson_SetView(TS_JSON_FAILOVER, nullptr);
    TsJsonCheckVlun keeps = {"dm-0", "/dev/dm-0", "6e0f01", 2, {}, {}, {}, {}, {}, {}};
    keeps.remaining.push_back({"/dev/sdj", "4:0:0:1"});
    // Findings of check redundancy on a failover vlun are not written.
    keeps.hbas.push_back("host3");
    const TsJsonCheckVlun loses = {"dm-\"1", "/dev/dm-1", "", 1, {}, {}, {}, {}, {}, {}};
    tsjson_SetCheck({true, {"hba", "host3"}, {keeps, loses}});
    int status = -1;
    const std::string out = Flushed([&] {
        status = tsjson_Finish(2);
        (void)fflush(stdout);
    });
    EXPECT_EQ(status, 2);
    const nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << out;
    EXPECT_EQ(doc["view"], "failover");
    EXPECT_EQ(doc["exit_status"], 2);
    EXPECT_EQ(doc["component"], (nlohmann::json{{"kind", "hba"}, {"name", "host3"}}));
    EXPECT_FALSE(doc.contains("redundancy"));
    ASSERT_EQ(doc["failover"].size(), 2u) << out;
    const nlohmann::json& first = doc["failover"][0];
    EXPECT_EQ(first["name"], "dm-0");
    EXPECT_EQ(first["wwn"], "6e0f01");
    EXPECT_EQ(first["active_paths"], 2);
    EXPECT_EQ(first["loses_all_paths"], false);
    EXPECT_EQ(first["remaining_paths"],
              nlohmann::json::parse(R"([{"path": "/dev/sdj", "hctl": "4:0:0:1"}])"));
    EXPECT_FALSE(first.contains("hbas"));
    const nlohmann::json& second = doc["failover"][1];
    EXPECT_EQ(second["name"], "dm-\"1");
    EXPECT_TRUE(second["wwn"].is_null());
    EXPECT_EQ(second["loses_all_paths"], true);
    EXPECT_TRUE(second["remaining_paths"].empty());
}

}  // namespace
