// tsexTool diagnostics: the verbosity level and the message writer.
#include "tslog.h"

#include <cstdarg>
#include <cstdio>

int g_iloglevel = 99;

namespace {

void (*g_logSink)(const char* text) = nullptr;

}  // namespace

void tsprint_SetLogSink(void (*sink)(const char* text)) {
    g_logSink = sink;
}

void tsprint_SetLogLevel(int level) {
    g_iloglevel = level;
}

void tsprint_Log(int threshold, const char* format, ...) {
    if (g_iloglevel > threshold) {
        return;
    }
    va_list args;
    va_start(args, format);
    if (g_logSink != nullptr) {
        char text[1024];
        (void)vsnprintf(text, sizeof text, format, args);
        g_logSink(text);
    } else {
        (void)vfprintf(stdout, format, args);
        (void)fflush(stdout);
    }
    va_end(args);
}
