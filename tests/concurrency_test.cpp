// Concurrent calls on the native library: every call owns its working memory,
// so threads encoding and decoding at once get the bytes one thread gets.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "support/codec_calls.h"
#include "support/test_data.h"

namespace {

using namespace tavrine::test;

TEST(Concurrency, ManyThreadsGiveTheSameBytesAsOne) {
    std::mt19937 rng(8);
    std::vector<Bytes> inputs;
    const Bytes text = sampleText(400000);
    for (int i = 0; i < 8; ++i) {
        const std::size_t start = static_cast<std::size_t>(i) * 40000;
        Bytes input(text.begin() + static_cast<std::ptrdiff_t>(start),
                    text.begin() + static_cast<std::ptrdiff_t>(start + 30000 + 1000 * i));
        if (i % 2 == 1) input = randomBytes(30000, rng, 1 + 3 * i);
        inputs.push_back(std::move(input));
    }
    std::vector<Bytes> expected;
    for (const Bytes& input : inputs) expected.push_back(encodeOrFail(input, 5));

    std::vector<int> mismatches(inputs.size(), 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < inputs.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int repeat = 0; repeat < 4; ++repeat) {
                const CallResult encoded = encodeCall(inputs[t], 5, maximumEncodedLength(inputs[t].size()));
                if (encoded.result != 1 || encoded.output() != expected[t]) ++mismatches[t];
                const CallResult decoded = decodeCall(expected[t], size32(inputs[t]));
                if (decoded.result != 1 || decoded.output() != inputs[t]) ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (std::size_t t = 0; t < inputs.size(); ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
