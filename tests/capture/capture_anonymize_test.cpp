// Anonymizing a capture: what counts as an identifier, and that each one is
// replaced in every form it takes by one replacement of its length and
// class, while everything around it stays.
#include "capture_anonymize.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>

namespace {

constexpr char kNaa[] = "6e0fc123456000000000000000000011";

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

std::string NaaBytes() {
    std::string s;
    for (size_t i = 0; i < 32; i += 2) {
        s.push_back(static_cast<char>(std::stoi(std::string(kNaa + i, 2), nullptr, 16)));
    }
    return s;
}

std::string HexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

// One INQUIRY of a VPD page and its reply.
CaptureCommand Page(int page, std::string data) {
    CaptureCommand command;
    command.cdb = Bytes({0x12, 0x01, page, 0x00, 0xff, 0x00});
    CaptureReply reply;
    reply.data = std::move(data);
    command.replies.push_back(reply);
    return command;
}

std::string PageWith(int page, size_t size, size_t at, const std::string& text) {
    std::string data(size, '\0');
    data[1] = static_cast<char>(page);
    data.replace(at, text.size(), text);
    return data;
}

// A host of one map over one FC path and one iSCSI session.
CaptureRecord Host() {
    CaptureRecord record;
    CaptureListing listing;
    listing.command = "multipath -ll";
    CaptureRun run;
    run.text = std::string("mpatha (3") + kNaa +
               ") dm-0 QELMAR,VSA1000\n"
               "size=10G features='1 queue_if_no_path' hwhandler='1 alua' wp=rw\n"
               "`-+- policy='service-time 0' prio=50 status=active\n"
               "  `- 3:0:0:1 sdb 8:16 active ready running\n"
               "mpathab db010 2100E0FC12345601\n";
    listing.runs.push_back(run);
    record.listings.push_back(listing);
    record.sysfs.push_back(
        {CaptureSysfs::Kind::File, "class/fc_host/host3/port_name", "0x21000024ff4a5b01\n"});
    record.sysfs.push_back({CaptureSysfs::Kind::File, "class/fc_host/host3/speed", "16 Gbit\n"});
    record.sysfs.push_back({CaptureSysfs::Kind::File, "class/iscsi_host/host5/initiatorname",
                            "iqn.1993-08.org.debian:01:5e2f8a9c0d41\n"});
    CaptureNode node;
    node.name = "sdb";
    std::string c8 = PageWith(0xC8, 196, 29, "db01");
    c8[106] = 16;  // "Array-01" in two-byte characters
    const std::string wide =
        Bytes({0, 'A', 0, 'r', 0, 'r', 0, 'a', 0, 'y', 0, '-', 0, '0', 0, '1'});
    c8.replace(107, wide.size(), wide);
    std::string c0 = PageWith(0xC0, 700, 112, "12345678");  // an all-digit serial
    c0.replace(192, 16, "2100e0fc12345601");
    c0.replace(433, 46, "iqn.1993-08.org.debian:01:5e2f8a9c0d41,i,0x001");
    std::string id = PageWith(0x83, 24, 4, Bytes({0x01, 0x03, 0x00, 0x10}));
    id.replace(8, 16, NaaBytes());
    node.commands = {Page(0x83, id), Page(0xC8, c8), Page(0xC0, c0),
                     Page(0x80, PageWith(0x80, 12, 4, "    1234"))};
    record.nodes.push_back(node);
    return record;
}

std::map<std::string, std::string> Anonymize(CaptureRecord* record, unsigned long long seed) {
    CaptureMapping mapping;
    capture_Anonymize(record, seed, &mapping);
    return {mapping.entries.begin(), mapping.entries.end()};
}

TEST(CaptureAnonymize, FindsEachKindAndLeavesWhatIdentifiesNothing) {
    CaptureRecord record = Host();
    const auto map = Anonymize(&record, 7);
    for (const char* id :
         {kNaa, "mpatha", "2100e0fc12345601", "21000024ff4a5b01",
          "iqn.1993-08.org.debian:01:5e2f8a9c0d41", "db01", "Array-01", "12345678"}) {
        EXPECT_EQ(map.count(id), 1u) << id;
    }
    // A short number, the tag of an iSCSI port name, what the programs do
    // not take for a name: kept.
    for (const char* word : {"1234", "0x001", "16 Gbit", "Gbit"}) {
        EXPECT_EQ(map.count(word), 0u) << word;
    }
    for (const auto& [original, replacement] : map) {
        ASSERT_EQ(original.size(), replacement.size()) << original;
        EXPECT_NE(original, replacement);
        for (size_t i = 0; i < original.size(); ++i) {
            const char o = original[i];
            const char r = replacement[i];
            EXPECT_EQ(!!isdigit(o), !!isdigit(r)) << original;
            EXPECT_EQ(!!isupper(o), !!isupper(r)) << original;
            EXPECT_EQ(!!isalpha(o), !!isalpha(r)) << original;
            if (!isalnum(o)) {
                EXPECT_EQ(o, r) << original;
            }
        }
    }
    EXPECT_TRUE(record.anonymized);
}

TEST(CaptureAnonymize, ReplacesEveryFormAlikeAndNothingElse) {
    CaptureRecord record = Host();
    auto map = Anonymize(&record, 7);
    const std::string naa = map[kNaa];
    const std::string& text = record.listings[0].runs[0].text;
    // The WWID keeps its "3", the NAA type and the listing's own words.
    EXPECT_EQ(text.substr(0, 47), map["mpatha"] + " (3" + naa + ") dm-0");
    EXPECT_EQ(naa[0], '6');
    EXPECT_NE(text.find("size=10G features='1 queue_if_no_path' hwhandler='1 alua' wp=rw\n"),
              std::string::npos);
    // Whole words only: mpathab and db010 are other words. A hex identifier
    // keeps the case of each of its characters.
    std::string port = map["2100e0fc12345601"];
    for (char& c : port) {
        c = static_cast<char>(toupper(c));
    }
    EXPECT_NE(text.find("mpathab db010 " + port + "\n"), std::string::npos);
    EXPECT_EQ(record.sysfs[0].text, "0x" + map["21000024ff4a5b01"] + "\n");
    EXPECT_EQ(record.sysfs[1].text, "16 Gbit\n");
    const std::string iqn = map["iqn.1993-08.org.debian:01:5e2f8a9c0d41"];
    EXPECT_EQ(iqn.substr(0, 12), "iqn.1993-08.");
    EXPECT_EQ(record.sysfs[2].text, iqn + "\n");
    // The pages: the designator's bytes, the names, the two-byte array name
    // and its length, the port identifiers with their tags.
    const auto& commands = record.nodes[0].commands;
    EXPECT_EQ(HexOf(commands[0].replies[0].data.substr(8, 16)), naa);
    const std::string& c8 = commands[1].replies[0].data;
    EXPECT_EQ(c8.substr(29, 5), map["db01"] + std::string(1, '\0'));
    std::string wide;
    for (char c : map["Array-01"]) {
        wide += std::string(1, '\0') + c;
    }
    EXPECT_EQ(c8.substr(106, 17), std::string(1, '\x10') + wide);
    const std::string& c0 = commands[2].replies[0].data;
    EXPECT_EQ(c0.substr(112, 8), map["12345678"]);
    EXPECT_EQ(c0.substr(192, 16), map["2100e0fc12345601"]);
    EXPECT_EQ(c0.substr(433, 46), iqn + ",i,0x001");
    EXPECT_EQ(commands[3].replies[0].data.substr(4, 8), "    1234");
}

TEST(CaptureAnonymize, TheSeedMakesTheReplacements) {
    CaptureRecord a = Host();
    CaptureRecord b = Host();
    CaptureRecord c = Host();
    EXPECT_EQ(Anonymize(&a, 1), Anonymize(&b, 1));
    EXPECT_NE(Anonymize(&b, 1), Anonymize(&c, 2));
}

// Identifiers that stand only in /sys, where the capture records them
// (below devices/, as the class/ links resolve): the node and fabric
// names, the port name of an HBA whose link is down, a remote port's, a
// failed session's target and the initiator's address.
TEST(CaptureAnonymize, FindsWhatOnlySysfsHolds) {
    CaptureRecord record = Host();
    const std::string fc = "devices/platform/host4/fc_host/host4/";
    const std::string rport = "devices/platform/host4/rport-4:0-1/fc_remote_ports/rport-4:0-1/";
    const std::string session = "devices/platform/host5/session3/iscsi_session/session3/";
    const std::pair<std::string, std::string> planted[] = {
        {fc + "node_name", "0x20000024ffc0ffee\n"},
        {fc + "fabric_name", "0x10000005ffc0ffee\n"},
        {fc + "port_name", "0x21000024ffc0ffee\n"},
        {rport + "port_name", "0x2111e0fcc0ffee01\n"},
        {session + "targetname", "iqn.2006-08.com.qelmar:vsa1000.c0ffee\n"},
        {"devices/platform/host5/iscsi_host/host5/ipaddress", "192.168.10.7\n"},
    };
    for (const auto& [path, text] : planted) {
        record.sysfs.push_back({CaptureSysfs::Kind::File, path, text});
    }
    record.sysfs.push_back({CaptureSysfs::Kind::File, session + "state", "FAILED\n"});
    auto map = Anonymize(&record, 3);
    for (const char* id :
         {"20000024ffc0ffee", "10000005ffc0ffee", "21000024ffc0ffee", "2111e0fcc0ffee01",
          "iqn.2006-08.com.qelmar:vsa1000.c0ffee", "192.168.10.7"}) {
        ASSERT_EQ(map.count(id), 1u) << id;
    }
    const size_t first = record.sysfs.size() - 7;
    EXPECT_EQ(record.sysfs[first].text, "0x" + map["20000024ffc0ffee"] + "\n");
    EXPECT_EQ(record.sysfs[first + 4].text, map["iqn.2006-08.com.qelmar:vsa1000.c0ffee"] + "\n");
    EXPECT_EQ(record.sysfs[first + 4].path, session + "targetname");
    EXPECT_EQ(record.sysfs[first + 6].text, "FAILED\n");
    // An address of the same shape: four numbers of 0 to 255, as many digits each.
    const std::string address = map["192.168.10.7"];
    unsigned a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(sscanf(address.c_str(), "%3u.%3u.%2u.%1u", &a, &b, &c, &d), 4) << address;
    EXPECT_TRUE(a >= 100 && a <= 255 && b >= 100 && b <= 255 && c >= 10) << address;
    EXPECT_EQ(record.sysfs[first + 5].text, address + "\n");
}

// A LUN name or alias that is also a word of the listing or of /sys is
// replaced where it names the LUN and nowhere else; the page 0xC0 copy of
// the array serial number gets the start of the serial's replacement; the
// raw LUN id of page 0xC8 is replaced.
TEST(CaptureAnonymize, ReplacesNamesOnlyWhereTheyStand) {
    CaptureRecord record;
    CaptureListing listing;
    listing.command = "multipath -ll";
    const std::string text = std::string("size (3") + kNaa +
                             ") dm-0 QELMAR,VSA1000\n"
                             "size=10G features='0' hwhandler='1 alua' wp=rw\n"
                             "`-+- policy='service-time 0' prio=50 status=active\n"
                             "  `- 3:0:0:1 sdb 8:16 active ready running\n";
    listing.runs.push_back({true, 0, text});
    record.listings.push_back(listing);
    record.sysfs.push_back({CaptureSysfs::Kind::Link, "block/sdb/device",
                            "../../devices/platform/host3/target3:0:0/3:0:0:1"});
    record.sysfs.push_back({CaptureSysfs::Kind::File, "block/sdb/device/state", "running\n"});
    CaptureNode node;
    node.name = "sdb";
    std::string c8 = PageWith(0xC8, 196, 29, "active");
    const std::string raw =
        Bytes({0, 0, 0x06, 0xe0, 0xfc, 0x12, 0x34, 0x56, 0, 0, 0, 0, 0, 0, 0, 0x11});
    c8.replace(90, raw.size(), raw);
    std::string c0 = PageWith(0xC0, 700, 112, "2102351234ABCDEF");
    node.commands = {Page(0xC8, c8), Page(0xC0, c0),
                     Page(0x80, PageWith(0x80, 40, 4, "2102351234ABCDEF0001"))};
    record.nodes.push_back(node);
    auto map = Anonymize(&record, 5);
    ASSERT_EQ(map.count("size"), 1u);
    ASSERT_EQ(map.count("active"), 1u);
    const std::string& out = record.listings[0].runs[0].text;
    EXPECT_EQ(out.substr(0, 4), map["size"]);
    EXPECT_EQ(out.substr(out.find('\n') + 1), text.substr(text.find('\n') + 1));
    EXPECT_EQ(record.sysfs[0].path, "block/sdb/device");
    EXPECT_EQ(record.sysfs[1].text, "running\n");
    EXPECT_EQ(record.nodes[0].name, "sdb");
    const auto& commands = record.nodes[0].commands;
    EXPECT_EQ(commands[0].replies[0].data.substr(29, 6), map["active"]);
    ASSERT_EQ(map.count("000006e0fc1234560000000000000011"), 1u);
    EXPECT_EQ(HexOf(commands[0].replies[0].data.substr(90, 16)),
              map["000006e0fc1234560000000000000011"]);
    const std::string serial = map["2102351234abcdef0001"];
    ASSERT_EQ(serial.size(), 20u);
    EXPECT_EQ(map["2102351234abcdef"], serial.substr(0, 16));
    std::string copy = commands[1].replies[0].data.substr(112, 16);
    for (char& ch : copy) {
        ch = static_cast<char>(tolower(ch));
    }
    EXPECT_EQ(copy, serial.substr(0, 16));
}

TEST(CaptureAnonymize, TheMappingNamesItsCapture) {
    CaptureRecord record = Host();
    CaptureMapping mapping;
    mapping.captureId = "0123456789abcdef";
    capture_Anonymize(&record, 1, &mapping);
    EXPECT_EQ(record.captureId, "0123456789abcdef");
    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(capture_WriteMapping(mapping, out));
    fclose(out);
    const std::string written(text, length);
    free(text);
    EXPECT_NE(written.find("\"capture_id\""), std::string::npos) << written;
    EXPECT_NE(written.find("\"0123456789abcdef\""), std::string::npos) << written;
    EXPECT_NE(written.find("\"mapping\""), std::string::npos) << written;
}

// Page 0xC8's raw LUN id: its 16 bytes, which no program prints but a
// capture holds, leave no trace: neither as bytes in any reply nor as hex
// digits (either case) anywhere in the written capture.
TEST(CaptureAnonymize, TheRawLunIdLeavesNoTrace) {
    const std::string raw = Bytes({0xa7, 0x3c, 0x5e, 0x91, 0xd2, 0x4b, 0x68, 0xf0, 0x1e, 0x2d, 0x3c,
                                   0x4b, 0x5a, 0x69, 0x78, 0x87});
    const std::string hex = HexOf(raw);
    std::string upper = hex;
    for (char& c : upper) {
        c = static_cast<char>(toupper(c));
    }
    CaptureRecord record = Host();
    std::string& c8 = record.nodes[0].commands[1].replies[0].data;
    c8.replace(90, raw.size(), raw);
    // The same digits in a listing, as an array's tools would show them.
    record.listings[0].runs[0].text += "rawid " + upper + "\n";

    const auto map = Anonymize(&record, 11);
    ASSERT_EQ(map.count(hex), 1u);
    const std::string& replaced = record.nodes[0].commands[1].replies[0].data;
    EXPECT_EQ(replaced.size(), 196u);
    EXPECT_EQ(HexOf(replaced.substr(90, 16)), map.at(hex));
    for (const CaptureNode& node : record.nodes) {
        for (const CaptureCommand& command : node.commands) {
            for (const CaptureReply& reply : command.replies) {
                EXPECT_EQ(reply.data.find(raw), std::string::npos);
            }
        }
    }

    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(capture_WriteJson(record, out));
    fclose(out);
    const std::string written(text, length);
    free(text);
    ASSERT_NE(written.find("\"data\""), std::string::npos);
    for (const std::string& form : {hex, upper, raw}) {
        EXPECT_EQ(written.find(form), std::string::npos) << form;
    }
}

}  // namespace
