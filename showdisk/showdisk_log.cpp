// ts_showdisk's reports, the same on Linux and in the ESXi shell: one
// threshold for all of them, a line per report, each worker thread's kept
// apart while records are queried side by side.
#include "showdisk_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "json_writer.h"
#include "luninfo.h"
#include "terminal_text.h"

namespace {

// The document of a --json run, null for the table.
JsonWriter* s_json = nullptr;

// Room for the longest report: a device name of 255 characters and its text.
constexpr size_t kLogLineLen = 1024;

// The reports of the record a worker thread queries (null: written now).
thread_local std::string* t_reports = nullptr;

// One report where it goes: a --json run keeps standard output for its
// document, so each report becomes one element of the document's log (at
// most kLogLineLen - 1 bytes), without its line end.
void put_report(const char* text) {
    if (s_json != nullptr) {
        char line[kLogLineLen];
        (void)snprintf(line, sizeof(line), "%s", text);
        strip_newline(line);
        s_json->String(line);
        return;
    }
    // Reports name devices and listing words: on the terminal every byte
    // outside 0x20..0x7E but the report's line end shows as '?' (the
    // document escapes them instead).
    (void)fputs(TerminalSafeLine(text).c_str(), stdout);
    (void)fflush(stdout);
}

}  // namespace

void set_json_document(JsonWriter* json) {
    s_json = json;
}

JsonWriter* json_document(void) {
    return s_json;
}

bool json_output(void) {
    return s_json != nullptr;
}

void ts_log(int threshold, const char* format, ...) {
    if (g_level > threshold) {
        return;
    }
    va_list args;
    va_start(args, format);
    char line[kLogLineLen];
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(line, sizeof(line), format, copy);
    va_end(copy);
    std::string whole;
    if (length >= static_cast<int>(sizeof(line))) {
        whole.assign(static_cast<size_t>(length) + 1, '\0');
        (void)vsnprintf(&whole[0], whole.size(), format, args);
        whole.resize(static_cast<size_t>(length));
    }
    va_end(args);
    const char* text = whole.empty() ? line : whole.c_str();
    if (length < 0) {
        return;
    }
    if (t_reports != nullptr) {
        t_reports->append(text, strlen(text) + 1);  // each report ended by its NUL
        return;
    }
    put_report(text);
}

void ts_log_capture(std::string* reports) {
    t_reports = reports;
}

void ts_log_replay(const std::string& reports) {
    for (size_t start = 0; start < reports.size(); start += strlen(reports.c_str() + start) + 1) {
        put_report(reports.c_str() + start);
    }
}

void strip_newline(char* line) {
    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n') {
        line[len - 1] = '\0';
    }
}
