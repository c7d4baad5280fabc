// For the library's own tests, not part of its interface: the streaming
// coders start their worker threads only on streams long enough to make up
// for starting them; these let a test run the workers on short streams. Only
// the tests' build of the library (TAVRINE_TEST_HOOKS) has them.
#pragma once

#include <cstdint>

#include "tavrine_api.h"

namespace tavrine::testing {

// Threads set on the coder start once the stream has shown `bytes` (source
// bytes for the encoder, stream bytes for the decoder). Call before any input.
void startThreadsFrom(tavrine_encoder* encoder, std::uint64_t bytes) noexcept;
void startThreadsFrom(tavrine_decoder* decoder, std::uint64_t bytes) noexcept;

}  // namespace tavrine::testing
