/*
 * Fixed-size copy and fill kernels for the small paths: one function per exact
 * size, so that the compiler emits the straight-line stores for that size.
 */
#ifndef BOUNDED_BOUNDEDSMALL_H
#define BOUNDED_BOUNDEDSMALL_H

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

namespace bounded_small {

using CopyFn = void (*)(void*, const void*);
using FillFn = void (*)(void*, int);

template <size_t N>
void CopyExact(void* dest, const void* src) {
    std::memcpy(dest, src, N);
}

template <size_t N>
void FillExact(void* dest, int c) {
    std::memset(dest, c, N);
}

template <size_t... I>
constexpr std::array<CopyFn, sizeof...(I)> MakeCopyTable(std::index_sequence<I...>) {
    return {{&CopyExact<I>...}};
}

template <size_t... I>
constexpr std::array<FillFn, sizeof...(I)> MakeFillTable(std::index_sequence<I...>) {
    return {{&FillExact<I>...}};
}

/* Copies n bytes, 1 <= n <= 256, with overlapping fixed-size moves: the head
 * and the tail of the range are moved with the widest size that fits, so
 * every size needs only a few straight-line moves and no library call. The
 * ranges must not overlap. */
inline void CopyUpTo256(unsigned char* d, const unsigned char* s, size_t n) {
    if (n >= 16) {
        for (size_t i = 0; i + 16 < n; i += 16) {
            std::memcpy(d + i, s + i, 16);
        }
        std::memcpy(d + n - 16, s + n - 16, 16);
    } else if (n >= 8) {
        uint64_t head, tail;
        std::memcpy(&head, s, 8);
        std::memcpy(&tail, s + n - 8, 8);
        std::memcpy(d, &head, 8);
        std::memcpy(d + n - 8, &tail, 8);
    } else if (n >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, s, 4);
        std::memcpy(&tail, s + n - 4, 4);
        std::memcpy(d, &head, 4);
        std::memcpy(d + n - 4, &tail, 4);
    } else {
        d[0] = s[0];
        d[n / 2] = s[n / 2];
        d[n - 1] = s[n - 1];
    }
}

/* Sets n bytes, 1 <= n <= 256, to byte, in the same way. */
inline void FillUpTo256(unsigned char* d, unsigned char byte, size_t n) {
    uint64_t word = 0x0101010101010101ULL * byte;
    if (n >= 16) {
        unsigned char block[16];
        std::memcpy(block, &word, 8);
        std::memcpy(block + 8, &word, 8);
        for (size_t i = 0; i + 16 < n; i += 16) {
            std::memcpy(d + i, block, 16);
        }
        std::memcpy(d + n - 16, block, 16);
    } else if (n >= 8) {
        std::memcpy(d, &word, 8);
        std::memcpy(d + n - 8, &word, 8);
    } else if (n >= 4) {
        auto half = static_cast<uint32_t>(word);
        std::memcpy(d, &half, 4);
        std::memcpy(d + n - 4, &half, 4);
    } else {
        d[0] = byte;
        d[n / 2] = byte;
        d[n - 1] = byte;
    }
}

/* Up to this size a copy or fill is done inline rather than by the library. */
constexpr size_t kInlineLimit = 128;

constexpr size_t kCopyLimit = 64;
constexpr size_t kFillLimit = 32;

/* Index = exact byte count. */
constexpr auto kCopyTable = MakeCopyTable(std::make_index_sequence<kCopyLimit + 1>{});
constexpr auto kFillTable = MakeFillTable(std::make_index_sequence<kFillLimit + 1>{});

}  // namespace bounded_small

#endif /* BOUNDED_BOUNDEDSMALL_H */
