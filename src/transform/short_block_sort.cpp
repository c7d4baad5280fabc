#include "transform/short_block_sort.h"

#include <algorithm>
#include <array>
#include <cassert>

namespace tavrine {

namespace {

// A rotation's sort key: its first bytes in the high bits, its start in the
// low kStartBits, so that keys never tie and each gives its rotation back.
constexpr std::uint32_t kStartBits = 8;
constexpr std::uint64_t kStartMask = (std::uint64_t{1} << kStartBits) - 1;
static_assert(kShortBlockLength <= kStartMask + 1);

std::uint32_t startOf(std::uint64_t key) noexcept { return static_cast<std::uint32_t>(key & kStartMask); }

// Words past the keys that the comparison of two tied rotations looks at:
// text rarely ties over seven bytes, and rotations that agree for longer mark
// a block of long repeats, which goes to the general methods.
constexpr std::uint32_t kTieWords = 2;

// Rotations a and b, which agree on their first kWordBytes - 1 bytes, compared
// on the kTieWords words past those: -1 or 1 as a sorts before or after b, 0
// when these agree as well. In a primitive block two rotations differ within
// n bytes, so a load never starts past offset n - 1 and stays inside the
// doubled block and its padding.
int compareTiedRotations(const std::uint8_t* doubled, std::uint32_t a, std::uint32_t b) noexcept {
    for (std::uint32_t word = 0; word < kTieWords; ++word) {
        const std::uint32_t offset = kWordBytes - 1 + word * kWordBytes;
        const std::uint64_t x = loadWord(doubled + a + offset);
        const std::uint64_t y = loadWord(doubled + b + offset);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

// Keys that agree on their bytes stand in the order of their starts; each
// such run, short in text, is sorted by insertion on the words past the keys.
// Returns false, with the keys in no useful order, at the first two rotations
// that agree on those as well.
bool sortTiedRuns(const std::uint8_t* doubled, std::uint64_t* keys, std::uint32_t n) noexcept {
    for (std::uint32_t first = 0; first + 1 < n;) {
        std::uint32_t end = first + 1;
        while (end < n && (keys[end] ^ keys[first]) <= kStartMask) ++end;
        for (std::uint32_t next = first + 1; next < end; ++next) {
            const std::uint64_t key = keys[next];
            std::uint32_t at = next;
            for (; at > first; --at) {
                const int order = compareTiedRotations(doubled, startOf(key), startOf(keys[at - 1]));
                if (order == 0) return false;
                if (order > 0) break;
                keys[at] = keys[at - 1];
            }
            keys[at] = key;
        }
        first = end;
    }
    return true;
}

// The rows or the last column of the sorted keys, as the workspace asks;
// returns the row of rotation 0.
std::uint32_t writeSortedRotations(const RotationWorkspace& ws, const std::uint64_t* keys,
                                   std::uint32_t n) noexcept {
    std::uint32_t primaryIndex = 0;
    for (std::uint32_t row = 0; row < n; ++row) {
        const std::uint32_t start = startOf(keys[row]);
        if (start == 0) primaryIndex = row;
        if (ws.lastColumn != nullptr) {
            ws.lastColumn[row] = ws.doubled[start + n - 1];
        } else {
            ws.rows[row] = static_cast<RotationStart>(start);
        }
    }
    return primaryIndex;
}

}  // namespace

std::uint32_t sortShortBlockRotations(const RotationWorkspace& ws, std::uint32_t n) noexcept {
    assert(n >= 1 && n <= kShortBlockLength);
    std::array<std::uint64_t, kShortBlockLength> keys;
    for (std::uint32_t s = 0; s < n; ++s) keys[s] = (loadWord(ws.doubled + s) & ~kStartMask) | s;
    std::sort(keys.begin(), keys.begin() + n);
    if (!sortTiedRuns(ws.doubled, keys.data(), n)) return kSortAbandoned;
    return writeSortedRotations(ws, keys.data(), n);
}

}  // namespace tavrine
