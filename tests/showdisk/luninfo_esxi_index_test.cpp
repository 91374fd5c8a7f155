// The ESXi path index against the walk over the path list: same paths, same
// order, for random listings with repeated and prefix-sharing devices.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "luninfo_esxi.h"

namespace {

std::vector<std::string> PathsOf(const LunInfo* lun) {
    std::vector<std::string> out;
    for (const list_head* p = lun->paths.next; p != &lun->paths; p = p->next) {
        const LunInfo* path = lun_of(const_cast<list_head*>(p));
        out.push_back(std::string(path->dev_name) + "|" + path->path_status + "|" + path->host_no +
                      "|" + path->port_type);
    }
    return out;
}

std::vector<std::string> Attach(const char* device, bool indexed) {
    LunInfo lun{};
    INIT_LIST_HEAD(&lun.paths);
    std::snprintf(lun.dev_name, sizeof(lun.dev_name), "%s", device);
    if (indexed) {
        index_path_list();
    }
    get_path_info_from_pathlist(&lun);
    drop_path_index();
    std::vector<std::string> paths = PathsOf(&lun);
    while (list_empty(&lun.paths) == 0) {
        list_head* p = lun.paths.next;
        list_del(p);
        free(lun_of(p));
    }
    return paths;
}

void AddPath(const std::string& runtime, const std::string& device, const char* state) {
    PathListEntry* current = nullptr;
    ASSERT_EQ(path_list_line(("   Runtime Name: " + runtime).c_str(), &current), 0);
    ASSERT_EQ(path_list_line(("   Device: " + device).c_str(), &current), 0);
    ASSERT_EQ(path_list_line((std::string("   State: ") + state).c_str(), &current), 0);
    ASSERT_EQ(path_list_line("   Transport: fc", &current), 0);
}

TEST(EsxiPathIndex, GivesTheWalksPathsInListingOrder) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        INIT_LIST_HEAD(&g_pathlist);
        const int devices = 1 + static_cast<int>(rng() % 12);
        const int paths = static_cast<int>(rng() % 60);
        for (int k = 0; k < paths; ++k) {
            int d = static_cast<int>(rng() % devices);
            // Devices 0 and 10 share a prefix ("naa.60" and "naa.600").
            std::string device = "naa.60" + std::string(d == 10 ? "0" : "") + std::to_string(d);
            AddPath("vmhba" + std::to_string(k % 5) + ":C0:T" + std::to_string(k) + ":L" +
                        std::to_string(d),
                    device, k % 3 == 0 ? "dead" : "active");
        }
        for (int d = 0; d <= devices; ++d) {
            std::string device = "naa.60" + std::string(d == 10 ? "0" : "") + std::to_string(d);
            std::vector<std::string> walked = Attach(device.c_str(), false);
            EXPECT_EQ(Attach(device.c_str(), true), walked) << "round " << round << " " << device;
        }
        free_pathlist();
    }
}

TEST(EsxiPathIndex, MatchesWholeDeviceNamesOnly) {
    INIT_LIST_HEAD(&g_pathlist);
    AddPath("vmhba2:C0:T0:L1", "naa.61", "active");
    AddPath("vmhba2:C0:T0:L2", "naa.6", "active");
    AddPath("vmhba3:C0:T1:L1", "naa.61", "dead");
    const std::vector<std::string> expected = {"vmhba2:C0:T0:L1|active|2|fc",
                                               "vmhba3:C0:T1:L1|dead|3|fc"};
    EXPECT_EQ(Attach("naa.61", true), expected);
    EXPECT_EQ(Attach("naa.61", false), expected);
    EXPECT_EQ(Attach("naa.6", true), std::vector<std::string>{"vmhba2:C0:T0:L2|active|2|fc"});
    EXPECT_TRUE(Attach("naa.", true).empty());
    free_pathlist();
}

}  // namespace
