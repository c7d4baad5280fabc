#include "platform/heap.h"

#include <cstdlib>
#include <new>

#if defined(TAVRINE_MODULE_HEAP)
#include <windows.h>
#endif

namespace tavrine::platform {

namespace {

#if defined(TAVRINE_FAULT_INJECTION)
struct FaultState {
    std::uint64_t failing = 0;  // 0: disarmed
    std::uint64_t attempts = 0;
};
thread_local FaultState faultState;

// True when this attempt is the one the armed fault must fail.
bool injectedFailure() noexcept {
    if (faultState.failing == 0) return false;
    return ++faultState.attempts == faultState.failing;
}
#else
constexpr bool injectedFailure() noexcept { return false; }
#endif

#if defined(TAVRINE_MODULE_HEAP)
// Set once by the module entry on process attach, before any export can run.
HANDLE moduleHeap = nullptr;
#endif

}  // namespace

#if defined(TAVRINE_FAULT_INJECTION)
AllocationFault::AllocationFault(std::uint64_t failingAllocation) noexcept {
    faultState = FaultState{failingAllocation, 0};
}
AllocationFault::~AllocationFault() { faultState = FaultState{}; }
std::uint64_t AllocationFault::attempts() const noexcept { return faultState.attempts; }
#endif

#if defined(TAVRINE_MODULE_HEAP)
void openModuleHeap() noexcept {
    if (moduleHeap == nullptr) moduleHeap = HeapCreate(HEAP_NO_SERIALIZE, 0, 0);
}

void closeModuleHeap() noexcept {
    if (moduleHeap != nullptr) HeapDestroy(moduleHeap);
    moduleHeap = nullptr;
}

void* allocate(std::size_t bytes) {
    // A module linked statically into a program gets no attach notification.
    if (moduleHeap == nullptr) openModuleHeap();
    if (injectedFailure() || moduleHeap == nullptr) throw std::bad_alloc();
    void* block = HeapAlloc(moduleHeap, 0, bytes == 0 ? 1 : bytes);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void release(void* block) noexcept {
    if (block != nullptr && moduleHeap != nullptr) HeapFree(moduleHeap, 0, block);
}
#else
void openModuleHeap() noexcept {}
void closeModuleHeap() noexcept {}

void* allocate(std::size_t bytes) {
    if (injectedFailure()) throw std::bad_alloc();
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void release(void* block) noexcept { std::free(block); }
#endif

void* allocatePlain(std::size_t bytes) noexcept {
    if (injectedFailure()) return nullptr;
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void releasePlain(void* block) noexcept { std::free(block); }

}  // namespace tavrine::platform
