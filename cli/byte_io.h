// Where the tool's bytes come from and go to: file descriptors, memory, or
// nowhere. Failures of the operating system become FileError, which names the
// file and gives the reason in plain words ("no space left on device").
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrine::tool {

class FileError : public std::runtime_error {
public:
    FileError(std::string name, const std::string& reason);
    const std::string& name() const noexcept { return name_; }

private:
    std::string name_;
};

// strerror's text for errno value `error`, starting in lower case.
std::string describeError(int error);

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads at least one byte into `into` unless the input has ended (then 0).
    virtual std::size_t readSome(std::span<std::uint8_t> into) = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all bytes or throws.
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
};

// Fills `into` unless the input ends first; returns the count read.
std::size_t readUpTo(ByteSource& source, std::span<std::uint8_t> into);

// Reads a descriptor it does not own.
class FdSource final : public ByteSource {
public:
    FdSource(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    std::size_t readSome(std::span<std::uint8_t> into) override;

private:
    int fd_;
    std::string name_;
};

// Writes a descriptor it does not own.
class FdSink final : public ByteSink {
public:
    FdSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    void write(std::span<const std::uint8_t> bytes) override;

private:
    int fd_;
    std::string name_;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) noexcept : rest_(bytes) {}
    // The bytes must outlive the source: a temporary vector would not.
    explicit MemorySource(std::vector<std::uint8_t>&&) = delete;
    std::size_t readSome(std::span<std::uint8_t> into) override;

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

// Counts and drops everything (testing a file writes nothing).
class DiscardSink final : public ByteSink {
public:
    void write(std::span<const std::uint8_t> bytes) override { written_ += bytes.size(); }
    std::uint64_t written() const noexcept { return written_; }

private:
    std::uint64_t written_ = 0;
};

}  // namespace tavrine::tool
