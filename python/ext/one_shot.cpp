// compress(), decompress() and decoded_length(): bare streams, the bytes of
// ZOLT_Encode and ZOLT_Decode, through the one-shot calls with the GIL
// released; inputs and outputs beyond their 32-bit lengths go through the
// streaming calls, which give the same bytes.
#include <string>

#include "common.h"

namespace tavrine::python {
namespace {

std::string atOffset(tavrine_status status, std::uint64_t offset) {
    return std::string(tavrine_status_text(status)) + " at stream offset " + std::to_string(offset);
}

py::bytes compress(py::handle data, long long variantArgument) {
    const std::uint32_t variant = checkedVariant(variantArgument);
    const ByteView input(data);
    if (input.size() > kLargestOneShot) return encodeWhole(input, variant);
    OutputBytes output(static_cast<std::size_t>(tavrine_encode_bound(input.size())));
    std::size_t produced = 0;
    tavrine_status status = TAVRINE_OK;
    {
        const py::gil_scoped_release released;
        status = tavrine_encode(variant, input.data(), input.size(), output.data(), output.capacity(), &produced,
                                nullptr, nullptr);
    }
    // With the bound's capacity only memory can run short.
    if (status != TAVRINE_OK) raiseStatus(status, tavrine_status_text(status));
    output.setUsed(produced);
    return output.finish();
}

// The decoded length the block headers announce; raises for headers that no
// encoder writes and for a stream that stops inside a block.
std::uint64_t announcedLength(const ByteView& input) {
    std::uint64_t length = 0;
    std::uint64_t fault = 0;
    tavrine_status status = TAVRINE_OK;
    {
        const py::gil_scoped_release released;
        status = tavrine_decoded_length(input.data(), input.size(), &length, &fault);
    }
    if (status != TAVRINE_OK) raiseStatus(status, atOffset(status, fault), fault);
    return length;
}

std::uint64_t decodedLength(py::handle data) {
    const ByteView input(data);
    return announcedLength(input);
}

py::bytes decompress(py::handle data) {
    const ByteView input(data);
    const std::uint64_t length = announcedLength(input);
    if (length > kLargestOneShot || input.size() > kLargestOneShot) {
        return decodeWhole(input, static_cast<std::size_t>(length));
    }
    OutputBytes output(static_cast<std::size_t>(length));
    std::size_t produced = 0;
    std::uint64_t fault = 0;
    tavrine_status status = TAVRINE_OK;
    {
        const py::gil_scoped_release released;
        status = tavrine_decode(input.data(), input.size(), output.data(), output.capacity(), &produced, &fault,
                                nullptr, nullptr);
    }
    if (status == TAVRINE_OUT_OF_MEMORY) raiseStatus(status, tavrine_status_text(status));
    if (status != TAVRINE_OK) raiseStatus(status, atOffset(status, fault), fault);
    output.setUsed(produced);
    return output.finish();
}

}  // namespace

void registerOneShot(py::module_& module) {
    module.def("compress", &compress, py::arg("data"), py::arg("variant") = TAVRINE_VARIANT_RANGE_CODED,
               R"doc(Compress data into a bare stream, byte for byte what ZOLT_Encode writes.

data may be any object with the buffer protocol (bytes, bytearray,
memoryview, mmap, array); it is read in place, without a copy. variant 5
range-codes the blocks, variant 0 stores them block-sorted only. The GIL is
released while the data is coded.)doc");
    module.def("decompress", &decompress, py::arg("data"),
               R"doc(Decompress a bare stream and return the bytes it holds, as ZOLT_Decode does.

Raises TavrineError with the status CORRUPT or TRUNCATED and the stream
offset of the block at fault when the stream is damaged or cut.)doc");
    module.def("decoded_length", &decodedLength, py::arg("data"),
               R"doc(The length that a bare stream decodes to, read from its block headers
without decoding; raises TavrineError as decompress() does when the headers
are damaged or the stream stops inside a block.)doc");
}

}  // namespace tavrine::python
