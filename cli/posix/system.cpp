// The tool's calls of a POSIX system besides its files.
#include "system.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace tavrine::tool {

std::ptrdiff_t readDescriptor(int fd, std::span<std::uint8_t> into) noexcept {
    return ::read(fd, into.data(), into.size());
}

std::ptrdiff_t writeDescriptor(int fd, std::span<const std::uint8_t> bytes) noexcept {
    return ::write(fd, bytes.data(), bytes.size());
}

bool readAt(int fd, std::uint64_t offset, std::span<std::uint8_t> into) noexcept {
    std::size_t filled = 0;
    while (filled < into.size()) {
        const ssize_t got = ::pread(fd, into.data() + filled, into.size() - filled,
                                    static_cast<off_t>(offset + filled));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

bool isTerminal(int fd) noexcept { return ::isatty(fd) != 0; }

unsigned availableCores() noexcept {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&allowed));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string commandName(const std::string& argv0) {
    const auto slash = argv0.rfind('/');
    return slash == std::string::npos ? argv0 : argv0.substr(slash + 1);
}

bool isPathSeparator(char c) noexcept { return c == '/'; }

}  // namespace tavrine::tool
