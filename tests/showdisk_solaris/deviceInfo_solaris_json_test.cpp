// ts_showdisk for Solaris with --json, against the test double of the Solaris
// services: every device path of the walk becomes one object of the
// document, its messages inside it, and nothing else reaches standard output.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "../tool/flushed_output.h"
#include "deviceInfo_solaris.h"
#include "fake_platform.h"
#include "json_writer.h"

namespace {

using nlohmann::json;

std::vector<uint8_t> Page(int code, size_t total) {
    std::vector<uint8_t> b(total, 0);
    b[1] = static_cast<uint8_t>(code);
    b[2] = static_cast<uint8_t>((total - 4) >> 8);
    b[3] = static_cast<uint8_t>(total - 4);
    return b;
}

void Put(std::vector<uint8_t>* b, size_t at, const std::string& text) {
    memcpy(b->data() + at, text.data(), text.size());
}

FakeNode SsdNode(std::vector<uint8_t> devid, const char* minor) {
    FakeNode node;
    node.devid = std::move(devid);
    node.minors = {{minor, true}};
    return node;
}

// One walk in a --json run: the disks array as main's document holds it.
json WalkAsJson(std::string* raw) {
    g_pSsdIdHeader = g_pSsdIdTail = static_cast<DevIdNode*>(calloc(1, sizeof(DevIdNode)));
    *raw = Flushed([] {
        JsonWriter writer(stdout);
        writer.BeginObject();
        TS_SetJsonWriter(&writer);
        EXPECT_EQ(TS_GetLunList(), 0);
        TS_SetJsonWriter(nullptr);
        writer.EndObject();
        EXPECT_TRUE(writer.Finish());
    });
    TS_FreeDevIdList();
    return json::parse(*raw, nullptr, false);
}

struct Case {
    const char* name;
    std::function<void()> host;
    json disks;
};

TEST(SolarisJson, EveryDevicePathIsOneObjectWithItsMessages) {
    const std::string eio = "errno is:" + std::to_string(EIO) + "," + strerror(EIO);
    const std::vector<Case> cases = {
        {"a node that does not open: its message, no columns",
         [] {
             Fake().openResult = -1;
             Fake().openErrno = EACCES;
             Fake().nodes = {SsdNode({1}, "a,raw")};
         },
         json::array({{{"disk_name", "/dev/rdsk/a,raw"},
                       {"messages", {"Can't open device /dev/rdsk/a,raw, exit!"}},
                       {"opened", false}}})},
        {"every INQUIRY fails: four errno lines, cmd failed, every column null (UNKNOWN)",
         [] {
             Fake().ioctlErrno = EIO;
             Fake().nodes = {SsdNode({1}, "a,raw")};
         },
         json::array({{{"disk_name", "/dev/rdsk/a,raw"},
                       {"messages", {eio, eio, eio, eio, "cmd failed"}},
                       {"opened", true},
                       {"lun_name", nullptr},
                       {"vendor_id", nullptr},
                       {"type", nullptr},
                       {"serial_number", nullptr},
                       {"dev_lun_id", nullptr},
                       {"wwn", nullptr}}})},
        {"a device read whole: the vendor keeps its blanks, the product is cut, the id a number",
         [] {
             std::vector<uint8_t> std(36, 0);
             Put(&std, 8, "QELMAR  VSA1000 X       0100");
             Fake().pages[-1] = std;
             std::vector<uint8_t> c0 = Page(0xC0, 160);
             Put(&c0, 112, "SN\x1b[2J");
             Fake().pages[0xC0] = c0;
             std::vector<uint8_t> p83 = Page(0x83, 24);
             p83[5] = 0x03;  // the first designator: NAA, 16 bytes
             p83[7] = 16;
             p83[8] = 0x6e;
             Fake().pages[0x83] = p83;
             std::vector<uint8_t> c8 = Page(0xC8, 256);
             Put(&c8, 29, "lun-a");
             c8[195] = 0;  // id 0 is an id, not UNKNOWN
             Fake().pages[0xC8] = c8;
             Fake().nodes = {SsdNode({1}, "a,raw")};
         },
         json::array({{{"disk_name", "/dev/rdsk/a,raw"},
                       {"messages", json::array()},
                       {"opened", true},
                       {"lun_name", "lun-a"},
                       {"vendor_id", "QELMAR  "},
                       {"type", "VSA1000"},
                       {"serial_number", "SN\x1b[2J"},
                       {"dev_lun_id", 0},
                       {"wwn", "6e" + std::string(30, '0')}}})},
        {"the page without the LUN id: null where the table prints UNKNOWN",
         [] {
             Fake().pageErrno = {{-1, EIO}, {0xC0, EIO}, {0x83, EIO}};
             std::vector<uint8_t> c8 = Page(0xC8, 256);
             c8[2] = 0;
             c8[3] = 187;  // 191 bytes: the id's four bytes are not all there
             Put(&c8, 29, "lun-b");
             Fake().pages[0xC8] = c8;
             Fake().nodes = {SsdNode({1}, "a,raw")};
         },
         json::array({{{"disk_name", "/dev/rdsk/a,raw"},
                       {"messages", {eio, eio, eio}},
                       {"opened", true},
                       {"lun_name", "lun-b"},
                       {"vendor_id", nullptr},
                       {"type", nullptr},
                       {"serial_number", nullptr},
                       {"dev_lun_id", nullptr},
                       {"wwn", nullptr}}})},
        {"no ssd disk: an empty list, no head or rule", [] { Fake().nodes = {}; }, json::array()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetFake();
        TS_ResetDeviceInfo();
        save_node = nullptr;
        c.host();
        std::string raw;
        const json doc = WalkAsJson(&raw);
        // The whole of standard output is the document: a message or a rule
        // printed beside it would not parse.
        ASSERT_FALSE(doc.is_discarded()) << raw;
        EXPECT_EQ(doc, (json{{"disks", c.disks}})) << raw;
    }
}

}  // namespace
