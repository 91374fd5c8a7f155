// tsexTool diagnostics: its names around the kit's logger (lun/lun_log.h).
#include "tslog.h"

#include <cstdarg>

#include "lun_log.h"

int g_iloglevel = 99;

namespace {

// tsexTool's sink (the --json document's log, which cuts the line end
// itself) gets a message as it is and at most 1023 bytes of it, kept by a
// worker thread or not, and the part vsnprintf wrote before failing; a worker
// thread drops an empty message.
LunLog g_log({&g_iloglevel, /*keepEmpty=*/false, /*sinkTakesFailed=*/true,
              /*keepWhole=*/false});

}  // namespace

void tsprint_CaptureLog(std::string* capture) {
    LunLog::Capture(capture);
}

void tsprint_WriteLogText(const std::string& text) {
    g_log.Replay(text);
}

void tsprint_SetLogSink(void (*sink)(const char* text)) {
    g_log.SetSink(sink);
}

void tsprint_SetLogLevel(int level) {
    g_iloglevel = level;
}

void tsprint_Log(int threshold, const char* format, ...) {
    va_list args;
    va_start(args, format);
    g_log.Write(threshold, format, args);
    va_end(args);
}
