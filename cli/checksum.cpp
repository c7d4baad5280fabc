#include "checksum.h"

#include <xxhash.h>

#include <new>

namespace tavrine::tool {

std::uint64_t contentChecksum(std::span<const std::uint8_t> bytes) noexcept {
    return XXH3_64bits(bytes.data(), bytes.size());
}

std::uint32_t frameCheck(std::span<const std::uint8_t> bytes) noexcept {
    return static_cast<std::uint32_t>(XXH3_64bits(bytes.data(), bytes.size()));
}

StreamingChecksum::StreamingChecksum() : state_(XXH3_createState()) {
    if (!state_) throw std::bad_alloc();
    XXH3_64bits_reset(state_.get());
}

void StreamingChecksum::update(std::span<const std::uint8_t> bytes) noexcept {
    XXH3_64bits_update(state_.get(), bytes.data(), bytes.size());
}

std::uint64_t StreamingChecksum::digest() const noexcept { return XXH3_64bits_digest(state_.get()); }

void StreamingChecksum::StateDeleter::operator()(XXH3_state_s* state) const noexcept {
    XXH3_freeState(state);
}

}  // namespace tavrine::tool
