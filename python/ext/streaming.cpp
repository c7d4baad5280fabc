// Compressor and Decompressor: the streaming encoder and decoder, fed with
// pieces of any size; for the same whole input they give the one-shot bytes.
#include <algorithm>
#include <memory>
#include <vector>

#include "common.h"

namespace tavrine::python {
namespace {

struct EncoderFree {
    void operator()(tavrine_encoder* encoder) const noexcept { tavrine_encoder_free(encoder); }
};
struct DecoderFree {
    void operator()(tavrine_decoder* decoder) const noexcept { tavrine_decoder_free(decoder); }
};
using EncoderHandle = std::unique_ptr<tavrine_encoder, EncoderFree>;
using DecoderHandle = std::unique_ptr<tavrine_decoder, DecoderFree>;

// A first output capacity for decoding `inputSize` stream bytes; it grows
// when the stream holds more.
constexpr std::size_t kFirstDecodeCapacity = 64 * 1024;
constexpr std::size_t kExpectedExpansion = 4;

EncoderHandle createEncoder(std::uint32_t variant) {
    tavrine_encoder* encoder = nullptr;
    const tavrine_status status = tavrine_encoder_create(variant, &encoder);
    if (status != TAVRINE_OK) raiseStatus(status, tavrine_status_text(status));
    return EncoderHandle(encoder);
}

DecoderHandle createDecoder() {
    tavrine_decoder* decoder = nullptr;
    const tavrine_status status = tavrine_decoder_create(&decoder);
    if (status != TAVRINE_OK) raiseStatus(status, tavrine_status_text(status));
    return DecoderHandle(decoder);
}

// Runs the encoder until all of the input is taken and every stream byte it
// made is in `output` (with TAVRINE_END: the stream is complete).
void encodeInto(tavrine_encoder* encoder, const std::uint8_t* data, std::size_t size,
                tavrine_directive directive, OutputBytes& output) {
    tavrine_in_buffer in{data, size, 0};
    for (;;) {
        tavrine_out_buffer out{output.data(), output.capacity(), output.used()};
        std::size_t remaining = 0;
        tavrine_status status = TAVRINE_OK;
        {
            const py::gil_scoped_release released;
            status = tavrine_encode_stream(encoder, &out, &in, directive, &remaining);
        }
        output.setUsed(out.pos);
        if (status != TAVRINE_OK) raiseStatus(status, tavrine_status_text(status));
        if (in.pos == in.size && remaining == 0) return;
        output.grow(std::max(remaining, static_cast<std::size_t>(tavrine_encode_bound(in.size - in.pos))));
    }
}

// Runs the decoder over the input until it is all taken and every decoded
// byte is out, or until `output` holds `limit` bytes; returns the input
// bytes taken. Raises for a damaged stream (and, with TAVRINE_END, a cut one)
// with the offset of the block at fault.
std::size_t decodeInto(tavrine_decoder* decoder, const std::uint8_t* data, std::size_t size,
                       tavrine_directive directive, OutputBytes& output, std::optional<std::size_t> limit,
                       std::size_t& remaining) {
    tavrine_in_buffer in{data, size, 0};
    for (;;) {
        tavrine_out_buffer out{output.data(), output.capacity(), output.used()};
        tavrine_status status = TAVRINE_OK;
        {
            const py::gil_scoped_release released;
            status = tavrine_decode_stream(decoder, &out, &in, directive, &remaining);
        }
        output.setUsed(out.pos);
        if (status == TAVRINE_CORRUPT || status == TAVRINE_TRUNCATED) {
            const std::uint64_t offset = tavrine_decoder_offset(decoder);
            raiseStatus(status,
                        std::string(tavrine_status_text(status)) + " at stream offset " + std::to_string(offset),
                        offset);
        }
        if (status != TAVRINE_OK) raiseStatus(status, tavrine_status_text(status));
        if ((in.pos == in.size && remaining == 0) || (limit && output.used() == *limit)) return in.pos;
        output.grow(std::max(remaining, kFirstDecodeCapacity));
    }
}

class Compressor {
public:
    explicit Compressor(long long variant) : encoder_(createEncoder(checkedVariant(variant))) {}

    py::bytes compress(py::handle data) {
        const ObjectLock lock(mutex_);
        if (flushed_) throw py::value_error("Compressor has been flushed");
        const ByteView input(data);
        OutputBytes output(static_cast<std::size_t>(tavrine_encode_bound(input.size())));
        encodeInto(encoder_.get(), input.data(), input.size(), TAVRINE_CONTINUE, output);
        return output.finish();
    }

    py::bytes flush() {
        const ObjectLock lock(mutex_);
        if (flushed_) throw py::value_error("Compressor has been flushed");
        OutputBytes output(static_cast<std::size_t>(tavrine_encode_bound(0)));
        encodeInto(encoder_.get(), nullptr, 0, TAVRINE_END, output);
        flushed_ = true;
        return output.finish();
    }

private:
    std::mutex mutex_;
    EncoderHandle encoder_;
    bool flushed_ = false;
};

class Decompressor {
public:
    Decompressor() : decoder_(createDecoder()) {}

    py::bytes decompress(py::handle data, long long maxLength) {
        const ObjectLock lock(mutex_);
        if (flushed_) throw py::value_error("Decompressor has been flushed");
        const ByteView input(data);
        // Input held back for want of room comes first.
        const bool fromHeld = !held_.empty();
        if (fromHeld) held_.insert(held_.end(), input.data(), input.data() + input.size());
        const std::uint8_t* const stream = fromHeld ? held_.data() : input.data();
        const std::size_t size = fromHeld ? held_.size() : input.size();

        std::optional<std::size_t> limit;
        if (maxLength >= 0) limit = static_cast<std::size_t>(maxLength);
        OutputBytes output(limit ? *limit : std::max(kFirstDecodeCapacity, size * kExpectedExpansion));
        const std::size_t taken = decodeInto(decoder_.get(), stream, size, TAVRINE_CONTINUE, output, limit, remaining_);
        if (fromHeld) {
            held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(taken));
        } else {
            held_.assign(stream + taken, stream + size);
        }
        return output.finish();
    }

    py::bytes flush() {
        const ObjectLock lock(mutex_);
        if (flushed_) throw py::value_error("Decompressor has been flushed");
        OutputBytes output(std::max(kFirstDecodeCapacity, remaining_ + held_.size() * kExpectedExpansion));
        decodeInto(decoder_.get(), held_.data(), held_.size(), TAVRINE_END, output, std::nullopt, remaining_);
        held_.clear();
        flushed_ = true;
        return output.finish();
    }

    bool needsInput() {
        const ObjectLock lock(mutex_);
        return held_.empty() && remaining_ == 0;
    }

private:
    std::mutex mutex_;
    DecoderHandle decoder_;
    std::vector<std::uint8_t> held_;  // input not yet taken: the output had no room
    std::size_t remaining_ = 0;       // decoded bytes the decoder holds for want of room
    bool flushed_ = false;
};

}  // namespace

py::bytes encodeWhole(const ByteView& input, std::uint32_t variant) {
    const EncoderHandle encoder = createEncoder(variant);
    OutputBytes output(static_cast<std::size_t>(tavrine_encode_bound(input.size())));
    encodeInto(encoder.get(), input.data(), input.size(), TAVRINE_END, output);
    return output.finish();
}

py::bytes decodeWhole(const ByteView& input, std::size_t decodedLength) {
    const DecoderHandle decoder = createDecoder();
    OutputBytes output(decodedLength);
    std::size_t remaining = 0;
    decodeInto(decoder.get(), input.data(), input.size(), TAVRINE_END, output, std::nullopt, remaining);
    return output.finish();
}

void registerStreaming(py::module_& module) {
    py::class_<Compressor>(module, "Compressor", R"doc(Compressor(variant=5)

Compresses data given in pieces of any size into one bare stream: the
concatenation of what compress() and flush() return is byte for byte the
stream that the one-shot compress() writes for the whole input. A block is
coded as soon as its 8192 bytes are in. One thread at a time uses an object;
the GIL is released while coding.)doc")
        .def(py::init<long long>(), py::arg("variant") = TAVRINE_VARIANT_RANGE_CODED)
        .def("compress", &Compressor::compress, py::arg("data"),
             R"doc(Take data (any object with the buffer protocol) and return the stream bytes
that are ready, possibly b"".)doc")
        .def("flush", &Compressor::flush,
             R"doc(End the stream and return its last bytes; the compressor cannot be used
afterwards.)doc");

    py::class_<Decompressor>(module, "Decompressor", R"doc(Decompressor()

Decompresses a bare stream given in pieces of any size; decoded bytes come
out block by block, as each block is complete. A bare stream has no end
marker: flush() says whether it ended at a block boundary. One thread at a
time uses an object; the GIL is released while decoding.)doc")
        .def(py::init<>())
        .def("decompress", &Decompressor::decompress, py::arg("data"), py::arg("max_length") = -1,
             R"doc(Take data and return the decoded bytes that are ready. With max_length at
0 or above, at most that many are returned, and the input not yet used is
kept for the next call (see needs_input). Raises TavrineError (CORRUPT)
with the stream offset of a damaged block.)doc")
        .def_property_readonly("needs_input", &Decompressor::needsInput,
                               R"doc(False when decompress() can return more bytes without new input: the last
call stopped at max_length.)doc")
        .def("flush", &Decompressor::flush,
             R"doc(End the stream: return the bytes still held, and raise TavrineError
(TRUNCATED) when the stream stopped inside a block. The decompressor cannot
be used afterwards.)doc");
}

}  // namespace tavrine::python
