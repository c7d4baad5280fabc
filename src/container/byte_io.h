// Where the container's bytes come from and go to: the caller's callbacks,
// memory, or nowhere. Sources and sinks throw ContainerError when the bytes
// cannot be read or written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "tavrine_api.h"

namespace tavrine::container {

// Why a container call stopped, with the input offset it stopped at; the
// message says what was found, in plain words.
class ContainerError : public std::runtime_error {
public:
    ContainerError(tavrine_status status, std::uint64_t offset, const std::string& message)
        : std::runtime_error(message), status_(status), offset_(offset) {}
    tavrine_status status() const noexcept { return status_; }
    std::uint64_t offset() const noexcept { return offset_; }

private:
    tavrine_status status_;
    std::uint64_t offset_;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads at least one byte into `into` unless the input has ended (then 0).
    virtual std::size_t readSome(std::span<std::uint8_t> into) = 0;
    // A source whose input already lies in memory, valid while the source
    // lives, hands all the rest of it over here, after which it has ended,
    // so that segments are coded where they lie instead of copied. Other
    // sources give nothing and are read.
    virtual std::optional<std::span<const std::uint8_t>> takeRest() { return std::nullopt; }
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all bytes or throws.
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
};

// Fills `into` unless the input ends first; returns the count read.
std::size_t readUpTo(ByteSource& source, std::span<std::uint8_t> into);

// Counts what passes, so that messages can say where the input ended.
class CountingSource final : public ByteSource {
public:
    explicit CountingSource(ByteSource& inner) noexcept : inner_(inner) {}
    std::size_t readSome(std::span<std::uint8_t> into) override;
    std::uint64_t consumed() const noexcept { return consumed_; }

private:
    ByteSource& inner_;
    std::uint64_t consumed_ = 0;
};

// The caller's read and write functions of the C interface.
class CallbackSource final : public ByteSource {
public:
    CallbackSource(tavrine_read_function readBytes, void* user) noexcept
        : read_(readBytes), user_(user) {}
    std::size_t readSome(std::span<std::uint8_t> into) override;

private:
    tavrine_read_function read_;
    void* user_;
};

class CallbackSink final : public ByteSink {
public:
    CallbackSink(tavrine_write_function writeBytes, void* user) noexcept
        : write_(writeBytes), user_(user) {}
    void write(std::span<const std::uint8_t> bytes) override;

private:
    tavrine_write_function write_;
    void* user_;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) noexcept : rest_(bytes) {}
    // The bytes must outlive the source: a temporary vector would not.
    explicit MemorySource(std::vector<std::uint8_t>&&) = delete;
    std::size_t readSome(std::span<std::uint8_t> into) override;
    std::optional<std::span<const std::uint8_t>> takeRest() override;
    // The next `bytes` bytes where they lie, or all that is left when fewer; consumed.
    std::span<const std::uint8_t> lend(std::size_t bytes) noexcept;

private:
    std::span<const std::uint8_t> rest_;
};

class VectorSink final : public ByteSink {
public:
    void write(std::span<const std::uint8_t> bytes) override;
    const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// Counts and drops everything.
class DiscardSink final : public ByteSink {
public:
    void write(std::span<const std::uint8_t> bytes) override { written_ += bytes.size(); }
    std::uint64_t written() const noexcept { return written_; }

private:
    std::uint64_t written_ = 0;
};

}  // namespace tavrine::container
