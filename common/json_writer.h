// A streaming JSON writer for the programs' --json output: one document on
// a stream, written as it is built, members and elements separated and
// indented by the writer. Nothing here allocates.
//
// Texts are device bytes (INQUIRY fields, listing words, sysfs names), not
// known to be UTF-8: every byte outside printable ASCII is written as a
// \u00XX escape of its own (the byte's value as the code point), quotes and
// backslashes are escaped, so the document is valid UTF-8 JSON whatever the
// device said and no byte reaches a terminal raw. A reader that maps every
// character outside U+0020..U+007E to '?' gets the text the tables print.
#ifndef TSKIT_COMMON_JSON_WRITER_H
#define TSKIT_COMMON_JSON_WRITER_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Writes one JSON string: the quoted, escaped text (null: "").
void JsonPutString(const char* text, FILE* out);

class JsonWriter {
  public:
    explicit JsonWriter(FILE* out) : out_(out) {}

    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();

    // The name of the next member of the object being written.
    void Key(const char* name);

    void String(const char* text);
    // A string of exactly length bytes, a NUL byte included (\u0000).
    void Bytes(const char* text, size_t length);
    // A table's text: null where the table shows nothing known ("--",
    // "--/--" or an empty text), else the string.
    void Text(const char* text);
    void Int(int64_t value);
    void Unsigned(uint64_t value);
    void Bool(bool value);
    void Null();

    // Members written in one call.
    void KeyString(const char* name, const char* text);
    void KeyBytes(const char* name, const char* text, size_t length);
    void KeyText(const char* name, const char* text);
    void KeyInt(const char* name, int64_t value);
    void KeyUnsigned(const char* name, uint64_t value);
    void KeyBool(const char* name, bool value);
    void KeyNull(const char* name);

    // Ends the document with a newline; false when a container was left
    // open or closed twice, or when nesting went deeper than the writer
    // keeps (then the document is not valid and must not be trusted).
    bool Finish();

  private:
    static constexpr size_t kMaxDepth = 16;

    void BeforeValue();
    void Open(char bracket);
    void Close(char bracket);
    void NewLine();

    FILE* out_;
    size_t depth_ = 0;
    bool first_[kMaxDepth + 1] = {true};
    bool afterKey_ = false;
    bool broken_ = false;
};

#endif  // TSKIT_COMMON_JSON_WRITER_H
