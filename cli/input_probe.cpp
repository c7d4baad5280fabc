#include "input_probe.h"

#include <algorithm>

#include "system.h"

namespace tavrine::tool {
namespace {

// The block format of a codec stream (include/tavrine.h): a 4-byte header,
// block size (header included) and decoded length, both 16-bit little-endian.
constexpr std::uint64_t kBlockHeaderSize = 4;
constexpr std::uint32_t kMaxBlockLength = 8192;
// An uncoded block holds its sorted record (length + 2 bytes); a coded one
// is kept only when shorter than that.
constexpr std::uint32_t kRecordOverhead = 2;
// Larger files are not walked: a host's stream (32-bit lengths) is never longer.
constexpr std::uint64_t kMaxStreamInput = 0xFFFFFFFFu;

}  // namespace

std::size_t InputTap::readSome(std::span<std::uint8_t> into) {
    const std::size_t got = inner_.readSome(into);
    const std::size_t kept = std::min(got, prefix_.size() - prefixLength_);
    std::copy_n(into.begin(), kept, prefix_.begin() + static_cast<std::ptrdiff_t>(prefixLength_));
    prefixLength_ += kept;
    bytesRead_ += got;
    return got;
}

bool InputTap::sawTvrMagic() const noexcept {
    return prefixLength_ == prefix_.size() && std::equal(prefix_.begin(), prefix_.end(), kMagic.begin());
}

bool startsWithTvrMagic(int fd) noexcept {
    std::array<std::uint8_t, kMagic.size()> prefix{};
    return readAt(fd, 0, prefix) && std::equal(prefix.begin(), prefix.end(), kMagic.begin());
}

bool startsWithTvrMagic(std::span<const std::uint8_t> bytes) noexcept {
    return bytes.size() >= kMagic.size() && std::equal(kMagic.begin(), kMagic.end(), bytes.begin());
}

bool parsesAsBareStream(int fd, std::uint64_t size) noexcept {
    if (size == 0 || size > kMaxStreamInput) return false;
    std::uint64_t offset = 0;
    while (offset < size) {
        std::array<std::uint8_t, kBlockHeaderSize> header{};
        if (size - offset < kBlockHeaderSize || !readAt(fd, offset, header)) return false;
        const std::uint32_t blockSize = header[0] | (header[1] << 8);
        const std::uint32_t decodedLength = header[2] | (header[3] << 8);
        if (decodedLength == 0 || decodedLength > kMaxBlockLength) return false;
        if (blockSize <= kBlockHeaderSize || blockSize > decodedLength + kRecordOverhead + kBlockHeaderSize) {
            return false;
        }
        offset += blockSize;
    }
    return offset == size;
}

}  // namespace tavrine::tool
