// tsexTool diagnostics: the verbosity level and the message writer.
#include "tslog.h"

#include <cstdarg>
#include <cstdio>

int g_iloglevel = 99;

void tsprint_SetLogLevel(int level) {
    g_iloglevel = level;
}

void tsprint_Log(int threshold, const char* format, ...) {
    if (g_iloglevel > threshold) {
        return;
    }
    va_list args;
    va_start(args, format);
    (void)vfprintf(stdout, format, args);
    va_end(args);
    (void)fflush(stdout);
}
