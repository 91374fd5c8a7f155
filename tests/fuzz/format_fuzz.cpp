/*
 * Random formats and arguments through the three formatting families. Checks
 * that nothing is written outside the destination, that the result is a
 * terminated text of the reported length or the family's failure form, and
 * that the result codes stay in their ranges.
 *
 * Input: byte 0 picks the argument mode and byte 1 the destination size; the
 * rest is the format. Arguments must match what the engine will read, so the
 * harness rewrites conversion letters to suit the mode:
 *   integer mode - every argument is a pointer to one text that reads as a
 *                  narrow and as a wide string; float letters become 'd';
 *   float mode   - every argument is a double; every conversion letter
 *                  becomes a float one and '*' becomes '1'.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "boundedfunc.h"

namespace {

constexpr size_t kMaxFormat = 200;
constexpr int kMaxArgsUsed = 60;
constexpr size_t kGuard = 32;
constexpr unsigned char kGuardByte = 0xA5;

/* Reads as "ab" narrow and as one wide character then a wide terminator. */
alignas(8) const char kUniversalText[16] = {'a', 'b', 0, 0, 0, 0, 0, 0};

bool IsFloatLetter(char c) {
    return c == 'e' || c == 'E' || c == 'f' || c == 'F' || c == 'g' || c == 'G';
}

bool IsConversionLetter(char c) {
    return strchr("CEFGSXcdefgiopsux", c) != nullptr && c != '\0';
}

/* Returns false for an input the harness cannot pass arguments for safely. */
bool PrepareFormat(std::string* format, bool floatMode) {
    int used = 0;
    int digitRun = 0;
    for (char& c : *format) {
        if (c == '%' || c == '*') {
            ++used;
        }
        if (floatMode) {
            if (c == '*') {
                c = '1';
            } else if (IsConversionLetter(c) && !IsFloatLetter(c)) {
                c = 'f';
            } else if (c == 'L' || c == 'q') {
                c = 'l';
            }
            /* Long widths only make the C library write megabytes. */
            digitRun = (c >= '0' && c <= '9') ? digitRun + 1 : 0;
            if (digitRun > 4) {
                return false;
            }
        } else if (IsFloatLetter(c)) {
            c = 'd';
        }
    }
    return used <= kMaxArgsUsed;
}

#define ARGS10(a) a, a, a, a, a, a, a, a, a, a
#define ARGS60(a) ARGS10(a), ARGS10(a), ARGS10(a), ARGS10(a), ARGS10(a), ARGS10(a)

struct Guarded {
    unsigned char bytes[kGuard + 256 + kGuard];
    char* dest() { return reinterpret_cast<char*>(bytes + kGuard); }
    void Arm() { memset(bytes, kGuardByte, sizeof(bytes)); }
};

void CheckGuards(Guarded* g, size_t destMax) {
    for (size_t i = 0; i < kGuard; ++i) {
        if (g->bytes[i] != kGuardByte) {
            __builtin_trap();
        }
    }
    for (size_t i = kGuard + destMax; i < sizeof(g->bytes); ++i) {
        if (g->bytes[i] != kGuardByte) {
            __builtin_trap();
        }
    }
}

/* A non-negative result is a text of that length, terminated inside dest. */
void CheckText(const char* dest, size_t destMax, int ret) {
    if (ret < -1 || ret >= static_cast<int>(destMax)) {
        __builtin_trap();
    }
    if (ret >= 0 && dest[ret] != '\0') {
        __builtin_trap();
    }
    if (ret == -1 && dest[0] != '\0') {
        __builtin_trap();
    }
}

template <typename... Args>
void RunFamilies(const char* format, size_t destMax, size_t count, Args... args) {
    Guarded g;

    g.Arm();
    int ret = sprintf_s(g.dest(), destMax, format, args...);
    CheckGuards(&g, destMax);
    CheckText(g.dest(), destMax, ret);

    g.Arm();
    ret = snprintf_s(g.dest(), destMax, count, format, args...);
    CheckGuards(&g, destMax);
    if (ret == -1 && count < destMax) {
        /* a cut text of at most count characters stays */
        if (memchr(g.dest(), '\0', count + 1) == nullptr) {
            __builtin_trap();
        }
    } else {
        CheckText(g.dest(), destMax, ret);
    }

    g.Arm();
    ret = snprintf_truncated_s(g.dest(), destMax, format, args...);
    CheckGuards(&g, destMax);
    CheckText(g.dest(), destMax, ret);
}

}  // namespace

#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    bool floatMode = (data[0] & 1) != 0;
    size_t destMax = 1 + data[1] % 256;
    size_t count = (data[0] >> 1) % 8 == 0 ? static_cast<size_t>(-1) : (data[0] >> 1) % 64;
    std::string format(reinterpret_cast<const char*>(data + 2), size - 2);
    format.resize(strnlen(format.c_str(), kMaxFormat));
    if (!PrepareFormat(&format, floatMode)) {
        return 0;
    }
    if (floatMode) {
        RunFamilies(format.c_str(), destMax, count, ARGS60(-1234.5678));
    } else {
        RunFamilies(format.c_str(), destMax, count, ARGS60(kUniversalText));
    }
    return 0;
}
