// The command line, gzip and zstd style: bundled short options (-dc, -kf,
// -T2), FILE... or standard input. parseCommandLine() turns it into
// ToolOptions, or says to exit at once (help, version: 0; usage error: 2).
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

struct ToolOptions {
    Mode mode = Mode::compress;
    bool toStdout = false;
    std::optional<std::string> output;  // -o
    bool force = false;
    bool removeSource = false;
    bool raw = false;
    bool verbose = false;
    bool quiet = false;
    std::optional<bool> progress;  // --progress / --no-progress; unset: when stderr is a terminal
    unsigned threads = 1;          // resolved: at least 1
    std::uint8_t variant = 5;
    std::uint32_t segmentSize = 0;  // resolved to the default when not given
    std::vector<std::string> files;  // "-" is standard input; empty means standard input
};

struct CommandLine {
    std::optional<ToolOptions> options;  // empty: exit with `exitStatus`
    int exitStatus = kExitSuccess;
};

// argv[0]'s base name "untavrine" makes decompression the default.
CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// "1M", "64KiB", "4096": a size with an optional binary suffix; nullopt when malformed.
std::optional<std::uint64_t> parseSize(const std::string& text);

// The version text of -V: tool version, format version, the module's interface version word.
std::string versionText();

}  // namespace tavrine::tool
