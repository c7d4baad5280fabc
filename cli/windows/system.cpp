// The tool's calls of Windows besides its files: the C runtime's descriptors,
// the console, the processor affinity mask, and the arguments in UTF-8.
#include "system.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <climits>
#include <cstdio>
#include <thread>
#include <vector>

#include "windows/wide_text.h"

namespace tavrine::tool {
namespace {

// The C runtime moves at most an unsigned int of bytes per call.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

}  // namespace

std::ptrdiff_t readDescriptor(int fd, std::span<std::uint8_t> into) noexcept {
    return ::_read(fd, into.data(), static_cast<unsigned>(std::min(into.size(), kLargestTransfer)));
}

std::ptrdiff_t writeDescriptor(int fd, std::span<const std::uint8_t> bytes) noexcept {
    return ::_write(fd, bytes.data(), static_cast<unsigned>(std::min(bytes.size(), kLargestTransfer)));
}

bool readAt(int fd, std::uint64_t offset, std::span<std::uint8_t> into) noexcept {
    if (offset > static_cast<std::uint64_t>(LLONG_MAX)) return false;
    const __int64 position = ::_lseeki64(fd, 0, SEEK_CUR);
    if (position < 0 || ::_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return false;
    std::size_t filled = 0;
    while (filled < into.size()) {
        const std::ptrdiff_t got = readDescriptor(fd, into.subspan(filled));
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
    }
    const bool restored = ::_lseeki64(fd, position, SEEK_SET) == position;
    return restored && filled == into.size();
}

bool isTerminal(int fd) noexcept {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

unsigned availableCores() noexcept {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) != 0 && process != 0) {
        return static_cast<unsigned>(std::popcount(static_cast<std::uint64_t>(process)));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string commandName(const std::string& argv0) {
    const auto separator = argv0.find_last_of("/\\:");
    std::string name = separator == std::string::npos ? argv0 : argv0.substr(separator + 1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    constexpr std::string_view kProgramSuffix = ".exe";
    if (name.size() > kProgramSuffix.size() && name.ends_with(kProgramSuffix)) {
        name.resize(name.size() - kProgramSuffix.size());
    }
    return name;
}

bool isPathSeparator(char c) noexcept { return c == '/' || c == '\\'; }

int runWithUtf8Arguments(int argc, wchar_t** argv, int (*run)(int argc, char** argv)) {
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) arguments.push_back(narrow(argv[i]));
    std::vector<char*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (auto& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    useUtf8Console();
    const int status = run(argc, pointers.data());
    restoreConsoleCodePage();
    return status;
}

}  // namespace tavrine::tool
