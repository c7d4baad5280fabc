#include "raw_stream.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace tavrine::tool {
namespace {

// Input and output go through buffers of this size, whatever the length.
constexpr std::size_t kPiece = 256u << 10;

// A block header: block size (header included), then decoded length, both
// unsigned 16-bit little-endian; an uncoded payload is decoded length + 2 bytes.
constexpr std::size_t kBlockHeaderSize = 4;
constexpr std::uint32_t kRecordOverhead = 2;

constexpr const char* kTooLarge = "too large for --raw: a bare stream holds at most 4 GiB - 1 bytes";
constexpr const char* kNotAStream = "not a bare tavrine stream, or a damaged one: ";

struct EncoderRelease {
    void operator()(tavrine_encoder* encoder) const noexcept { tavrine_encoder_free(encoder); }
};
struct DecoderRelease {
    void operator()(tavrine_decoder* decoder) const noexcept { tavrine_decoder_free(decoder); }
};

// Threads that cannot be started leave the coder on the tool's thread.
std::unique_ptr<tavrine_encoder, EncoderRelease> makeEncoder(std::uint8_t variant, unsigned threads) {
    tavrine_encoder* encoder = nullptr;
    const tavrine_status status = tavrine_encoder_create(variant, &encoder);
    if (status == TAVRINE_BAD_ARGUMENT) throw CodecError("variant " + std::to_string(variant) + " is not supported");
    if (status != TAVRINE_OK) throw std::bad_alloc();
    std::unique_ptr<tavrine_encoder, EncoderRelease> owned(encoder);
    tavrine_encoder_set_threads(encoder, threads);
    return owned;
}

std::unique_ptr<tavrine_decoder, DecoderRelease> makeDecoder(unsigned threads) {
    tavrine_decoder* decoder = nullptr;
    if (tavrine_decoder_create(&decoder) != TAVRINE_OK) throw std::bad_alloc();
    std::unique_ptr<tavrine_decoder, DecoderRelease> owned(decoder);
    tavrine_decoder_set_threads(decoder, threads);
    return owned;
}

std::string damaged(const std::string& what) { return kNotAStream + what + kCorruptedSuffix; }

}  // namespace

TransferStats compressRaw(ByteSource& source, ByteSink& sink, std::uint8_t variant,
                          const ProgressFunction& progress, std::uint64_t knownSize, unsigned threads) {
    if (knownSize > kMaxRawInput) throw CodecError(kTooLarge);
    const auto encoder = makeEncoder(variant, threads);
    std::vector<std::uint8_t> input(kPiece);
    std::vector<std::uint8_t> output(kPiece);
    TransferStats stats;
    stats.segments = 1;
    tavrine_directive directive = TAVRINE_CONTINUE;
    while (directive != TAVRINE_END) {
        // One byte past the limit tells that the input is too large.
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, kMaxRawInput + 1 - stats.bytesIn));
        const std::size_t got = readUpTo(source, std::span(input.data(), wanted));
        stats.bytesIn += got;
        if (stats.bytesIn > kMaxRawInput) throw CodecError(kTooLarge);
        if (got < wanted) directive = TAVRINE_END;
        tavrine_in_buffer in{input.data(), got, 0};
        std::size_t remaining = 0;
        do {
            tavrine_out_buffer out{output.data(), output.size(), 0};
            if (tavrine_encode_stream(encoder.get(), &out, &in, directive, &remaining) != TAVRINE_OK) {
                throw std::bad_alloc();  // the only way a valid encoder fails
            }
            sink.write(std::span(output.data(), out.pos));
            stats.bytesOut += out.pos;
        } while (in.pos < in.size || (directive == TAVRINE_END && remaining != 0));
        if (progress) progress(stats);
    }
    return stats;
}

TransferStats decompressRaw(ByteSource& source, ByteSink& sink, const ProgressFunction& progress,
                            unsigned threads) {
    const auto decoder = makeDecoder(threads);
    std::vector<std::uint8_t> input(kPiece);
    std::vector<std::uint8_t> output(kPiece);
    TransferStats stats;
    stats.segments = 1;
    tavrine_directive directive = TAVRINE_CONTINUE;
    while (directive != TAVRINE_END) {
        const std::size_t got = readUpTo(source, input);
        stats.bytesIn += got;
        if (got < input.size()) directive = TAVRINE_END;
        tavrine_in_buffer in{input.data(), got, 0};
        std::size_t remaining = 0;
        tavrine_status status = TAVRINE_OK;
        do {
            tavrine_out_buffer out{output.data(), output.size(), 0};
            status = tavrine_decode_stream(decoder.get(), &out, &in, directive, &remaining);
            // The blocks before a damaged one are decoded and come out first.
            sink.write(std::span(output.data(), out.pos));
            stats.bytesOut += out.pos;
        } while (status == TAVRINE_OK && (in.pos < in.size || remaining != 0));
        const std::string block = "the block at byte " + std::to_string(tavrine_decoder_offset(decoder.get()));
        if (status == TAVRINE_CORRUPT) throw FormatError(damaged(block + " does not decode"));
        if (status == TAVRINE_TRUNCATED) throw FormatError(damaged("it ends inside " + block));
        if (status != TAVRINE_OK) throw std::bad_alloc();
        if (progress) progress(stats);
    }
    return stats;
}

RawListing listRaw(ByteSource& source) {
    RawListing listing;
    std::vector<std::uint8_t> payload(kPiece);
    const auto untiled = [&listing] {
        return FormatError(damaged("its block headers do not add up (at byte " +
                                   std::to_string(listing.compressedSize) + ")"));
    };
    for (;;) {
        std::array<std::uint8_t, kBlockHeaderSize> header{};
        const std::size_t got = readUpTo(source, header);
        if (got == 0) break;
        if (got < header.size()) throw untiled();
        const std::uint32_t size = header[0] | (std::uint32_t{header[1]} << 8);
        const std::uint32_t decoded = header[2] | (std::uint32_t{header[3]} << 8);
        if (size <= kBlockHeaderSize) throw untiled();
        const std::size_t payloadSize = size - kBlockHeaderSize;
        if (readUpTo(source, std::span(payload.data(), payloadSize)) != payloadSize) throw untiled();
        if (payloadSize == decoded + kRecordOverhead) {
            ++listing.uncodedBlocks;
        } else {
            ++listing.codedBlocks;
        }
        listing.compressedSize += size;
        listing.decodedSize += decoded;
    }
    return listing;
}

}  // namespace tavrine::tool
