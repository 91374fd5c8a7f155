// ts_showdisk's reports, the same on Linux and in the ESXi shell: its names
// around the kit's logger (lun/lun_log.h), and the --json document's log.
#include "showdisk_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "json_writer.h"
#include "lun_log.h"
#include "luninfo.h"

namespace {

// The document of a --json run, null for the table.
JsonWriter* s_json = nullptr;

// A report a worker thread keeps stays whole, empty or not, until
// put_json_report cuts it; a report vsnprintf fails on is lost.
LunLog s_log({&g_level, /*keepEmpty=*/true, /*sinkTakesFailed=*/false,
              /*keepWhole=*/true});

// A --json run keeps standard output for its document, so each report
// becomes one element of the document's log (at most LunLog::kSinkRoom - 1
// bytes), without its line end.
void put_json_report(const char* text) {
    char line[LunLog::kSinkRoom];
    (void)snprintf(line, sizeof(line), "%s", text);
    strip_newline(line);
    s_json->String(line);
}

}  // namespace

void set_json_document(JsonWriter* json) {
    s_json = json;
    s_log.SetSink(json != nullptr ? put_json_report : nullptr);
}

JsonWriter* json_document(void) {
    return s_json;
}

bool json_output(void) {
    return s_json != nullptr;
}

void ts_log(int threshold, const char* format, ...) {
    va_list args;
    va_start(args, format);
    s_log.Write(threshold, format, args);
    va_end(args);
}

void ts_log_capture(std::string* reports) {
    LunLog::Capture(reports);
}

void ts_log_replay(const std::string& reports) {
    s_log.Replay(reports);
}

void strip_newline(char* line) {
    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n') {
        line[len - 1] = '\0';
    }
}
