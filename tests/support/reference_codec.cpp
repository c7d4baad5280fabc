#include "support/reference_codec.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/reference_range_coder.h"
#include "support/reference_block_sort.h"
#include "transform/block_sort.h"

namespace tavrine::test {

namespace {

constexpr std::uint32_t kBlock = 8192;
constexpr std::uint32_t kHeader = 4;
constexpr std::uint32_t kOverhead = 2;
constexpr std::uint32_t kLargestField = 0xFFFF;
constexpr std::uint32_t kDecodeRecordBuffer = 32776;

std::uint32_t read16(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8);
}

void write16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

PlainMoveToFront::PlainMoveToFront() {
    for (std::size_t i = 0; i < entries_.size(); ++i) entries_[i] = static_cast<std::uint8_t>(i);
}

std::uint32_t PlainMoveToFront::encode(std::uint8_t value) {
    std::uint32_t position = 0;
    while (entries_[position] != value) ++position;
    std::memmove(entries_.data() + 1, entries_.data(), position);
    entries_[0] = value;
    return position;
}

std::uint8_t PlainMoveToFront::decode(std::uint32_t position) {
    const std::uint8_t value = entries_[position];
    std::memmove(entries_.data() + 1, entries_.data(), position);
    entries_[0] = value;
    return value;
}

Bytes plainInverseBlockSort(const Bytes& record) {
    const std::size_t m = record.size() - kOverhead;
    const std::uint8_t* lastColumn = record.data() + kOverhead;
    std::array<std::uint32_t, 256> cum{};
    for (std::size_t i = 0; i < m; ++i) ++cum[lastColumn[i]];
    for (std::size_t b = 1; b < cum.size(); ++b) cum[b] += cum[b - 1];
    std::vector<std::uint32_t> successor(m);
    for (std::size_t i = m; i-- > 0;) {
        successor[--cum[lastColumn[i]]] = static_cast<std::uint32_t>(i);
    }
    std::uint32_t row = successor[read16(record.data())];
    Bytes out(m);
    for (std::size_t k = 0; k < m; ++k) {
        out[k] = lastColumn[row];
        row = successor[row];
    }
    return out;
}

Outcome referenceEncode(std::uint32_t variant, const Bytes& src, std::uint32_t capacity) {
    Outcome outcome;
    outcome.buffer.assign(capacity, 0);
    if (src.empty()) {
        outcome.result = 1;
        outcome.length = 0;
        return outcome;
    }
    PlainMoveToFront table;
    ReferenceRangeCoder coder;
    std::vector<std::uint32_t> scratch(kScratchSlots);
    const auto srcLen = static_cast<std::uint32_t>(src.size());
    std::uint32_t consumed = 0;
    std::uint32_t produced = 0;
    while (consumed < srcLen) {
        outcome.complete = produced;
        const std::uint32_t remaining = capacity - produced;
        if (remaining <= kHeader) return outcome;
        const std::uint32_t len = std::min(srcLen - consumed, kBlock);
        const std::uint32_t n = len + kOverhead;
        Bytes record(n);
        forwardBlockSortReference(record.data(), src.data() + consumed, len, scratch.data());
        for (std::uint8_t& byte : record) byte = static_cast<std::uint8_t>(table.encode(byte));

        std::uint8_t* block = outcome.buffer.data() + produced;
        std::uint32_t payload = n;
        bool coded = false;
        if (variant == 5) {
            std::uint32_t count = 0;
            coder.encodeBlock(block + kHeader, record.data(), remaining - kHeader, n, count);
            if (coder.codedLength() == count && count < n) {
                payload = count;
                coded = true;
            } else {
                coder.initModel();
            }
        }
        const std::uint32_t size = payload + kHeader;
        if (size > kLargestField || size > remaining) return outcome;
        if (!coded) std::memcpy(block + kHeader, record.data(), n);
        write16(block, size);
        write16(block + 2, len);
        produced += size;
        consumed += len;
    }
    outcome.result = 1;
    outcome.length = produced;
    outcome.complete = produced;
    return outcome;
}

Outcome referenceDecode(const Bytes& stream, std::uint32_t capacity) {
    Outcome outcome;
    outcome.buffer.assign(capacity, 0);
    if (stream.empty()) {
        outcome.result = 1;
        outcome.length = 0;
        return outcome;
    }
    PlainMoveToFront table;
    ReferenceRangeCoder coder;
    const auto srcLen = static_cast<std::uint32_t>(stream.size());
    std::uint32_t consumed = 0;
    std::uint32_t produced = 0;
    while (consumed < srcLen) {
        const std::uint32_t left = srcLen - consumed;
        if (left <= kHeader) return outcome;
        const std::uint8_t* block = stream.data() + consumed;
        const std::uint32_t size = read16(block);
        const std::uint32_t len = read16(block + 2);
        const std::uint32_t n = len + kOverhead;
        if (size > left || len > capacity - produced || size <= kHeader || len == 0) return outcome;
        if (n > kDecodeRecordBuffer) return outcome;

        Bytes record(n);
        const std::uint32_t payloadLength = size - kHeader;
        if (payloadLength == n) {
            std::memcpy(record.data(), block + kHeader, n);
            coder.initModel();
        } else {
            std::uint32_t count = 0;
            if (!coder.decodeBlock(record.data(), block + kHeader, n, payloadLength, count)) break;
            if (count != n) return outcome;
        }
        for (std::uint8_t& byte : record) byte = table.decode(byte);
        if (read16(record.data()) >= len) return outcome;
        const Bytes decoded = plainInverseBlockSort(record);
        std::copy(decoded.begin(), decoded.end(), outcome.buffer.begin() + produced);
        consumed += size;
        produced += len;
    }
    outcome.length = produced;
    outcome.result = consumed == srcLen ? 1 : 0;
    return outcome;
}

}  // namespace tavrine::test
