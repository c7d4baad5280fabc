// The working object of one encode or decode call. It owns all memory that
// lives for the whole call; nothing in it outlives the call or is shared
// between calls.
#pragma once

#include <cstdint>

#include "platform/heap.h"

namespace tavrine {

class CodecContext {
public:
    // Obtains the block sort's merge buffer; throws std::bad_alloc when it cannot.
    CodecContext();
    ~CodecContext() = default;  // the scratch table goes back to the module heap

    CodecContext(const CodecContext&) = delete;
    CodecContext& operator=(const CodecContext&) = delete;
    CodecContext(CodecContext&&) = delete;
    CodecContext& operator=(CodecContext&&) = delete;

    // Writes the n + 2 byte block record of block[0 .. n-1], 1 <= n <= 65536,
    // into record. Throws std::bad_alloc when the sort's tables cannot be obtained.
    void ForwardBlockSort(std::uint8_t* record, const std::uint8_t* block, std::uint32_t n);

private:
    platform::HeapArray<std::uint32_t> scratch_;
};

}  // namespace tavrine
