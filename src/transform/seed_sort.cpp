#include "transform/seed_sort.h"

#include "transform/tie_sort.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <utility>

namespace tavrine {

namespace {

// A seed's sort key: its first kRadixBytes bytes in the high bits and its
// start in the low 16, so that the key alone gives the rotation back.
constexpr std::uint32_t kRadixBytes = 6;
constexpr std::uint32_t kStartBits = 16;
constexpr std::uint64_t kStartMask = (std::uint64_t{1} << kStartBits) - 1;
constexpr std::uint32_t kDigitBits = 8;
constexpr std::uint32_t kDigitMask = kByteValues - 1;

std::uint64_t seedKey(const std::uint8_t* d, std::uint32_t s) noexcept {
    return (loadWord(d + s) & ~kStartMask) | s;
}

// Digit 0 is the last radix byte, digit kRadixBytes - 1 the first.
std::uint32_t digitOf(std::uint64_t key, std::uint32_t digit) noexcept {
    return static_cast<std::uint32_t>(key >> (64 - kDigitBits * (kRadixBytes - digit))) & kDigitMask;
}

std::uint64_t prefixOf(std::uint64_t key) noexcept { return key >> (64 - kDigitBits * kRadixBytes); }

RotationStart startOf(std::uint64_t key) noexcept {
    return static_cast<RotationStart>(key & kStartMask);
}

// Keys live in the 32-bit workspace, two words each, moved whole through memcpy.
class KeyArray {
public:
    explicit KeyArray(std::uint32_t* words) noexcept : words_(words) {}

    std::uint64_t operator[](std::uint32_t i) const noexcept {
        std::uint64_t key;
        std::memcpy(&key, words_ + 2 * static_cast<std::size_t>(i), sizeof key);
        return key;
    }
    void set(std::uint32_t i, std::uint64_t key) const noexcept {
        std::memcpy(words_ + 2 * static_cast<std::size_t>(i), &key, sizeof key);
    }
    std::uint32_t* words() const noexcept { return words_; }

private:
    std::uint32_t* words_;
};

using Histograms = std::array<std::array<std::uint32_t, kByteValues>, kRadixBytes>;

// Builds the key of every seed and counts every digit, in one pass.
void buildKeys(const std::uint8_t* d, const RotationStart* seeds, std::uint32_t count,
               KeyArray keys, Histograms& histograms) noexcept {
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint64_t key = seedKey(d, seeds[k]);
        keys.set(k, key);
        for (std::uint32_t digit = 0; digit < kRadixBytes; ++digit) ++histograms[digit][digitOf(key, digit)];
    }
}

// One stable counting pass on `digit` from keys to sorted, through
// `destinations` (count entries). Two independent streams find the places:
// the front half of the keys fills every bucket from its start upwards, the
// back half, read backwards, from its end downwards, so together they fill
// each bucket exactly and keep the order of equal digits. Runs of equal
// digits, common in text, then make two chains of counter updates instead of
// one. The keys move in a pass of their own: scattered stores, whose
// addresses come late, held up the counters' loads after them.
void countingPass(KeyArray keys, KeyArray sorted, std::uint32_t count, std::uint32_t digit,
                  const std::array<std::uint32_t, kByteValues>& histogram,
                  RotationStart* destinations) noexcept {
    std::array<std::uint32_t, kByteValues> low;
    std::array<std::uint32_t, kByteValues> high;
    std::uint32_t total = 0;
    for (std::uint32_t b = 0; b < kByteValues; ++b) {
        low[b] = total;
        total += histogram[b];
        high[b] = total;
    }
    const std::uint32_t half = count / 2;
    for (std::uint32_t k = 0; k < half; ++k) {
        destinations[k] = static_cast<RotationStart>(low[digitOf(keys[k], digit)]++);
        destinations[count - 1 - k] =
            static_cast<RotationStart>(--high[digitOf(keys[count - 1 - k], digit)]);
    }
    if (count % 2 != 0) destinations[half] = static_cast<RotationStart>(low[digitOf(keys[half], digit)]);
    for (std::uint32_t k = 0; k < count; ++k) sorted.set(destinations[k], keys[k]);
}

// Sorts the keys on their radix bytes, least significant digit first; a digit
// that all keys share needs no pass. Returns the array that holds the sorted keys.
KeyArray radixSortKeys(KeyArray keys, KeyArray spare, std::uint32_t count,
                       const Histograms& histograms, RotationStart* destinations) noexcept {
    for (std::uint32_t digit = 0; digit < kRadixBytes; ++digit) {
        if (histograms[digit][digitOf(keys[0], digit)] == count) continue;
        countingPass(keys, spare, count, digit, histograms[digit], destinations);
        std::swap(keys, spare);
    }
    return keys;
}

// Up to this many seeds, sorting their keys whole by insertion costs less
// than the radix passes, whose fixed work (six histograms of 256 counters and
// their starts) dominates a short block.
constexpr std::uint32_t kInsertionSortedKeys = 96;

// Builds the keys of a few seeds and sorts them by insertion, into `keys`.
// Equal radix bytes then order by start, where the radix passes keep the
// order of findSeeds; either is fine, since the tie sort orders them after.
KeyArray sortFewKeys(const std::uint8_t* d, const RotationStart* seeds, std::uint32_t count,
                     KeyArray keys) noexcept {
    std::array<std::uint64_t, kInsertionSortedKeys> sorted;
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint64_t key = seedKey(d, seeds[k]);
        std::uint32_t at = k;
        for (; at > 0 && sorted[at - 1] > key; --at) sorted[at] = sorted[at - 1];
        sorted[at] = key;
    }
    for (std::uint32_t k = 0; k < count; ++k) keys.set(k, sorted[k]);
    return keys;
}

// Writes the seeds in key order and lists the groups of two or more that
// agree on all radix bytes, as (first, last) pairs; returns how many. A group
// starts where a key's prefix equals the next one but not the one before, and
// ends where the reverse holds; both are recorded without branches, each
// pair slot written again until its bound is found. The list takes at most
// one pair per two seeds, and one pair slot more.
std::uint32_t unpackKeys(KeyArray keys, std::uint32_t count, RotationStart* seeds,
                         std::uint32_t* groups) noexcept {
    std::uint32_t starts = 0;
    std::uint32_t ends = 0;
    std::uint32_t sameBefore = 0;  // key k-1 has the prefix of key k-2
    std::uint64_t previous = prefixOf(keys[0]);
    seeds[0] = startOf(keys[0]);
    for (std::uint32_t k = 1; k < count; ++k) {
        const std::uint64_t key = keys[k];
        seeds[k] = startOf(key);
        const std::uint32_t same = static_cast<std::uint32_t>(prefixOf(key) == previous);
        groups[2 * static_cast<std::size_t>(starts)] = k - 1;
        starts += same & (sameBefore ^ 1);
        groups[2 * static_cast<std::size_t>(ends) + 1] = k;
        ends += (same ^ 1) & sameBefore;
        sameBefore = same;
        previous = prefixOf(key);
    }
    groups[2 * static_cast<std::size_t>(ends) + 1] = count;
    return starts;
}

// The budget of the tie sort. Text carries a seed one word deeper about a
// tenth of a time per rotation, its repeats rarely over a half; a block of
// long repeats (a period with a changed byte, mutated copies of one piece, a
// self-similar word) would need up to n / 8 per seed, and such a block goes
// to the induced sort instead, after at most this much wasted work.
constexpr std::int64_t kRotationsPerDeeperSeed = 2;
constexpr std::int64_t kWordsPerRotation = 8;
constexpr std::int64_t kBudgetFloor = 4096;

TieBudget comparisonBudget(std::uint32_t n) noexcept {
    return {std::max(kBudgetFloor, kWordsPerRotation * n), std::max(kBudgetFloor, n / kRotationsPerDeeperSeed)};
}

// Groups larger than this are probed before any is sorted.
constexpr std::uint32_t kProbedGroup = 16;

// Before sorting, how deep each large group will go is estimated from how
// far pairs of its seeds, half the group apart, agree after the radix
// bytes, probed up to kProbeWords words for one pair per kRowsPerProbe rows.
// Most blocks of long repeats show up here as large groups whose members
// agree at length, and go to the induced sort before the comparisons spend
// their budget; the budget catches the rest.
constexpr std::uint32_t kProbeWords = 64;
constexpr std::uint32_t kRowsPerProbe = 32;

// Words on which rotations s and t agree from `depth` on, up to kProbeWords.
std::uint32_t commonWords(const std::uint8_t* d, std::uint32_t s, std::uint32_t t,
                          std::uint32_t depth) noexcept {
    std::uint32_t words = 0;
    for (std::size_t offset = depth; words < kProbeWords; offset += kWordBytes, ++words) {
        if (loadWord(d + s + offset) != loadWord(d + t + offset)) break;
    }
    return words;
}

// Seeds the group is expected to carry deeper, word by word.
std::int64_t estimateDeeperSeeds(const std::uint8_t* d, const RotationStart* seeds, Group g) noexcept {
    const std::uint32_t size = g.size();
    const std::uint32_t probes = 1 + size / kRowsPerProbe;
    std::int64_t agreed = 0;
    for (std::uint32_t k = 0; k < probes; ++k) {
        const std::uint32_t row = static_cast<std::uint32_t>(static_cast<std::uint64_t>(size / 2) * k / probes);
        agreed += commonWords(d, seeds[g.first + row], seeds[g.first + row + size / 2], g.depth);
    }
    return static_cast<std::int64_t>(size) * agreed / probes;
}

}  // namespace

bool sortSeedsByComparison(const std::uint8_t* doubled, std::uint32_t n, RotationStart* seeds,
                           std::uint32_t count, std::uint32_t* work) noexcept {
    if (count < 2) return true;
    const KeyArray keys(work);
    const KeyArray spare(work + 2 * static_cast<std::size_t>(count));
    KeyArray sorted = keys;
    if (count <= kInsertionSortedKeys) {
        sorted = sortFewKeys(doubled, seeds, count, keys);
    } else {
        Histograms histograms{};
        buildKeys(doubled, seeds, count, keys, histograms);
        // The keys hold the seeds' starts, so the seeds' slots are free.
        sorted = radixSortKeys(keys, spare, count, histograms, seeds);
    }
    // The other key array is free again for the group list.
    std::uint32_t* groups = sorted.words() == keys.words() ? spare.words() : keys.words();
    const std::uint32_t groupCount = unpackKeys(sorted, count, seeds, groups);

    const TiedGroups tied{groups, groupCount, kRadixBytes};

    std::int64_t estimate = 0;
    for (std::uint32_t g = 0; g < tied.count; ++g) {
        if (tied[g].size() > kProbedGroup) estimate += estimateDeeperSeeds(doubled, seeds, tied[g]);
    }
    const TieBudget budget = comparisonBudget(n);
    if (estimate > budget.deeper) return false;
    // The sorted keys are done with, and their array takes the tie sort's work.
    assert(tieSortWorkWords(tied.count) <= 2 * static_cast<std::size_t>(count));
    return sortTiedGroups(doubled, n, seeds, tied, budget, sorted.words());
}

}  // namespace tavrine
