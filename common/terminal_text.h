// Text that a device or a listing supplied, made safe to show on a terminal:
// an inquiry string or a page field may hold ESC sequences or other control
// bytes that would move the cursor, clear the screen or retitle the window.
// Every byte outside printable ASCII (0x20 to 0x7E) is shown as '?', one '?'
// per byte, so a text keeps the width it was measured with.
#ifndef TSKIT_COMMON_TERMINAL_TEXT_H
#define TSKIT_COMMON_TERMINAL_TEXT_H

#include <stdarg.h>
#include <stdio.h>

#include <string>

inline bool TerminalPrintable(unsigned char byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

// Writes text to out with every byte outside 0x20..0x7E as '?' (a null text
// writes nothing). Callers measure the text first; the widths still hold.
inline void TerminalSafePut(const char* text, FILE* out) {
    for (const char* p = text; p != NULL && *p != '\0'; ++p) {
        const unsigned char byte = static_cast<unsigned char>(*p);
        (void)fputc(TerminalPrintable(byte) ? byte : '?', out);
    }
}

// The text with every byte outside 0x20..0x7E as '?': a word typed on the
// command line or read from a device, put into a line before it is printed.
inline std::string TerminalSafeText(const char* text) {
    std::string safe;
    for (const char* p = text; p != NULL && *p != '\0'; ++p) {
        const unsigned char byte = static_cast<unsigned char>(*p);
        safe += TerminalPrintable(byte) ? static_cast<char>(byte) : '?';
    }
    return safe;
}

// A whole message about to be printed, as TerminalSafeText but for the one
// newline that ends it: the programs' message formats end in their line
// end, never in a name or a device's text, so a newline anywhere else (or
// an ESC, a BEL, a high byte) came from the host and shows as '?'.
inline std::string TerminalSafeLine(const char* text) {
    std::string safe = TerminalSafeText(text);
    if (!safe.empty() && text[safe.size() - 1] == '\n') {
        safe[safe.size() - 1] = '\n';
    }
    return safe;
}

// A message of any length from its format and arguments (args is used up,
// as by vsnprintf); empty when it cannot be formatted.
inline std::string FormattedText(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(NULL, 0, format, copy);
    va_end(copy);
    if (length <= 0) {
        return std::string();
    }
    std::string whole(static_cast<size_t>(length) + 1, '\0');
    (void)vsnprintf(&whole[0], whole.size(), format, args);
    whole.resize(static_cast<size_t>(length));
    return whole;
}

#endif  // TSKIT_COMMON_TERMINAL_TEXT_H
