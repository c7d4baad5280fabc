// Suffix array by induced sorting: linear time and memory for any text.
//
// The suffixes of text[0 .. n-1] are ordered as if one symbol smaller than
// every byte followed the text, so a suffix sorts before every longer suffix
// that it is a prefix of. The block sort uses it where comparison sorting
// could take quadratic time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrine {

// Workspace of buildSuffixArray for a text of n bytes: words for the bucket
// tables of every recursion level and one type flag per symbol of every level.
constexpr std::size_t suffixArrayWorkWords(std::uint32_t n) noexcept {
    return 2 * static_cast<std::size_t>(n) + std::size_t{2} * 256;
}
constexpr std::size_t suffixArrayWorkBytes(std::uint32_t n) noexcept {
    return 2 * static_cast<std::size_t>(n);
}

struct SuffixArrayWorkspace {
    std::uint32_t* words;  // suffixArrayWorkWords(n) entries
    std::uint8_t* bytes;   // suffixArrayWorkBytes(n) entries
};

// Writes the start of the suffix at rank i into sa[i] for i < n, n >= 1;
// sa[n] is scratch.
void buildSuffixArray(std::uint32_t* sa, const std::uint8_t* text, std::uint32_t n,
                      SuffixArrayWorkspace workspace) noexcept;

}  // namespace tavrine
