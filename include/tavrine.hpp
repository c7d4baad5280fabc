// tavrine - C++17 interface over the C interface of tavrine_api.h.
//
// Header-only. Failures throw tavrine::error, which carries the status and,
// for damaged or cut streams, the stream offset of the block at fault.
//
//   std::vector<std::uint8_t> stream = tavrine::encode(text);
//   std::vector<std::uint8_t> back = tavrine::decode(stream);
//
//   tavrine::Decoder decoder;                  // a stream arriving in pieces
//   while (read(piece)) decoder.update(piece, out);
//   decoder.finish(out);                       // throws if it stopped inside a block
#ifndef TAVRINE_HPP
#define TAVRINE_HPP

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "tavrine_api.h"

namespace tavrine {

// A failed call: its status, and the stream offset of the block at fault
// where the status is TAVRINE_CORRUPT, TAVRINE_TRUNCATED or
// TAVRINE_OUTPUT_TOO_SMALL (0 otherwise).
class error : public std::runtime_error {
public:
    explicit error(tavrine_status status, std::uint64_t offset = 0)
        : std::runtime_error(describe(status, offset)), status_(status), offset_(offset) {}

    tavrine_status status() const noexcept { return status_; }
    std::uint64_t offset() const noexcept { return offset_; }

private:
    static std::string describe(tavrine_status status, std::uint64_t offset) {
        std::string text = std::string("tavrine: ") + tavrine_status_text(status);
        if (status == TAVRINE_CORRUPT || status == TAVRINE_TRUNCATED) {
            text += " at stream offset " + std::to_string(offset);
        }
        return text;
    }

    tavrine_status status_;
    std::uint64_t offset_;
};

// A read-only view of bytes: from a pointer and a length, or from any
// contiguous container of one-byte elements (std::vector, std::string,
// std::string_view, std::array, std::span).
class bytes_view {
public:
    constexpr bytes_view() noexcept = default;
    bytes_view(const void* data, std::size_t size) noexcept : data_(data), size_(size) {}

    template <typename Container,
              typename Element = std::remove_pointer_t<decltype(std::data(std::declval<const Container&>()))>,
              typename = std::enable_if_t<sizeof(Element) == 1 && !std::is_same_v<Container, bytes_view>>>
    bytes_view(const Container& container) noexcept  // NOLINT(google-explicit-constructor)
        : data_(std::data(container)), size_(std::size(container)) {}

    const void* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

private:
    const void* data_ = nullptr;
    std::size_t size_ = 0;
};

inline const char* version() noexcept { return tavrine_version(); }

namespace detail {

inline void check(tavrine_status status, std::uint64_t offset = 0) {
    if (status != TAVRINE_OK) throw error(status, offset);
}

// Room a vector gets per round when the output's size is not known.
constexpr std::size_t kGrowth = 64 * 1024;

}  // namespace detail

// The stream of `input` (at most 4 GiB - 1 bytes; Encoder takes any length),
// byte for byte what ZOLT_Encode writes.
inline std::vector<std::uint8_t> encode(bytes_view input,
                                        std::uint32_t variant = TAVRINE_VARIANT_RANGE_CODED) {
    if (input.size() > std::numeric_limits<std::uint32_t>::max()) throw error(TAVRINE_TOO_LARGE);
    std::vector<std::uint8_t> stream(static_cast<std::size_t>(tavrine_encode_bound(input.size())));
    std::size_t length = 0;
    detail::check(tavrine_encode(variant, input.data(), input.size(), stream.data(), stream.size(),
                                 &length, nullptr, nullptr));
    stream.resize(length);
    return stream;
}

// The bytes a stream (at most 4 GiB - 1 bytes; Decoder takes any length)
// decodes to.
inline std::vector<std::uint8_t> decode(bytes_view stream) {
    std::uint64_t announced = 0;
    std::uint64_t fault = 0;
    // The offset is read only once the call has stored it.
    const tavrine_status walked = tavrine_decoded_length(stream.data(), stream.size(), &announced, &fault);
    detail::check(walked, fault);
    if (announced > std::numeric_limits<std::size_t>::max()) throw error(TAVRINE_TOO_LARGE);
    std::vector<std::uint8_t> output(static_cast<std::size_t>(announced));
    std::size_t length = 0;
    const tavrine_status decoded = tavrine_decode(stream.data(), stream.size(), output.data(),
                                                  output.size(), &length, &fault, nullptr, nullptr);
    detail::check(decoded, fault);
    return output;
}

// The streaming encoder: update() as input arrives, finish() at its end; the
// stream bytes are appended to `out`. run() is the C call, for callers with
// buffers of their own.
class Encoder {
public:
    // threads: worker threads that sort the blocks (tavrine_encoder_set_threads);
    // 0 or 1: none.
    explicit Encoder(std::uint32_t variant = TAVRINE_VARIANT_RANGE_CODED, std::uint32_t threads = 1) {
        tavrine_encoder* encoder = nullptr;
        detail::check(tavrine_encoder_create(variant, &encoder));
        encoder_.reset(encoder);
        if (threads > 1) detail::check(tavrine_encoder_set_threads(encoder, threads));
    }

    // Returns what tavrine_encode_stream leaves in *remaining.
    std::size_t run(tavrine_out_buffer& out, tavrine_in_buffer& in, tavrine_directive directive) {
        std::size_t remaining = 0;
        detail::check(tavrine_encode_stream(encoder_.get(), &out, &in, directive, &remaining));
        return remaining;
    }

    void update(bytes_view input, std::vector<std::uint8_t>& out) {
        drive(input, out, TAVRINE_CONTINUE);
    }
    // Ends the current block (see TAVRINE_FLUSH).
    void flush(std::vector<std::uint8_t>& out) { drive(bytes_view(), out, TAVRINE_FLUSH); }
    void finish(std::vector<std::uint8_t>& out) { drive(bytes_view(), out, TAVRINE_END); }

private:
    struct Release {
        void operator()(tavrine_encoder* encoder) const noexcept { tavrine_encoder_free(encoder); }
    };

    void drive(bytes_view input, std::vector<std::uint8_t>& out, tavrine_directive directive) {
        tavrine_in_buffer in{input.data(), input.size(), 0};
        std::size_t remaining = 0;
        do {
            const std::size_t start = out.size();
            out.resize(start + detail::kGrowth);
            tavrine_out_buffer window{out.data() + start, detail::kGrowth, 0};
            const tavrine_status status =
                tavrine_encode_stream(encoder_.get(), &window, &in, directive, &remaining);
            out.resize(start + window.pos);
            detail::check(status);
        } while (in.pos < in.size || (directive != TAVRINE_CONTINUE && remaining != 0));
    }

    std::unique_ptr<tavrine_encoder, Release> encoder_;
};

// The streaming decoder: update() as stream bytes arrive, finish() at their
// end, which throws error(TAVRINE_TRUNCATED) if the stream stopped inside a
// block. Decoded bytes are appended to `out`; after a failure, `out` holds
// the bytes of every block before the one at fault.
class Decoder {
public:
    // threads: worker threads for the inverse sorts (tavrine_decoder_set_threads);
    // 0 or 1: none.
    explicit Decoder(std::uint32_t threads = 1) {
        tavrine_decoder* decoder = nullptr;
        detail::check(tavrine_decoder_create(&decoder));
        decoder_.reset(decoder);
        if (threads > 1) detail::check(tavrine_decoder_set_threads(decoder, threads));
    }

    std::size_t run(tavrine_out_buffer& out, tavrine_in_buffer& in, tavrine_directive directive) {
        std::size_t remaining = 0;
        const tavrine_status status =
            tavrine_decode_stream(decoder_.get(), &out, &in, directive, &remaining);
        detail::check(status, offset());
        return remaining;
    }

    void update(bytes_view stream, std::vector<std::uint8_t>& out) {
        drive(stream, out, TAVRINE_CONTINUE);
    }
    void finish(std::vector<std::uint8_t>& out) { drive(bytes_view(), out, TAVRINE_END); }

    // The stream offset of the block being gathered, or of the block at fault.
    std::uint64_t offset() const noexcept { return tavrine_decoder_offset(decoder_.get()); }

private:
    struct Release {
        void operator()(tavrine_decoder* decoder) const noexcept { tavrine_decoder_free(decoder); }
    };

    void drive(bytes_view stream, std::vector<std::uint8_t>& out, tavrine_directive directive) {
        tavrine_in_buffer in{stream.data(), stream.size(), 0};
        std::size_t remaining = 0;
        do {
            const std::size_t start = out.size();
            out.resize(start + detail::kGrowth);
            tavrine_out_buffer window{out.data() + start, detail::kGrowth, 0};
            const tavrine_status status =
                tavrine_decode_stream(decoder_.get(), &window, &in, directive, &remaining);
            out.resize(start + window.pos);
            detail::check(status, offset());
        } while (in.pos < in.size || remaining != 0);
    }

    std::unique_ptr<tavrine_decoder, Release> decoder_;
};

}  // namespace tavrine

#endif  // TAVRINE_HPP
