// Text that a device or a listing supplied, made safe to show on a terminal:
// an inquiry string or a page field may hold ESC sequences or other control
// bytes that would move the cursor, clear the screen or retitle the window.
// Every byte outside printable ASCII (0x20 to 0x7E) is shown as '?', one '?'
// per byte, so a text keeps the width it was measured with.
#ifndef TSKIT_COMMON_TERMINAL_TEXT_H
#define TSKIT_COMMON_TERMINAL_TEXT_H

#include <stdio.h>

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

#endif  // TSKIT_COMMON_TERMINAL_TEXT_H
