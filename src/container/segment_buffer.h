// A segment's bytes (its input, its stream or its decoded bytes), in memory
// that is kept from one segment to the next: it grows to the largest size
// asked of it and is neither zero-filled nor given back in between, so that
// once the buffers have grown a segment costs no allocation and no fresh
// pages. Its contents are uninitialised until written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/heap.h"

namespace tavrine::container {

class SegmentBuffer {
public:
    // Room for `bytes`; returns how many bytes of memory it took for that
    // (0 when it had the room). Throws std::bad_alloc.
    std::size_t reserve(std::size_t bytes) {
        if (storage_.size() >= bytes) return 0;
        const std::size_t before = storage_.size();
        storage_.reset();  // the old storage goes first, so that both are never held
        storage_ = platform::HeapArray<std::uint8_t>(bytes);
        return bytes - before;
    }

    // Gives the memory back.
    void release() noexcept {
        storage_.reset();
        size_ = 0;
    }

    std::size_t capacity() const noexcept { return storage_.size(); }

    // The bytes in use: size() of them, at most capacity().
    std::size_t size() const noexcept { return size_; }
    void resize(std::size_t bytes) noexcept { size_ = bytes; }
    std::span<std::uint8_t> bytes() noexcept { return {storage_.data(), size_}; }
    std::span<const std::uint8_t> bytes() const noexcept { return {storage_.data(), size_}; }

    // All of the room, for writing into.
    std::span<std::uint8_t> room() noexcept { return {storage_.data(), storage_.size()}; }

private:
    platform::HeapArray<std::uint8_t> storage_;
    std::size_t size_ = 0;
};

}  // namespace tavrine::container
