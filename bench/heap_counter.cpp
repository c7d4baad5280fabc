#include "heap_counter.h"

#if defined(__GLIBC__) && !defined(TAVRINE_BENCH_NO_HEAP_COUNTER)
#define TAVRINE_BENCH_HEAP_COUNTER 1
#include <malloc.h>

#include <cerrno>
#include <cstring>

// glibc's own entry points, which the replacements below forward to.
extern "C" {
void* __libc_malloc(std::size_t size);                    // NOLINT(bugprone-reserved-identifier)
void* __libc_calloc(std::size_t count, std::size_t size);  // NOLINT(bugprone-reserved-identifier)
void* __libc_realloc(void* block, std::size_t size);       // NOLINT(bugprone-reserved-identifier)
void* __libc_memalign(std::size_t alignment, std::size_t size);  // NOLINT(bugprone-reserved-identifier)
void __libc_free(void* block);                             // NOLINT(bugprone-reserved-identifier)
}
#endif

namespace bench {

namespace {

// The program is single-threaded while it measures.
struct HeapUse {
    std::size_t inUse = 0;
    std::size_t peak = 0;
    std::size_t base = 0;
};
HeapUse heapUse;  // NOLINT: the allocator hooks have no other place to count

}  // namespace

#if defined(TAVRINE_BENCH_HEAP_COUNTER)
namespace {

// Usable sizes stay constant for a block's lifetime, so adding them on
// allocation and subtracting them on release balances exactly.
void counted(void* block) noexcept {
    if (block == nullptr) return;
    heapUse.inUse += malloc_usable_size(block);
    if (heapUse.inUse > heapUse.peak) heapUse.peak = heapUse.inUse;
}

void uncounted(void* block) noexcept {
    if (block == nullptr) return;
    const std::size_t size = malloc_usable_size(block);
    heapUse.inUse = size > heapUse.inUse ? 0 : heapUse.inUse - size;
}

}  // namespace

bool heapCounterAvailable() noexcept { return true; }
#else
bool heapCounterAvailable() noexcept { return false; }
#endif

void heapPeakReset() noexcept {
    heapUse.peak = heapUse.inUse;
    heapUse.base = heapUse.inUse;
}

std::size_t heapPeakSinceReset() noexcept { return heapUse.peak - heapUse.base; }

}  // namespace bench

#if defined(TAVRINE_BENCH_HEAP_COUNTER)
extern "C" {

void* malloc(std::size_t size) {
    void* block = __libc_malloc(size);
    bench::counted(block);
    return block;
}

void* calloc(std::size_t count, std::size_t size) {
    void* block = __libc_calloc(count, size);
    bench::counted(block);
    return block;
}

void* realloc(void* block, std::size_t size) {
    bench::uncounted(block);
    void* moved = __libc_realloc(block, size);
    // A failed realloc keeps the old block.
    bench::counted(moved != nullptr || size == 0 ? moved : block);
    return moved;
}

void free(void* block) {
    bench::uncounted(block);
    __libc_free(block);
}

void* memalign(std::size_t alignment, std::size_t size) {
    void* block = __libc_memalign(alignment, size);
    bench::counted(block);
    return block;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    void* block = memalign(alignment, size);
    if (block == nullptr) return ENOMEM;
    *out = block;
    return 0;
}

}  // extern "C"
#endif
