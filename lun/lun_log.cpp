// The programs' diagnostics: threshold, per-thread keeping, replay, output.
#include "lun_log.h"

#include <stdio.h>
#include <string.h>

#include "../common/terminal_text.h"

namespace {

// The messages of the device a worker thread queries (null: written now).
thread_local std::string* t_kept = nullptr;

}  // namespace

void LunLog::Capture(std::string* kept) {
    t_kept = kept;
}

// A message names devices, listing words and command-line words: on the
// terminal every byte of it outside 0x20..0x7E but its line end shows as
// '?'. The sink takes the bytes as they are and escapes them itself.
void LunLog::Put(const char* text) const {
    if (sink_ != nullptr) {
        sink_(text);
        return;
    }
    (void)fputs(TerminalSafeLine(text).c_str(), stdout);
    (void)fflush(stdout);
}

void LunLog::Replay(const std::string& kept) const {
    // One message after another, each ended by its NUL.
    for (size_t start = 0; start < kept.size(); start += strlen(kept.c_str() + start) + 1) {
        Put(kept.c_str() + start);
    }
}

void LunLog::Write(int threshold, const char* format, va_list args) const {
    if (*options_.level > threshold) {
        return;
    }
    char text[kSinkRoom];
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    if (length < 0) {
        // The bytes before the failure, which vsnprintf has ended.
        if (t_kept == nullptr && sink_ != nullptr && options_.sinkTakesFailed) {
            sink_(text);
        }
        return;
    }
    if (length == 0 && t_kept != nullptr && !options_.keepEmpty) {
        return;
    }
    if (length == 0 && t_kept == nullptr && sink_ == nullptr) {
        return;  // standard output would get no byte of it
    }
    // Standard output takes a long message whole, the sink its first
    // kSinkRoom - 1 bytes.
    const bool keepWhole = t_kept != nullptr && options_.keepWhole;
    std::string whole;
    if (length >= static_cast<int>(sizeof text) && (sink_ == nullptr || keepWhole)) {
        whole.assign(static_cast<size_t>(length) + 1, '\0');
        va_list again;
        va_copy(again, args);
        (void)vsnprintf(&whole[0], whole.size(), format, again);
        va_end(again);
    }
    const char* message = whole.empty() ? text : whole.c_str();
    if (t_kept != nullptr) {
        t_kept->append(message, strlen(message) + 1);  // with its NUL
        return;
    }
    Put(message);
}
