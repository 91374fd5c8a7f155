// Text that a device or a listing supplied, made safe to show on a terminal:
// an inquiry string or a page field may hold ESC sequences or other control
// bytes that would move the cursor, clear the screen or retitle the window.
// Every byte outside printable ASCII (0x20 to 0x7E) is shown as '?', one '?'
// per byte, so a text keeps the width it was measured with.
#ifndef TSKIT_COMMON_TERMINAL_TEXT_H
#define TSKIT_COMMON_TERMINAL_TEXT_H

#include <stddef.h>

inline bool TerminalPrintable(unsigned char byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

// Whether text can be shown as it is (a null text is safe: nothing to show).
inline bool TerminalSafe(const char* text) {
    if (text == NULL) {
        return true;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        if (!TerminalPrintable(static_cast<unsigned char>(*p))) {
            return false;
        }
    }
    return true;
}

// Copies at most destSize - 1 bytes of text to dest, each byte outside
// 0x20..0x7E as '?', and always ends dest with a NUL (when destSize > 0).
// A null text copies as the empty text; dest may be text itself.
inline void TerminalSafeCopy(const char* text, char* dest, size_t destSize) {
    if (dest == NULL || destSize == 0) {
        return;
    }
    size_t n = 0;
    if (text != NULL) {
        for (; n + 1 < destSize && text[n] != '\0'; ++n) {
            unsigned char byte = static_cast<unsigned char>(text[n]);
            dest[n] = TerminalPrintable(byte) ? static_cast<char>(byte) : '?';
        }
    }
    dest[n] = '\0';
}

#endif  // TSKIT_COMMON_TERMINAL_TEXT_H
