/*
 * Fixed-size copy and fill kernels for the small paths: one function per exact
 * size, so that the compiler emits the straight-line stores for that size.
 */
#ifndef BOUNDED_BOUNDEDSMALL_H
#define BOUNDED_BOUNDEDSMALL_H

#include <array>
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

constexpr size_t kCopyLimit = 64;
constexpr size_t kFillLimit = 32;

/* Index = exact byte count. */
constexpr auto kCopyTable = MakeCopyTable(std::make_index_sequence<kCopyLimit + 1>{});
constexpr auto kFillTable = MakeFillTable(std::make_index_sequence<kFillLimit + 1>{});

}  // namespace bounded_small

#endif /* BOUNDED_BOUNDEDSMALL_H */
