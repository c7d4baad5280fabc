// Deterministic test inputs: the same bytes for the same (kind, length, seed)
// on every machine and compiler, since the generator uses its own random
// source and no standard distribution. The kinds stand in for the data the
// codec meets: text, binary records, long runs, periodic and nearly periodic
// blocks, small alphabets and noise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrine::test {

using Bytes = std::vector<std::uint8_t>;

// splitmix64: small, fast, and the same sequence everywhere.
class SampleRandom {
public:
    explicit SampleRandom(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t next() noexcept;
    // A value in [0, bound), bound >= 1; the tiny bias of the modulo is of no
    // concern for test data.
    std::uint32_t below(std::uint32_t bound) noexcept;
    // A value in [0, 1).
    double unit() noexcept;

private:
    std::uint64_t state_;
};

enum class SampleKind {
    text,            // English-like prose: words drawn with a Zipf-like skew, sentences, lines
    records,         // spreadsheet-like binary: fixed-size records of counters, codes, floats, names
    runs,            // runs of a few byte values with lengths from 1 to thousands
    periodic,        // a random pattern of `period` bytes repeated
    nearlyPeriodic,  // the same with about one byte in 500 changed
    twoSymbols,      // 'a' and 'b' at random
    random,          // every byte value at random
    alphabet,        // "abc...z" repeated, a period of 26
    constant,        // one byte value throughout
};

// `length` bytes of `kind`. `period` applies to the periodic kinds only.
Bytes generateSample(SampleKind kind, std::size_t length, std::uint64_t seed = 1,
                     std::size_t period = 7);

SampleKind sampleKindByName(std::string_view name);  // throws std::invalid_argument
std::string_view sampleKindName(SampleKind kind) noexcept;

// The standard set of named samples that the tests run over in place of an
// external corpus: every kind, at sizes from one byte to a megabyte, about
// 3.5 MB in all. Names are stable: tests and scripts refer to them.
struct Sample {
    std::string name;
    Bytes bytes;
};
std::vector<Sample> standardSamples();

}  // namespace tavrine::test
