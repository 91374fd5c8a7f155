// Streaming JSON writer: escaping of device bytes, separators and indents.
#include "json_writer.h"

#include <inttypes.h>
#include <string.h>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void PutEscapedByte(unsigned char byte, FILE* out) {
    switch (byte) {
        case '"':
            (void)fputs("\\\"", out);
            return;
        case '\\':
            (void)fputs("\\\\", out);
            return;
        default:
            break;
    }
    if (byte >= 0x20 && byte < 0x7F) {
        (void)fputc(byte, out);
        return;
    }
    const char escape[] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F], 0};
    (void)fputs(escape, out);
}

bool HasValue(const char* text) {
    return text != nullptr && text[0] != '\0' && strcmp(text, "--") != 0 &&
           strcmp(text, "--/--") != 0;
}

}  // namespace

void JsonPutString(const char* text, FILE* out) {
    (void)fputc('"', out);
    for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
        PutEscapedByte(static_cast<unsigned char>(*p), out);
    }
    (void)fputc('"', out);
}

void JsonWriter::NewLine() {
    (void)fputc('\n', out_);
    for (size_t i = 0; i < depth_; ++i) {
        (void)fputs("  ", out_);
    }
}

// A separator and the line of a new element; a member's value follows its
// key on the same line.
void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (depth_ == 0) {
        return;
    }
    if (!first_[depth_]) {
        (void)fputc(',', out_);
    }
    first_[depth_] = false;
    NewLine();
}

void JsonWriter::Open(char bracket) {
    BeforeValue();
    (void)fputc(bracket, out_);
    if (depth_ == kMaxDepth) {
        broken_ = true;
        return;
    }
    ++depth_;
    first_[depth_] = true;
}

void JsonWriter::Close(char bracket) {
    if (depth_ == 0 || afterKey_) {
        broken_ = true;
        return;
    }
    const bool empty = first_[depth_];
    --depth_;
    if (!empty) {
        NewLine();
    }
    (void)fputc(bracket, out_);
}

void JsonWriter::BeginObject() {
    Open('{');
}

void JsonWriter::EndObject() {
    Close('}');
}

void JsonWriter::BeginArray() {
    Open('[');
}

void JsonWriter::EndArray() {
    Close(']');
}

void JsonWriter::Key(const char* name) {
    if (depth_ == 0 || afterKey_) {
        broken_ = true;
    }
    BeforeValue();
    JsonPutString(name, out_);
    (void)fputs(": ", out_);
    afterKey_ = true;
}

void JsonWriter::String(const char* text) {
    BeforeValue();
    JsonPutString(text, out_);
}

void JsonWriter::Bytes(const char* text, size_t length) {
    BeforeValue();
    (void)fputc('"', out_);
    for (size_t i = 0; i < length; ++i) {
        PutEscapedByte(static_cast<unsigned char>(text[i]), out_);
    }
    (void)fputc('"', out_);
}

void JsonWriter::Text(const char* text) {
    if (HasValue(text)) {
        String(text);
    } else {
        Null();
    }
}

void JsonWriter::Int(int64_t value) {
    BeforeValue();
    (void)fprintf(out_, "%" PRId64, value);
}

void JsonWriter::Unsigned(uint64_t value) {
    BeforeValue();
    (void)fprintf(out_, "%" PRIu64, value);
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    (void)fputs(value ? "true" : "false", out_);
}

void JsonWriter::Null() {
    BeforeValue();
    (void)fputs("null", out_);
}

void JsonWriter::KeyString(const char* name, const char* text) {
    Key(name);
    String(text);
}

void JsonWriter::KeyBytes(const char* name, const char* text, size_t length) {
    Key(name);
    Bytes(text, length);
}

void JsonWriter::KeyText(const char* name, const char* text) {
    Key(name);
    Text(text);
}

void JsonWriter::KeyInt(const char* name, int64_t value) {
    Key(name);
    Int(value);
}

void JsonWriter::KeyUnsigned(const char* name, uint64_t value) {
    Key(name);
    Unsigned(value);
}

void JsonWriter::KeyBool(const char* name, bool value) {
    Key(name);
    Bool(value);
}

void JsonWriter::KeyNull(const char* name) {
    Key(name);
    Null();
}

bool JsonWriter::Finish() {
    (void)fputc('\n', out_);
    (void)fflush(out_);
    return !broken_ && depth_ == 0 && !afterKey_;
}
