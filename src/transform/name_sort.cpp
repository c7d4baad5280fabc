#include "transform/name_sort.h"

#include <algorithm>
#include <cassert>

namespace tavrine {

namespace {

// No string of names has a rotation at this start, so it marks empty rows.
constexpr RotationStart kEmpty = 0xFFFF;
static_assert(kLongestNameString <= kEmpty, "every start must differ from the empty mark");

// The type of each rotation (L or S), and whether it is leftmost ascending
// (LMS), as bits.
constexpr std::uint8_t kDescending = 0;
constexpr std::uint8_t kAscending = 1;
constexpr std::uint8_t kLeftmostAscending = 2;

struct NameString {
    const Name* names;  // doubled
    std::uint32_t n;
    std::uint32_t alphabet;
    std::uint8_t* types;        // n: kAscending or kDescending, rotation by rotation, with kLeftmostAscending
    const std::uint32_t* start;  // alphabet + 1: bucket c is rows start[c] .. start[c+1]-1

    std::uint32_t predecessorOf(std::uint32_t s) const noexcept { return s == 0 ? n - 1 : s - 1; }

    // 1 for a leftmost ascending rotation, else 0.
    std::uint32_t leftmostAscending(std::uint32_t s) const noexcept {
        return static_cast<std::uint32_t>((types[s] & kLeftmostAscending) != 0);
    }
    std::uint32_t ascending(std::uint32_t s) const noexcept { return types[s] & kAscending; }
};

// Rotation i is ascending when it is smaller than rotation i+1: the type
// follows from the next one where two names are equal, so one backward scan
// from a pair of different names finds them all; a second marks the
// leftmost ascending rotations and lists them in order in leftmost[], which
// takes n / 2 + 1 slots. Returns how many there are.
std::uint32_t classify(const NameString& text, RotationStart* leftmost) noexcept {
    const Name* x = text.names;
    std::uint8_t* types = text.types;
    std::uint32_t first = 0;
    while (x[first] == x[first + 1]) ++first;
    std::uint32_t next = x[first] < x[first + 1] ? kAscending : kDescending;
    for (std::uint32_t j = first + text.n; j-- > first;) {
        const std::uint32_t a = x[j];
        const std::uint32_t b = x[j + 1];
        next = static_cast<std::uint32_t>(a < b) | (static_cast<std::uint32_t>(a == b) & next);
        types[j >= text.n ? j - text.n : j] = static_cast<std::uint8_t>(next);
    }
    std::uint32_t before = types[text.n - 1];
    std::uint32_t count = 0;
    for (std::uint32_t s = 0; s < text.n; ++s) {
        const std::uint32_t type = types[s];
        const std::uint32_t isLeftmost = type & (before ^ kAscending);
        types[s] = static_cast<std::uint8_t>(type | (isLeftmost * kLeftmostAscending));
        leftmost[count] = static_cast<RotationStart>(s);
        count += isLeftmost;
        before = type;
    }
    return count;
}

void countBuckets(const Name* x, std::uint32_t n, std::uint32_t alphabet, std::uint32_t* start) noexcept {
    std::fill_n(start, alphabet + 1, 0u);
    for (std::uint32_t i = 0; i < n; ++i) ++start[x[i] + 1];
    for (std::uint32_t c = 0; c < alphabet; ++c) start[c + 1] += start[c];
}

// A descending rotation sorts within its bucket, ahead of the ascending
// ones, as its successor sorts overall; the successor lies in a lower bucket
// or earlier in the same one, so the upward scan meets it first. The scans
// take no branch on the data: an empty row reads as rotation 0, and rows[n]
// is the sink for the rotations not placed.
void induceDescending(const NameString& text, RotationStart* rows, std::uint32_t* next) noexcept {
    std::copy_n(text.start, text.alphabet, next);
    for (std::uint32_t i = 0; i < text.n; ++i) {
        const RotationStart s = rows[i];
        const std::uint32_t filled = static_cast<std::uint32_t>(s != kEmpty);
        const std::uint32_t p = text.predecessorOf(filled != 0 ? s : 0);
        const std::uint32_t place = filled & (text.ascending(p) ^ kAscending);
        const std::uint32_t slot = next[text.names[p]];
        next[text.names[p]] = slot + place;
        rows[place != 0 ? slot : text.n] = static_cast<RotationStart>(p);
    }
}

// The mirror image for the ascending rotations, filling buckets from their
// ends. Every row the downward scan reads is final, so it can also gather
// the leftmost ascending rotations, in row order, into gathered[1 .. count].
// Every row read is written to the next slot down, which only a leftmost
// ascending one takes: the others are overwritten, or land in gathered[0].
template <bool kGatherLeftmost>
void induceAscending(const NameString& text, RotationStart* rows, std::uint32_t* next,
                     RotationStart* gathered = nullptr, std::uint32_t count = 0) noexcept {
    std::copy_n(text.start + 1, text.alphabet, next);
    std::uint32_t gatherAt = count;
    for (std::uint32_t i = text.n; i-- > 0;) {
        const RotationStart s = rows[i];
        const std::uint32_t filled = static_cast<std::uint32_t>(s != kEmpty);
        const std::uint32_t rotation = filled != 0 ? s : 0;
        const std::uint32_t p = text.predecessorOf(rotation);
        const std::uint32_t place = filled & text.ascending(p);
        const std::uint32_t row = next[text.names[p]] - place;
        next[text.names[p]] = row;
        rows[place != 0 ? row : text.n] = static_cast<RotationStart>(p);
        if constexpr (kGatherLeftmost) {
            gathered[gatherAt] = s;
            gatherAt -= filled & text.leftmostAscending(rotation);
        }
    }
    assert(!kGatherLeftmost || gatherAt == 0);
}

// Whether the substrings of leftmost ascending rotations s and t, running to
// the next such rotation inclusive, are equal: same names and types.
bool sameSubstring(const NameString& text, std::uint32_t s, std::uint32_t t) noexcept {
    for (std::uint32_t d = 0;; ++d) {
        const std::uint32_t a = s + d;
        const std::uint32_t b = t + d;
        const std::uint32_t ia = a >= text.n ? a - text.n : a;
        const std::uint32_t ib = b >= text.n ? b - text.n : b;
        if (text.names[a] != text.names[b] || text.ascending(ia) != text.ascending(ib)) return false;
        if (d > 0) {
            const std::uint32_t endA = text.leftmostAscending(ia);
            const std::uint32_t endB = text.leftmostAscending(ib);
            if ((endA | endB) != 0) return (endA & endB) != 0;
        }
    }
}

}  // namespace

void sortRotationsOfNames(const Name* names, std::uint32_t n, std::uint32_t alphabet, RotationStart* rows,
                          Arenas& arenas) noexcept {
    const Arenas::Mark mark = arenas.mark();
    std::uint32_t* start = arenas.words.take(alphabet + 1);
    countBuckets(names, n, alphabet, start);
    const NameString text{names, n, alphabet, arenas.bytes.take(n), start};
    RotationStart* positionOf = arenas.starts.take(n / 2 + 1);
    const std::uint32_t count = classify(text, positionOf);
    RotationStart* gathered = arenas.starts.take(count + 1);
    RotationStart* sorted = gathered + 1;
    std::uint32_t* next = arenas.words.take(alphabet);

    // In any order at the ends of their buckets, the leftmost ascending
    // rotations induce an order of all rotations by their substrings.
    std::fill_n(rows, n, kEmpty);
    std::copy_n(start + 1, alphabet, next);
    for (std::uint32_t k = 0; k < count; ++k) rows[--next[names[positionOf[k]]]] = positionOf[k];
    induceDescending(text, rows, next);
    induceAscending<true>(text, rows, next, gathered, count);

    // Names of the substrings, by rank, at slot s / 2 (the rotations are at
    // least two apart); while two are equal, the reduced string decides.
    Name* nameAt = arenas.starts.take(n / 2 + 1);
    const auto sameLmsSubstring = [&text](std::uint32_t s, std::uint32_t t) {
        return sameSubstring(text, s, t);
    };
    const std::uint32_t nameCount = nameBySubstring(sorted, count, sameLmsSubstring, nameAt);
    if (nameCount < count) {
        Name* reduced = arenas.starts.take(2 * static_cast<std::size_t>(count) + 1);
        RotationStart* reducedRows = arenas.starts.take(count + 1);
        buildReducedString(nameAt, positionOf, count, reduced);
        sortRotationsOfNames(reduced, count, nameCount, reducedRows, arenas);
        for (std::uint32_t j = 0; j < count; ++j) sorted[j] = positionOf[reducedRows[j]];
    }

    // Sorted, at the ends of their buckets, they induce the order of all.
    std::fill_n(rows, n, kEmpty);
    std::copy_n(start + 1, alphabet, next);
    for (std::uint32_t j = count; j-- > 0;) rows[--next[names[sorted[j]]]] = sorted[j];
    induceDescending(text, rows, next);
    induceAscending<false>(text, rows, next);
    arenas.release(mark);
}

}  // namespace tavrine
