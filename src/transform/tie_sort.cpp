#include "transform/tie_sort.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/branchless.h"
#include "transform/sort_common.h"

namespace tavrine {

namespace {

// Sorting networks for 2 .. kNetworkInputs inputs: Batcher's odd-even merge
// sort for kNetworkInputs, with every compare-exchange that touches an input
// at or beyond the size dropped. Inputs there would be greater than all
// others, and a compare-exchange (i, j), i < j, never moves the greater
// input at j, so they would never move: the pruned network sorts the rest.
constexpr std::uint32_t kNetworkInputs = 16;

template <typename Visit>
constexpr void forEachComparator(std::uint32_t size, Visit visit) noexcept {
    for (std::uint32_t p = 1; p < kNetworkInputs; p *= 2) {
        for (std::uint32_t k = p; k >= 1; k /= 2) {
            for (std::uint32_t j = k % p; j + k < kNetworkInputs; j += 2 * k) {
                for (std::uint32_t i = 0; i < k && i + j + k < kNetworkInputs; ++i) {
                    const std::uint32_t low = i + j;
                    const std::uint32_t high = i + j + k;
                    if (low / (2 * p) == high / (2 * p) && high < size) visit(low, high);
                }
            }
        }
    }
}

// Word and start of the inputs of a network, in registers once it is unrolled.
template <std::uint32_t kSize>
struct NetworkInputs {
    std::array<std::uint64_t, kSize> word;
    std::array<std::uint32_t, kSize> start;

    // Orders inputs low and high by word. The exchange goes by mask: GCC
    // makes branches of conditional swaps and even of std::min and std::max.
    void compareExchange(std::uint32_t low, std::uint32_t high) noexcept {
        const auto swap = platform::maskIf<std::uint64_t>(word[high] < word[low]);
        platform::exchangeByMask(swap, word[low], word[high]);
        platform::exchangeByMask(static_cast<std::uint32_t>(swap), start[low], start[high]);
    }

    // Whether two neighbours among the first `size` have the same word.
    bool tied(std::uint32_t size) const noexcept {
        std::uint32_t equal = 0;
        for (std::uint32_t k = 1; k < size; ++k) equal |= static_cast<std::uint32_t>(word[k] == word[k - 1]);
        return equal != 0;
    }
};

// The network for kSize inputs, unrolled.
template <std::uint32_t kSize>
struct Network {
    static constexpr std::uint32_t comparatorCount() noexcept {
        std::uint32_t count = 0;
        forEachComparator(kSize, [&count](std::uint32_t, std::uint32_t) { ++count; });
        return count;
    }

    using Comparators = std::array<std::array<std::uint8_t, 2>, comparatorCount()>;

    static constexpr Comparators comparators() noexcept {
        Comparators list{};
        std::uint32_t at = 0;
        forEachComparator(kSize, [&list, &at](std::uint32_t low, std::uint32_t high) {
            list[at][0] = static_cast<std::uint8_t>(low);
            list[at][1] = static_cast<std::uint8_t>(high);
            ++at;
        });
        return list;
    }

    static constexpr Comparators kComparators = comparators();

    template <std::size_t... kComparator>
    static void run(NetworkInputs<kSize>& in, std::index_sequence<kComparator...>) noexcept {
        (in.compareExchange(kComparators[kComparator][0], kComparators[kComparator][1]), ...);
    }

    // Sorts seeds[0 .. size-1], size <= kSize, by their words at `depth`;
    // returns whether two of them have the same word. Inputs from `size` on
    // are padded with the greatest word, which a seed may have as well: the
    // greatest word among the seeds then counts as tied.
    static bool sort(const std::uint8_t* d, RotationStart* seeds, std::uint32_t size,
                     std::uint32_t depth) noexcept {
        NetworkInputs<kSize> in;
        for (std::uint32_t k = 0; k < kSize; ++k) {
            in.start[k] = k < size ? seeds[k] : 0;
            in.word[k] = k < size ? loadWord(d + in.start[k] + depth) : ~std::uint64_t{0};
        }
        run(in, std::make_index_sequence<kComparators.size()>{});
        for (std::uint32_t k = 0; k < size; ++k) seeds[k] = static_cast<RotationStart>(in.start[k]);
        return in.tied(size) || (size < kSize && in.word[size - 1] == ~std::uint64_t{0});
    }
};

// Networks of the exact size for groups of up to kExactNetwork seeds, the
// padded one of kNetworkInputs for larger groups up to that.
constexpr std::uint32_t kExactNetwork = 8;

bool sortByNetwork(const std::uint8_t* d, RotationStart* seeds, std::uint32_t size,
                   std::uint32_t depth) noexcept {
    switch (size) {
        case 2: return Network<2>::sort(d, seeds, 2, depth);
        case 3: return Network<3>::sort(d, seeds, 3, depth);
        case 4: return Network<4>::sort(d, seeds, 4, depth);
        case 5: return Network<5>::sort(d, seeds, 5, depth);
        case 6: return Network<6>::sort(d, seeds, 6, depth);
        case 7: return Network<7>::sort(d, seeds, 7, depth);
        case kExactNetwork: return Network<kExactNetwork>::sort(d, seeds, kExactNetwork, depth);
        default: return Network<kNetworkInputs>::sort(d, seeds, size, depth);
    }
}

// Pending groups of the three-way split. It continues with the smallest part
// of each split, which keeps the stack short; a full stack ends the sort like
// an exhausted budget.
constexpr std::uint32_t kPendingGroups = 256;

// Sorts groups of seeds by comparing the words after the bytes they agree
// on. All rotations of a primitive block differ within n bytes, so every
// comparison ends before depth n.
class ComparisonSort {
public:
    ComparisonSort(const std::uint8_t* doubled, RotationStart* seeds, std::uint32_t n,
                   TieBudget budget) noexcept
        : d_(doubled), seeds_(seeds), n_(n), budget_(budget) {}

    bool withinBudget() const noexcept { return budget_.words >= 0 && budget_.deeper >= 0; }
    void charge(std::int64_t words) noexcept { budget_.words -= words; }

    // Sorts the group; false when the budget or the stack runs out.
    bool sortGroup(Group g) noexcept;

    // Sorts, on the words after g.depth + 8, the runs of a group sorted by
    // its words at g.depth that have equal words; false as for sortGroup.
    bool sortEqualRuns(Group g) noexcept;

private:
    std::uint64_t wordAt(std::uint32_t row, std::uint32_t depth) const noexcept {
        return loadWord(d_ + seeds_[row] + depth);
    }

    std::uint64_t medianWord(Group g) const noexcept {
        const std::uint64_t a = wordAt(g.first, g.depth);
        const std::uint64_t b = wordAt(g.first + g.size() / 2, g.depth);
        const std::uint64_t c = wordAt(g.last - 1, g.depth);
        return std::max(std::min(a, b), std::min(std::max(a, b), c));
    }

    // Splits the group into the seeds whose word at g.depth is below, equal
    // to and above the median of three; the equal part agrees on 8 more bytes.
    // Two passes without branches on the data: the seeds below the pivot
    // gathered at the front of the rows, then those equal to it behind them.
    std::array<Group, 3> partition(Group g) noexcept;

    enum class Gather { belowPivot, equalToPivot };
    // Moves the seeds of rows first .. last-1 whose word at `depth` is below
    // (or equal to) the pivot to the front of those rows; returns the row
    // after them.
    std::uint32_t gatherToFront(std::uint32_t first, std::uint32_t last, std::uint32_t depth,
                                std::uint64_t pivot, Gather which) noexcept;

    bool push(Group g) noexcept {
        if (g.size() < 2) return true;
        if (pendingCount_ == kPendingGroups) return false;
        pending_[pendingCount_++] = g;
        return true;
    }

    // Pushes the runs of equal words of a group sorted on them, one word deeper.
    bool pushEqualRuns(Group g) noexcept;

    std::array<Group, kPendingGroups> pending_;
    std::uint32_t pendingCount_ = 0;
    const std::uint8_t* d_;
    RotationStart* seeds_;
    std::uint32_t n_;
    TieBudget budget_;  // what is still allowed
};

std::uint32_t ComparisonSort::gatherToFront(std::uint32_t first, std::uint32_t last,
                                            std::uint32_t depth, std::uint64_t pivot,
                                            Gather which) noexcept {
    const bool below = which == Gather::belowPivot;
    RotationStart* seeds = seeds_;
    std::uint32_t front = first;
    for (std::uint32_t i = first; i < last; ++i) {
        const RotationStart s = seeds[i];
        const std::uint64_t word = loadWord(d_ + s + depth);
        // Always exchanged: rows front .. i-1 hold seeds that stay behind,
        // so the seed at i either joins the front part or swaps with one of them.
        seeds[i] = seeds[front];
        seeds[front] = s;
        front += static_cast<std::uint32_t>(below ? word < pivot : word == pivot);
    }
    return front;
}

std::array<Group, 3> ComparisonSort::partition(Group g) noexcept {
    budget_.words -= 2 * static_cast<std::int64_t>(g.size());
    const std::uint64_t pivot = medianWord(g);
    const std::uint32_t equal = gatherToFront(g.first, g.last, g.depth, pivot, Gather::belowPivot);
    const std::uint32_t above = gatherToFront(equal, g.last, g.depth, pivot, Gather::equalToPivot);
    budget_.deeper -= above - equal;
    return {Group{g.first, equal, g.depth}, Group{equal, above, g.depth + kWordBytes},
            Group{above, g.last, g.depth}};
}

bool ComparisonSort::pushEqualRuns(Group g) noexcept {
    std::uint32_t first = g.first;
    std::uint64_t word = wordAt(first, g.depth);
    for (std::uint32_t k = g.first + 1; k <= g.last; ++k) {
        const std::uint64_t next = k < g.last ? wordAt(k, g.depth) : ~word;
        if (next == word) continue;
        if (k - first > 1) budget_.deeper -= k - first;
        if (!push({first, k, g.depth + kWordBytes})) return false;
        first = k;
        word = next;
    }
    return true;
}

bool ComparisonSort::sortGroup(Group g) noexcept {
    pendingCount_ = 0;
    if (!push(g)) return false;
    while (pendingCount_ != 0) {
        g = pending_[--pendingCount_];
        // A group that reaches depth n holds identical rotations, which a
        // primitive block has not; it can only come of a broken invariant.
        if (g.depth >= n_) return false;
        const std::uint32_t size = g.size();
        if (size > kNetworkInputs) {
            std::array<Group, 3> parts = partition(g);
            std::sort(parts.begin(), parts.end(),
                      [](const Group& x, const Group& y) { return x.size() > y.size(); });
            // The smallest part goes on top of the stack, to keep it short.
            if (!push(parts[0]) || !push(parts[1]) || !push(parts[2])) return false;
        } else {
            budget_.words -= size;
            if (sortByNetwork(d_, seeds_ + g.first, size, g.depth) && !pushEqualRuns(g)) return false;
        }
        if (!withinBudget()) return false;
    }
    return true;
}

bool ComparisonSort::sortEqualRuns(Group g) noexcept {
    pendingCount_ = 0;
    if (!pushEqualRuns(g)) return false;
    const std::uint32_t runs = pendingCount_;
    std::array<Group, kPendingGroups> runList;
    std::copy_n(pending_.begin(), runs, runList.begin());
    for (std::uint32_t k = 0; k < runs; ++k) {
        if (!sortGroup(runList[k])) return false;
    }
    return true;
}

// The groups in order of size: one class per exact network, one for the
// padded network, one for larger groups; classStart[c] .. classStart[c+1]-1
// index `order`.
constexpr std::uint32_t kClasses = kExactNetwork + 1;  // sizes 2 .. 8, 9 .. 16, larger
using ClassStarts = std::array<std::uint32_t, kClasses + 1>;

std::uint32_t classOf(std::uint32_t size) noexcept {
    return size <= kExactNetwork ? size - 2 : (size <= kNetworkInputs ? kClasses - 2 : kClasses - 1);
}

ClassStarts orderBySize(TiedGroups groups, std::uint32_t* order) noexcept {
    std::array<std::uint32_t, kClasses> count{};
    for (std::uint32_t g = 0; g < groups.count; ++g) ++count[classOf(groups[g].size())];
    const ClassStarts start = startsFromCounts(count);
    std::array<std::uint32_t, kClasses> next;
    std::copy_n(start.begin(), kClasses, next.begin());
    for (std::uint32_t g = 0; g < groups.count; ++g) order[next[classOf(groups[g].size())]++] = g;
    return start;
}

// Runs the network of one class over its groups; the runs of equal words
// of a group go on to the comparison sort.
template <std::uint32_t kSize>
bool sortClass(const std::uint8_t* d, RotationStart* seeds, TiedGroups groups,
               const std::uint32_t* order, std::uint32_t begin, std::uint32_t end,
               ComparisonSort& sorter) noexcept {
    for (std::uint32_t k = begin; k < end; ++k) {
        const Group group = groups[order[k]];
        // A constant for the exact networks, so that their padding folds away.
        const std::uint32_t size = kSize <= kExactNetwork ? kSize : group.size();
        sorter.charge(size);
        if (Network<kSize>::sort(d, seeds + group.first, size, groups.depth) &&
            !sorter.sortEqualRuns(group)) {
            return false;
        }
    }
    return true;
}

template <std::uint32_t kSize>
bool sortExactClasses(const std::uint8_t* d, RotationStart* seeds, TiedGroups groups,
                      const std::uint32_t* order, const ClassStarts& classStart,
                      ComparisonSort& sorter) noexcept {
    if constexpr (kSize <= kExactNetwork) {
        const std::uint32_t c = classOf(kSize);
        return sortClass<kSize>(d, seeds, groups, order, classStart[c], classStart[c + 1], sorter) &&
               sortExactClasses<kSize + 1>(d, seeds, groups, order, classStart, sorter);
    } else {
        return true;
    }
}

}  // namespace

bool sortTiedGroups(const std::uint8_t* doubled, std::uint32_t n, RotationStart* seeds,
                    TiedGroups groups, TieBudget budget, std::uint32_t* work) noexcept {
    ComparisonSort sorter(doubled, seeds, n, budget);
    std::uint32_t* order = work;
    const ClassStarts classStart = orderBySize(groups, order);
    if (!sortExactClasses<2>(doubled, seeds, groups, order, classStart, sorter) ||
        !sortClass<kNetworkInputs>(doubled, seeds, groups, order, classStart[kClasses - 2],
                                   classStart[kClasses - 1], sorter)) {
        return false;
    }
    for (std::uint32_t k = classStart[kClasses - 1]; k < classStart[kClasses]; ++k) {
        if (!sorter.sortGroup(groups[order[k]])) return false;
    }
    return sorter.withinBudget();
}

}  // namespace tavrine
