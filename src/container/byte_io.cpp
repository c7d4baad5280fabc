#include "container/byte_io.h"

#include <algorithm>
#include <utility>

namespace tavrine::container {

std::size_t readUpTo(ByteSource& source, std::span<std::uint8_t> into) {
    std::size_t filled = 0;
    while (filled < into.size()) {
        const std::size_t got = source.readSome(into.subspan(filled));
        if (got == 0) break;
        filled += got;
    }
    return filled;
}

std::size_t CountingSource::readSome(std::span<std::uint8_t> into) {
    const std::size_t got = inner_.readSome(into);
    consumed_ += got;
    return got;
}

std::size_t CallbackSource::readSome(std::span<std::uint8_t> into) {
    if (into.empty()) return 0;
    const std::size_t got = read_(user_, into.data(), into.size());
    // A count past the capacity is no count at all: the caller's function is broken.
    if (got == TAVRINE_READ_FAILED || got > into.size()) {
        throw ContainerError(TAVRINE_IO_ERROR, 0, "the input cannot be read");
    }
    return got;
}

void CallbackSink::write(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    if (write_(user_, bytes.data(), bytes.size()) != 0) {
        throw ContainerError(TAVRINE_IO_ERROR, 0, "the output cannot be written");
    }
}

std::size_t MemorySource::readSome(std::span<std::uint8_t> into) {
    const std::size_t n = std::min(into.size(), rest_.size());
    std::copy_n(rest_.begin(), n, into.begin());
    rest_ = rest_.subspan(n);
    return n;
}

std::optional<std::span<const std::uint8_t>> MemorySource::takeRest() {
    return std::exchange(rest_, {});
}

std::span<const std::uint8_t> MemorySource::lend(std::size_t bytes) noexcept {
    const std::span<const std::uint8_t> lent = rest_.first(std::min(bytes, rest_.size()));
    rest_ = rest_.subspan(lent.size());
    return lent;
}

void VectorSink::write(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

}  // namespace tavrine::container
