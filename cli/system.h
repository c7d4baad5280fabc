// What the tool asks of the operating system besides its files (file_ops.h):
// reading and writing descriptors, terminals, cores, the name it was invoked
// under. One implementation per system: posix/system.cpp, windows/system.cpp.
// Names and messages are UTF-8 on every system; on Windows the conversion to
// and from UTF-16 happens at the edges (the arguments, the system's calls).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tavrine::tool {

// One read() or write() on a descriptor: the count moved (0 at the end of the
// input), or -1 with errno set. A call may move fewer bytes than given.
std::ptrdiff_t readDescriptor(int fd, std::span<std::uint8_t> into) noexcept;
std::ptrdiff_t writeDescriptor(int fd, std::span<const std::uint8_t> bytes) noexcept;

// Fills `into` from the file open on `fd`, starting at `offset`, and leaves
// the file position where it was; false on a short read or an error.
bool readAt(int fd, std::uint64_t offset, std::span<std::uint8_t> into) noexcept;

// Whether the descriptor is an interactive terminal (on Windows a console;
// the NUL device is not one).
bool isTerminal(int fd) noexcept;

// The cores this process may run on (a container, taskset or affinity mask
// may allow fewer than the machine has); at least 1.
unsigned availableCores() noexcept;

// The name the program was invoked under, from argv[0]: without its
// directory, and on Windows in lower case and without ".exe".
std::string commandName(const std::string& argv0);

// Whether `c` separates directories in a path ('/'; on Windows '\\' too).
bool isPathSeparator(char c) noexcept;

#if defined(_WIN32)
// wmain's arguments in UTF-8 for `run`, with the console (where standard
// output or error is one) showing UTF-8 while it runs.
int runWithUtf8Arguments(int argc, wchar_t** argv, int (*run)(int argc, char** argv));
#endif

}  // namespace tavrine::tool
