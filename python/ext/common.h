// What every part of the extension shares: views of the caller's bytes
// without a copy, the bytes objects it returns (written with the GIL
// released, resized at the end), the exceptions that carry a status, and the
// lock that keeps one object to one thread at a time.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "tavrine_api.h"

namespace tavrine::python {

namespace py = pybind11;

// The one-shot calls count in 32 bits; longer inputs take the streaming calls.
constexpr std::size_t kLargestOneShot = 0xFFFFFFFFu;

// A contiguous view of any object with the buffer protocol (bytes,
// bytearray, memoryview, mmap, array). Held while the coding runs, which
// also keeps a bytearray from being resized under it. Made and released with
// the GIL held.
class ByteView {
public:
    explicit ByteView(py::handle object, bool writable = false);
    ~ByteView() { PyBuffer_Release(&view_); }
    ByteView(const ByteView&) = delete;
    ByteView& operator=(const ByteView&) = delete;

    const std::uint8_t* data() const noexcept { return static_cast<const std::uint8_t*>(view_.buf); }
    std::uint8_t* writableData() const noexcept { return static_cast<std::uint8_t*>(view_.buf); }
    std::size_t size() const noexcept { return static_cast<std::size_t>(view_.len); }

private:
    Py_buffer view_{};
};

// A bytes object under construction: the coding calls write into it with the
// GIL released (no other code can see it yet), and it grows and shrinks to
// its final length with the GIL held.
class OutputBytes {
public:
    explicit OutputBytes(std::size_t capacity);
    ~OutputBytes() { Py_XDECREF(bytes_); }
    OutputBytes(const OutputBytes&) = delete;
    OutputBytes& operator=(const OutputBytes&) = delete;

    std::uint8_t* data() const noexcept;
    std::size_t capacity() const noexcept { return capacity_; }
    std::size_t used() const noexcept { return used_; }
    void setUsed(std::size_t used) noexcept { used_ = used; }
    // At least `more` bytes of room past what is used, and at least double
    // the capacity, so that a long output costs few copies.
    void grow(std::size_t more);
    // The bytes written, as a bytes object of exactly that length.
    py::bytes finish();

private:
    void resize(std::size_t size);

    PyObject* bytes_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
};

// Raises TavrineError (a ValueError) with the status, the message and, for
// damaged input, the offset; MemoryError for TAVRINE_OUT_OF_MEMORY.
[[noreturn]] void raiseStatus(tavrine_status status, const std::string& message,
                              std::optional<std::uint64_t> offset = std::nullopt);

// Raises TavrineError with TAVRINE_BAD_ARGUMENT: a setting out of range.
[[noreturn]] void raiseBadArgument(const std::string& message);

// The variant argument as the library takes it; raises unless 0 or 5.
std::uint32_t checkedVariant(long long variant);
// The threads argument; raises unless 0 to TAVRINE_MAX_THREADS.
std::uint32_t checkedThreads(long long threads);

// Holds an object's mutex; when another thread has it, waits without the
// GIL, so that the holder can take the GIL back to finish.
class ObjectLock {
public:
    explicit ObjectLock(std::mutex& mutex);

private:
    std::unique_lock<std::mutex> lock_;
};

void registerOneShot(py::module_& module);
void registerStreaming(py::module_& module);
void registerTvrFiles(py::module_& module);

// The whole of `input` through a streaming encoder or decoder, for inputs
// beyond the one-shot calls' 32-bit lengths.
py::bytes encodeWhole(const ByteView& input, std::uint32_t variant);
py::bytes decodeWhole(const ByteView& input, std::size_t decodedLength);

}  // namespace tavrine::python
