#include "transform/suffix_array.h"

#include <algorithm>
#include <cassert>

namespace tavrine {

namespace {

constexpr std::uint32_t kEmpty = UINT32_MAX;
constexpr std::uint32_t kByteAlphabet = 256;

// A suffix is S-type when it is smaller than the suffix one position later,
// L-type when it is greater. The last suffix is L-type: it is greater than the
// virtual terminator after it. An S-type suffix right after an L-type one is
// leftmost S-type and carries both bits.
constexpr std::uint8_t kTypeL = 0;
constexpr std::uint8_t kTypeS = 1;
constexpr std::uint8_t kLeftmostS = 3;

// One level of the recursion: a text over symbols 0 .. alphabet-1 and its tables.
template <typename Symbol>
struct Level {
    const Symbol* text;
    std::uint32_t n;
    std::uint32_t alphabet;
    std::uint32_t* sa;      // n entries, and sa[n] as a sink for writes that are not wanted
    std::uint8_t* types;    // n entries
    std::uint32_t* counts;  // alphabet entries: occurrences of each symbol
    std::uint32_t* bucket;  // alphabet entries: running head or tail of each bucket
    SuffixArrayWorkspace rest;  // what the levels below may use
};

// The virtual terminator is leftmost S-type too; it is handled apart wherever
// it matters.
bool isLeftmostS(const std::uint8_t* types, std::uint32_t i) noexcept {
    return types[i] == kLeftmostS;
}

// The hot loops below work on local copies of the level's fields: their
// stores could otherwise alias the level and force reloads.
template <typename Symbol>
void classify(const Level<Symbol>& v) noexcept {
    const Symbol* text = v.text;
    std::uint8_t* types = v.types;
    types[v.n - 1] = kTypeL;
    for (std::uint32_t i = v.n - 1; i-- > 0;) {
        const Symbol here = text[i];
        const Symbol after = text[i + 1];
        if (here < after || (here == after && (types[i + 1] & kTypeS) != 0)) {
            types[i] = kTypeS;
        } else {
            types[i] = kTypeL;
            // An L-type suffix makes the S-type one after it leftmost.
            if (types[i + 1] == kTypeS) types[i + 1] = kLeftmostS;
        }
    }
}

template <typename Symbol>
void countSymbols(const Level<Symbol>& v) noexcept {
    std::fill_n(v.counts, v.alphabet, 0u);
    for (std::uint32_t i = 0; i < v.n; ++i) ++v.counts[v.text[i]];
}

template <typename Symbol>
void setBucketHeads(const Level<Symbol>& v) noexcept {
    std::uint32_t sum = 0;
    for (std::uint32_t c = 0; c < v.alphabet; ++c) {
        v.bucket[c] = sum;
        sum += v.counts[c];
    }
}

template <typename Symbol>
void setBucketTails(const Level<Symbol>& v) noexcept {
    std::uint32_t sum = 0;
    for (std::uint32_t c = 0; c < v.alphabet; ++c) {
        sum += v.counts[c];
        v.bucket[c] = sum;
    }
}

// L-type suffixes follow from the sorted ones after them: scanning upward,
// the predecessor of each placed suffix, if L-type, goes to the front of its
// bucket. The terminator sorts before everything, so its predecessor n-1 comes first.
template <typename Symbol>
void induceTypeL(const Level<Symbol>& v) noexcept {
    setBucketHeads(v);
    const Symbol* text = v.text;
    const std::uint8_t* types = v.types;
    std::uint32_t* sa = v.sa;
    std::uint32_t* bucket = v.bucket;
    const std::uint32_t n = v.n;
    sa[bucket[text[n - 1]]++] = n - 1;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t j = sa[i];
        if (j == kEmpty || j == 0 || types[j - 1] != kTypeL) continue;
        sa[bucket[text[j - 1]]++] = j - 1;
    }
}

// The mirror image for S-type suffixes, scanning downward from bucket tails.
template <typename Symbol>
void induceTypeS(const Level<Symbol>& v) noexcept {
    setBucketTails(v);
    const Symbol* text = v.text;
    const std::uint8_t* types = v.types;
    std::uint32_t* sa = v.sa;
    std::uint32_t* bucket = v.bucket;
    for (std::uint32_t i = v.n; i-- > 0;) {
        const std::uint32_t j = sa[i];
        if (j == kEmpty || j == 0 || (types[j - 1] & kTypeS) == 0) continue;
        sa[--bucket[text[j - 1]]] = j - 1;
    }
}

// A leftmost-S substring runs from one leftmost-S position to the next,
// inclusive. Two are equal when their symbols and types agree throughout;
// the one that runs into the terminator equals no other.
struct LmsSubstrings {
    std::uint32_t first;
    std::uint32_t second;
};

template <typename Symbol>
bool areEqual(const Level<Symbol>& v, LmsSubstrings pair) noexcept {
    for (std::uint32_t i = pair.first, j = pair.second;; ++i, ++j) {
        if (i == v.n || j == v.n) return false;
        if (v.text[i] != v.text[j] || v.types[i] != v.types[j]) return false;
        if (i != pair.first && (isLeftmostS(v.types, i) || isLeftmostS(v.types, j))) return true;
    }
}

// Sorts the leftmost-S substrings by one round of induced sorting, moves the
// sorted positions to sa[0 .. count-1] and returns count.
template <typename Symbol>
std::uint32_t sortLmsSubstrings(const Level<Symbol>& v) noexcept {
    std::fill_n(v.sa, v.n, kEmpty);
    setBucketTails(v);
    for (std::uint32_t i = 1; i < v.n; ++i) {
        if (isLeftmostS(v.types, i)) v.sa[--v.bucket[v.text[i]]] = i;
    }
    induceTypeL(v);
    induceTypeS(v);
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < v.n; ++i) {
        const std::uint32_t j = v.sa[i];
        v.sa[count] = j;
        count += static_cast<std::uint32_t>(isLeftmostS(v.types, j));
    }
    return count;
}

// Names the sorted leftmost-S substrings (equal substrings share a name, and
// names ascend with the order) and leaves the names in text order in
// sa[n - count .. n-1]. Positions are at least two apart, so position / 2
// gives each one its own slot above the first count entries. Returns the
// number of distinct names.
template <typename Symbol>
std::uint32_t nameLmsSubstrings(const Level<Symbol>& v, std::uint32_t count) noexcept {
    std::fill(v.sa + count, v.sa + v.n, kEmpty);
    std::uint32_t names = 0;
    std::uint32_t previous = kEmpty;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t position = v.sa[i];
        if (previous == kEmpty || !areEqual(v, LmsSubstrings{position, previous})) {
            ++names;
            previous = position;
        }
        v.sa[count + position / 2] = names - 1;
    }
    std::uint32_t to = v.n;
    for (std::uint32_t i = v.n; i-- > count;) {
        if (v.sa[i] != kEmpty) v.sa[--to] = v.sa[i];
    }
    return names;
}

template <typename Symbol>
void sortSuffixes(const Level<Symbol>& v) noexcept;

// Orders the leftmost-S suffixes into sa[0 .. count-1]: by their names alone
// when all differ, else by the suffix array of the string of names.
template <typename Symbol>
void sortLmsSuffixes(const Level<Symbol>& v, std::uint32_t count, std::uint32_t names) noexcept {
    std::uint32_t* reduced = v.sa + v.n - count;
    if (names < count) {
        const Level<std::uint32_t> below{
            reduced,         count,
            names,           v.sa,
            v.rest.bytes,    v.rest.words,
            v.rest.words + names,
            {v.rest.words + 2 * static_cast<std::size_t>(names), v.rest.bytes + count}};
        sortSuffixes(below);
    } else {
        for (std::uint32_t i = 0; i < count; ++i) v.sa[reduced[i]] = i;
    }
    // Map ranks of the reduced string back to text positions.
    // reduced[count] is the sink sa[n], so the branch-free gathering may write
    // one past the positions it keeps.
    std::uint32_t k = 0;
    for (std::uint32_t i = 1; i < v.n; ++i) {
        reduced[k] = i;
        k += static_cast<std::uint32_t>(isLeftmostS(v.types, i));
    }
    for (std::uint32_t i = 0; i < count; ++i) v.sa[i] = reduced[v.sa[i]];
}

template <typename Symbol>
void sortSuffixes(const Level<Symbol>& v) noexcept {
    classify(v);
    countSymbols(v);
    const std::uint32_t count = sortLmsSubstrings(v);
    if (count > 0) {
        const std::uint32_t names = nameLmsSubstrings(v, count);
        sortLmsSuffixes(v, count, names);
    }
    // Seed the bucket tails with the sorted leftmost-S suffixes, in order,
    // and induce all others from them. Each moves to a slot at or above its own.
    std::fill(v.sa + count, v.sa + v.n, kEmpty);
    setBucketTails(v);
    for (std::uint32_t i = count; i-- > 0;) {
        const std::uint32_t j = v.sa[i];
        v.sa[i] = kEmpty;
        v.sa[--v.bucket[v.text[j]]] = j;
    }
    induceTypeL(v);
    induceTypeS(v);
}

}  // namespace

void buildSuffixArray(std::uint32_t* sa, const std::uint8_t* text, std::uint32_t n,
                      SuffixArrayWorkspace workspace) noexcept {
    assert(n >= 1);
    const Level<std::uint8_t> top{
        text,          n,
        kByteAlphabet, sa,
        workspace.bytes, workspace.words,
        workspace.words + kByteAlphabet,
        {workspace.words + std::size_t{2} * kByteAlphabet, workspace.bytes + n}};
    sortSuffixes(top);
}

}  // namespace tavrine
