#include "options.h"

#include <sched.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <thread>

#include "tavrine.h"
#include "tvr_format.h"

#ifndef TAVRINE_TOOL_VERSION
#define TAVRINE_TOOL_VERSION "unknown"
#endif

namespace tavrine::tool {
namespace {

// More threads than this only cost memory (threads x segment size).
constexpr unsigned kMaxThreads = 256;

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string programName(const char* argv0) {
    const std::string path = argv0 != nullptr ? argv0 : "tavrine";
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The cores this process may run on (a container or taskset may allow fewer
// than the machine has).
unsigned allCores() noexcept {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&allowed));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

struct Flags {
    bool compress = false;
    bool decompress = false;
    bool test = false;
    bool list = false;
    bool keep = false;
    bool progress = false;
    bool noProgress = false;
    bool version = false;
    unsigned threads = 0;
    unsigned variant = 5;
    std::string segmentSize;
    std::string output;
};

Mode resolveMode(const Flags& flags, bool invokedAsDecompressor) {
    if (flags.list) return Mode::list;
    if (flags.test) return Mode::test;
    if (flags.decompress) return Mode::decompress;
    if (flags.compress) return Mode::compress;
    return invokedAsDecompressor ? Mode::decompress : Mode::compress;
}

std::uint32_t resolveSegmentSize(const std::string& text) {
    if (text.empty()) return kDefaultSegmentSize;
    const auto size = parseSize(text);
    if (!size || *size < kMinSegmentSize || *size > kMaxSegmentSize) {
        throw UsageError("--segment-size: '" + text + "' is not a size from 4K to 64M");
    }
    return static_cast<std::uint32_t>(*size);
}

void checkCombinations(const ToolOptions& options, const Flags& flags) {
    if (flags.compress && (flags.decompress || flags.test || flags.list)) {
        throw UsageError("-z cannot be combined with -d, -t or -l");
    }
    if (flags.test && flags.list) throw UsageError("-t and -l cannot be combined");
    if (options.output) {
        if (options.toStdout) throw UsageError("-o and -c cannot be combined");
        if (options.mode == Mode::test || options.mode == Mode::list) {
            throw UsageError("-o makes no sense with -t or -l: they write no output");
        }
        if (options.files.size() > 1) throw UsageError("-o takes a single input file");
    }
    const auto stdinCount = std::count(options.files.begin(), options.files.end(), "-");
    if (stdinCount > 1) throw UsageError("standard input ('-') can be named only once");
}

}  // namespace

std::optional<std::uint64_t> parseSize(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])) != 0) ++digits;
    if (digits == 0 || digits > 12) return std::nullopt;
    std::uint64_t value = std::stoull(text.substr(0, digits));
    std::string unit = text.substr(digits);
    std::transform(unit.begin(), unit.end(), unit.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (unit.empty() || unit == "b") return value;
    if (unit == "k" || unit == "kib") return value << 10;
    if (unit == "m" || unit == "mib") return value << 20;
    return std::nullopt;
}

std::string versionText() {
    std::uint32_t interfaceVersion = 0;
    ZOLT_GetInterfaceVersion(&interfaceVersion, 0);
    char word[16];
    std::snprintf(word, sizeof word, "0x%08X", static_cast<unsigned>(interfaceVersion));
    return std::string("tavrine ") + TAVRINE_TOOL_VERSION + " (.tvr format " +
           std::to_string(kFormatVersion) + ", codec interface version " + word + ")\n";
}

CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    const std::string name = argc > 0 ? programName(argv[0]) : "tavrine";
    const bool invokedAsDecompressor = name == "untavrine";

    CLI::App app("Compress or decompress files with the tavrine block-sorting codec.\n"
                 "FILE is compressed to FILE.tvr; with -d, FILE.tvr is decompressed to FILE.\n"
                 "Without FILE, or with '-', standard input goes to standard output.",
                 name);
    app.footer("Exit status: 0 success, 1 a file failed (the others are still processed), 2 usage error.\n"
               "Examples:\n"
               "  tavrine -v big.log              big.log -> big.log.tvr, keeping big.log\n"
               "  tavrine -d big.log.tvr          big.log.tvr -> big.log\n"
               "  tavrine -l *.tvr                list segments, blocks, sizes, ratio\n"
               "  tar c dir | tavrine -T4 > dir.tar.tvr");
    ToolOptions options;
    Flags flags;
    app.add_flag("-z,--compress", flags.compress, "Compress (the default)");
    app.add_flag("-d,--decompress,--uncompress", flags.decompress, "Decompress");
    app.add_flag("-t,--test", flags.test, "Decompress and verify every checksum; write nothing");
    app.add_flag("-l,--list", flags.list, "List segments, blocks, sizes, ratio and checksum");
    app.add_flag("-c,--stdout", options.toStdout, "Write to standard output, keep the input files");
    app.add_option("-o,--output", flags.output, "Write to FILE (one input only; '-' for standard output)")
        ->type_name("FILE");
    auto* keep = app.add_flag("-k,--keep", flags.keep, "Keep the input files (the default)");
    app.add_flag("--rm", options.removeSource, "Remove each input file once its output is complete")
        ->excludes(keep);
    app.add_flag("-f,--force", options.force,
                 "Overwrite existing outputs; write compressed data to a terminal");
    auto* verbose = app.add_flag("-v,--verbose", options.verbose, "Print a summary line per file");
    app.add_flag("-q,--quiet", options.quiet, "Print errors only; no progress line")->excludes(verbose);
    app.add_option("-T,--threads", flags.threads, "Worker threads; 0 = all cores (the default)")
        ->type_name("N")
        ->check(CLI::Range(0u, kMaxThreads));
    app.add_option("--variant", flags.variant, "5: range-coded blocks (default); 0: block-sorted only")
        ->type_name("0|5")
        ->check(CLI::IsMember({0u, 5u}));
    app.add_option("--segment-size", flags.segmentSize,
                   "Input bytes per independently coded segment, 4K to 64M (default 1M)")
        ->type_name("SIZE");
    app.add_flag("--raw", options.raw,
                 "Bare codec stream, no header or checksums (whole input in memory, < 4 GiB)");
    auto* progress = app.add_flag("--progress", flags.progress, "Show the progress line even when "
                                                               "standard error is not a terminal");
    app.add_flag("--no-progress", flags.noProgress, "Never show the progress line")->excludes(progress);
    app.add_flag("-V,--version", flags.version, "Print the version and exit");
    app.add_option("FILE", options.files, "Files to process; '-' is standard input")->type_name("");

    CommandLine result;
    try {
        app.parse(argc, argv);
        if (flags.version) {
            out << versionText();
            return result;
        }
        options.mode = resolveMode(flags, invokedAsDecompressor);
        if (!flags.output.empty()) options.output = flags.output;
        if (flags.progress) options.progress = true;
        if (flags.noProgress) options.progress = false;
        options.threads = flags.threads == 0 ? allCores() : flags.threads;
        options.variant = static_cast<std::uint8_t>(flags.variant);
        options.segmentSize = resolveSegmentSize(flags.segmentSize);
        checkCombinations(options, flags);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return result;
    } catch (const CLI::ParseError& error) {
        err << name << ": " << error.what() << "\nTry '" << name << " --help' for more information.\n";
        result.exitStatus = kExitUsage;
        return result;
    } catch (const UsageError& error) {
        err << name << ": " << error.what() << "\nTry '" << name << " --help' for more information.\n";
        result.exitStatus = kExitUsage;
        return result;
    }
    result.options = std::move(options);
    return result;
}

}  // namespace tavrine::tool
