#include "transform/block_sorter.h"

#include <cassert>
#include <utility>

#include "transform/block_sort.h"
#include "transform/periodic_sort.h"
#include "transform/rotation_sort.h"
#include "transform/sort_common.h"

namespace tavrine {

void BlockSorter::reserve(std::uint32_t n) {
    if (n <= capacity_) return;
    // Release first: the tables are scratch, and the peak stays that of one set.
    starts_.reset();
    words_.reset();
    bytes_.reset();
    capacity_ = 0;
    platform::HeapArray<std::uint16_t> starts(n + 1 + rotationSortSeedSlots(n) + rotationSortSpareStarts(n));
    platform::HeapArray<std::uint32_t> words(rotationSortWorkWords(n));
    platform::HeapArray<std::uint8_t> bytes(2 * static_cast<std::size_t>(n) + kDoubledPadding +
                                            rotationSortWorkBytes(n));
    starts_ = std::move(starts);
    words_ = std::move(words);
    bytes_ = std::move(bytes);
    capacity_ = n;
}

void BlockSorter::sort(std::uint8_t* record, const std::uint8_t* block, std::uint32_t n) {
    assert(n >= 1 && n <= kMaxBlockLength);
    reserve(n);
    std::uint8_t* doubled = bytes_.data();
    RotationStart* seeds = starts_.data() + n + 1;
    const RotationWorkspace ws{doubled,
                               starts_.data(),
                               seeds,
                               words_.data(),
                               seeds + rotationSortSeedSlots(n),
                               doubled + 2 * static_cast<std::size_t>(n) + kDoubledPadding,
                               record + kPrimaryIndexBytes};
    buildDoubledBlock(doubled, block, n);

    // The block's shape picks the sort: a repetition u^k has identical
    // rotations, whose order the periodic sort fixes; any other block has
    // one sorted order (docs/design.md, "Which sort a block takes").
    const std::uint32_t period = primitiveRootLength(block, n);
    const std::uint32_t primaryIndex =
        period == n ? sortPrimitiveRotations(ws, n) : sortPeriodicRotations(ws, n, period);
    record[0] = static_cast<std::uint8_t>(primaryIndex);
    record[1] = static_cast<std::uint8_t>(primaryIndex >> 8);
}

}  // namespace tavrine
