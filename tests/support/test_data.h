// Shared test inputs: corpus files, generated blocks and hex literals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tavrine::test {

using Bytes = std::vector<std::uint8_t>;

// Parses "00 FF e0" (whitespace separated hex pairs).
Bytes hex(std::string_view text);

// Formats bytes as "00 FF E0" for readable failure messages.
std::string toHex(const Bytes& bytes);

Bytes ascii(std::string_view text);

// Path of a file of the shared corpus, e.g. corpusPath("canterbury/alice29.txt").
std::string corpusPath(std::string_view relative);

// Every corpus file, as paths relative to the corpus directory, sorted.
std::vector<std::string> corpusFiles();

// Whole file; fails the current test (and returns empty) when it cannot be read.
Bytes readFile(const std::string& path);

// Reads a corpus file; the test is failed when it is missing.
Bytes readCorpus(std::string_view relative);

Bytes randomBytes(std::size_t length, std::mt19937& rng, unsigned alphabet = 256);

// A block of `length` bytes repeating a random pattern of `period` bytes over
// `alphabet` symbols; breakLastPeriod changes the final byte so the block is
// not an exact repetition.
Bytes periodicBytes(std::size_t length, std::size_t period, std::mt19937& rng,
                    unsigned alphabet = 256, bool breakLastPeriod = false);

// Bytes drawn with a skewed (geometric-like) distribution, like move-to-front output.
Bytes skewedBytes(std::size_t length, std::mt19937& rng);

}  // namespace tavrine::test
