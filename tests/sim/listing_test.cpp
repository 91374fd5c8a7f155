// The rendered "multipath -ll" listing: both formats line by line, size texts,
// device numbers, path groups, canned listings, and the line shapes and tree
// structure of real listings (read from the shared samples when present).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "listing.h"
#include "sim_test_util.h"
#include "topology.h"

namespace {

using sansim::Topology;
using simtest::BaseHost;
using simtest::json;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

class Listing : public ::testing::Test {
  protected:
    std::string Render(const json& host) {
        Topology topo;
        const std::string error = simtest::LoadText(dir_, host.dump(), &topo);
        EXPECT_EQ(error, "");
        return sansim::RenderMultipathListing(topo);
    }
    // The size text of LUN 0's map.
    std::string SizeOf(uint64_t bytes) {
        json host = BaseHost();
        host["luns"][0]["size_bytes"] = bytes;
        const std::vector<std::string> lines = Lines(Render(host));
        if (lines.size() < 2 || lines[1].compare(0, 5, "size=") != 0) {
            return "<no size line>";
        }
        return lines[1].substr(5, lines[1].find(' ') - 5);
    }

    simtest::ScratchDir dir_;
};

TEST_F(Listing, CurrentFormatFollowsTheRules) {
    // The device number column is as wide as sdab's 65:176; LUN 1's worker B
    // paths (sde, sdab) form its active group ahead of sdd on A.
    EXPECT_EQ(Render(BaseHost()),
              "mpatha (36e0fc123456789abcdef012345670011) dm-0 QELMAR,VSA1000\n"
              "size=10G features='1 queue_if_no_path' hwhandler='1 alua' wp=rw\n"
              "|-+- policy='service-time 0' prio=50 status=active\n"
              "| `- 3:0:0:1 sdb  8:16   active ready running\n"
              "`-+- policy='service-time 0' prio=10 status=enabled\n"
              "  `- 4:0:1:1 sdc  8:32   active ready running\n"
              "36e0fc123456789abcdef0123456700a2 dm-1 QELMAR,VSA1000\n"
              "size=1.5T features='1 queue_if_no_path' hwhandler='1 alua' wp=rw\n"
              "|-+- policy='service-time 0' prio=50 status=active\n"
              "| |- 4:0:1:2 sde  8:64   failed faulty running\n"
              "| `- 4:0:2:2 sdab 65:176 active ready running\n"
              "`-+- policy='service-time 0' prio=10 status=enabled\n"
              "  `- 3:0:0:2 sdd  8:48   active ready running\n");
}

TEST_F(Listing, BracketedFormatFollowsTheRules) {
    json host = BaseHost();
    host["multipath"] = {{"format", "bracketed"}};
    host["luns"][0]["listing_size"] = "9.9G";
    host["arrays"][0]["vendor"] = "QEL";
    EXPECT_EQ(Render(host),
              "mpatha (36e0fc123456789abcdef012345670011) dm-0 QEL,VSA1000\n"
              "[size=9.9G][features=1 queue_if_no_path][hwhandler=1 alua][rw]\n"
              "\\_ round-robin 0 [prio=50][active]\n"
              " \\_ 3:0:0:1 sdb  8:16   [active][ready]\n"
              "\\_ round-robin 0 [prio=10][enabled]\n"
              " \\_ 4:0:1:1 sdc  8:32   [active][ready]\n"
              "36e0fc123456789abcdef0123456700a2 dm-1 QEL,VSA1000\n"
              "[size=1.5T][features=1 queue_if_no_path][hwhandler=1 alua][rw]\n"
              "\\_ round-robin 0 [prio=50][active]\n"
              " \\_ 4:0:1:2 sde  8:64   [failed][faulty]\n"
              " \\_ 4:0:2:2 sdab 65:176 [active][ready]\n"
              "\\_ round-robin 0 [prio=10][enabled]\n"
              " \\_ 3:0:0:2 sdd  8:48   [active][ready]\n");
}

TEST_F(Listing, SizesUseTheLargestUnitWithOneDecimalWhenNotWhole) {
    const uint64_t kK = 1024, kM = kK * 1024, kG = kM * 1024, kT = kG * 1024;
    EXPECT_EQ(SizeOf(10 * kG), "10G");
    EXPECT_EQ(SizeOf(3 * kT / 2), "1.5T");
    EXPECT_EQ(SizeOf(1022 * kM), "1022M");
    EXPECT_EQ(SizeOf(kT), "1T");
    EXPECT_EQ(SizeOf(kT + 20 * kG), "1.0T");  // 1.02T
    EXPECT_EQ(SizeOf(299 * kG + kG / 2), "299.5G");
    EXPECT_EQ(SizeOf(kG - kM / 50), "1.0G");  // 1023.98M rounds up into the next unit
    EXPECT_EQ(SizeOf(512), "0.5K");
    EXPECT_EQ(SizeOf(0), "0K");
    EXPECT_EQ(SizeOf(kT * kM), "1E");
}

TEST_F(Listing, DeviceNumbersFollowTheSdDriver) {
    // Pairs seen in real listings, and the turn past 256 disks.
    const std::vector<std::pair<std::string, std::string>> disks = {
        {"sda", "8:0"},     {"sdb", "8:16"},     {"sdp", "8:240"},   {"sdq", "65:0"},
        {"sdaa", "65:160"}, {"sdag", "66:0"},    {"sdao", "66:128"}, {"sddk", "71:32"},
        {"sddv", "71:208"}, {"sdiv", "135:240"}, {"sdiw", "8:256"},
    };
    json host = BaseHost();
    host.erase("others");
    host["luns"].erase(1);
    json& paths = host["luns"][0]["paths"];
    paths = json::array();
    for (size_t i = 0; i < disks.size(); ++i) {
        paths.push_back({{"sd", disks[i].first},
                         {"hctl", "3:0:" + std::to_string(i) + ":1"},
                         {"target_port", "a1-p0"}});
    }
    const std::vector<std::string> lines = Lines(Render(host));
    ASSERT_EQ(lines.size(), 3 + disks.size());
    const std::regex path(R"(^  [|`]- \S+ +(\S+) +(\S+) +active ready running$)");
    for (size_t i = 0; i < disks.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[3 + i], m, path)) << lines[3 + i];
        EXPECT_EQ(m[1].str(), disks[i].first);
        EXPECT_EQ(m[2].str(), disks[i].second);
        // Columns are padded to the widest entry: states start together.
        EXPECT_EQ(lines[3 + i].find(" active"), lines[3].find(" active"));
    }
}

TEST_F(Listing, PathGroupsAndTheirPriorities) {
    json host = BaseHost();
    host["luns"].erase(1);
    host["luns"][0]["worker"] = "B";
    host["luns"][0]["paths"][1]["checker_state"] = "faulty";  // the only path on B
    host["luns"][0]["paths"][1]["dm_state"] = "failed";
    std::vector<std::string> lines = Lines(Render(host));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "|-+- policy='service-time 0' prio=0 status=active");
    EXPECT_EQ(lines[3], "| `- 4:0:1:1 sdc 8:32 failed faulty running");
    EXPECT_EQ(lines[4], "`-+- policy='service-time 0' prio=10 status=enabled");
    EXPECT_EQ(lines[5], "  `- 3:0:0:1 sdb 8:16 active ready running");

    // Every path on the worker: no enabled group at all.
    host["luns"][0]["worker"] = "A";
    host["luns"][0]["paths"][1]["target_port"] = "a1-p0";
    lines = Lines(Render(host));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "`-+- policy='service-time 0' prio=50 status=active");
    EXPECT_EQ(lines[3], "  |- 3:0:0:1 sdb 8:16 active ready running");
    EXPECT_EQ(lines[4], "  `- 4:0:1:1 sdc 8:32 failed faulty running");

    // No path on the worker: only the enabled group.
    host["luns"][0]["worker"] = "B";
    lines = Lines(Render(host));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "`-+- policy='service-time 0' prio=10 status=enabled");
}

TEST_F(Listing, FeaturesSayWhetherTheMapQueuesWithoutAPath) {
    // LUN 1 does not queue: its map has no feature words; LUN 0 keeps its own.
    json host = BaseHost();
    host["luns"][1]["queue_if_no_path"] = false;
    std::vector<std::string> lines = Lines(Render(host));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[1], "size=10G features='1 queue_if_no_path' hwhandler='1 alua' wp=rw");
    EXPECT_EQ(lines[7], "size=1.5T features='0' hwhandler='1 alua' wp=rw");

    host["multipath"] = {{"format", "bracketed"}};
    lines = Lines(Render(host));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[1], "[size=10G][features=1 queue_if_no_path][hwhandler=1 alua][rw]");
    EXPECT_EQ(lines[7], "[size=1.5T][features=0][hwhandler=1 alua][rw]");
}

TEST_F(Listing, CannedListingIsPrintedVerbatim) {
    const std::string canned = "odd listing\n\twith a tab and no final newline";
    dir_.Write("canned.txt", canned);
    json host = BaseHost();
    host["multipath"] = {{"canned_listing", "canned.txt"}, {"format", "bracketed"}};
    EXPECT_EQ(Render(host), canned);
}

// ---- Shapes of real listings ----------------------------------------------------

const std::regex kHeader(R"(^(\S+ \(3[0-9a-f]{32}\)|3[0-9a-f]{32}) dm-[0-9]+ [^,]+,.+$)");

struct Shape {
    std::regex size, group, path;
    size_t stateGroup;  // submatch where the state columns begin
};

const Shape kCurrent = {
    std::regex(R"(^size=[0-9.]+[KMGTPE] features='[^']*' hwhandler='[^']*' wp=r[wo]$)"),
    std::regex(R"(^([|`])-\+- policy='[^']+' prio=[0-9]+ status=(active|enabled)$)"),
    std::regex(R"(^([| ]) ([|`])- (\S+) +(\S+) +(\S+) +(\S+ \S+ \S+)$)"), 6};

const Shape kBracketed = {
    std::regex(R"(^\[size=[0-9.]+[KMGTPE]\]\[features=[^\]]*\]\[hwhandler=[^\]]*\](\[r[wo]\])?$)"),
    std::regex(R"(^\\_ \S+ 0 \[prio=[0-9]+\]\[(active|enabled)\]$)"),
    std::regex(R"(^ \\_ (\S+) +(\S+) +(\S+) +(\[\w+\]\[\w+\]) ?$)"), 4};

// Checks a listing's maps: a header, a size line, path groups with at least
// one path each, the tree marks of the current format ("`" on the last group
// and the last path, "|" carried down a group that is not last), and state
// columns that start together on every path line (placeholder paths aside).
// Lines of no listing shape are counted in *unmatched and skipped. Returns
// what is wrong, or "".
std::string CheckListing(const std::string& text, const Shape& shape, bool current,
                         int* unmatched) {
    struct PathLine {
        char prefix, mark;
        size_t line;
    };
    struct Group {
        char mark;
        std::vector<PathLine> paths;
    };
    std::vector<std::vector<Group>> maps;
    std::vector<std::string> lines = Lines(text);
    size_t stateColumn = std::string::npos;
    bool sizeExpected = false;
    *unmatched = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::string at = "line " + std::to_string(i + 1) + " \"" + line + "\": ";
        std::smatch m;
        if (std::regex_match(line, kHeader)) {
            if (sizeExpected) {
                return at + "a header where the size line belongs";
            }
            maps.emplace_back();
            sizeExpected = true;
        } else if (std::regex_match(line, shape.size)) {
            if (!sizeExpected) {
                return at + "a size line not after a header";
            }
            sizeExpected = false;
        } else if (std::regex_match(line, m, shape.group)) {
            if (maps.empty() || sizeExpected) {
                return at + "a path group outside a map";
            }
            maps.back().push_back({current ? m[1].str()[0] : '`', {}});
        } else if (std::regex_match(line, m, shape.path)) {
            if (maps.empty() || maps.back().empty()) {
                return at + "a path outside a path group";
            }
            const char prefix = current ? m[1].str()[0] : ' ';
            const char mark = current ? m[2].str()[0] : '`';
            maps.back().back().paths.push_back({prefix, mark, i});
            const bool placeholder = m[current ? 3 : 1].str() == "#:#:#:#";
            const size_t column = static_cast<size_t>(m.position(shape.stateGroup));
            if (!placeholder) {
                if (stateColumn == std::string::npos) {
                    stateColumn = column;
                } else if (column != stateColumn) {
                    return at + "states start at column " + std::to_string(column) + ", not " +
                           std::to_string(stateColumn);
                }
            }
        } else {
            ++*unmatched;
        }
    }
    if (maps.empty()) {
        return "no map";
    }
    for (const auto& groups : maps) {
        if (groups.empty()) {
            return "a map without path groups";
        }
        for (size_t g = 0; g < groups.size(); ++g) {
            const bool lastGroup = g + 1 == groups.size();
            if (groups[g].paths.empty()) {
                return "a path group without paths";
            }
            if (!current) {
                continue;
            }
            if ((groups[g].mark == '`') != lastGroup) {
                return "group mark wrong for a group " + std::string(lastGroup ? "" : "not ") +
                       "last";
            }
            for (size_t k = 0; k < groups[g].paths.size(); ++k) {
                const PathLine& p = groups[g].paths[k];
                const bool lastPath = k + 1 == groups[g].paths.size();
                if ((p.prefix == '|') == lastGroup) {
                    return "line " + std::to_string(p.line + 1) + ": wrong group rail";
                }
                if ((p.mark == '`') != lastPath) {
                    return "line " + std::to_string(p.line + 1) + ": wrong path mark";
                }
            }
        }
    }
    return "";
}

struct Sample {
    const char* file;
    bool current;
    int unmatched;  // lines that are no part of a map (messages); -1: any number
};

const Sample kSamples[] = {
    {"mpath-02-modern-netapp-debian-squeeze.txt", true, 0},
    {"mpath-03-modern-netapp-orphan-path-hashes.txt", true, 0},
    {"mpath-05-modern-dell-md32xx-rdac-failed-checker.txt", true, 0},
    {"mpath-06-modern-dell-md32xx-orphan-path.txt", true, 0},
    {"mpath-24-modern-lio-failed-faulty-two-maps.txt", true, 0},
    {"mpath-25-modern-lio-failed-ready-reinstating.txt", true, 0},
    {"mpath-04-oldformat-fujitsu-eternus.txt", false, 0},
    {"mpath-07-oldformat-dgc-alua-checker-msg.txt", false, 1},
    {"mpath-32-v4-ll-rhel5-verbose-debug-dgc.txt", false, -1},
};

bool ReadSample(const std::string& name, std::string* text) {
    std::ifstream in(std::string(SANSIM_SAMPLES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    *text = s.str();
    return static_cast<bool>(in);
}

// The shape checks are only as good as their agreement with real listings.
TEST(ListingSamples, RealListingsPassTheShapeChecks) {
    if (!std::filesystem::is_directory(SANSIM_SAMPLES_DIR)) {
        GTEST_SKIP() << "no samples at " << SANSIM_SAMPLES_DIR;
    }
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.file);
        std::string text;
        ASSERT_TRUE(ReadSample(s.file, &text));
        int unmatched = 0;
        EXPECT_EQ(CheckListing(text, s.current ? kCurrent : kBracketed, s.current, &unmatched), "");
        if (s.unmatched >= 0) {
            EXPECT_EQ(unmatched, s.unmatched);
        }
    }
}

TEST_F(Listing, RenderedListingsHaveTheShapesOfRealOnes) {
    if (!std::filesystem::is_directory(SANSIM_SAMPLES_DIR)) {
        GTEST_SKIP() << "no samples at " << SANSIM_SAMPLES_DIR;
    }
    json wide = BaseHost();  // paths with wider names and numbers than their neighbours
    wide["luns"][0]["paths"].push_back(
        {{"sd", "sddv"}, {"hctl", "13:0:10:11"}, {"target_port", "a1-p2"}});
    wide["scsi_hosts"].push_back({{"number", 13}});
    for (const json& host : {BaseHost(), wide}) {
        for (const char* format : {"current", "bracketed"}) {
            SCOPED_TRACE(format);
            json h = host;
            h["multipath"] = {{"format", format}};
            const bool current = std::string(format) == "current";
            const std::string text = Render(h);
            int unmatched = 0;
            EXPECT_EQ(CheckListing(text, current ? kCurrent : kBracketed, current, &unmatched), "")
                << text;
            EXPECT_EQ(unmatched, 0) << text;
        }
    }

    // The checker does catch a broken tree and a misaligned column.
    int unmatched = 0;
    std::string broken = Render(BaseHost());
    broken.replace(broken.find("| `- "), 5, "| |- ");
    EXPECT_NE(CheckListing(broken, kCurrent, true, &unmatched), "");
    broken = Render(BaseHost());
    broken.replace(broken.find("sdb  8:16"), 9, "sdb 8:16");
    EXPECT_NE(CheckListing(broken, kCurrent, true, &unmatched), "");
}

}  // namespace
