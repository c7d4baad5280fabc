// Shared test inputs: generated samples, the optional external corpus,
// random blocks and hex literals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "support/data_generator.h"

namespace tavrine::test {

// Parses "00 FF e0" (whitespace separated hex pairs).
Bytes hex(std::string_view text);

// Formats bytes as "00 FF E0" for readable failure messages.
std::string toHex(const Bytes& bytes);

Bytes ascii(std::string_view text);

// Whole file; fails the current test (and returns empty) when it cannot be read.
Bytes readFile(const std::string& path);

// A file of the repository's test data (tests/data), e.g. "vectors/coder_clamp.in".
Bytes readTestData(std::string_view relative);

// The external corpus is optional: the environment variable TAVRINE_CORPUS_DIR,
// or else the build setting of the same name, names its directory; empty
// when neither is set.
std::string corpusDirectory();

// What a test runs over: the generated standard samples, which are always
// there, or every file of the external corpus.
enum class InputSet { generated, corpus };
void PrintTo(InputSet set, std::ostream* out);

// The inputs of a set, named (the corpus by paths relative to its
// directory); never empty: fails the test when nothing could be read.
std::vector<Sample> inputsOf(InputSet set);

// Base of tests that run once per input set: a test of the corpus set is
// skipped, with the reason, when no corpus is configured. Instantiate with
// TAVRINE_FOR_EACH_INPUT_SET(Suite).
class InputSetTest : public ::testing::TestWithParam<InputSet> {
protected:
    void SetUp() override;
    std::vector<Sample> inputs() const { return inputsOf(GetParam()); }
};

#define TAVRINE_FOR_EACH_INPUT_SET(Suite)                                                      \
    INSTANTIATE_TEST_SUITE_P(Generated, Suite,                                                 \
                             ::testing::Values(::tavrine::test::InputSet::generated),          \
                             [](const auto&) { return std::string("samples"); });              \
    INSTANTIATE_TEST_SUITE_P(Corpus, Suite, ::testing::Values(::tavrine::test::InputSet::corpus), \
                             [](const auto&) { return std::string("files"); })

// `length` bytes of English-like text, the same on every call.
Bytes sampleText(std::size_t length);

Bytes randomBytes(std::size_t length, std::mt19937& rng, unsigned alphabet = 256);

// A block of `length` bytes repeating a random pattern of `period` bytes over
// `alphabet` symbols; breakLastPeriod changes the final byte so the block is
// not an exact repetition.
Bytes periodicBytes(std::size_t length, std::size_t period, std::mt19937& rng,
                    unsigned alphabet = 256, bool breakLastPeriod = false);

// Bytes drawn with a skewed (geometric-like) distribution, like move-to-front output.
Bytes skewedBytes(std::size_t length, std::mt19937& rng);

}  // namespace tavrine::test
