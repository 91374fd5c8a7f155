// A count given on the command line (--jobs N, --timeout SECONDS): a decimal
// number from 1 to a bound, without a sign, blanks or leading zeros.
#ifndef TSKIT_COMMON_COUNT_TEXT_H
#define TSKIT_COMMON_COUNT_TEXT_H

#include <cstdlib>

// True with *count set when text is such a number no larger than most.
inline bool ParseCount(const char* text, unsigned most, unsigned* count) {
    if (text == nullptr || text[0] < '1' || text[0] > '9') {
        return false;
    }
    char* end = nullptr;
    const unsigned long value = strtoul(text, &end, 10);
    if (*end != '\0' || value > most) {
        return false;
    }
    *count = static_cast<unsigned>(value);
    return true;
}

#endif  // TSKIT_COMMON_COUNT_TEXT_H
