// Working memory of the induced sorts, handed out and given back in stack
// order from the workspace of the rotation sort.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "transform/rotation_sort.h"

namespace tavrine {

template <typename T>
class Arena {
public:
    Arena(T* begin, std::size_t size) noexcept : begin_(begin), size_(size) {}

    T* take(std::size_t count) noexcept {
        assert(used_ + count <= size_);
        T* block = begin_ + used_;
        used_ += count;
        return block;
    }
    std::size_t mark() const noexcept { return used_; }
    void release(std::size_t mark) noexcept { used_ = mark; }

private:
    T* begin_;
    std::size_t size_;
    std::size_t used_ = 0;
};

struct Arenas {
    Arena<std::uint32_t> words;
    Arena<RotationStart> starts;
    Arena<std::uint8_t> bytes;

    struct Mark {
        std::size_t words;
        std::size_t starts;
        std::size_t bytes;
    };
    Mark mark() const noexcept { return {words.mark(), starts.mark(), bytes.mark()}; }
    void release(Mark m) noexcept {
        words.release(m.words);
        starts.release(m.starts);
        bytes.release(m.bytes);
    }
};

}  // namespace tavrine
