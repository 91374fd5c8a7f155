// Identification through the real SG_IO ioctl, on the simulated host of
// hosts/ioctrl.json. Runs inside
//
//   sansim run tests/tool/hosts/ioctrl.json --audit FILE -- tool_ioctrl_sim_tests
//
// Expected records are built from the topology (the simulator's loader reads
// the same file) by the rules of each interface version range; the number of
// requests and the page sequence of each node come from the audit log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../common/unique_fd.h"
#include "discovery/tsioctrl.h"
#include "records/tstopology.h"
#include "rendering/tsprint.h"
#include "topology.h"

namespace {

// One line of the audit log.
struct AuditLine {
    std::string kind;  // "open" or "scsi"
    std::string node;
    std::string access;
    std::string flags;
    int op = -1;
    int evpd = 0;
    int page = 0;
    unsigned alloc = 0;
    unsigned timeout = 0;
};

std::string Value(const std::string& line, const std::string& key) {
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) {
        return "";
    }
    at += key.size() + 2;
    return line.substr(at, line.find(' ', at) - at);
}

std::vector<AuditLine> ReadAudit() {
    std::vector<AuditLine> lines;
    const char* path = getenv("SANSIM_AUDIT");
    std::ifstream in(path != nullptr ? path : "");
    for (std::string text; std::getline(in, text);) {
        AuditLine line;
        std::istringstream words(text);
        words >> line.kind >> line.node;
        if (line.node.compare(0, 5, "/dev/") == 0) {
            line.node.erase(0, 5);
        }
        line.access = Value(text, "access");
        line.flags = Value(text, "flags");
        if (line.kind == "scsi") {
            line.op = std::stoi(Value(text, "op"), nullptr, 16);
            line.evpd = std::stoi(Value(text, "evpd"));
            line.page = std::stoi(Value(text, "page"), nullptr, 16);
            line.alloc = static_cast<unsigned>(std::stoul(Value(text, "alloc")));
            line.timeout = static_cast<unsigned>(std::stoul(Value(text, "timeout")));
        }
        lines.push_back(line);
    }
    return lines;
}

// The audit lines of one node written after the mark was taken.
class AuditMark {
  public:
    AuditMark() : start_(ReadAudit().size()) {}

    std::vector<AuditLine> Lines(const std::string& node) const {
        std::vector<AuditLine> all = ReadAudit();
        std::vector<AuditLine> mine;
        for (size_t i = start_; i < all.size(); ++i) {
            if (all[i].node == node) {
                mine.push_back(all[i]);
            }
        }
        return mine;
    }

    int Commands(const std::string& node, int op) const {
        const std::vector<AuditLine> lines = Lines(node);
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [op](const AuditLine& l) {
            return l.kind == "scsi" && l.op == op;
        }));
    }

    // "op/evpd/page/alloc" of every command, in order.
    std::vector<std::string> Requests(const std::string& node) const {
        std::vector<std::string> out;
        for (const AuditLine& line : Lines(node)) {
            if (line.kind == "scsi") {
                out.push_back(Request(line.op, line.evpd, line.page, line.alloc));
            }
        }
        return out;
    }

    static std::string Request(int op, int evpd, int page, unsigned alloc) {
        char text[64];
        snprintf(text, sizeof text, "%02x/%d/%02x/%u", op, evpd, page, alloc);
        return text;
    }

  private:
    size_t start_;
};

const std::string kTur = AuditMark::Request(0x00, 0, 0, 0);
const std::string kStd = AuditMark::Request(0x12, 0, 0, 64);
const std::string kC0 = AuditMark::Request(0x12, 1, 0xC0, 1024);
const std::string k80 = AuditMark::Request(0x12, 1, 0x80, 64);
const std::string k83 = AuditMark::Request(0x12, 1, 0x83, 64);
const std::string kC4 = AuditMark::Request(0x12, 1, 0xC4, 64);
const std::string kC8 = AuditMark::Request(0x12, 1, 0xC8, 256);
const std::string kC9 = AuditMark::Request(0x12, 1, 0xC9, 512);
const std::string kRc10 = AuditMark::Request(0x25, 0, 0, 8);
const std::string kRc16 = AuditMark::Request(0x9E, 0, 0, 32);

// What every identification of a healthy node sends, by interface version.
std::vector<std::string> IdentificationRequests(int version, bool longCapacity) {
    std::vector<std::string> seq = {kTur, kStd, kC0};
    if (version >= 512) {
        seq.insert(seq.end(), {k80, k83});
        if (version <= 513) {
            seq.push_back(kC4);
        }
        seq.insert(seq.end(), {kC8, kC9});
    }
    seq.push_back(kRc10);
    if (longCapacity) {
        seq.push_back(kRc16);
    }
    return seq;
}

const sansim::Topology& Topology() {
    static const sansim::Topology topo = [] {
        sansim::Topology t;
        std::string error;
        const char* file = getenv("SANSIM_TOPOLOGY");
        if (file == nullptr || !sansim::LoadTopology(file, &t, &error)) {
            ADD_FAILURE() << "cannot load the topology: " << error;
        }
        return t;
    }();
    return topo;
}

template <size_t N>
void Set(TsText<N>& field, const std::string& text) {
    ASSERT_LT(text.size(), N);
    field.fill('\0');
    memcpy(field.data(), text.c_str(), text.size());
}

DevInfo DefaultRecord(const std::string& node) {
    DevInfo dev;
    tstopo_InitDevInfoToDefault(&dev, TS_DEVTYPE_PATH);
    Set(dev.acDevPath, "/dev/" + node);
    return dev;
}

std::string LowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The record that a path of the topology identifies as, for an array that
// reports the given interface version.
DevInfo ExpectedRecord(const std::string& node, int version, const std::string& capacity) {
    DevInfo dev = DefaultRecord(node);
    const sansim::Topology& topo = Topology();
    const sansim::DeviceRef* ref = sansim::FindDevice(topo, node);
    if (ref == nullptr || ref->kind != sansim::DeviceRef::Kind::Path) {
        ADD_FAILURE() << node << " is not a LUN path of the topology";
        return dev;
    }
    const sansim::Lun& lun = topo.luns[ref->lun];
    const sansim::Path& path = lun.paths[ref->path];
    const sansim::Array& array = *sansim::FindArray(topo, lun.array);
    const sansim::TargetPort& port = *sansim::FindTargetPort(array, path.targetPort);
    const sansim::ScsiHost& host = *sansim::FindHost(topo, path.host);

    Set(dev.acStatus, "active");
    Set(dev.acInqStatus, "active");
    Set(dev.acVidPid, array.vendor + "/" + array.product);
    Set(dev.acCapacity, capacity);
    dev.iIfVersion = version;
    dev.iDualArray = lun.dualArray ? 1 : 0;
    if (version < 512) {
        return dev;
    }
    Set(dev.acPortType, array.portTypeCode == 1 ? "FC" : array.portTypeCode == 3 ? "iSCSI" : "--");
    Set(dev.acTargetWwn, port.identifier);
    Set(dev.acHostWwn, host.initiatorPort);
    Set(dev.acArraySn, array.serial);
    Set(dev.acLunWwn, LowerCase(lun.wwid.substr(1)));
    Set(dev.acCtrl, port.controller);
    Set(dev.acLunName, lun.name);
    Set(dev.acArrayLunId, std::to_string(lun.hostLunId & 0xFFFF));
    dev.acRawLunId.fill('\0');
    for (size_t i = 0; i < 16; ++i) {
        dev.acRawLunId[i] =
            static_cast<char>(std::stoi(lun.rawLunId.substr(2 * i, 2), nullptr, 16));
    }
    Set(dev.acArrayName, array.name);
    Set(dev.acOwnWork, lun.owner + "/" + lun.worker);
    if (version >= 516) {
        Set(dev.acDevLunId, std::to_string(lun.arrayLunId & 0xFFFF));
        Set(dev.acPortId, lun.portId);
    }
    return dev;
}

#define EXPECT_TEXT(field) EXPECT_STREQ(actual.field.data(), expected.field.data()) << #field

void ExpectRecord(const DevInfo& actual, const DevInfo& expected) {
    EXPECT_TEXT(acDevPath);
    EXPECT_TEXT(acDevName);
    EXPECT_TEXT(acVidPid);
    EXPECT_TEXT(acCapacity);
    EXPECT_TEXT(acLunName);
    EXPECT_TEXT(acLunWwn);
    EXPECT_TEXT(acDevLunId);
    EXPECT_TEXT(acArrayLunId);
    EXPECT_TEXT(acCtrl);
    EXPECT_TEXT(acOwnWork);
    EXPECT_TEXT(acArrayName);
    EXPECT_TEXT(acArraySn);
    EXPECT_TEXT(acPortType);
    EXPECT_TEXT(acPortId);
    EXPECT_TEXT(acStatus);
    EXPECT_TEXT(acInqStatus);
    EXPECT_TEXT(acHostWwn);
    EXPECT_TEXT(acTargetWwn);
    // Binary bytes, not text: the raw LUN ID may start with a zero byte.
    EXPECT_EQ(0, memcmp(actual.acRawLunId.data(), expected.acRawLunId.data(), 17)) << "acRawLunId";
    EXPECT_EQ(actual.iDevType, expected.iDevType);
    EXPECT_EQ(actual.iIfVersion, expected.iIfVersion);
    EXPECT_EQ(actual.iShieldTpg, expected.iShieldTpg);
    EXPECT_EQ(actual.iDualArray, expected.iDualArray);
}

class SimHost : public testing::Test {
  protected:
    void SetUp() override {
        if (getenv("SANSIM_TOPOLOGY") == nullptr || getenv("SANSIM_AUDIT") == nullptr) {
            GTEST_SKIP() << "needs a simulated host: sansim run hosts/ioctrl.json --audit FILE";
        }
    }
};

UniqueFd OpenNode(const std::string& node) {
    return UniqueFd(open(("/dev/" + node).c_str(), O_RDONLY));
}

// ---------------------------------------------------------------------------
// TEST UNIT READY: at most five requests, retried only on UNIT ATTENTION and
// on transport statuses outside DID_OK, NO_CONNECT, BAD_TARGET, ABORT and 15,
// and never after a time-out (DID_TIME_OUT).

struct TurCase {
    const char* node;
    const char* what;
    int result;
    int requests;
};

TEST_F(SimHost, TestUnitReadyRetryBudget) {
    const TurCase cases[] = {
        {"sdb", "ready", 0, 1},
        {"sdk", "UNIT ATTENTION five times", -1, 5},
        {"sdl", "UNIT ATTENTION twice, ready at the third", 0, 3},
        // A time-out is not tried again: it would only be waited out again.
        {"sdm", "host status 3 (time-out) on every request", -1, 1},
        {"sdn", "host status 3 four times, then UNIT ATTENTION", -1, 1},
        {"sdaf", "dead path: DID_NO_CONNECT without sense", -1, 1},
        {"sdo", "ILLEGAL REQUEST", -1, 1},
        {"sdp", "UNIT ATTENTION in 13 bytes of fixed sense: not decoded", -1, 1},
        {"sdq", "UNIT ATTENTION in 4 bytes of descriptor sense", 0, 2},
        {"sdr", "the ioctl fails: no retry", -1, 1},
    };
    for (const TurCase& c : cases) {
        SCOPED_TRACE(std::string(c.node) + ": " + c.what);
        AuditMark audit;
        UniqueFd fd = OpenNode(c.node);
        ASSERT_TRUE(fd.Valid());
        EXPECT_EQ(c.result, tsioctrl_TUR(fd.Get()));
        EXPECT_EQ(c.requests, audit.Commands(c.node, 0x00));
        EXPECT_EQ(static_cast<size_t>(c.requests), audit.Requests(c.node).size());
    }
}

// ---------------------------------------------------------------------------
// READ CAPACITY(10), and (16) when (10) fails or reports 0xFFFFFFFF.

struct CapacityCase {
    const char* node;
    const char* what;
    int result;
    uint64_t bytes;
    std::vector<std::string> requests;
};

TEST_F(SimHost, ReadCapacity) {
    constexpr uint64_t kUntouched = 77;
    const CapacityCase cases[] = {
        {"sds", "last block 0x3FFFFF", 0, 2147483648ULL, {kRc10}},
        {"sdt", "2 TiB: last block 0xFFFFFFFF", 0, 2199023255552ULL, {kRc10, kRc16}},
        {"sdu", "4 TiB: last block 0x1FFFFFFFF", 0, 4398046511104ULL, {kRc10, kRc16}},
        {"sdv", "READ CAPACITY(10) refused", 0, 1073741824ULL, {kRc10, kRc16}},
        {"sdw", "both refused", -1, kUntouched, {kRc10, kRc16}},
        {"sdr", "the ioctl fails", -1, kUntouched, {kRc10, kRc16}},
        {"sdx", "last block all ones: the product wraps to 0", 0, 0, {kRc10, kRc16}},
    };
    for (const CapacityCase& c : cases) {
        SCOPED_TRACE(std::string(c.node) + ": " + c.what);
        AuditMark audit;
        UniqueFd fd = OpenNode(c.node);
        ASSERT_TRUE(fd.Valid());
        uint64_t bytes = kUntouched;
        EXPECT_EQ(c.result, tsioctrl_ReadCapacity(fd.Get(), &bytes));
        EXPECT_EQ(c.bytes, bytes);
        EXPECT_EQ(c.requests, audit.Requests(c.node));
    }
}

TEST_F(SimHost, ReadLongCapacityAlone) {
    AuditMark audit;
    UniqueFd fd = OpenNode("sdu");
    ASSERT_TRUE(fd.Valid());
    uint64_t bytes = 0;
    EXPECT_EQ(0, tsioctrl_ReadLongCapacity(fd.Get(), &bytes));
    EXPECT_EQ(4398046511104ULL, bytes);
    EXPECT_EQ(std::vector<std::string>{kRc16}, audit.Requests("sdu"));
}

// ---------------------------------------------------------------------------
// Identification of one healthy node per interface version range, in both
// modes: every field against the topology, every request against the audit.

struct VersionCase {
    const char* node;
    const char* what;
    int version;
    const char* capacity;
    bool longCapacity;
};

TEST_F(SimHost, IdentifiesEveryInterfaceVersion) {
    const VersionCase cases[] = {
        {"sdb", "511: standard data, 0xC0 and capacity only", 511, "10G", false},
        {"sdc", "512 through controller B (owner A, worker B)", 512, "1.5G", false},
        {"sdd", "512 through controller A (owner A, worker B)", 512, "1.5G", false},
        {"sde", "513 (ZUNTA), owner and worker B, 40-character name", 513, "1.0G", false},
        {"sdf", "514 through B, controllers as letters", 514, "5.0G", false},
        {"sdg", "515, controller names as text", 515, "1023G", false},
        {"sdh", "516 over iSCSI, dual array, LUN ID above 0xFFFF", 516, "2.0T", true},
        {"sdi", "768, unknown port type, 4096-byte blocks", 768, "10G", false},
        {"sdj", "version bytes 00 02 00 03, 512-byte LUN", 515, "512B", false},
    };
    for (const VersionCase& c : cases) {
        for (int mode : {TS_INQUIRY_STRICT, TS_INQUIRY_TOLERANT}) {
            SCOPED_TRACE(std::string(c.node) + " mode " + std::to_string(mode) + ": " + c.what);
            AuditMark audit;
            DevInfo dev = DefaultRecord(c.node);
            EXPECT_EQ(TS_OK, tsioctrl_GetDevInfomationByInquiry(&dev, mode));
            ExpectRecord(dev, ExpectedRecord(c.node, c.version, c.capacity));
            EXPECT_EQ(IdentificationRequests(c.version, c.longCapacity), audit.Requests(c.node));
        }
    }
}

// ---------------------------------------------------------------------------
// The shield rules: page 0xC0 byte 11 bit 6, or a qualifier other than 0 in
// page 0xC0 or 0xC9, hide the own/work pair.

TEST_F(SimHost, ShieldHidesOwnWork) {
    struct ShieldCase {
        const char* node;
        const char* what;
        int version;
    };
    const ShieldCase cases[] = {
        {"sdy", "page 0xC0 byte 11 = 0x40", 516},
        {"sdaa", "page 0xC0 qualifier 1", 516},
        {"sdz", "page 0xC9 qualifier 1: the pair is never written", 514},
    };
    for (const ShieldCase& c : cases) {
        SCOPED_TRACE(std::string(c.node) + ": " + c.what);
        DevInfo expected = ExpectedRecord(c.node, c.version, "1.0G");
        Set(expected.acOwnWork, "--/--");
        expected.iShieldTpg = 1;
        DevInfo dev = DefaultRecord(c.node);
        tsprint_SetLogLevel(0);
        testing::internal::CaptureStdout();
        int result = tsioctrl_GetDevInfomationByInquiry(&dev, TS_INQUIRY_TOLERANT);
        std::string out = testing::internal::GetCapturedStdout();
        tsprint_SetLogLevel(99);
        EXPECT_EQ(TS_OK, result);
        ExpectRecord(dev, expected);
        EXPECT_EQ("Device[/dev/" + std::string(c.node) + "] shield own/work tpg.\n", out);
    }
}

// ---------------------------------------------------------------------------
// Short and missing pages stop only their own decoder.

TEST_F(SimHost, ShortPageC0EndsBeforeTheVersion) {
    // Page length 157: L = 161 covers byte 160 (dual array) but not the version.
    AuditMark audit;
    DevInfo dev = DefaultRecord("sdab");
    EXPECT_EQ(TS_OK, tsioctrl_GetDevInfomationByInquiry(&dev, TS_INQUIRY_STRICT));
    DevInfo expected = ExpectedRecord("sdab", 0, "1.0G");
    ASSERT_EQ(1, expected.iDualArray);
    ExpectRecord(dev, expected);
    EXPECT_EQ(IdentificationRequests(0, false), audit.Requests("sdab"));
}

TEST_F(SimHost, ShortAndMissingPagesKeepTheirFields) {
    struct ShortCase {
        const char* node;
        const char* what;
        int version;
        void (*adjust)(DevInfo*);
    };
    const ShortCase cases[] = {
        {"sdac", "512, page 0xC8 length 104 (L = 108): empty array name", 512,
         [](DevInfo* d) { Set(d->acArrayName, ""); }},
        {"sdad", "page 0x83 length 16 (L = 20): WWN unchanged", 516,
         [](DevInfo* d) { Set(d->acLunWwn, "--"); }},
        {"sdae", "page 0x80 refused: serial unchanged", 516,
         [](DevInfo* d) { Set(d->acArraySn, "--"); }},
    };
    for (const ShortCase& c : cases) {
        SCOPED_TRACE(std::string(c.node) + ": " + c.what);
        DevInfo expected = ExpectedRecord(c.node, c.version, "1.0G");
        c.adjust(&expected);
        DevInfo dev = DefaultRecord(c.node);
        EXPECT_EQ(TS_OK, tsioctrl_GetDevInfomationByInquiry(&dev, TS_INQUIRY_TOLERANT));
        ExpectRecord(dev, expected);
    }
}

// ---------------------------------------------------------------------------
// Nodes that do not answer, or answer as something else.

// A path taken from the listing as active; the device itself decides.
DevInfo ListedActive(const std::string& node) {
    DevInfo dev = DefaultRecord(node);
    Set(dev.acStatus, "active");
    Set(dev.acInqStatus, "active");
    return dev;
}

TEST_F(SimHost, DeadPathKeepsTheRecordInTolerantMode) {
    AuditMark audit;
    DevInfo dev = ListedActive("sdaf");
    EXPECT_EQ(TS_OK, tsioctrl_GetDevInfomationByInquiry(&dev, TS_INQUIRY_TOLERANT));
    ExpectRecord(dev, DefaultRecord("sdaf"));  // acStatus and acInqStatus "--"
    EXPECT_EQ((std::vector<std::string>{kTur, kStd, kC0, kRc10, kRc16}), audit.Requests("sdaf"));
}

TEST_F(SimHost, DeadPathIsRejectedInStrictMode) {
    AuditMark audit;
    DevInfo dev = DefaultRecord("sdaf");
    EXPECT_EQ(TS_ERR_INQUIRY, tsioctrl_GetDevInfomationByInquiry(&dev, TS_INQUIRY_STRICT));
    ExpectRecord(dev, DefaultRecord("sdaf"));
    EXPECT_EQ((std::vector<std::string>{kTur, kStd}), audit.Requests("sdaf"));
}

TEST_F(SimHost, ReadyButEveryInquiryRefused) {
    // TEST UNIT READY alone makes both states "active".
    AuditMark audit;
    DevInfo tolerant = DefaultRecord("sdam");
    EXPECT_EQ(TS_OK, tsioctrl_GetDevInfomationByInquiry(&tolerant, TS_INQUIRY_TOLERANT));
    DevInfo expected = ListedActive("sdam");
    Set(expected.acCapacity, "1.0G");
    ExpectRecord(tolerant, expected);
    EXPECT_EQ((std::vector<std::string>{kTur, kStd, kC0, kRc10}), audit.Requests("sdam"));

    DevInfo strict = DefaultRecord("sdam");
    EXPECT_EQ(TS_ERR_INQUIRY, tsioctrl_GetDevInfomationByInquiry(&strict, TS_INQUIRY_STRICT));
    ExpectRecord(strict, ListedActive("sdam"));
}

TEST_F(SimHost, FailedStandardInquiry) {
    // TEST UNIT READY and the standard INQUIRY see DID_NO_CONNECT; every later
    // command answers.
    AuditMark audit;
    DevInfo tolerant = DefaultRecord("sdai");
    EXPECT_EQ(TS_OK, tsioctrl_GetDevInfomationByInquiry(&tolerant, TS_INQUIRY_TOLERANT));
    DevInfo expected = ExpectedRecord("sdai", 516, "1.0G");
    Set(expected.acStatus, "--");
    Set(expected.acVidPid, "--/--");
    ExpectRecord(tolerant, expected);  // acInqStatus "active" from page 0xC0 on
    EXPECT_EQ(IdentificationRequests(516, false), audit.Requests("sdai"));

    DevInfo strict = DefaultRecord("sdaj");
    EXPECT_EQ(TS_ERR_INQUIRY, tsioctrl_GetDevInfomationByInquiry(&strict, TS_INQUIRY_STRICT));
    ExpectRecord(strict, DefaultRecord("sdaj"));
    EXPECT_EQ((std::vector<std::string>{kTur, kStd}), audit.Requests("sdaj"));
}

TEST_F(SimHost, NodesThatDoNotOpenAreLeftUntouched) {
    for (const char* node : {"sdag", "sdah", "sdzz"}) {  // vanished, unreadable, absent
        SCOPED_TRACE(node);
        AuditMark audit;
        DevInfo dev = DefaultRecord(node);
        dev.iIfVersion = 3;
        const DevInfo before = dev;
        for (int mode : {TS_INQUIRY_TOLERANT, TS_INQUIRY_STRICT}) {
            EXPECT_EQ(TS_ERR_OPEN, tsioctrl_GetDevInfomationByInquiry(&dev, mode));
        }
        EXPECT_EQ(0, memcmp(&dev, &before, sizeof dev));
        EXPECT_TRUE(audit.Requests(node).empty());
    }
}

TEST_F(SimHost, OtherVendorsAreRejected) {
    for (const char* node : {"sdal", "sdak"}) {  // ATA, and "qelmar" in lower case
        for (int mode : {TS_INQUIRY_TOLERANT, TS_INQUIRY_STRICT}) {
            SCOPED_TRACE(std::string(node) + " mode " + std::to_string(mode));
            AuditMark audit;
            DevInfo dev = DefaultRecord(node);
            EXPECT_EQ(TS_ERR_NOT_VENDOR, tsioctrl_GetDevInfomationByInquiry(&dev, mode));
            DevInfo expected = DefaultRecord(node);
            Set(expected.acStatus, "active");
            Set(expected.acInqStatus, "active");
            ExpectRecord(dev, expected);
            EXPECT_EQ((std::vector<std::string>{kTur, kStd}), audit.Requests(node));
        }
    }
}

// ---------------------------------------------------------------------------
// Over the whole run: read-only opens without other flags, only the four
// commands, every one with the 10 ms timeout.

class WholeAuditCheck : public testing::Environment {
  public:
    void TearDown() override {
        if (getenv("SANSIM_AUDIT") == nullptr) {
            return;
        }
        std::vector<AuditLine> lines = ReadAudit();
        EXPECT_GT(lines.size(), 100u);
        for (const AuditLine& line : lines) {
            SCOPED_TRACE(line.kind + " " + line.node);
            EXPECT_EQ("ro", line.access);
            if (line.kind == "open") {
                EXPECT_EQ("0x0", line.flags);
            } else {
                EXPECT_TRUE(line.op == 0x00 || line.op == 0x12 || line.op == 0x25 ||
                            line.op == 0x9E)
                    << "opcode " << line.op;
                EXPECT_EQ(10u, line.timeout);
            }
        }
    }
};

testing::Environment* const g_wholeAudit = testing::AddGlobalTestEnvironment(new WholeAuditCheck);

}  // namespace
