// The command line, gzip and zstd style: bundled short options (-dc, -kf,
// -T2), long options with their value after '=' or in the next argument, '--'
// ending the options, FILE... or standard input. parseCommandLine() turns it
// into ToolOptions, or says to exit at once (help, version: 0; usage error: 2).
// The level options of gzip, bzip2 and zstd (-1 ... -9, --fast, --best) are
// accepted and change nothing: the format has a single setting, and scripts
// and `tar -I` written for those tools pass them.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tavrine::tool {

enum class Mode { compress, decompress, test, list };

constexpr int kExitSuccess = 0;
constexpr int kExitFileFailed = 1;
constexpr int kExitUsage = 2;

// What decompression may hold for segments by default: 512 MiB, ample for
// any file the tool writes (64 MiB segments need about 130 MiB each).
constexpr std::uint64_t kDefaultMemoryLimit = std::uint64_t{512} << 20;

struct ToolOptions {
    Mode mode = Mode::compress;
    bool toStdout = false;
    std::optional<std::string> output;  // -o
    bool force = false;
    bool removeSource = false;
    bool raw = false;
    bool recursive = false;
    bool verbose = false;
    bool quiet = false;
    std::optional<bool> progress;  // --progress / --no-progress; unset: when stderr is a terminal
    unsigned threads = 1;          // resolved: at least 1
    std::uint8_t variant = 5;
    std::uint32_t segmentSize = 0;  // resolved to the default when not given
    // --memory: what the segments being decompressed may hold at once.
    std::uint64_t memoryLimit = kDefaultMemoryLimit;
    std::vector<std::string> files;  // "-" is standard input; empty means standard input
};

struct CommandLine {
    std::optional<ToolOptions> options;  // empty: exit with `exitStatus`
    int exitStatus = kExitSuccess;
};

// argv[0]'s base name "untavrine" makes decompression the default.
CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// "1M", "64KiB", "2G", "4096": a size with an optional binary suffix (K, M,
// G, with or without "iB"); nullopt when malformed or past 2^64 - 1.
std::optional<std::uint64_t> parseSize(const std::string& text);

// The text of --help.
std::string helpText(const std::string& programName);

// The version text of -V: tool version, format version, the module's interface version word.
std::string versionText();

}  // namespace tavrine::tool
