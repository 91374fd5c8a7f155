// Linked into test builds of the programs only (with -Wl,--wrap=malloc and
// -Wl,--wrap=calloc): refuses one allocation so that the failure path of each
// record kind can be reached on a simulated host. TSKIT_REFUSE_ALLOC="SIZE"
// or "SIZE:NTH" makes the NTH request (1, the first, by default) of exactly
// SIZE bytes, through malloc or calloc, return null; without it nothing is
// refused. The programs themselves read no such variable.
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

extern "C" void* __real_malloc(size_t size);
extern "C" void* __real_calloc(size_t count, size_t size);

namespace {

struct Refusal {
    bool parsed = false;
    size_t size = 0;  // 0: refuse nothing
    unsigned long nth = 1;
    unsigned long seen = 0;
};

Refusal g_refusal;

bool Refuse(size_t size) {
    if (!g_refusal.parsed) {
        g_refusal.parsed = true;
        const char* text = getenv("TSKIT_REFUSE_ALLOC");
        if (text != nullptr) {
            char* end = nullptr;
            g_refusal.size = strtoul(text, &end, 10);
            if (end != nullptr && *end == ':') {
                g_refusal.nth = strtoul(end + 1, nullptr, 10);
            }
        }
    }
    if (g_refusal.size == 0 || size != g_refusal.size) {
        return false;
    }
    return ++g_refusal.seen == g_refusal.nth;
}

}  // namespace

extern "C" void* __wrap_malloc(size_t size) {
    if (Refuse(size)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __real_malloc(size);
}

extern "C" void* __wrap_calloc(size_t count, size_t size) {
    if (count != 0 && Refuse(count * size)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __real_calloc(count, size);
}
