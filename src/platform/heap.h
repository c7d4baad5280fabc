// Working memory of the module.
//
// The Windows module (built with TAVRINE_MODULE_HEAP) takes its memory from a
// private heap created without serialisation when the DLL is loaded; every
// other build (the libraries, tavrine.dll, the programs) from the C allocator,
// which is safe for concurrent calls. A failed allocation throws std::bad_alloc; every
// export catches it and returns 0, so no code ever runs on without its memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace tavrine::platform {

// Obtains bytes from the module heap; throws std::bad_alloc when none are left.
void* allocate(std::size_t bytes);

// Returns memory obtained from allocate(); null is allowed.
void release(void* block) noexcept;

// The C library's plain malloc/free, used for the frequency model's arrays.
// Returns null on failure (the model reports it to its owner).
void* allocatePlain(std::size_t bytes) noexcept;
void releasePlain(void* block) noexcept;

// An owned array of trivially copyable elements from the module heap.
// Contents are uninitialised. Move-only; the pointer is cleared when released.
template <typename T>
class HeapArray {
public:
    HeapArray() = default;
    explicit HeapArray(std::size_t count)
        : data_(static_cast<T*>(allocate(count * sizeof(T)))), count_(count) {}
    ~HeapArray() { reset(); }

    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;
    HeapArray(HeapArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), count_(std::exchange(other.count_, 0)) {}
    HeapArray& operator=(HeapArray&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            count_ = std::exchange(other.count_, 0);
        }
        return *this;
    }

    void reset() noexcept {
        release(data_);
        data_ = nullptr;
        count_ = 0;
    }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return count_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }

private:
    T* data_ = nullptr;
    std::size_t count_ = 0;
};

}  // namespace tavrine::platform

namespace tavrine::platform {

// The Windows module: creates and destroys the private heap; called by the
// module entry on process attach and detach. No-ops elsewhere.
void openModuleHeap() noexcept;
void closeModuleHeap() noexcept;

#if defined(TAVRINE_FAULT_INJECTION)
// Test builds only: while an AllocationFault lives on a thread, the k-th
// allocation (module heap or plain, counted from 1) made on that thread fails.
class AllocationFault {
public:
    explicit AllocationFault(std::uint64_t failingAllocation) noexcept;
    ~AllocationFault();
    AllocationFault(const AllocationFault&) = delete;
    AllocationFault& operator=(const AllocationFault&) = delete;

    // Allocations attempted on this thread since the fault was armed.
    std::uint64_t attempts() const noexcept;
};
#endif

}  // namespace tavrine::platform
