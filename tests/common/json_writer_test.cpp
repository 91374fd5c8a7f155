// Tests of the JSON writer: the layout of nested documents, the escapes of
// device bytes, the null of a table's "--" and the checks of Finish. Every
// document written is parsed back, so a layout the writer gets wrong fails
// here as well as a text that differs.
#include "json_writer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "written_text.h"

namespace {

TEST(JsonWriter, NestedDocumentIsIndentedAndParses) {
    bool finished = false;
    const std::string text = Written([&](FILE* out) {
        JsonWriter json(out);
        json.BeginObject();
        json.KeyInt("schema_version", 1);
        json.Key("vluns");
        json.BeginArray();
        json.BeginObject();
        json.KeyString("name", "dm-0");
        json.KeyText("wwn", "--");
        json.KeyUnsigned("capacity_bytes", 18446744073709551615ULL);
        json.KeyBool("dual_array", false);
        json.Key("paths");
        json.BeginArray();
        json.EndArray();
        json.EndObject();
        json.EndArray();
        json.Key("empty");
        json.BeginObject();
        json.EndObject();
        json.KeyInt("negative", -5);
        json.EndObject();
        finished = json.Finish();
    });
    EXPECT_TRUE(finished);
    EXPECT_EQ(text,
              "{\n"
              "  \"schema_version\": 1,\n"
              "  \"vluns\": [\n"
              "    {\n"
              "      \"name\": \"dm-0\",\n"
              "      \"wwn\": null,\n"
              "      \"capacity_bytes\": 18446744073709551615,\n"
              "      \"dual_array\": false,\n"
              "      \"paths\": []\n"
              "    }\n"
              "  ],\n"
              "  \"empty\": {},\n"
              "  \"negative\": -5\n"
              "}\n");
    const nlohmann::json parsed = nlohmann::json::parse(text);
    EXPECT_EQ(parsed["vluns"][0]["capacity_bytes"].get<uint64_t>(), 18446744073709551615ULL);
}

TEST(JsonWriter, DeviceBytesAreEscapedOneByOneAndUnknownTextIsNull) {
    struct Case {
        const char* text;
        const char* written;  // by String
    } const cases[] = {
        {"plain text 1.0", "\"plain text 1.0\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\x1b[2J", "\"\\u001b[2J\""},
        {"\t\n\x7f", "\"\\u0009\\u000a\\u007f\""},
        {"\xc3\xa9\xff", "\"\\u00c3\\u00a9\\u00ff\""},  // bytes, never raw, even valid UTF-8
        {"", "\"\""},
    };
    for (const Case& c : cases) {
        const std::string text = Written([&](FILE* out) { JsonPutString(c.text, out); });
        EXPECT_EQ(text, c.written);
        // Each escape reads back as one character whose code point is the byte.
        std::string latin1;
        for (const char* p = c.text; *p != '\0'; ++p) {
            const unsigned char b = static_cast<unsigned char>(*p);
            if (b < 0x80) {
                latin1.push_back(static_cast<char>(b));
            } else {
                latin1.push_back(static_cast<char>(0xC0 | (b >> 6)));
                latin1.push_back(static_cast<char>(0x80 | (b & 0x3F)));
            }
        }
        EXPECT_EQ(nlohmann::json::parse(text).get<std::string>(), latin1) << c.written;
    }
    for (const char* unknown : {"--", "--/--", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(Written([&](FILE* out) {
                      JsonWriter json(out);
                      json.Text(unknown);
                  }),
                  "null");
    }
    EXPECT_EQ(Written([](FILE* out) {
                  JsonWriter json(out);
                  json.Text("-- ");
              }),
              "\"-- \"");
}

TEST(JsonWriter, FinishRefusesADocumentLeftBroken) {
    const auto finishes = [](void (*build)(JsonWriter&)) {
        bool finished = true;
        (void)Written([&](FILE* out) {
            JsonWriter json(out);
            build(json);
            finished = json.Finish();
        });
        return finished;
    };
    EXPECT_FALSE(finishes([](JsonWriter& j) { j.BeginObject(); }));
    EXPECT_FALSE(finishes([](JsonWriter& j) { j.EndArray(); }));
    EXPECT_FALSE(finishes([](JsonWriter& j) {
        j.BeginObject();
        j.Key("dangling");
        j.EndObject();
    }));
    EXPECT_FALSE(finishes([](JsonWriter& j) {
        for (int i = 0; i < 20; ++i) {
            j.BeginArray();
        }
        for (int i = 0; i < 20; ++i) {
            j.EndArray();
        }
    }));
    EXPECT_TRUE(finishes([](JsonWriter& j) {
        j.BeginArray();
        j.Int(1);
        j.EndArray();
    }));
}

}  // namespace
