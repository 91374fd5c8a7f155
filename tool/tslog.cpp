// tsexTool diagnostics: the verbosity level and the message writer.
#include "tslog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "../common/terminal_text.h"

int g_iloglevel = 99;

namespace {

void (*g_logSink)(const char* text) = nullptr;
thread_local std::string* t_capture = nullptr;

// A message names devices, listing words and command-line words: on the
// terminal every byte of it outside 0x20..0x7E but its line end shows as
// '?'. The sink (the --json document) takes the bytes as they are and
// escapes them itself.
void Emit(const char* text) {
    if (g_logSink != nullptr) {
        g_logSink(text);
    } else {
        (void)fputs(TerminalSafeLine(text).c_str(), stdout);
        (void)fflush(stdout);
    }
}

}  // namespace

void tsprint_CaptureLog(std::string* capture) {
    t_capture = capture;
}

void tsprint_WriteLogText(const std::string& text) {
    // One message after another, each ended by its NUL.
    for (size_t start = 0; start < text.size();) {
        const char* message = text.c_str() + start;
        Emit(message);
        start += strlen(message) + 1;
    }
}

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
    if (t_capture != nullptr) {
        // As the sink and standard output would have written it (the sink
        // gets at most 1023 bytes of a message, standard output all of it),
        // each message ended by a NUL.
        char text[1024];
        va_list copy;
        va_copy(copy, args);
        const int length = vsnprintf(text, sizeof text, format, copy);
        va_end(copy);
        if (length >= static_cast<int>(sizeof text) && g_logSink == nullptr) {
            std::string whole(static_cast<size_t>(length) + 1, '\0');
            (void)vsnprintf(&whole[0], whole.size(), format, args);
            t_capture->append(whole);  // with its NUL
        } else if (length > 0) {
            t_capture->append(text, strlen(text) + 1);
        }
    } else if (g_logSink != nullptr) {
        char text[1024];
        (void)vsnprintf(text, sizeof text, format, args);
        g_logSink(text);
    } else {
        const std::string whole = FormattedText(format, args);
        if (!whole.empty()) {
            Emit(whole.c_str());
        }
    }
    va_end(args);
}
