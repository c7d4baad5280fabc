#include "byte_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "system.h"

namespace tavrine::tool {

FileError::FileError(std::string name, const std::string& reason)
    : std::runtime_error(reason), name_(std::move(name)) {}

std::string describeError(int error) {
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

std::size_t readUpTo(ByteSource& source, std::span<std::uint8_t> into) {
    std::size_t filled = 0;
    while (filled < into.size()) {
        const std::size_t got = source.readSome(into.subspan(filled));
        if (got == 0) break;
        filled += got;
    }
    return filled;
}

std::size_t FdSource::readSome(std::span<std::uint8_t> into) {
    if (into.empty()) return 0;
    for (;;) {
        const std::ptrdiff_t got = readDescriptor(fd_, into);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) throw FileError(name_, "read error: " + describeError(errno));
    }
}

void FdSink::write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::ptrdiff_t put = writeDescriptor(fd_, bytes);
        if (put < 0) {
            if (errno == EINTR) continue;
            throw FileError(name_, describeError(errno));
        }
        bytes = bytes.subspan(static_cast<std::size_t>(put));
    }
}

std::size_t MemorySource::readSome(std::span<std::uint8_t> into) {
    const std::size_t n = std::min(into.size(), rest_.size());
    std::copy_n(rest_.begin(), n, into.begin());
    rest_ = rest_.subspan(n);
    return n;
}

void VectorSink::write(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

}  // namespace tavrine::tool
