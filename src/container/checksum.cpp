// xxHash is compiled into this file alone, from its header: the library needs
// no xxHash library at link time, and none of its symbols leave this file.
#include "container/checksum.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace tavrine::container {

struct StreamingChecksum::State {
    XXH3_state_t xxh;
};

std::uint64_t contentChecksum(std::span<const std::uint8_t> bytes) noexcept {
    return XXH3_64bits(bytes.data(), bytes.size());
}

std::uint32_t frameCheck(std::span<const std::uint8_t> bytes) noexcept {
    return static_cast<std::uint32_t>(XXH3_64bits(bytes.data(), bytes.size()));
}

StreamingChecksum::StreamingChecksum() : state_(std::make_unique<State>()) {
    XXH3_64bits_reset(&state_->xxh);
}

StreamingChecksum::~StreamingChecksum() = default;

void StreamingChecksum::update(std::span<const std::uint8_t> bytes) noexcept {
    XXH3_64bits_update(&state_->xxh, bytes.data(), bytes.size());
}

std::uint64_t StreamingChecksum::digest() const noexcept { return XXH3_64bits_digest(&state_->xxh); }

}  // namespace tavrine::container
