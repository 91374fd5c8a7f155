// Tests of discovery: the listing cutters (on lines built here and on every
// line of the real listings beside the repository), the phypath merge, the
// device copies and the name checks without a device; the multipath and
// /sys/block discovery on simulated hosts. The Sim* suites run inside
//
//   sansim run tests/tool/hosts/discovery*.json -- tool_discovery_tests --gtest_filter=Sim...
//
// and skip anywhere else.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "boundedfunc.h"
#include "discovery/tsioctrl.h"
#include "discovery/tstopology_devices.h"
#include "discovery/tstopology_discovery.h"
#include "discovery/tstopology_listing.h"
#include "discovery/tstopology_transport.h"
#include "records/tstopology.h"
#include "rendering/tsprint.h"

namespace {

constexpr int kQuiet = 99;
constexpr int kVerbose = 0;

// ---------------------------------------------------------------------------
// Helpers

struct Cut {
    int result;
    std::string text;
};

Cut Segment(const char* text, char delim, int index, int direction, int size = 256) {
    std::vector<char> dest(static_cast<size_t>(size) + 1, 'Z');  // one guard byte behind
    int result = GetStringSegmentWithInChar(text, delim, index, direction, dest.data(), size);
    EXPECT_EQ(dest[static_cast<size_t>(size)], 'Z') << "written beyond the destination";
    return {result, std::string(dest.data(), strnlen(dest.data(), static_cast<size_t>(size)))};
}

Cut Wwn(const char* line) {
    char dest[64] = "--";
    int result = GetDMwwnStringFromLinebuf(line, dest, sizeof dest);
    return {result, dest};
}

Cut DmName(const char* line) {
    char dest[64] = "untouched";
    int result = GetDMnameStringFromLinebuf(line, dest, sizeof dest);
    return {result, dest};
}

Cut Alias(const char* line) {
    char dest[128] = "untouched";
    int result = GetDMaliasStringFromLinebuf(line, dest, sizeof dest);
    return {result, dest};
}

Cut WwidWord(const char* line) {
    char dest[128] = "untouched";
    int result = GetDMwwidWordFromLinebuf(line, dest, sizeof dest);
    return {result, dest};
}

Cut Size(const char* line) {
    TsText<16> dest{};
    (void)sprintf_s(dest.data(), dest.size(), "--");
    int result = GetSizeFromLinebuf(line, dest.data(), static_cast<int>(dest.size()));
    return {result, dest.data()};
}

struct VidPid {
    int result;
    std::string vendor;
    std::string product;
};

VidPid Vendor(const char* line) {
    char vendor[64] = {};
    char product[64] = {};
    int result = GetDMvidpidStringFromLinebuf(line, vendor, product, sizeof vendor);
    return {result, vendor, product};
}

// A path record with a parent, ready for the address cutters.
struct PathFixture {
    VlunInfo vlun;
    PathInfo path;
    PathFixture() {
        tstopo_InitVlunInfoToDefault(&vlun);
        tstopo_InitPathInfoToDefault(&path, &vlun);
    }
};

std::string Hctl(const char* line, int* result) {
    PathFixture f;
    *result = GetHTCLFromLinebuf(line, &f.path);
    return f.path.acHctl.data();
}

void FreeAllLists() {
    for (ListHead* link = g_tsvlunlist.next; link != &g_tsvlunlist;) {
        ListHead* next = link->next;
        VlunInfo* vlun = list_entry(link, VlunInfo, stList);
        for (ListHead* p = vlun->stPathList.next; p != &vlun->stPathList;) {
            ListHead* pnext = p->next;
            list_del(p);
            free(list_entry(p, PathInfo, stList));
            p = pnext;
        }
        list_del(link);
        free(vlun);
        link = next;
    }
    for (ListHead* head : {&g_tsphypathlist, &g_tsdevicelist}) {
        for (ListHead* link = head->next; link != head;) {
            ListHead* next = link->next;
            list_del(link);
            free(link);  // phypaths and devices begin with their link
            link = next;
        }
    }
}

std::vector<std::string> VlunNames() {
    std::vector<std::string> names;
    for (ListHead* link = g_tsvlunlist.next; link != &g_tsvlunlist; link = link->next) {
        names.emplace_back(list_entry(link, VlunInfo, stList)->stDev.acDevName.data());
    }
    return names;
}

std::vector<PathInfo*> Paths(VlunInfo* vlun) {
    std::vector<PathInfo*> paths;
    for (ListHead* link = vlun->stPathList.next; link != &vlun->stPathList; link = link->next) {
        paths.push_back(list_entry(link, PathInfo, stList));
    }
    return paths;
}

std::vector<std::string> PathNames(VlunInfo* vlun) {
    std::vector<PathInfo*> paths = Paths(vlun);
    std::vector<std::string> names(paths.size());
    std::transform(paths.begin(), paths.end(), names.begin(),
                   [](const PathInfo* path) { return path->stDev.acDevName.data(); });
    return names;
}

std::vector<std::string> PathHctls(VlunInfo* vlun) {
    std::vector<PathInfo*> paths = Paths(vlun);
    std::vector<std::string> hctls(paths.size());
    std::transform(paths.begin(), paths.end(), hctls.begin(),
                   [](const PathInfo* path) { return path->acHctl.data(); });
    return hctls;
}

std::vector<PhypathInfo*> Phypaths() {
    std::vector<PhypathInfo*> all;
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        all.push_back(list_entry(link, PhypathInfo, stNode));
    }
    return all;
}

std::vector<DevInfo*> Devices() {
    std::vector<DevInfo*> all;
    for (ListHead* link = g_tsdevicelist.next; link != &g_tsdevicelist; link = link->next) {
        all.push_back(list_entry(link, DevInfo, stNode));
    }
    return all;
}

DevInfo* FindDevice(const std::string& name) {
    std::vector<DevInfo*> all = Devices();
    auto it = std::find_if(all.begin(), all.end(),
                           [&](const DevInfo* dev) { return name == dev->acDevName.data(); });
    return it == all.end() ? nullptr : *it;
}

template <size_t N>
void Set(TsText<N>& field, const char* text) {
    ASSERT_GE(sprintf_s(field.data(), field.size(), "%s", text), 0);
}

// Files in a directory, "." and ".." aside.
std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
                names.emplace_back(e->d_name);
            }
        }
        closedir(d);
    }
    return names;
}

// Runs in a fresh scratch directory (where a command smuggled into a shell
// would leave its marker files) and goes back afterwards.
class ScratchDir {
  public:
    ScratchDir() {
        char templ[] = "/tmp/discovery_test.XXXXXX";
        if (mkdtemp(templ) != nullptr && getcwd(old_, sizeof old_) != nullptr &&
            chdir(templ) == 0) {
            path_ = templ;
        }
    }
    ~ScratchDir() {
        if (path_.empty()) {
            return;
        }
        (void)chdir(old_);
        for (const std::string& name : FilesIn(path_)) {
            (void)unlink((path_ + "/" + name).c_str());
        }
        (void)rmdir(path_.c_str());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return path_; }

  private:
    char old_[4096] = {};
    std::string path_;
};

class QuietLog {
  public:
    QuietLog() { tsprint_SetLogLevel(kQuiet); }
    ~QuietLog() { tsprint_SetLogLevel(kQuiet); }
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;
};

// ---------------------------------------------------------------------------
// Transport classes: a scratch /sys/class of an FC host 3 with a remote port
// to target 1 and an iSCSI host 5 with a session to target 0.

TEST(TransportNames, FcPortNamesTakeThePagesForm) {
    struct Case {
        const char* sysfs;
        const char* expected;  // nullptr: refused
    } const cases[] = {{"0x2100e0fc12345601", "2100e0fc12345601"},
                       {"0X2100E0FC12345601", "2100e0fc12345601"},
                       {"0x500601", "0000000000500601"},
                       {"2100e0fc12345601", "2100e0fc12345601"},
                       {"0x", nullptr},
                       {"0x12345678901234567", nullptr},
                       {"0xzz00e0fc12345601", nullptr},
                       {"", nullptr}};
    for (const Case& c : cases) {
        char text[64] = "untouched";
        const int result = tstopo_FcPortNameText(c.sysfs, text, sizeof text);
        if (c.expected == nullptr) {
            EXPECT_EQ(result, -1) << c.sysfs;
        } else {
            EXPECT_EQ(result, 0) << c.sysfs;
            EXPECT_STREQ(text, c.expected) << c.sysfs;
        }
    }
    char small[16];
    EXPECT_EQ(tstopo_FcPortNameText("0x2100e0fc12345601", small, sizeof small), -1);
}

class Transport : public testing::Test {
  protected:
    void SetUp() override {
        Write("fc_host/host3/port_name", "0x21000024ff4a5b01\n");
        Write("fc_host/host3/port_state", "Online\n");
        Write("fc_remote_ports/rport-3:0-0/scsi_target_id", "0\n");
        Write("fc_remote_ports/rport-3:0-0/port_name", "0x2100e0fc12345600\n");
        Write("fc_remote_ports/rport-3:0-7/scsi_target_id", "1\n");
        Write("fc_remote_ports/rport-3:0-7/port_name", "0x2110e0fc12345601\n");
        Write("fc_remote_ports/rport-3:0-7/port_state", "Blocked\n");
        Write("fc_remote_ports/rport-13:0-1/scsi_target_id", "1\n");
        Write("iscsi_host/host5/initiatorname", "iqn.1993-08.org.debian:01:host\n");
        Write("iscsi_session/session2/targetname", "iqn.2006-08.com.qelmar:a0\n");
        Write("iscsi_session/session2/tpgt", "257\n");
        Write("iscsi_session/session2/state", "FAILED\n");
        Write("iscsi_session/session2/device/target5:0:0/.keep", "");
        tstopo_SetTransportRoot(dir_.Path().c_str());
    }
    void TearDown() override {
        tstopo_SetTransportRoot(nullptr);
        (void)system(("rm -rf '" + dir_.Path() + "'/*").c_str());
    }
    void Write(const std::string& name, const std::string& text) {
        const std::string path = dir_.Path() + "/" + name;
        (void)system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str());
        std::ofstream(path) << text;
    }
    static PathInfo Path(int host, int channel, int target) {
        PathInfo path{};
        tstopo_InitPathInfoToDefault(&path, reinterpret_cast<VlunInfo*>(&path));
        path.iHctlValid = 1;
        path.iHost = host;
        path.iChannel = channel;
        path.iTarget = target;
        return path;
    }
    static std::string StateOf(int host, int channel, int target) {
        PhypathInfo phypath{};
        (void)sprintf_s(phypath.acStatus.data(), phypath.acStatus.size(), "active");
        phypath.iHctValid = 1;
        phypath.iHost = host;
        phypath.iChannel = channel;
        phypath.iTarget = target;
        tstopo_TakeTransportState(&phypath);
        return phypath.acStatus.data();
    }
    ScratchDir dir_;
};

TEST_F(Transport, SilentPathsTakeTheirPortsByHctl) {
    struct Case {
        int host, channel, target;
        const char* hostWwn;
        const char* targetWwn;
    } const cases[] = {
        {3, 0, 1, "21000024ff4a5b01", "2110e0fc12345601"},  // rport-3:0-7, not rport-13:0-1
        {3, 0, 0, "21000024ff4a5b01", "2100e0fc12345600"},
        {3, 0, 2, "21000024ff4a5b01", "--"},  // no remote port with that target id
        {3, 1, 1, "21000024ff4a5b01", "--"},  // nor on channel 1
        {5, 0, 0, "iqn.1993-08.org.debian:01:host", "iqn.2006-08.com.qelmar:a0,t,0x0101"},
        {5, 0, 1, "iqn.1993-08.org.debian:01:host", "--"},
        {4, 0, 0, "--", "--"},  // a host of no transport class
    };
    for (const Case& c : cases) {
        PathInfo path = Path(c.host, c.channel, c.target);
        tstopo_TakePortsFromTransport(&path);
        EXPECT_STREQ(path.stDev.acHostWwn.data(), c.hostWwn) << c.host << ":" << c.target;
        EXPECT_STREQ(path.stDev.acTargetWwn.data(), c.targetWwn) << c.host << ":" << c.target;
    }
}

TEST_F(Transport, PortsFromThePageOrWithoutAddressStay) {
    PathInfo path = Path(3, 0, 1);
    (void)sprintf_s(path.stDev.acHostWwn.data(), path.stDev.acHostWwn.size(), "page-host");
    tstopo_TakePortsFromTransport(&path);
    EXPECT_STREQ(path.stDev.acHostWwn.data(), "page-host");
    EXPECT_STREQ(path.stDev.acTargetWwn.data(), "2110e0fc12345601") << "only the missing one";
    PathInfo unaddressed = Path(3, 0, 1);
    unaddressed.iHctlValid = 0;
    tstopo_TakePortsFromTransport(&unaddressed);
    EXPECT_STREQ(unaddressed.stDev.acHostWwn.data(), "--");
}

TEST_F(Transport, LinksThatAreNotUpShowTheirState) {
    EXPECT_EQ(StateOf(3, 0, 0), "active") << "Online stays as the paths said";
    EXPECT_EQ(StateOf(3, 0, 1), "Blocked");
    EXPECT_EQ(StateOf(5, 0, 0), "FAILED");
    EXPECT_EQ(StateOf(4, 0, 0), "active") << "nothing known";
    Write("fc_host/host3/port_state", "Linkdown\n");
    EXPECT_EQ(StateOf(3, 0, 0), "Linkdown") << "the HBA port first";
}

// The session of a path's target: K of the sessionK whose device holds it,
// only on an iSCSI host; the same whether each look-up searches the class or
// discovery's one read of it answers.
TEST_F(Transport, SessionOfATargetOnAnIscsiHostOnly) {
    Write("iscsi_host/host6/initiatorname", "iqn.1993-08.org.debian:01:host\n");
    Write("iscsi_session/session17/device/target6:0:0/.keep", "");
    Write("iscsi_session/session3/device/target6:0:1/.keep", "");
    Write("iscsi_session/session4/device/target06:0:2/.keep", "");  // not the kernel's name
    Write("iscsi_session/sessionx/device/target6:0:3/.keep", "");
    Write("iscsi_session/session5/device/target7:0:0/.keep", "");  // host 7 is no initiator
    Write("fc_host/host8/port_name", "0x21000024ff4a5b08\n");
    Write("iscsi_session/session6/device/target8:0:0/.keep", "");  // host 8 is an FC HBA
    struct Case {
        int host, channel, target, session;
    } const cases[] = {
        {5, 0, 0, 2},  {6, 0, 0, 17}, {6, 0, 1, 3},  {5, 0, 1, -1}, {6, 1, 0, -1},
        {6, 0, 2, -1}, {6, 0, 3, -1}, {7, 0, 0, -1}, {8, 0, 0, -1}, {3, 0, 0, -1},
    };
    for (int cached = 0; cached < 2; ++cached) {
        tstopo_CacheTransport(cached);
        for (const Case& c : cases) {
            EXPECT_EQ(tstopo_IscsiSession(c.host, c.channel, c.target), c.session)
                << c.host << ":" << c.channel << ":" << c.target << (cached ? " cached" : "");
        }
    }
    // What discovery read stays for its run; the next run reads sysfs anew.
    Write("iscsi_session/session9/device/target5:0:1/.keep", "");
    EXPECT_EQ(tstopo_IscsiSession(5, 0, 1), -1);
    tstopo_CacheTransport(0);
    EXPECT_EQ(tstopo_IscsiSession(5, 0, 1), 9);
    tstopo_CacheTransport(1);
    EXPECT_EQ(tstopo_IscsiSession(5, 0, 1), 9);
    EXPECT_EQ(StateOf(5, 0, 0), "FAILED") << "the state found through the read too";
    tstopo_CacheTransport(0);
}

// ---------------------------------------------------------------------------
// Segments and words

TEST(ListingSegments, ForwardSegmentsSkipRunsOfDelimiters) {
    const char* line = "  |- 3:0:0:1 sdb";
    EXPECT_EQ(Segment(line, ' ', 1, 1).text, "|-");
    EXPECT_EQ(Segment(line, ' ', 2, 1).text, "3:0:0:1");
    EXPECT_EQ(Segment(line, ' ', 3, 1).text, "sdb");
    Cut missing = Segment(line, ' ', 4, 1);
    EXPECT_EQ(missing.result, -1);
    EXPECT_EQ(missing.text, "") << "a missing segment leaves the destination zeroed";
    EXPECT_EQ(Segment(line, ' ', 0, 1).result, -1);
}

TEST(ListingSegments, BackwardSegmentsCountFromTheEndAndReadNormally) {
    const char* header = "mpatha (36e0fc123456000000000000000000011) dm-2 QELMAR,VSA1";
    EXPECT_EQ(Segment(header, ',', 1, -1).text, "VSA1");
    EXPECT_EQ(Segment(header, ',', 2, -1).text,
              "mpatha (36e0fc123456000000000000000000011) dm-2 QELMAR");
    EXPECT_EQ(Segment("a b  c ", ' ', 1, -1).text, "c");
    EXPECT_EQ(Segment("a b  c ", ' ', 3, -1).text, "a");
    EXPECT_EQ(Segment("a b  c ", ' ', 4, -1).result, -1);
    EXPECT_EQ(Segment("no comma here", ',', 1, -1).text, "no comma here");
}

TEST(ListingSegments, OnlyDelimitersHoldNoSegment) {
    EXPECT_EQ(Segment("    ", ' ', 1, 1).result, -1);
    EXPECT_EQ(Segment(",,,", ',', 1, -1).result, -1);
}

TEST(ListingSegments, OverlongSegmentSucceedsEmpty) {
    Cut fits = Segment("x abc y", ' ', 2, 1, 4);
    EXPECT_EQ(fits.result, 0);
    EXPECT_EQ(fits.text, "abc");
    Cut overlong = Segment("x abcd y", ' ', 2, 1, 4);
    EXPECT_EQ(overlong.result, 0);
    EXPECT_EQ(overlong.text, "");
    Cut oneByte = Segment("abc", ' ', 1, 1, 1);
    EXPECT_EQ(oneByte.result, 0);
    EXPECT_EQ(oneByte.text, "");
}

TEST(ListingSegments, RefusedArgumentsTouchNothing) {
    char dest[8] = "keep";
    EXPECT_EQ(GetStringSegmentWithInChar(nullptr, ' ', 1, 1, dest, sizeof dest), -1);
    EXPECT_EQ(GetStringSegmentWithInChar("", ' ', 1, 1, dest, sizeof dest), -1);
    EXPECT_EQ(GetStringSegmentWithInChar("a b", ' ', 1, 1, dest, 0), -1);
    EXPECT_EQ(GetStringSegmentWithInChar("a b", ' ', 1, 1, dest, -5), -1);
    EXPECT_EQ(GetStringSegmentWithInChar("a b", ' ', 1, 1, nullptr, 8), -1);
    EXPECT_STREQ(dest, "keep");
}

TEST(ListingSegments, CompareRegionTakesTheWordFromThePattern) {
    char dest[32];
    ASSERT_EQ(
        GetStringByCompareRegion("  `- 3:0:0:1 sdb 8:16 active ready", "sd", dest, sizeof dest), 0);
    EXPECT_STREQ(dest, "sdb");
    ASSERT_EQ(GetStringByCompareRegion("x [active][ready] y", "active", dest, sizeof dest), 0);
    EXPECT_STREQ(dest, "active][ready]");
    ASSERT_EQ(GetStringByCompareRegion("ends with sdq", "sd", dest, sizeof dest), 0);
    EXPECT_STREQ(dest, "sdq");
    (void)sprintf_s(dest, sizeof dest, "keep");
    EXPECT_EQ(GetStringByCompareRegion("failed faulty running", "active", dest, sizeof dest), -1);
    EXPECT_EQ(GetStringByCompareRegion("", "sd", dest, sizeof dest), -1);
    EXPECT_EQ(GetStringByCompareRegion(nullptr, "sd", dest, sizeof dest), -1);
    EXPECT_STREQ(dest, "keep");
}

// ---------------------------------------------------------------------------
// Map headers

constexpr const char* kWwid = "36e0fc123456000000000000000000011";
constexpr const char* kWwn = "6e0fc123456000000000000000000011";

TEST(ListingHeader, WwidFirstAndAliasFirst) {
    std::string wwidFirst = std::string(kWwid) + " dm-3 QELMAR,VSA1000";
    EXPECT_EQ(Wwn(wwidFirst.c_str()).text, kWwn);
    std::string aliasFirst = std::string("mpatha (") + kWwid + ") dm-3 QELMAR,VSA1000";
    Cut alias = Wwn(aliasFirst.c_str());
    EXPECT_EQ(alias.result, 0);
    EXPECT_EQ(alias.text, kWwn);
}

TEST(ListingHeader, ThirtyThreeCharacterFirstWordAlwaysWins) {
    // First word 32 characters: the bracketed second word is taken.
    std::string shortFirst =
        "3" + std::string(31, 'a') + " (3" + std::string(32, 'b') + ") dm-1 QELMAR,X";
    EXPECT_EQ(Wwn(shortFirst.c_str()).text, std::string(32, 'b'));
    // First word 33 characters from a 3: it wins over a bracketed second word.
    std::string both = "3" + std::string(32, 'a') + " (3" + std::string(32, 'b') + ") dm-1 Q,X";
    EXPECT_EQ(Wwn(both.c_str()).text, std::string(32, 'a'));
    // Not hexadecimal, still taken.
    std::string letters = "3" + std::string(32, 'z') + " dm-1 QELMAR,X";
    EXPECT_EQ(Wwn(letters.c_str()).text, std::string(32, 'z'));
}

TEST(ListingHeader, NoWwidLeavesTheDestinationAlone) {
    for (const std::string& line : {
             std::string("4") + std::string(32, 'a') + " dm-1 QELMAR,X",  // not from a 3
             "3" + std::string(33, 'a') + " dm-1 QELMAR,X",               // 34 characters
             "alias (3" + std::string(31, 'a') + ") dm-1 QELMAR,X",       // 34 in parentheses
             "alias (3" + std::string(32, 'a') + "] dm-1 QELMAR,X",       // no closing parenthesis
             "alias [3" + std::string(32, 'a') + ") dm-1 QELMAR,X",       // no opening parenthesis
             std::string("MYVOLUME"),                                     // one word
             std::string("   "),
         }) {
        Cut cut = Wwn(line.c_str());
        EXPECT_EQ(cut.result, -1) << line;
        EXPECT_EQ(cut.text, "--") << line;
    }
}

TEST(ListingHeader, VendorIsTheLastWordBeforeTheLastCommaProductTheFirstAfter) {
    VidPid plain = Vendor("mpatha (36e0fc12) dm-2 QELMAR,VSA1000");
    EXPECT_EQ(plain.result, 0);
    EXPECT_EQ(plain.vendor, "QELMAR");
    EXPECT_EQ(plain.product, "VSA1000");
    VidPid padded = Vendor("tex-lun4 (3600000e00d) dm-7 FUJITSU ,ETERNUS_DXL");
    EXPECT_EQ(padded.vendor, "FUJITSU");
    EXPECT_EQ(padded.product, "ETERNUS_DXL");
    VidPid blankInProduct = Vendor("L004 (3600601) dm-9 DGC,RAID 5");
    EXPECT_EQ(blankInProduct.vendor, "DGC");
    EXPECT_EQ(blankInProduct.product, "RAID");
    VidPid twoCommas = Vendor("a,b c dm-1 QELMAR,VSA");
    EXPECT_EQ(twoCommas.vendor, "QELMAR");
    EXPECT_EQ(twoCommas.product, "VSA");
}

TEST(ListingHeader, LineWithoutCommaGivesTheProductOnly) {
    VidPid none = Vendor("nocomma (36e0fc12) dm-9 QELMAR");
    EXPECT_EQ(none.result, -1);
    EXPECT_EQ(none.vendor, "");
    EXPECT_EQ(none.product, "nocomma");
}

// The dm name is a whole word of "dm-" and digits, wherever it stands.
TEST(ListingHeader, DmNameIsAWholeDmWord) {
    EXPECT_EQ(DmName("mpatha (36e0fc12) dm-12 QELMAR,VSA1000").text, "dm-12");
    EXPECT_EQ(DmName("36e0fc12 dm-0 QELMAR,VSA1000").text, "dm-0");
    EXPECT_EQ(DmName("backup_dm-3 (36e0fc12) dm-7 QELMAR,VSA1000").text, "dm-7");
    EXPECT_EQ(DmName("x dm-3x dm-4:0 dm-5").text, "dm-5");
    EXPECT_EQ(DmName("dm-1").text, "dm-1");
    for (const std::string& line :
         {std::string("weird (36e0fc12) xdm-9 QELMAR,VSA1000"), std::string("dm- dm-a dm-1b"),
          std::string("nothing here"), "x dm-" + std::string(61, '1') + " y",
          // Words end at blanks only, as every cutter of the listing splits them.
          std::string("mpatha\t(36e0fc12)\tdm-3\tQELMAR,VSA1000")}) {
        Cut cut = DmName(line.c_str());
        EXPECT_EQ(cut.result, -1) << line;
        EXPECT_EQ(cut.text, "untouched") << line;
    }
    EXPECT_EQ(DmName(("dm-" + std::string(60, '7')).c_str()).result, 0) << "63 characters fit";
}

// The alias is the first word only where the WWID follows in parentheses;
// the WWID word keeps its leading 3 and any length.
TEST(ListingHeader, AliasAndWwidWord) {
    std::string aliasFirst = std::string("oradata (") + kWwid + ") dm-2 QELMAR,VSA1000";
    EXPECT_EQ(Alias(aliasFirst.c_str()).text, "oradata");
    EXPECT_EQ(WwidWord(aliasFirst.c_str()).text, kWwid);
    std::string wwidFirst = std::string(kWwid) + " dm-1 QELMAR,VSA1000";
    Cut none = Alias(wwidFirst.c_str());
    EXPECT_EQ(none.result, -1);
    EXPECT_EQ(none.text, "untouched");
    EXPECT_EQ(WwidWord(wwidFirst.c_str()).text, kWwid);
    // Bracketed format, other WWID forms: taken as written.
    EXPECT_EQ(Alias("tex-lun4 (3600000e00d0000000002161200120000) dm-7 FUJITSU ,ETERNUS_DXL").text,
              "tex-lun4");
    EXPECT_EQ(WwidWord("mpathb (2001234) dm-3 QELMAR,VSA").text, "2001234");
    // A header of the dm word alone has no WWID; "()" holds none either.
    EXPECT_EQ(WwidWord("dm-4 QELMAR,VSA").result, -1);
    EXPECT_EQ(Alias("name () dm-4 QELMAR,VSA").result, -1);
    // An alias too long for its field comes out empty (the vlun keeps "--").
    std::string longAlias = std::string(130, 'a') + " (" + kWwid + ") dm-5 QELMAR,VSA";
    Cut cut = Alias(longAlias.c_str());
    EXPECT_EQ(cut.result, 0);
    EXPECT_EQ(cut.text, "");
}

// The names of the vendor's maps, as discovery would make vluns of them.
TEST(ListingHeader, MapNamesOfTheVendorsMaps) {
    std::string text = std::string("mpatha (") + kWwid +
                       ") dm-0 QELMAR,VSA1000\n"
                       "size=10G features='0' hwhandler='0' wp=rw\n"
                       "`- 3:0:0:1 sdb 8:16 active ready running\n"
                       "36e0fc123456000000000000000000012 dm-1 ZUNTA,ZX200\n"
                       "acme (3600a0b8000000000000000000000001) dm-2 ACME,DISK\n"
                       "alias_without_dm (36e0fc123456000000000000000000013) QELMAR,VSA\n";
    FILE* listing = fmemopen(&text[0], text.size(), "r");
    ASSERT_NE(listing, nullptr);
    std::vector<TsMapNames> maps;
    GetMapNamesFromListing(listing, &maps);
    (void)fclose(listing);
    ASSERT_EQ(maps.size(), 2u);
    EXPECT_STREQ(maps[0].acDmName.data(), "dm-0");
    EXPECT_STREQ(maps[0].acAlias.data(), "mpatha");
    EXPECT_STREQ(maps[0].acWwid.data(), kWwid);
    EXPECT_STREQ(maps[1].acDmName.data(), "dm-1");
    EXPECT_STREQ(maps[1].acAlias.data(), "--");
    EXPECT_STREQ(maps[1].acWwid.data(), "36e0fc123456000000000000000000012");
}

// ---------------------------------------------------------------------------
// Sizes

TEST(ListingSize, WordAndBracketedForms) {
    EXPECT_EQ(Size("size=10G features='1 queue_if_no_path' hwhandler='0' wp=rw").text, "10G");
    EXPECT_EQ(Size("[size=10G][features=1 queue_if_no_path][hwhandler=0]").text, "10G");
    EXPECT_EQ(Size("[size=576 GB][features=\"1 queue_if_no_path\"]").text, "576 GB");
    EXPECT_EQ(Size("x size=1.5T").text, "1.5T");
}

TEST(ListingSize, MissingValueFails) {
    EXPECT_EQ(Size("size= features='0'").result, -1);
    EXPECT_EQ(Size("[size=][rw]").result, -1);
    EXPECT_EQ(Size("features='0' wp=rw").result, -1);
    EXPECT_EQ(Size("").result, -1);
    EXPECT_EQ(GetSizeFromLinebuf("size=1G", nullptr, 16), -1);
}

TEST(ListingSize, SixteenCharactersLeaveTheSizeEmptyWithSuccess) {
    Cut fifteen = Size("size=123456789012345 features='0'");
    EXPECT_EQ(fifteen.result, 0);
    EXPECT_EQ(fifteen.text, "123456789012345");
    Cut sixteen = Size("size=1234567890123456 features='0'");
    EXPECT_EQ(sixteen.result, 0);
    EXPECT_EQ(sixteen.text, "");
}

// ---------------------------------------------------------------------------
// SCSI addresses

TEST(ListingHctl, TreeAndBracketedPathLines) {
    int result = 0;
    EXPECT_EQ(Hctl("| |- 3:0:0:1 sdb 8:16  active ready running", &result), "3:0:0:1");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Hctl("  `- 12:1:20:255 sdc 8:32 failed faulty running", &result), "12:1:20:255");
    EXPECT_EQ(Hctl(" \\_ 13:0:1:0  sdc 8:32  [active]", &result), "13:0:1:0");
    EXPECT_EQ(result, 0);

    PathFixture f;
    ASSERT_EQ(GetHTCLFromLinebuf("  `- 03:0:0:1 sdb 8:16 active ready running", &f.path), 0);
    EXPECT_STREQ(f.path.acHctl.data(), "3:0:0:1");
    EXPECT_EQ(f.path.iHctlValid, 1);
    EXPECT_EQ(f.path.iHost, 3);
    EXPECT_EQ(f.path.iChannel, 0);
    EXPECT_EQ(f.path.iTarget, 0);
    EXPECT_EQ(f.path.iLun, 1);
}

TEST(ListingHctl, HyphenFormDecidesOnceItYieldsAWord) {
    int result = 0;
    // The word after the first run of hyphens is no address: no fallback.
    EXPECT_EQ(Hctl("x-y \\_ 3:0:0:1 sdb", &result), "#:#:#:#");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Hctl("  `- #:#:#:# - #:# active faulty running", &result), "#:#:#:#");
    EXPECT_EQ(result, -1);
    // Nothing after the hyphens: the underscore form is tried.
    EXPECT_EQ(Hctl("\\_ 3:0:0:7 sdb -", &result), "3:0:0:7");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Hctl("no separators 3:0:0:1", &result), "#:#:#:#");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Hctl("", &result), "#:#:#:#");
    EXPECT_EQ(result, -1);
}

TEST(ListingHctl, MalformedAddressesLeaveThePathUnchanged) {
    for (const char* text : {"3:0:0", "3:0:0:1:5", "3::0:1", "3:0:0:1a", "a:0:0:1", ":0:0:1",
                             "3:0:0:", "3:0:0:1 ", " 3:0:0:1", "-3:0:0:1", "+3:0:0:1", ""}) {
        PathFixture f;
        f.path.iHost = 7;
        PathInfo before;
        (void)memcpy_s(&before, sizeof before, &f.path, sizeof f.path);
        EXPECT_EQ(GetHTCLFromLineHCTLBuf(text, &f.path), -1) << text;
        EXPECT_EQ(memcmp(&before, &f.path, sizeof before), 0) << text;
    }
    PathFixture f;
    EXPECT_EQ(GetHTCLFromLineHCTLBuf(nullptr, &f.path), -1);
}

TEST(ListingHctl, GroupsAreTakenFromAtMost63Digits) {
    PathFixture f;
    std::string text = "1:2:3:" + std::string(62, '0') + "9";
    ASSERT_EQ(GetHTCLFromLineHCTLBuf(text.c_str(), &f.path), 0);
    EXPECT_EQ(f.path.iLun, 9);
    text = "1:2:" + std::string(63, '0') + "9:4";
    ASSERT_EQ(GetHTCLFromLineHCTLBuf(text.c_str(), &f.path), 0);
    EXPECT_EQ(f.path.iTarget, 0) << "a 64-digit group counts as 0";
    EXPECT_STREQ(f.path.acHctl.data(), "1:2:0:4");
}

// ---------------------------------------------------------------------------
// The real listings beside the repository

struct SampleFile {
    std::string name;
    std::vector<std::string> lines;
};

std::vector<SampleFile> ReadSamples() {
    std::vector<SampleFile> files;
    DIR* dir = opendir(DISCOVERY_SAMPLES_DIR);
    if (dir == nullptr) {
        return files;
    }
    while (const dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.rfind("mpath-", 0) == 0 && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".txt") == 0) {
            files.push_back({name, {}});
        }
    }
    closedir(dir);
    std::sort(files.begin(), files.end(),
              [](const SampleFile& a, const SampleFile& b) { return a.name < b.name; });
    for (SampleFile& file : files) {
        std::ifstream in(std::string(DISCOVERY_SAMPLES_DIR) + "/" + file.name);
        for (std::string line; std::getline(in, line);) {
            file.lines.push_back(line.substr(0, 255));
        }
    }
    return files;
}

// What a listing line is, told from its shape alone.
const std::regex kPathLine(
    R"(^[ |`\\]*[-_]+ +([0-9]+):([0-9]+):([0-9]+):([0-9]+) +(sd[a-z]+)( |$))");
const std::regex kWwidFirst(R"(^3([0-9a-f]{32}) )");
const std::regex kAliasFirst(R"(^[^ ]+ \(3([0-9a-f]{32})\) )");
const std::regex kAliasWord(R"(^([^ ]+) +\([^ ]+\) )");
const std::regex kDmWord(R"((^| )(dm-[0-9]+)( |$))");

// The expected map of a header line of a sample.
struct ExpectedMap {
    std::string dm, wwn, vendor, product, alias;
    std::string size = "--";
    std::vector<std::string> paths;
    std::vector<std::string> hctls;
};

bool ParseHeader(const std::string& line, ExpectedMap* map) {
    std::smatch m;
    if (!std::regex_search(line, m, kDmWord)) {
        return false;
    }
    map->dm = m[2];
    if (std::regex_search(line, m, kAliasWord)) {
        map->alias = m[1];
    }
    if (std::regex_search(line, m, kWwidFirst) || std::regex_search(line, m, kAliasFirst)) {
        map->wwn = m[1];
    }
    size_t comma = line.rfind(',');
    if (comma != std::string::npos) {
        std::istringstream after(line.substr(comma + 1));
        after >> map->product;
        std::istringstream before(line.substr(0, comma));
        for (std::string word; before >> word;) {
            map->vendor = word;
        }
    }
    return true;
}

std::string ExpectedSize(const std::string& line) {
    size_t at = line.find("size=") + 5;
    size_t end = line[0] == '[' ? line.find(']', at) : line.find(' ', at);
    std::string size = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    return size.size() > 15 ? std::string() : size;
}

TEST(ListingSamples, EveryHeaderPathAndSizeLineIsCut) {
    std::vector<SampleFile> samples = ReadSamples();
    if (samples.empty()) {
        GTEST_SKIP() << "no listings in " << DISCOVERY_SAMPLES_DIR;
    }
    int headers = 0;
    int paths = 0;
    int sizes = 0;
    for (const SampleFile& file : samples) {
        bool inMap = false;
        for (const std::string& line : file.lines) {
            SCOPED_TRACE(file.name + ": " + line);
            const char* text = line.c_str();
            ExpectedMap map;
            if (line.find("dm-") != std::string::npos) {
                inMap = ParseHeader(line, &map);
                ASSERT_TRUE(inMap) << "every header of the samples names its dm device";
                ++headers;
                EXPECT_EQ(DmName(text).text, map.dm);
                Cut wwn = Wwn(text);
                EXPECT_EQ(wwn.result, map.wwn.empty() ? -1 : 0);
                EXPECT_EQ(wwn.text, map.wwn.empty() ? "--" : map.wwn);
                Cut alias = Alias(text);
                EXPECT_EQ(alias.result, map.alias.empty() ? -1 : 0);
                EXPECT_EQ(alias.text, map.alias.empty() ? "untouched" : map.alias);
                VidPid vidpid = Vendor(text);
                EXPECT_EQ(vidpid.vendor, map.vendor);
                EXPECT_EQ(vidpid.product, map.product);
                continue;
            }
            std::smatch m;
            PathFixture f;
            int result = GetHTCLFromLinebuf(text, &f.path);
            if (std::regex_search(line, m, kPathLine)) {
                ++paths;
                ASSERT_EQ(result, 0);
                EXPECT_EQ(f.path.iHost, std::stoi(m[1]));
                EXPECT_EQ(f.path.iChannel, std::stoi(m[2]));
                EXPECT_EQ(f.path.iTarget, std::stoi(m[3]));
                EXPECT_EQ(f.path.iLun, std::stoi(m[4]));
                char sd[64];
                ASSERT_EQ(GetStringByCompareRegion(text, "sd", sd, sizeof sd), 0);
                EXPECT_EQ(std::string(sd), m[5].str());
            } else if (result == 0) {
                // Any other line that yields an address yields a well-formed one.
                EXPECT_TRUE(std::regex_match(std::string(f.path.acHctl.data()),
                                             std::regex("[0-9]+:[0-9]+:[0-9]+:[0-9]+")));
            } else {
                EXPECT_STREQ(f.path.acHctl.data(), "#:#:#:#");
                EXPECT_EQ(f.path.iHctlValid, 0);
            }
            if (inMap && line.find("size=") != std::string::npos) {
                ++sizes;
                Cut size = Size(text);
                EXPECT_EQ(size.result, 0);
                EXPECT_EQ(size.text, ExpectedSize(line));
            }
        }
    }
    EXPECT_GT(headers, 0);
    EXPECT_GT(paths, 0);
    EXPECT_GT(sizes, 0);
}

// ---------------------------------------------------------------------------
// Names that may reach a shell

TEST(DevnameCheck, KernelNamesPass) {
    for (const char* name : {"sda", "sdaa1", "dm-3", "nvme0n1p2", "cciss!c0d0", "md127", "loop0",
                             "a.b_c-d:e+f", "Z9"}) {
        EXPECT_EQ(JudgeDevnameUnsafeStr(name), 0) << name;
    }
}

TEST(DevnameCheck, SeparatorsAreRefused) {
    EXPECT_EQ(JudgeDevnameUnsafeStr(nullptr), -1);
    for (const char* name : {"sd;x", "a&&b", "a||b", "a&b", "a|b", ";", "sda&"}) {
        EXPECT_EQ(JudgeDevnameUnsafeStr(name), -1) << name;
    }
}

// Beyond the five separators: everything else the shell would act on.
TEST(DevnameCheck, EveryOtherShellCharacterIsRefused) {
    for (const char* name :
         {"sd$(touch x)", "sd$(>m)", "sd`>m`",  "sd>m", "sd<m", "sd'x",      "sd\"x", "sd x",
          "sd\nx",        "sd\tx",   "sd/../x", "sd*",  "sd?",  "sd[a]",     "sd~",   "sd#",
          "sd(x)",        "sd{a,b}", "sd\\x",   "sd=x", "sd%x", "sd\xc3\xa9"}) {
        EXPECT_EQ(JudgeDevnameUnsafeStr(name), -1) << name;
    }
}

TEST(DevnameCheck, UnsafeNamesNeverReachTheSizeCommand) {
    QuietLog quiet;
    ScratchDir scratch;
    ASSERT_FALSE(scratch.Path().empty());
    for (const char* name : {"sd$(>mark1)", "sd`>mark2`", "sdq;>mark3;", "sd|>mark4", "sd>mark5"}) {
        char size[16] = "1.5G";
        testing::internal::CaptureStdout();
        EXPECT_EQ(GetCapacityFromSysfs(name, size, sizeof size), -1) << name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "quiet by default";
        EXPECT_STREQ(size, "1.5G") << "the destination is untouched";

        tsprint_SetLogLevel(3);
        testing::internal::CaptureStdout();
        EXPECT_EQ(GetCapacityFromSysfs(name, size, sizeof size), -1) << name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("Device[") + name + "] is invalid name.\n");
        tsprint_SetLogLevel(kQuiet);
    }
    EXPECT_EQ(FilesIn(scratch.Path()), std::vector<std::string>{}) << "a shell ran a name";
}

// ---------------------------------------------------------------------------
// Physical paths from hand-made paths

class PhypathMerge : public testing::Test {
  protected:
    void SetUp() override { tstopo_InitVlunInfoToDefault(&vlun_); }
    void TearDown() override {
        FreeAllLists();
        tsprint_SetLogLevel(kQuiet);
    }

    PathInfo* NewPath(const char* name, const char* host, const char* target, const char* status,
                      const char* hctl) {
        paths_.emplace_back(new PathInfo);
        PathInfo* path = paths_.back().get();
        tstopo_InitPathInfoToDefault(path, &vlun_);
        Set(path->stDev.acDevName, name);
        Set(path->stDev.acHostWwn, host);
        Set(path->stDev.acTargetWwn, target);
        Set(path->stDev.acInqStatus, status);
        if (hctl != nullptr) {
            EXPECT_EQ(GetHTCLFromLineHCTLBuf(hctl, path), 0);
        }
        return path;
    }

    VlunInfo vlun_;
    std::vector<std::unique_ptr<PathInfo>> paths_;
};

TEST_F(PhypathMerge, PathsOverOnePortPairMakeOnePhypath) {
    PathInfo* first = NewPath("sdb", "2100aa", "2200bb", "--", nullptr);
    Set(first->stDev.acArrayName, "Array-01");
    PathInfo* second = NewPath("sdc", "2100aa", "2200bb", "active", "4:0:1:2");
    Set(second->stDev.acCtrl, "B");
    Set(second->stDev.acArrayName, "Array-02");
    Set(second->stDev.acPortType, "FC");
    PathInfo* third = NewPath("sdd", "2100aa", "2200bb", "--", "5:0:2:3");

    PhypathInfo* created = LookupAndCreatePhypathByPath(first);
    ASSERT_NE(created, nullptr);
    EXPECT_STREQ(created->acAlias.data(), "#:#:#") << "the first path has no address";
    EXPECT_STREQ(created->acStatus.data(), "--");
    EXPECT_EQ(LookupAndCreatePhypathByPath(second), nullptr) << "merged, not created";
    EXPECT_EQ(LookupAndCreatePhypathByPath(third), nullptr);

    ASSERT_EQ(Phypaths().size(), 1U);
    EXPECT_STREQ(created->acAlias.data(), "4:0:1") << "from the first path with an address";
    EXPECT_EQ(created->iHctValid, 1);
    EXPECT_EQ(created->iHost, 4);
    EXPECT_STREQ(created->acStatus.data(), "active") << "a later inactive path keeps it";
    EXPECT_STREQ(created->acCtrl.data(), "B") << "\"--\" is filled in";
    EXPECT_STREQ(created->acArrayName.data(), "Array-01") << "the first value stays";
    EXPECT_STREQ(created->acPortType.data(), "FC");
    EXPECT_STREQ(created->acArraySn.data(), "--") << "no path had a serial";
    EXPECT_STREQ(created->acHostWwn.data(), "2100aa");
    EXPECT_STREQ(created->acTargetWwn.data(), "2200bb");
    for (PathInfo* path : {first, second, third}) {
        EXPECT_EQ(path->pstPhypath, created);
    }
}

TEST_F(PhypathMerge, StatusOnlyEverBecomesActive) {
    PathInfo* odd = NewPath("sdb", "h", "t", "active][ready]", nullptr);
    PhypathInfo* phypath = LookupAndCreatePhypathByPath(odd);
    ASSERT_NE(phypath, nullptr);
    EXPECT_STREQ(phypath->acStatus.data(), "--") << "only exactly \"active\" counts";
}

TEST_F(PhypathMerge, PathWithoutBothWwnsJoinsNone) {
    PathInfo* noTarget = NewPath("sdh", "2100aa", "--", "active", "3:0:0:4");
    PathInfo* emptyHost = NewPath("sdi", "", "2200bb", "active", "3:0:0:5");
    PathInfo* pairHost = NewPath("sdj", "--/--", "2200bb", "active", "3:0:0:6");
    testing::internal::CaptureStdout();
    EXPECT_EQ(LookupAndCreatePhypathByPath(noTarget), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "quiet by default";

    tsprint_SetLogLevel(kVerbose);
    testing::internal::CaptureStdout();
    EXPECT_EQ(LookupAndCreatePhypathByPath(noTarget), nullptr);
    EXPECT_EQ(LookupAndCreatePhypathByPath(emptyHost), nullptr);
    EXPECT_EQ(LookupAndCreatePhypathByPath(pairHost), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Find path[sdh] is invalid in hostwwn[2100aa] or targwwn[--].\n"
              "Find path[sdi] is invalid in hostwwn[] or targwwn[2200bb].\n"
              "Find path[sdj] is invalid in hostwwn[--/--] or targwwn[2200bb].\n");
    EXPECT_TRUE(list_empty(&g_tsphypathlist));
    EXPECT_EQ(noTarget->pstPhypath, nullptr);
}

// The index by WWN pair gives what the walk over the list gives: the same
// phypaths, in the same order, with the same merged fields and links.
TEST_F(PhypathMerge, IndexedLookupMatchesTheWalk) {
    const char* hosts[] = {"2100aa", "2100a", "2100ab", "--"};
    const char* targets[] = {"2200bb", "2200b", "2200bc", "2200bd", "--"};
    const char* statuses[] = {"active", "--", "failed"};
    std::vector<std::string> results[2];
    for (int indexed = 0; indexed < 2; ++indexed) {
        paths_.clear();
        unsigned seed = 11;
        std::vector<PathInfo*> made;
        for (int k = 0; k < 300; ++k) {
            seed = seed * 1103515245U + 12345U;
            std::string name = "sd" + std::to_string(k);
            std::string hctl = std::to_string(seed % 7) + ":0:" + std::to_string(k) + ":1";
            PathInfo* path =
                NewPath(name.c_str(), hosts[(seed >> 8) % 4], targets[(seed >> 12) % 5],
                        statuses[(seed >> 16) % 3], (seed >> 20) % 3 == 0 ? nullptr : hctl.c_str());
            Set(path->stDev.acCtrl, (seed >> 24) % 2 == 0 ? "A" : "--");
            made.push_back(path);
        }
        tstopo_IndexPhypaths(indexed);
        for (PathInfo* path : made) {
            (void)LookupAndCreatePhypathByPath(path);
        }
        tstopo_IndexPhypaths(0);
        std::vector<PhypathInfo*> list = Phypaths();
        for (const PhypathInfo* p : list) {
            results[indexed].push_back(std::string(p->acAlias.data()) + "|" + p->acStatus.data() +
                                       "|" + p->acHostWwn.data() + "|" + p->acTargetWwn.data() +
                                       "|" + p->acCtrl.data());
        }
        for (const PathInfo* path : made) {
            size_t at = 0;
            while (at < list.size() && list[at] != path->pstPhypath) {
                ++at;
            }
            results[indexed].push_back(std::string(path->stDev.acDevName.data()) + "->" +
                                       std::to_string(at));
        }
        FreeAllLists();
    }
    EXPECT_EQ(results[1], results[0]);
    EXPECT_GT(results[0].size(), 300U + 10U) << "many phypaths";
}

// Two iSCSI logins from one initiator name to one target port, each with a
// SCSI host of its own (5 and 6), are two physical paths: one can fail while
// the other carries the I/O. The paths of one session share one; FC hosts
// (no session) merge by the port pair alone, as before.
class SessionPhypaths : public PhypathMerge {
  protected:
    void SetUp() override {
        PhypathMerge::SetUp();
        for (const char* entry :
             {"iscsi_host/host5/.keep", "iscsi_host/host6/.keep", "fc_host/host3/.keep",
              "fc_host/host4/.keep", "iscsi_session/session1/device/target5:0:0/.keep",
              "iscsi_session/session2/device/target6:0:0/.keep"}) {
            const std::string path = dir_.Path() + "/" + entry;
            (void)system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str());
            std::ofstream(path) << "";
        }
        tstopo_SetTransportRoot(dir_.Path().c_str());
    }
    void TearDown() override {
        tstopo_SetTransportRoot(nullptr);
        (void)system(("rm -rf '" + dir_.Path() + "'/*").c_str());
        PhypathMerge::TearDown();
    }
    // The phypath each path joined, by its place in the list.
    static std::vector<size_t> Joined(const std::vector<PathInfo*>& paths) {
        const std::vector<PhypathInfo*> list = Phypaths();
        std::vector<size_t> at;
        for (const PathInfo* path : paths) {
            at.push_back(static_cast<size_t>(std::find(list.begin(), list.end(), path->pstPhypath) -
                                             list.begin()));
        }
        return at;
    }
    ScratchDir dir_;
};

TEST_F(SessionPhypaths, TwoSessionsToOneTargetPortAreTwoPhypaths) {
    const char* iqn = "iqn.1993-08.org.debian:01:5e2f8a9c0d41";
    const char* port = "iqn.2006-08.com.qelmar:vsa1000.a0,t,0x0001";
    for (int indexed = 0; indexed < 2; ++indexed) {
        paths_.clear();
        std::vector<PathInfo*> paths = {
            NewPath("sdb", iqn, port, "--", "5:0:0:1"),      // session 1, down
            NewPath("sde", iqn, port, "active", "6:0:0:1"),  // session 2
            NewPath("sdc", iqn, port, "--", "5:0:0:2"),      // session 1 again
            NewPath("sdf", iqn, port, "active", "6:0:0:2"),
        };
        tstopo_IndexPhypaths(indexed);
        for (PathInfo* path : paths) {
            (void)LookupAndCreatePhypathByPath(path);
        }
        tstopo_IndexPhypaths(0);
        const std::vector<PhypathInfo*> list = Phypaths();
        ASSERT_EQ(list.size(), 2U) << (indexed ? "indexed" : "walked");
        EXPECT_EQ(Joined(paths), (std::vector<size_t>{0, 1, 0, 1}));
        EXPECT_STREQ(list[0]->acAlias.data(), "5:0:0");
        EXPECT_EQ(list[0]->iSession, 1);
        EXPECT_STREQ(list[0]->acStatus.data(), "--") << "its own paths only: none active";
        EXPECT_STREQ(list[1]->acAlias.data(), "6:0:0");
        EXPECT_EQ(list[1]->iSession, 2);
        EXPECT_STREQ(list[1]->acStatus.data(), "active");
        FreeAllLists();
    }
}

TEST_F(SessionPhypaths, WithoutASessionThePortPairAloneDecides) {
    std::vector<PathInfo*> paths = {
        NewPath("sdb", "2100aa", "2200bb", "--", "3:0:0:1"),      // FC
        NewPath("sdc", "2100aa", "2200bb", "active", "3:0:1:1"),  // FC, another target id
        NewPath("sdd", "iqn.x", "iqn.t,t,0x1", "--", "5:0:3:1"),  // iSCSI, no session holds it
        NewPath("sde", "iqn.x", "iqn.t,t,0x1", "active", "5:0:4:1"),
        NewPath("sdf", "iqn.x", "iqn.t,t,0x1", "active", nullptr),  // no address
    };
    for (PathInfo* path : paths) {
        (void)LookupAndCreatePhypathByPath(path);
    }
    ASSERT_EQ(Phypaths().size(), 2U);
    EXPECT_EQ(Joined(paths), (std::vector<size_t>{0, 0, 1, 1, 1}));
    EXPECT_EQ(Phypaths()[0]->iSession, -1);
    EXPECT_EQ(Phypaths()[1]->iSession, -1);
    EXPECT_STREQ(Phypaths()[0]->acStatus.data(), "active");
}

// ---------------------------------------------------------------------------
// Devices copied from vluns and paths

class DeviceCopies : public testing::Test {
  protected:
    void TearDown() override { FreeAllLists(); }

    static VlunInfo* AddVlun(const char* name, const char* wwn, const char* size,
                             const char* vidpid) {
        auto* vlun = static_cast<VlunInfo*>(malloc(sizeof(VlunInfo)));
        tstopo_InitVlunInfoToDefault(vlun);
        Set(vlun->stDev.acDevName, name);
        Set(vlun->stDev.acVidPid, "QELMAR/INQUIRY");
        Set(vlun->stDev.acCapacity, "9.9G");
        Set(vlun->stDev.acLunWwn, "inquirywwn");
        Set(vlun->acDmWwn, wwn);
        Set(vlun->acDmSize, size);
        Set(vlun->acDmVidPid, vidpid);
        list_add_tail(&vlun->stList, &g_tsvlunlist);
        return vlun;
    }

    static PathInfo* AddPath(VlunInfo* vlun, const char* name) {
        auto* path = static_cast<PathInfo*>(malloc(sizeof(PathInfo)));
        tstopo_InitPathInfoToDefault(path, vlun);
        Set(path->stDev.acDevName, name);
        Set(path->stDev.acCapacity, "1.0G");
        path->stDev.iIfVersion = 516;
        list_add_tail(&path->stList, &vlun->stPathList);
        return path;
    }
};

TEST_F(DeviceCopies, ListingValuesWinWhereTheyHaveOne) {
    VlunInfo* listed = AddVlun("dm-0", "6e0fc1", "10G", "QELMAR/VSA1000");
    AddPath(listed, "sdb");
    AddPath(listed, "sdc");
    VlunInfo* bare = AddVlun("dm-1", "--", "--", "--/--");
    AddPath(bare, "sdd");

    tstopo_VlunConvertToDevice();
    std::vector<std::string> names;
    for (DevInfo* dev : Devices()) {
        names.emplace_back(dev->acDevName.data());
        EXPECT_EQ(dev->iDevType, TS_DEVTYPE_DEVICE);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"dm-0", "sdb", "sdc", "dm-1", "sdd"}));

    DevInfo* fromListed = FindDevice("dm-0");
    EXPECT_STREQ(fromListed->acLunWwn.data(), "6e0fc1");
    EXPECT_STREQ(fromListed->acVidPid.data(), "QELMAR/VSA1000");
    EXPECT_STREQ(fromListed->acCapacity.data(), "10G");
    DevInfo* fromBare = FindDevice("dm-1");
    EXPECT_STREQ(fromBare->acLunWwn.data(), "inquirywwn");
    EXPECT_STREQ(fromBare->acVidPid.data(), "QELMAR/INQUIRY");
    EXPECT_STREQ(fromBare->acCapacity.data(), "9.9G");
    DevInfo* path = FindDevice("sdb");
    EXPECT_STREQ(path->acCapacity.data(), "1.0G") << "paths are copied unchanged";
    EXPECT_EQ(path->iIfVersion, 516);
}

TEST_F(DeviceCopies, FreeingTheDevicesLeavesVlunsAndPathsIntact) {
    VlunInfo* vlun = AddVlun("dm-0", "6e0fc1", "10G", "QELMAR/VSA1000");
    PathInfo* path = AddPath(vlun, "sdb");
    VlunInfo vlunBefore;
    PathInfo pathBefore;
    (void)memcpy_s(&vlunBefore, sizeof vlunBefore, vlun, sizeof *vlun);
    (void)memcpy_s(&pathBefore, sizeof pathBefore, path, sizeof *path);

    tstopo_VlunConvertToDevice();
    ASSERT_EQ(Devices().size(), 2U);
    for (DevInfo* dev : Devices()) {
        EXPECT_NE(dev, &vlun->stDev);
        EXPECT_NE(dev, &path->stDev);
        Set(dev->acDevName, "changed");
    }
    for (ListHead* link = g_tsdevicelist.next; link != &g_tsdevicelist;) {
        ListHead* next = link->next;
        list_del(link);
        free(link);
        link = next;
    }
    EXPECT_EQ(memcmp(&vlunBefore, vlun, sizeof vlunBefore), 0);
    EXPECT_EQ(memcmp(&pathBefore, path, sizeof pathBefore), 0);
    EXPECT_EQ(VlunNames(), std::vector<std::string>{"dm-0"});
}

TEST(DeviceLookup, VlunByDevnameIsExact) {
    auto* vlun = static_cast<VlunInfo*>(malloc(sizeof(VlunInfo)));
    tstopo_InitVlunInfoToDefault(vlun);
    Set(vlun->stDev.acDevName, "dm-1");
    list_add_tail(&vlun->stList, &g_tsvlunlist);
    EXPECT_EQ(tstopo_GetVlunByDevname("dm-1"), vlun);
    EXPECT_EQ(tstopo_GetVlunByDevname("dm-10"), nullptr);
    EXPECT_EQ(tstopo_GetVlunByDevname("dm-"), nullptr);
    EXPECT_EQ(tstopo_GetVlunByDevname(nullptr), nullptr);
    FreeAllLists();
}

// ---------------------------------------------------------------------------
// Simulated hosts

class SimHost : public testing::Test {
  protected:
    explicit SimHost(const char* topology) : topology_(topology) {}

    void SetUp() override {
        const char* current = getenv("SANSIM_TOPOLOGY");
        std::string suffix = std::string("/") + topology_;
        if (current == nullptr || strlen(current) < suffix.size() ||
            strcmp(current + strlen(current) - suffix.size(), suffix.c_str()) != 0) {
            // The ctest cases run each suite on its host: there, a skip
            // would hide a broken set-up.
            if (getenv("DISCOVERY_ON_SIM_HOST") != nullptr) {
                FAIL() << "not on the simulated host " << topology_;
            }
            GTEST_SKIP() << "runs on the simulated host " << topology_;
        }
        tsprint_SetLogLevel(kQuiet);
    }
    void TearDown() override {
        FreeAllLists();
        tsprint_SetLogLevel(kQuiet);
    }

    // Runs discovery with the log at level, returning its output.
    template <typename Fn>
    static std::string Output(int level, Fn run) {
        tsprint_SetLogLevel(level);
        testing::internal::CaptureStdout();
        run();
        std::string out = testing::internal::GetCapturedStdout();
        tsprint_SetLogLevel(kQuiet);
        return out;
    }

  private:
    const char* topology_;
};

// The disks whose size file must not be read are 1 GiB + 1000 MiB: their
// size file says 2.0G, identification says something else.
constexpr uint64_t kUnreadSize = (1ULL << 30) + 1000ULL * (1ULL << 20);

std::string IdentifiedCapacity() {
    TsText<16> text{};
    FormatCapacityText(kUnreadSize, &text);
    EXPECT_STRNE(text.data(), "2.0G") << "the two capacity texts must differ";
    return text.data();
}

// hosts/discovery.json
class SimMain : public SimHost {
  protected:
    SimMain() : SimHost("discovery.json") {}
};

TEST_F(SimMain, VendorMapsBecomeVlunsWithTheirPaths) {
    int result = -9;
    EXPECT_EQ(Output(kQuiet, [&] { result = tstopo_GetVlunTopology(nullptr, nullptr); }), "")
        << "nothing is reported by default";
    ASSERT_EQ(result, 0);
    // dm-2 answers for another vendor, dm-4 is another vendor's map; dm-5
    // cannot be read, so it stands on its listing and its path.
    ASSERT_EQ(VlunNames(), (std::vector<std::string>{"dm-0", "dm-1", "dm-3", "dm-5"}));

    VlunInfo* dm0 = tstopo_GetVlunByDevname("dm-0");
    EXPECT_STREQ(dm0->stDev.acDevPath.data(), "/dev/dm-0");
    EXPECT_STREQ(dm0->acDmWwn.data(), "6e0fc12345600000000000000000d000");
    EXPECT_STREQ(dm0->acDmVidPid.data(), "QELMAR/VSA1000");
    EXPECT_STREQ(dm0->acDmSize.data(), "10G");
    EXPECT_STREQ(dm0->stDev.acVidPid.data(), "QELMAR/VSA1000") << "identified";
    EXPECT_STREQ(dm0->stDev.acCapacity.data(), "10G");
    ASSERT_EQ(PathNames(dm0), (std::vector<std::string>{"sdb", "sdc"}));
    PathInfo* sdb = Paths(dm0)[0];
    EXPECT_EQ(sdb->pstVlun, dm0);
    EXPECT_STREQ(sdb->stDev.acDevPath.data(), "/dev/sdb");
    EXPECT_STREQ(sdb->acHctl.data(), "3:0:0:1");
    EXPECT_EQ(sdb->iHctlValid, 1);
    EXPECT_STREQ(sdb->stDev.acStatus.data(), "active");
    EXPECT_STREQ(sdb->stDev.acHostWwn.data(), "21000024ff4a5b01");
    EXPECT_STREQ(Paths(dm0)[1]->acHctl.data(), "4:0:0:1");

    VlunInfo* dm1 = tstopo_GetVlunByDevname("dm-1");
    EXPECT_STREQ(dm1->acDmWwn.data(), "f4e9d456780000000000000000000d01") << "WWID first";
    EXPECT_STREQ(dm1->acDmVidPid.data(), "ZUNTA/ZX200");
    EXPECT_EQ(PathNames(dm1), (std::vector<std::string>{"sdd", "sde"}));
    EXPECT_STREQ(dm0->acAlias.data(), "mpatha");
    EXPECT_STREQ(dm1->acAlias.data(), "--") << "a map named by its WWID has no alias";
}

// A name is looked up in the listing that discovery then reads: only the
// vlun it names is made.
TEST_F(SimMain, VlunByAliasOrWwid) {
    TsNameLookup lookup;
    ASSERT_EQ(tstopo_GetVlunTopologyByName("mpatha", &lookup), 0);
    EXPECT_EQ(lookup.dmNames, std::vector<std::string>{"dm-0"});
    EXPECT_EQ(VlunNames(), std::vector<std::string>{"dm-0"});
    EXPECT_EQ(PathNames(tstopo_GetVlunByDevname("dm-0")), (std::vector<std::string>{"sdb", "sdc"}));
    FreeAllLists();

    ASSERT_EQ(tstopo_GetVlunTopologyByName("f4e9d456780000000000000000000d01", &lookup), 0);
    EXPECT_EQ(VlunNames(), std::vector<std::string>{"dm-1"});
    FreeAllLists();

    // Named, but its node answers for another vendor: named, no vlun.
    ASSERT_EQ(tstopo_GetVlunTopologyByName("foreign", &lookup), 0);
    EXPECT_EQ(lookup.dmNames, std::vector<std::string>{"dm-2"});
    EXPECT_TRUE(list_empty(&g_tsvlunlist));

    ASSERT_EQ(tstopo_GetVlunTopologyByName("nosuchmap", &lookup), 0);
    EXPECT_TRUE(lookup.dmNames.empty());
    EXPECT_TRUE(list_empty(&g_tsvlunlist));

    // The look-up alone makes nothing.
    ASSERT_EQ(tstopo_LookUpVlunName("mpatha", &lookup), 0);
    EXPECT_EQ(lookup.dmNames, std::vector<std::string>{"dm-0"});
    EXPECT_TRUE(list_empty(&g_tsvlunlist));
}

TEST_F(SimMain, UnopenableVlunKeepsItsListingDataAndSize) {
    ASSERT_EQ(tstopo_GetVlunTopology(nullptr, nullptr), 0);
    VlunInfo* dm3 = tstopo_GetVlunByDevname("dm-3");
    ASSERT_NE(dm3, nullptr);
    EXPECT_STREQ(dm3->acDmSize.data(), "7.5G");
    EXPECT_STREQ(dm3->stDev.acCapacity.data(), "7.5G") << "the listing's size";
    EXPECT_STREQ(dm3->stDev.acVidPid.data(), "--/--") << "never identified";
    EXPECT_STREQ(dm3->acDmVidPid.data(), "QELMAR/VSA1000");
    EXPECT_STREQ(dm3->acDmWwn.data(), "6e0fc12345600000000000000000d003");
    ASSERT_EQ(PathNames(dm3), (std::vector<std::string>{"sdh", "sdi"}));
    EXPECT_STREQ(Paths(dm3)[1]->stDev.acStatus.data(), "active") << "its paths are identified";
}

TEST_F(SimMain, NameFilters) {
    ASSERT_EQ(tstopo_GetVlunTopology("dm-1", nullptr), 0);
    ASSERT_EQ(VlunNames(), std::vector<std::string>{"dm-1"});
    EXPECT_EQ(PathNames(tstopo_GetVlunByDevname("dm-1")), (std::vector<std::string>{"sdd", "sde"}));
    FreeAllLists();

    ASSERT_EQ(tstopo_GetVlunTopology(nullptr, "sdc"), 0);
    ASSERT_EQ(VlunNames(), (std::vector<std::string>{"dm-0", "dm-1", "dm-3", "dm-5"}));
    EXPECT_EQ(PathNames(tstopo_GetVlunByDevname("dm-0")), std::vector<std::string>{"sdc"});
    EXPECT_TRUE(list_empty(&tstopo_GetVlunByDevname("dm-1")->stPathList));
    EXPECT_TRUE(list_empty(&tstopo_GetVlunByDevname("dm-3")->stPathList));
    FreeAllLists();

    ASSERT_EQ(tstopo_GetVlunTopology("dm-2", nullptr), 0);
    EXPECT_TRUE(list_empty(&g_tsvlunlist)) << "dm-2 answers for another vendor";
    ASSERT_EQ(tstopo_GetVlunTopology("dm-5", nullptr), 0);
    ASSERT_EQ(VlunNames(), std::vector<std::string>{"dm-5"}) << "unreadable, still a vlun";
    EXPECT_EQ(PathNames(tstopo_GetVlunByDevname("dm-5")), std::vector<std::string>{"sdk"});
}

TEST_F(SimMain, VerboseReportsVlunsPathsAndSkippedNodes) {
    std::string out = Output(kVerbose, [] { (void)GetVlunTopologyFromMultipath("dm-0", nullptr); });
    EXPECT_EQ(
        out,
        "Get vlun[/dev/dm-0].\nGet path[sdb] for vlun[dm-0].\nGet path[sdc] for vlun[dm-0].\n");
    FreeAllLists();
    out = Output(kVerbose, [] { (void)GetVlunTopologyFromMultipath("dm-5", nullptr); });
    EXPECT_EQ(out,
              "Device[/dev/dm-5] does not have read access.\nGet vlun[/dev/dm-5].\n"
              "Get path[sdk] for vlun[dm-5].\n");
}

TEST_F(SimMain, PathsOverOnePortPairShareAPhypath) {
    std::string out = Output(kVerbose, [] { ASSERT_EQ(tstopo_GetPhypathTopology(), 0); });
    std::vector<std::string> aliases;
    for (PhypathInfo* phypath : Phypaths()) {
        aliases.emplace_back(phypath->acAlias.data());
        EXPECT_STREQ(phypath->acStatus.data(), "active");
    }
    // sdb | sdc and sdi (host 4 to port a1-b0) | sdd | sde; sdh answers no
    // page 0xC0 and has no port WWNs.
    ASSERT_EQ(aliases, (std::vector<std::string>{"3:0:0", "4:0:0", "3:0:1", "4:0:1"}));
    PhypathInfo* shared = Phypaths()[1];
    EXPECT_STREQ(shared->acHostWwn.data(), "21000024ff4a5b02");
    EXPECT_STREQ(shared->acTargetWwn.data(), "2110e0fc12345601");
    EXPECT_STREQ(shared->acCtrl.data(), "B");
    EXPECT_STREQ(shared->acArrayName.data(), "Array-01");
    EXPECT_STREQ(shared->acPortType.data(), "FC");
    VlunInfo* dm3 = tstopo_GetVlunByDevname("dm-3");
    ASSERT_NE(dm3, nullptr);
    EXPECT_EQ(Paths(dm3)[1]->pstPhypath, shared);
    EXPECT_EQ(Paths(dm3)[0]->pstPhypath, nullptr);
    EXPECT_NE(out.find("Find path[sdh] is invalid in hostwwn[--] or targwwn[--].\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Lookup phypath[4:0:0] for device[sdi].\n"), std::string::npos) << out;
}

TEST_F(SimMain, ScanKeepsTheVendorsDisksOnly) {
    ScratchDir scratch;
    ASSERT_FALSE(scratch.Path().empty());
    int result = -9;
    EXPECT_EQ(Output(kQuiet, [&] { result = tstopo_GetDeviceTopology(nullptr); }), "")
        << "dropped devices are not reported by default";
    ASSERT_EQ(result, 0);
    std::vector<std::string> names;
    for (DevInfo* dev : Devices()) {
        names.emplace_back(dev->acDevName.data());
        EXPECT_EQ(dev->iDevType, TS_DEVTYPE_DEVICE);
        EXPECT_EQ(std::string(dev->acDevPath.data()), std::string("/dev/") + dev->acDevName.data());
    }
    std::sort(names.begin(), names.end());
    // Not kept: sda (ATA), loop0 (no SCSI), dm-2 and dm-4 and sdj (other
    // vendors), dm-3 (cannot be opened), dm-5 (cannot be read).
    EXPECT_EQ(names,
              (std::vector<std::string>{
                  "dm-0", "dm-1", "sd$(>mark2)", "sd`>mark3`", "sdb", "sdc",         "sdd", "sde",
                  "sdf",  "sdg",  "sdh",         "sdi",        "sdk", "sdm;>mark1;", "sdq", "sdr",
                  "sds",  "sdt",  "sdu",         "sdv",        "sdw", "sdy"}));
    EXPECT_EQ(FilesIn(scratch.Path()), std::vector<std::string>{}) << "a shell ran a name";
}

TEST_F(SimMain, ScanTakesCapacityFromSysfs) {
    ASSERT_EQ(tstopo_GetDeviceTopology(nullptr), 0);
    const std::map<std::string, std::string> expected = {
        {"sdq", "1.0M"},  {"sdr", "1.0K"}, {"sds", "0.0K"}, {"sdt", "10G"},   {"sdu", "9.5G"},
        {"sdv", "1024M"}, {"sdw", "0.0K"}, {"dm-0", "10G"}, {"dm-1", "5.0G"}, {"sdy", "2.0G"},
    };
    for (const auto& [name, capacity] : expected) {
        DevInfo* dev = FindDevice(name);
        ASSERT_NE(dev, nullptr) << name;
        EXPECT_STREQ(dev->acCapacity.data(), capacity.c_str()) << name;
    }
}

TEST_F(SimMain, UnsafeNamesKeepTheCapacityFromIdentification) {
    const std::string identified = IdentifiedCapacity();
    ScratchDir scratch;
    ASSERT_FALSE(scratch.Path().empty());
    std::string out = Output(3, [] { ASSERT_EQ(tstopo_GetDeviceTopology(nullptr), 0); });
    for (const char* name : {"sdm;>mark1;", "sd$(>mark2)", "sd`>mark3`"}) {
        DevInfo* dev = FindDevice(name);
        ASSERT_NE(dev, nullptr) << name;
        EXPECT_EQ(dev->acCapacity.data(), identified) << name;
        EXPECT_NE(out.find(std::string("Device[") + name +
                           "] is invalid name.\n"
                           "Device[" +
                           name + "] get size failed.\n"),
                  std::string::npos)
            << out;
    }
    EXPECT_EQ(FilesIn(scratch.Path()), std::vector<std::string>{}) << "a shell ran a name";
    // And directly, by name.
    char size[16] = "kept";
    EXPECT_EQ(GetCapacityFromSysfs("sd$(>mark2)", size, sizeof size), -1);
    EXPECT_STREQ(size, "kept");
    EXPECT_EQ(GetCapacityFromSysfs("sdy", size, sizeof size), 0);
    EXPECT_STREQ(size, "2.0G");
    EXPECT_EQ(FilesIn(scratch.Path()), std::vector<std::string>{});
}

TEST_F(SimMain, ScanNameFilter) {
    ASSERT_EQ(tstopo_GetDeviceTopology("sdc"), 0);
    ASSERT_EQ(Devices().size(), 1U);
    EXPECT_STREQ(Devices()[0]->acDevName.data(), "sdc");
    EXPECT_STREQ(Devices()[0]->acCapacity.data(), "10G");
    FreeAllLists();
    ASSERT_EQ(tstopo_GetDeviceTopology("sdzz"), 0);
    EXPECT_TRUE(list_empty(&g_tsdevicelist));
    ASSERT_EQ(tstopo_GetDeviceTopology("sd"), 0) << "names match exactly";
    EXPECT_TRUE(list_empty(&g_tsdevicelist));
    std::string out = Output(kVerbose, [] { ASSERT_EQ(tstopo_GetDeviceTopology("sda"), 0); });
    EXPECT_TRUE(list_empty(&g_tsdevicelist)) << "another vendor's disk";
    EXPECT_EQ(out.find("Create device"), std::string::npos) << out;
}

TEST_F(SimMain, VlunsConvertToIndependentDevices) {
    ASSERT_EQ(tstopo_GetVlunTopology(nullptr, nullptr), 0);
    tstopo_VlunConvertToDevice();
    std::vector<std::string> names;
    for (DevInfo* dev : Devices()) {
        names.emplace_back(dev->acDevName.data());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"dm-0", "sdb", "sdc", "dm-1", "sdd", "sde", "dm-3",
                                               "sdh", "sdi", "dm-5", "sdk"}));
    DevInfo* dm3 = FindDevice("dm-3");
    EXPECT_STREQ(dm3->acVidPid.data(), "QELMAR/VSA1000") << "from the listing";
    EXPECT_STREQ(dm3->acLunWwn.data(), "6e0fc12345600000000000000000d003") << "from the listing";
    EXPECT_STREQ(dm3->acCapacity.data(), "7.5G");
    EXPECT_STREQ(FindDevice("sdh")->acHostWwn.data(), "--");
    EXPECT_STREQ(FindDevice("sdi")->acHostWwn.data(), "21000024ff4a5b02");
}

TEST_F(SimMain, EveryNodeIsOpenedReadOnly) {
    const char* audit = getenv("SANSIM_AUDIT");
    if (audit == nullptr) {
        GTEST_SKIP() << "no audit log";
    }
    ASSERT_EQ(tstopo_GetPhypathTopology(), 0);
    ASSERT_EQ(tstopo_GetDeviceTopology(nullptr), 0);
    std::ifstream in(audit);
    int opens = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("open ", 0) == 0) {
            ++opens;
            EXPECT_NE(line.find(" access=ro "), std::string::npos) << line;
        }
    }
    EXPECT_GT(opens, 0);
}

// hosts/discovery-canned.json: the listing is printed as written there.
class SimCanned : public SimHost {
  protected:
    SimCanned() : SimHost("discovery-canned.json") {}
};

TEST_F(SimCanned, ListingShapesBecomeRecords) {
    ASSERT_EQ(GetVlunTopologyFromMultipath(nullptr, nullptr), 0);
    // dm-01 has no node but is a map all the same; dm-2 is another vendor's
    // (its QELMAR path line aside); "xdm-9" is no dm name; backup_dm-3 is
    // the alias of dm-7.
    ASSERT_EQ(VlunNames(), (std::vector<std::string>{"dm-01", "dm-7", "dm-8", "dm-9"}));
    EXPECT_EQ(PathNames(tstopo_GetVlunByDevname("dm-01")), std::vector<std::string>{"sdb"});

    VlunInfo* dm7 = tstopo_GetVlunByDevname("dm-7");
    EXPECT_STREQ(dm7->acDmWwn.data(), "6e0fc12345600000000000000000c003");
    EXPECT_STREQ(dm7->acDmSize.data(), "3.0G");
    // The 72-character sd word names no path.
    ASSERT_EQ(PathNames(dm7), (std::vector<std::string>{"sde", "sdf"}));
    PathInfo* sdf = Paths(dm7)[1];
    EXPECT_STREQ(sdf->acHctl.data(), "3:0:1:3");
    EXPECT_STREQ(sdf->stDev.acStatus.data(), "--");
    EXPECT_STREQ(sdf->stDev.acInqStatus.data(), "--");
    EXPECT_STREQ(Paths(dm7)[0]->stDev.acStatus.data(), "active");
    EXPECT_STREQ(Paths(dm7)[0]->stDev.acInqStatus.data(), "active");

    VlunInfo* dm8 = tstopo_GetVlunByDevname("dm-8");
    EXPECT_STREQ(dm8->acDmWwn.data(), "6e0fc12345600000000000000000c005");
    EXPECT_STREQ(dm8->acDmVidPid.data(), "ZUNTA/ZX200");
    EXPECT_STREQ(dm8->acDmSize.data(), "5.5G");
    // "sdu:" of the debug line has no node.
    ASSERT_EQ(PathNames(dm8), (std::vector<std::string>{"sdh", "sdi"}));
    EXPECT_STREQ(Paths(dm8)[0]->stDev.acStatus.data(), "active][ready]");
    EXPECT_STREQ(Paths(dm8)[0]->acHctl.data(), "5:0:0:5");
    EXPECT_STREQ(Paths(dm8)[1]->stDev.acStatus.data(), "--");

    VlunInfo* dm9 = tstopo_GetVlunByDevname("dm-9");
    EXPECT_STREQ(dm9->acDmVidPid.data(), "/nocomma");
    EXPECT_STREQ(dm9->acDmSize.data(), "") << "16 characters do not fit";
    EXPECT_EQ(PathNames(dm9), std::vector<std::string>{"sdj"}) << "not sdg of the xdm-9 block";
}

TEST_F(SimCanned, FiltersSelectByExactName) {
    ASSERT_EQ(GetVlunTopologyFromMultipath("dm-8", nullptr), 0);
    EXPECT_EQ(VlunNames(), std::vector<std::string>{"dm-8"});
    FreeAllLists();
    ASSERT_EQ(GetVlunTopologyFromMultipath("dm-3", nullptr), 0);
    EXPECT_TRUE(list_empty(&g_tsvlunlist)) << "dm-3 is only part of an alias";
    ASSERT_EQ(GetVlunTopologyFromMultipath(nullptr, "sdh"), 0);
    ASSERT_EQ(VlunNames(), (std::vector<std::string>{"dm-01", "dm-7", "dm-8", "dm-9"}));
    EXPECT_TRUE(PathNames(tstopo_GetVlunByDevname("dm-7")).empty());
    EXPECT_EQ(PathNames(tstopo_GetVlunByDevname("dm-8")), std::vector<std::string>{"sdh"});
    EXPECT_TRUE(PathNames(tstopo_GetVlunByDevname("dm-9")).empty());
}

TEST_F(SimCanned, SilentNodesTakeTheListingSize) {
    ASSERT_EQ(tstopo_GetVlunTopology(nullptr, nullptr), 0);
    ASSERT_EQ(VlunNames(), (std::vector<std::string>{"dm-01", "dm-7", "dm-8", "dm-9"}));
    VlunInfo* dm7 = tstopo_GetVlunByDevname("dm-7");
    EXPECT_STREQ(dm7->stDev.acCapacity.data(), "3.0G");
    for (PathInfo* path : Paths(dm7)) {
        EXPECT_STREQ(path->stDev.acCapacity.data(), "3.0G") << path->stDev.acDevName.data();
        EXPECT_STREQ(path->stDev.acStatus.data(), "--") << "no answer to TEST UNIT READY";
    }
    EXPECT_STREQ(tstopo_GetVlunByDevname("dm-8")->stDev.acCapacity.data(), "5.5G");
}

// A real listing of the samples, its vendor word made ours, read through a
// stream; the host (generated from the samples) has nodes for its names.
class SimSamples : public SimHost {
  protected:
    SimSamples() : SimHost("discovery-samples.json") {}
};

std::string MakeOurs(const std::string& line) {
    size_t comma = line.rfind(',');
    if (line.find("dm-") == std::string::npos || comma == std::string::npos) {
        return line;
    }
    size_t end = line.find_last_not_of(' ', comma - 1);
    size_t start = line.rfind(' ', end);
    return line.substr(0, start + 1) + "QELMAR" + line.substr(end + 1);
}

TEST_F(SimSamples, EveryMapOfTheSamplesIsRead) {
    std::vector<SampleFile> samples = ReadSamples();
    ASSERT_FALSE(samples.empty());
    int maps = 0;
    for (const SampleFile& file : samples) {
        SCOPED_TRACE(file.name);
        std::string text;
        std::vector<ExpectedMap> expected;
        for (const std::string& raw : file.lines) {
            std::string line = MakeOurs(raw);
            text += line + "\n";
            ExpectedMap map;
            std::smatch m;
            if (line.find("dm-") != std::string::npos) {
                if (ParseHeader(line, &map)) {
                    expected.push_back(map);
                }
            } else if (!expected.empty() && line.find("size=") != std::string::npos) {
                expected.back().size = ExpectedSize(line);
            } else if (!expected.empty() && std::regex_search(line, m, kPathLine)) {
                expected.back().paths.push_back(m[5]);
                expected.back().hctls.push_back(
                    std::to_string(std::stoi(m[1])) + ":" + std::to_string(std::stoi(m[2])) + ":" +
                    std::to_string(std::stoi(m[3])) + ":" + std::to_string(std::stoi(m[4])));
            }
        }
        FILE* stream = fmemopen(text.data(), text.size(), "r");
        ASSERT_NE(stream, nullptr);
        GetVlunTopologyFromListing(stream, nullptr, nullptr);
        fclose(stream);

        std::vector<std::string> names(expected.size());
        std::transform(expected.begin(), expected.end(), names.begin(),
                       [](const ExpectedMap& map) { return map.dm; });
        ASSERT_EQ(VlunNames(), names);
        for (const ExpectedMap& map : expected) {
            ++maps;
            VlunInfo* vlun = tstopo_GetVlunByDevname(map.dm.c_str());
            EXPECT_STREQ(vlun->acDmWwn.data(), map.wwn.empty() ? "--" : map.wwn.c_str());
            EXPECT_EQ(std::string(vlun->acDmVidPid.data()), "QELMAR/" + map.product);
            EXPECT_EQ(std::string(vlun->acDmSize.data()), map.size);
            EXPECT_EQ(PathNames(vlun), map.paths) << map.dm;
            EXPECT_EQ(PathHctls(vlun), map.hctls) << map.dm;
        }
        FreeAllLists();
    }
    EXPECT_GT(maps, 0);
}

// hosts/discovery-nompath.json, -listfails.json, -nostart.json
class SimNoMultipath : public SimHost {
  protected:
    SimNoMultipath() : SimHost("discovery-nompath.json") {}
};

TEST_F(SimNoMultipath, MissingCommandStopsBeforeAnyPipe) {
    int result = 0;
    std::string out = Output(kVerbose, [&] { result = tstopo_GetVlunTopology(nullptr, nullptr); });
    EXPECT_EQ(result, TS_ERR_NO_MULTIPATH);
    EXPECT_EQ(out, "Execute \"which multipath\" command failed.\n");
    EXPECT_EQ(Output(kQuiet, [&] { result = tstopo_GetPhypathTopology(); }), "");
    EXPECT_EQ(result, TS_ERR_NO_MULTIPATH);
    EXPECT_TRUE(list_empty(&g_tsvlunlist));
    EXPECT_TRUE(list_empty(&g_tsphypathlist));
}

class SimListFails : public SimHost {
  protected:
    SimListFails() : SimHost("discovery-listfails.json") {}
};

TEST_F(SimListFails, FailingListingIsNoMultipath) {
    int result = 0;
    std::string out = Output(kVerbose, [&] { result = tstopo_GetVlunTopology(nullptr, nullptr); });
    EXPECT_EQ(result, TS_ERR_NO_MULTIPATH);
    EXPECT_EQ(out, "Execute \"multipath -ll\" command failed.\n");
    EXPECT_EQ(tstopo_GetPhypathTopology(), TS_ERR_NO_MULTIPATH);
    EXPECT_TRUE(list_empty(&g_tsvlunlist));
}

class SimNoStart : public SimHost {
  protected:
    SimNoStart() : SimHost("discovery-nostart.json") {}
};

TEST_F(SimNoStart, ListingThatCannotBeStartedFails) {
    int result = 0;
    std::string out = Output(kVerbose, [&] { result = tstopo_GetVlunTopology(nullptr, nullptr); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out, "Execute popen(\"multipath -ll\") command failed.\n");
    EXPECT_EQ(tstopo_GetPhypathTopology(), -1);
    EXPECT_TRUE(list_empty(&g_tsvlunlist));
}

TEST_F(SimNoStart, SizeThatCannotBeReadKeepsTheIdentifiedCapacity) {
    const std::string identified = IdentifiedCapacity();
    std::string out = Output(3, [] { ASSERT_EQ(tstopo_GetDeviceTopology("sdb"), 0); });
    ASSERT_EQ(Devices().size(), 1U);
    EXPECT_EQ(Devices()[0]->acCapacity.data(), identified);
    EXPECT_EQ(out,
              "Popen device size[/sys/block/sdb/size] failed.\nDevice[sdb] get size failed.\n");
    FreeAllLists();
    ASSERT_EQ(tstopo_GetDeviceTopology("dm-0"), 0);
    ASSERT_EQ(Devices().size(), 1U);
    EXPECT_STREQ(Devices()[0]->acCapacity.data(), "2.0G") << "from sysfs";
}

}  // namespace
