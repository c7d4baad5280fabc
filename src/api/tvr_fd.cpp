// The .tvr calls on POSIX file descriptors: the one place where the library
// calls the operating system, and only where it has descriptors.
#include "tavrine_api.h"

#if defined(TAVRINE_HAVE_FD_IO)

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "api/api_call.h"
#include "api/tvr_api.h"

namespace {

using tavrine::container::ContainerError;

// Larger reads and writes are split, as some systems refuse counts past 2 GiB.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

// The errno value of the first failed call on a descriptor, kept for the report.
class FdSource final : public tavrine::container::ByteSource {
public:
    explicit FdSource(int fd) noexcept : fd_(fd) {}
    std::size_t readSome(std::span<std::uint8_t> into) override {
        for (;;) {
            const ssize_t got = ::read(fd_, into.data(), std::min(into.size(), kLargestTransfer));
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) {
                error_ = errno;
                throw ContainerError(TAVRINE_IO_ERROR, 0, "read error: " + std::string(std::strerror(error_)));
            }
        }
    }
    int error() const noexcept { return error_; }

private:
    int fd_;
    int error_ = 0;
};

class FdSink final : public tavrine::container::ByteSink {
public:
    explicit FdSink(int fd) noexcept : fd_(fd) {}
    void write(std::span<const std::uint8_t> bytes) override {
        while (!bytes.empty()) {
            const ssize_t put = ::write(fd_, bytes.data(), std::min(bytes.size(), kLargestTransfer));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                error_ = put < 0 ? errno : EIO;
                throw ContainerError(TAVRINE_IO_ERROR, 0, "write error: " + std::string(std::strerror(error_)));
            }
            bytes = bytes.subspan(static_cast<std::size_t>(put));
        }
    }
    int error() const noexcept { return error_; }

private:
    int fd_;
    int error_ = 0;
};

tavrine_status withSystemError(tavrine_status status, const FdSource& source, const FdSink& sink,
                               tavrine_tvr_report* report) noexcept {
    if (report != nullptr && status == TAVRINE_IO_ERROR) {
        report->system_error = source.error() != 0 ? source.error() : sink.error();
    }
    return status;
}

}  // namespace

extern "C" {

TAVRINE_ENTRY tavrine_status tavrine_tvr_compress_fd(int in_fd, int out_fd,
                                                     const tavrine_tvr_settings* settings,
                                                     tavrine_tvr_report* report) noexcept {
    FdSource source(in_fd);
    FdSink sink(out_fd);
    return withSystemError(tavrine::api::compressTvr(source, sink, settings, report), source, sink,
                           report);
}

TAVRINE_ENTRY tavrine_status tavrine_tvr_decompress_fd(int in_fd, int out_fd,
                                                       const tavrine_tvr_settings* settings,
                                                       tavrine_tvr_report* report) noexcept {
    FdSource source(in_fd);
    FdSink sink(out_fd);
    return withSystemError(tavrine::api::decompressTvr(source, sink, settings, report), source,
                           sink, report);
}

}  // extern "C"

#endif  // TAVRINE_HAVE_FD_IO
