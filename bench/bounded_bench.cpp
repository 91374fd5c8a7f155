/*
 * The bounded functions side by side with the C library (and, for formatted
 * output, stb_sprintf and {fmt}) in one run.
 *
 * Names are <group>/<case>/<impl>/<size>: bench/ratios.py pairs every impl
 * with "libc" of the same group, case and size. The size is the byte count for
 * the memory cases and the destination size for the string and format cases.
 *
 * What keeps the figures honest:
 *  - byte counts and destination sizes come from state.range(), so no call is
 *    specialised for a constant size;
 *  - formats are read through a volatile pointer at every iteration, so no
 *    compiler folds a printf-family call into a string copy;
 *  - arguments cycle through kArgCount precomputed sets;
 *  - before timing, every case checks that its implementation produces the
 *    text (or bytes) the C library produces, and skips itself with an error
 *    otherwise: a fast wrong answer is not a figure.
 */
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <stb_sprintf.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "boundedfunc.h"

namespace {

constexpr unsigned kArgCount = 16; /* a power of two: the index wraps with a mask */
constexpr size_t kMemBufferSize = 4096;
constexpr size_t kStringDestSize = 64;

inline unsigned NextArg(unsigned i)
{
    return (i + 1) & (kArgCount - 1);
}

/* ---------------------------------------------------------------- memory */

alignas(64) unsigned char g_memSrc[kMemBufferSize];
alignas(64) unsigned char g_memDst[kMemBufferSize];

struct CopyLibc {
    static constexpr const char* kName = "libc";
    static int Run(void* d, size_t dmax, const void* s, size_t n)
    {
        (void)dmax;
        std::memcpy(d, s, n);
        return 0;
    }
};
struct CopyBounded {
    static constexpr const char* kName = "bounded";
    static int Run(void* d, size_t dmax, const void* s, size_t n) { return memcpy_s(d, dmax, s, n); }
};
struct CopyBoundedFast {
    static constexpr const char* kName = "bounded_optfast";
    static int Run(void* d, size_t dmax, const void* s, size_t n)
    {
        return memcpy_sOptFast(d, dmax, s, n);
    }
};

struct FillLibc {
    static constexpr const char* kName = "libc";
    static int Run(void* d, size_t dmax, int c, size_t n)
    {
        (void)dmax;
        std::memset(d, c, n);
        return 0;
    }
};
struct FillBounded {
    static constexpr const char* kName = "bounded";
    static int Run(void* d, size_t dmax, int c, size_t n) { return memset_s(d, dmax, c, n); }
};
struct FillBoundedFast {
    static constexpr const char* kName = "bounded_optfast";
    static int Run(void* d, size_t dmax, int c, size_t n) { return memset_sOptFast(d, dmax, c, n); }
};

template <class Impl>
void BM_Memcpy(benchmark::State& state)
{
    const auto count = static_cast<size_t>(state.range(0));
    for (size_t k = 0; k < kMemBufferSize; ++k) {
        g_memSrc[k] = static_cast<unsigned char>(k * 7 + 1);
    }
    std::memset(g_memDst, 0, kMemBufferSize);
    void* dst = g_memDst;
    const void* src = g_memSrc;
    benchmark::DoNotOptimize(dst);
    benchmark::DoNotOptimize(src);
    if (Impl::Run(dst, kMemBufferSize, src, count) != 0 ||
        std::memcmp(g_memDst, g_memSrc, count) != 0 ||
        (count < kMemBufferSize && g_memDst[count] != 0)) {
        state.SkipWithError("copy result differs from memcpy");
        return;
    }
    for (auto _ : state) {
        int r = Impl::Run(dst, kMemBufferSize, src, count);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

template <class Impl>
void BM_Memset(benchmark::State& state)
{
    const auto count = static_cast<size_t>(state.range(0));
    std::memset(g_memDst, 0x5A, kMemBufferSize);
    void* dst = g_memDst;
    benchmark::DoNotOptimize(dst);
    /* The figures fill with 0, as the tools do; the check fills with 0 too, so
     * it must look at a destination that held something else before. */
    bool ok = Impl::Run(dst, kMemBufferSize, 0, count) == 0 &&
              (count == kMemBufferSize || g_memDst[count] == 0x5A);
    for (size_t k = 0; ok && k < count; ++k) {
        ok = g_memDst[k] == 0;
    }
    if (!ok) {
        state.SkipWithError("fill result differs from memset");
        return;
    }
    for (auto _ : state) {
        int r = Impl::Run(dst, kMemBufferSize, 0, count);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

/* --------------------------------------------------------------- strings */

/* Device and directory names of the lengths the tools handle. */
const char* const kNames[kArgCount] = {"sda",   "sdb",      "sdq1",   "sdab", "dm-3",  "sdc2",
                                       "sg12",  "nvme0n1",  "mpatha", "sdaa", "dm-12", "c2t0d0s2",
                                       "vmhba1", "sdz",     "sr0",    "loop7"};
const char* const kDirs[kArgCount] = {"/dev",      "/sys/block", "/dev/disk", "/dev/mapper",
                                      "/proc",     "/dev/rdsk",  "/dev/dsk",  "/sys/class",
                                      "/vmfs",     "/etc",       "/dev/sg",   "/tmp",
                                      "/dev/disks", "/var/run",  "/sys/dev",  "/dev/cciss"};
/* Texts for the string copy: short names up to 32-character identifiers. */
const char* const kCopyTexts[kArgCount] = {
    "sda", "/dev/sdab", "mpathb", "IBM 2145", "vmhba2:C0:T1:L5", "/dev/mapper/mpathc",
    "600507680c8081a0e800000000001234", "c2t0d0s2", "naa.60050768", "HP", "dm-7",
    "/sys/block/sdq/device/vendor", "FC", "0x5005076801402f1c", "ONLINE", "/dev/disks/naa.6"};

struct StrncpyLibc {
    static constexpr const char* kName = "libc";
    static int Run(char* d, size_t dmax, const char* s)
    {
        std::strncpy(d, s, dmax - 1);
        d[dmax - 1] = '\0';
        return 0;
    }
};
struct StrncpyBounded {
    static constexpr const char* kName = "bounded";
    static int Run(char* d, size_t dmax, const char* s) { return strncpy_s(d, dmax, s, dmax - 1); }
};

struct StrcatLibc {
    static constexpr const char* kName = "libc";
    static int Run(char* d, size_t dmax, const char* s)
    {
        (void)dmax;
        std::strcat(d, s);
        return 0;
    }
};
struct StrcatBounded {
    static constexpr const char* kName = "bounded";
    static int Run(char* d, size_t dmax, const char* s) { return strcat_s(d, dmax, s); }
};

template <class Impl>
void BM_Strncpy(benchmark::State& state)
{
    const auto destSize = static_cast<size_t>(state.range(0));
    alignas(16) char dest[256];
    for (unsigned i = 0; i < kArgCount; ++i) {
        if (Impl::Run(dest, destSize, kCopyTexts[i]) != 0 || std::strcmp(dest, kCopyTexts[i]) != 0) {
            state.SkipWithError("string copy result differs from strncpy");
            return;
        }
    }
    char* d = dest;
    benchmark::DoNotOptimize(d);
    unsigned i = 0;
    for (auto _ : state) {
        int r = Impl::Run(d, destSize, kCopyTexts[i]);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
        i = NextArg(i);
    }
}

template <class Impl>
void BM_Strcat(benchmark::State& state)
{
    static const char kBase[] = "/dev/";
    const auto destSize = static_cast<size_t>(state.range(0));
    alignas(16) char dest[256];
    char* d = dest;
    for (unsigned i = 0; i < kArgCount; ++i) {
        std::memcpy(d, kBase, sizeof kBase);
        std::string expected = std::string(kBase) + kNames[i];
        if (Impl::Run(d, destSize, kNames[i]) != 0 || expected != d) {
            state.SkipWithError("append result differs from strcat");
            return;
        }
    }
    unsigned i = 0;
    for (auto _ : state) {
        std::memcpy(d, kBase, sizeof kBase);
        /* Hide the base's length from the compiler: it would otherwise turn
         * strcat into a copy at a known offset. */
        benchmark::DoNotOptimize(d);
        benchmark::ClobberMemory();
        int r = Impl::Run(d, destSize, kNames[i]);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
        i = NextArg(i);
    }
}

/* ------------------------------------------------------- formatted output */

/* The implementations, each called as the tools would call it for a
 * destination of size n. kBraces selects the {fmt} spelling of the format. */
struct FmtLibc {
    static constexpr const char* kName = "libc";
    static constexpr bool kBraces = false;
    template <class... A>
    int operator()(char* b, size_t n, const char* f, A... a) const
    {
        return std::snprintf(b, n, f, a...);
    }
};
struct FmtSprintfS {
    static constexpr const char* kName = "sprintf_s";
    static constexpr bool kBraces = false;
    template <class... A>
    int operator()(char* b, size_t n, const char* f, A... a) const
    {
        return sprintf_s(b, n, f, a...);
    }
};
struct FmtSnprintfS {
    static constexpr const char* kName = "snprintf_s";
    static constexpr bool kBraces = false;
    template <class... A>
    int operator()(char* b, size_t n, const char* f, A... a) const
    {
        return snprintf_s(b, n, n - 1, f, a...);
    }
};
struct FmtStb {
    static constexpr const char* kName = "stbsp_snprintf";
    static constexpr bool kBraces = false;
    template <class... A>
    int operator()(char* b, size_t n, const char* f, A... a) const
    {
        return stbsp_snprintf(b, static_cast<int>(n), f, a...);
    }
};
struct FmtFmt {
    static constexpr const char* kName = "fmt_format_to_n";
    static constexpr bool kBraces = true;
    template <class... A>
    int operator()(char* b, size_t n, const char* f, A... a) const
    {
        auto r = fmt::format_to_n(b, n - 1, fmt::runtime(f), a...);
        *r.out = '\0';
        return static_cast<int>(r.size);
    }
};

/* 32-character identifiers, as the tools print for a LUN's designator. */
struct Text32 {
    std::array<std::array<char, 33>, kArgCount> text{};
    Text32()
    {
        static const char kHex[] = "0123456789abcdef";
        for (unsigned i = 0; i < kArgCount; ++i) {
            unsigned seed = 0x6005076u + i * 2654435761u;
            for (unsigned k = 0; k < 32; ++k) {
                seed = seed * 1103515245u + 12345u;
                text[i][k] = kHex[(seed >> 16) & 15];
            }
            text[i][32] = '\0';
        }
    }
};
const Text32 g_text32;

/* Each case names itself, gives its format in both spellings and passes
 * argument set i to an implementation. */
struct CasePath2 {
    static constexpr const char* kName = "path2";
    static constexpr const char* kPrintf = "%s/%s";
    static constexpr const char* kBraces = "{}/{}";
    template <class F>
    static int Call(const F& f, char* b, size_t n, const char* fmt, unsigned i)
    {
        return f(b, n, fmt, kDirs[i], kNames[i]);
    }
};
struct CaseDevPath {
    static constexpr const char* kName = "devpath";
    static constexpr const char* kPrintf = "/dev/%s";
    static constexpr const char* kBraces = "/dev/{}";
    template <class F>
    static int Call(const F& f, char* b, size_t n, const char* fmt, unsigned i)
    {
        return f(b, n, fmt, kNames[i]);
    }
};
struct CaseInt5 {
    static constexpr const char* kName = "int5";
    static constexpr const char* kPrintf = "%d";
    static constexpr const char* kBraces = "{}";
    static constexpr int kValues[kArgCount] = {12345, 54321, 10000, 99999, 31337, 65535, 20480, 40960,
                                               11111, 86400, 32768, 50000, 77777, 10240, 98304, 42424};
    template <class F>
    static int Call(const F& f, char* b, size_t n, const char* fmt, unsigned i)
    {
        return f(b, n, fmt, kValues[i]);
    }
};
struct CaseUnsigned {
    static constexpr const char* kName = "uint";
    static constexpr const char* kPrintf = "%u";
    static constexpr const char* kBraces = "{}";
    /* counts, block sizes, capacities in blocks */
    static constexpr unsigned kValues[kArgCount] = {0u,       7u,         512u,    4096u,
                                                    65535u,   1000000u,   8u,      2097152u,
                                                    255u,     4294967295u, 31u,    123456789u,
                                                    1u,       16384u,     3u,      2147483648u};
    template <class F>
    static int Call(const F& f, char* b, size_t n, const char* fmt, unsigned i)
    {
        return f(b, n, fmt, kValues[i]);
    }
};
struct CaseHex2 {
    static constexpr const char* kName = "hex02";
    static constexpr const char* kPrintf = "%02x";
    static constexpr const char* kBraces = "{:02x}";
    static constexpr unsigned kValues[kArgCount] = {0x00, 0x05, 0x1f, 0xa0, 0xff, 0x83, 0x80, 0x3c,
                                                    0xc8, 0x0a, 0x7e, 0x10, 0xd4, 0x01, 0x99, 0xef};
    template <class F>
    static int Call(const F& f, char* b, size_t n, const char* fmt, unsigned i)
    {
        return f(b, n, fmt, kValues[i]);
    }
};
struct CaseHctl {
    static constexpr const char* kName = "hctl";
    static constexpr const char* kPrintf = "%d:%d:%d:%d";
    static constexpr const char* kBraces = "{}:{}:{}:{}";
    static constexpr int kValues[kArgCount][4] = {
        {0, 0, 0, 0},  {2, 0, 1, 5},  {10, 0, 3, 127}, {3, 0, 0, 1},  {1, 0, 2, 14}, {4, 0, 0, 255},
        {0, 0, 1, 2},  {7, 0, 12, 0}, {2, 0, 0, 31},   {11, 0, 4, 9}, {5, 0, 0, 64}, {1, 0, 1, 1},
        {6, 0, 3, 8},  {0, 0, 2, 99}, {3, 0, 5, 3},    {8, 0, 0, 16}};
    template <class F>
    static int Call(const F& f, char* b, size_t n, const char* fmt, unsigned i)
    {
        return f(b, n, fmt, kValues[i][0], kValues[i][1], kValues[i][2], kValues[i][3]);
    }
};
struct CaseSizeUnit {
    static constexpr const char* kName = "float1c";
    static constexpr const char* kPrintf = "%.1f%c";
    static constexpr const char* kBraces = "{:.1f}{}";
    /* Values kept clear of a rounding tie at one decimal. */
    static constexpr double kValues[kArgCount] = {931.51, 3.64, 512.0,  1.82,  0.48, 16.0,
                                                  2.73,   99.9, 146.13, 7.28,  1.0,  238.47,
                                                  4.02,   60.1, 0.12,   1023.92};
    static constexpr char kUnits[kArgCount] = {'G', 'T', 'M', 'K', 'G', 'T', 'T', 'G',
                                               'G', 'T', 'P', 'M', 'G', 'K', 'T', 'M'};
    template <class F>
    static int Call(const F& f, char* b, size_t n, const char* fmt, unsigned i)
    {
        return f(b, n, fmt, kValues[i], kUnits[i]);
    }
};
struct CaseChar {
    static constexpr const char* kName = "char";
    static constexpr const char* kPrintf = "%c";
    static constexpr const char* kBraces = "{}";
    static constexpr char kValues[kArgCount] = {'Y', 'N', '-', '*', 'A', 'S', 'O', 'F',
                                                'y', 'n', ' ', '+', 'R', 'W', '?', '|'};
    template <class F>
    static int Call(const F& f, char* b, size_t n, const char* fmt, unsigned i)
    {
        return f(b, n, fmt, kValues[i]);
    }
};
struct CaseString32 {
    static constexpr const char* kName = "str32";
    static constexpr const char* kPrintf = "%s";
    static constexpr const char* kBraces = "{}";
    template <class F>
    static int Call(const F& f, char* b, size_t n, const char* fmt, unsigned i)
    {
        return f(b, n, fmt, g_text32.text[i].data());
    }
};

constexpr size_t kMaxDest = 256;

/* Longest text a case produces over its argument sets. */
template <class Case>
size_t LongestOutput()
{
    char buf[kMaxDest];
    size_t longest = 0;
    for (unsigned i = 0; i < kArgCount; ++i) {
        int n = Case::Call(FmtLibc{}, buf, sizeof buf, Case::kPrintf, i);
        if (n > 0 && static_cast<size_t>(n) > longest) {
            longest = static_cast<size_t>(n);
        }
    }
    return longest;
}

template <class Case, class Impl>
void BM_Format(benchmark::State& state)
{
    const auto destSize = static_cast<size_t>(state.range(0));
    const Impl impl;
    const char* const format = Impl::kBraces ? Case::kBraces : Case::kPrintf;

    char expected[kMaxDest];
    /* One byte beyond the largest destination stays a terminator, so that the
     * comparison ends even behind an implementation that wrote none. */
    alignas(16) char buf[kMaxDest + 1];
    for (unsigned i = 0; i < kArgCount; ++i) {
        int want = Case::Call(FmtLibc{}, expected, sizeof expected, Case::kPrintf, i);
        std::memset(buf, 0x5A, kMaxDest);
        buf[kMaxDest] = '\0';
        int got = Case::Call(impl, buf, destSize, format, i);
        if (got != want || std::strcmp(buf, expected) != 0) {
            std::string msg = std::string("output differs from snprintf for argument set ") +
                              std::to_string(i) + ": \"" + buf + "\" against \"" + expected + "\"";
            state.SkipWithError(msg.c_str());
            return;
        }
    }

    state.SetLabel(Case::kPrintf);
    const char* volatile formatSlot = format;
    char* b = buf;
    benchmark::DoNotOptimize(b);
    unsigned i = 0;
    for (auto _ : state) {
        int n = Case::Call(impl, b, destSize, formatSlot, i);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
        i = NextArg(i);
    }
}

/* ---------------------------------------------------------- registration */

const std::vector<int64_t> kMemSizes = {1, 7, 16, 33, 64, 128, 255, 256, 1024, 4096};
const std::vector<int64_t> kDestSizes = {16, 64, 256};

template <class Impl>
void RegisterMem(const char* op, void (*fn)(benchmark::State&), int64_t size)
{
    std::string name = std::string("mem/") + op + "/" + Impl::kName;
    benchmark::RegisterBenchmark(name.c_str(), fn)->Arg(size);
}

template <class Impl>
void RegisterStr(const char* op, void (*fn)(benchmark::State&))
{
    std::string name = std::string("str/") + op + "/" + Impl::kName;
    benchmark::RegisterBenchmark(name.c_str(), fn)->Arg(static_cast<int64_t>(kStringDestSize));
}

template <class Case, class... Impls>
void RegisterFormatCase()
{
    size_t longest = LongestOutput<Case>();
    for (int64_t dest : kDestSizes) {
        if (longest + 1 > static_cast<size_t>(dest)) {
            continue; /* measured only where every argument set fits */
        }
        (benchmark::RegisterBenchmark(
             (std::string("fmt/") + Case::kName + "/" + Impls::kName).c_str(),
             &BM_Format<Case, Impls>)
             ->Arg(dest),
         ...);
    }
}

template <class... Impls>
void RegisterFormatCases()
{
    RegisterFormatCase<CasePath2, Impls...>();
    RegisterFormatCase<CaseDevPath, Impls...>();
    RegisterFormatCase<CaseInt5, Impls...>();
    RegisterFormatCase<CaseUnsigned, Impls...>();
    RegisterFormatCase<CaseHex2, Impls...>();
    RegisterFormatCase<CaseHctl, Impls...>();
    RegisterFormatCase<CaseSizeUnit, Impls...>();
    RegisterFormatCase<CaseChar, Impls...>();
    RegisterFormatCase<CaseString32, Impls...>();
}

void RegisterAll()
{
    /* Interleaved by size, so that the implementations of one size run close
     * together in time on a noisy machine. */
    for (int64_t size : kMemSizes) {
        RegisterMem<CopyLibc>("memcpy", &BM_Memcpy<CopyLibc>, size);
        RegisterMem<CopyBounded>("memcpy", &BM_Memcpy<CopyBounded>, size);
        RegisterMem<CopyBoundedFast>("memcpy", &BM_Memcpy<CopyBoundedFast>, size);
    }
    for (int64_t size : kMemSizes) {
        RegisterMem<FillLibc>("memset", &BM_Memset<FillLibc>, size);
        RegisterMem<FillBounded>("memset", &BM_Memset<FillBounded>, size);
        RegisterMem<FillBoundedFast>("memset", &BM_Memset<FillBoundedFast>, size);
    }
    RegisterStr<StrncpyLibc>("strncpy", &BM_Strncpy<StrncpyLibc>);
    RegisterStr<StrncpyBounded>("strncpy", &BM_Strncpy<StrncpyBounded>);
    RegisterStr<StrcatLibc>("strcat", &BM_Strcat<StrcatLibc>);
    RegisterStr<StrcatBounded>("strcat", &BM_Strcat<StrcatBounded>);
    RegisterFormatCases<FmtLibc, FmtSprintfS, FmtSnprintfS, FmtStb, FmtFmt>();
}

}  // namespace

int main(int argc, char** argv)
{
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
