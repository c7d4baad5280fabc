// The production forward block sort: the same record as the plain reference
// sort for every block, ties included, in O(n log n) time.
//
// The block's shape picks the sort. A primitive block has one sorted order of
// rotations, found by the rotation sort (rotation_sort.h). A periodic block (a
// shorter string u repeated) has identical rotations, whose mutual order is
// the one the reference's stable sorts leave; the periodic sort
// (periodic_sort.h) builds its record from u's and follows the tie rules for
// rotation 0 alone.
//
// The working tables belong to the sorter and are reused from block to block:
// they are obtained on the first sort, sized for that block, and obtained again
// only for a longer block.
#pragma once

#include <cstdint>

#include "platform/heap.h"

namespace tavrine {

class BlockSorter {
public:
    BlockSorter() = default;

    // Writes the n + 2 byte record of block[0 .. n-1] into record,
    // 1 <= n <= 65536. Throws std::bad_alloc when its tables cannot be obtained.
    void sort(std::uint8_t* record, const std::uint8_t* block, std::uint32_t n);

    // Bytes of working tables held now.
    std::size_t heldBytes() const noexcept {
        return starts_.size() * sizeof(std::uint16_t) + words_.size() * sizeof(std::uint32_t) +
               bytes_.size();
    }

private:
    void reserve(std::uint32_t n);

    platform::HeapArray<std::uint16_t> starts_;  // position table, then the seed rotations
    platform::HeapArray<std::uint32_t> words_;   // the sorts' work words
    platform::HeapArray<std::uint8_t> bytes_;    // doubled block, then the sorts' work bytes
    std::uint32_t capacity_ = 0;                 // longest block the tables serve
};

}  // namespace tavrine
