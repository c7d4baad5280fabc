#include "options.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "system.h"
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

enum class OptionId {
    compress, decompress, test, list, toStdout, output, keep, removeSource, force, recursive,
    threads, variant, segmentSize, raw, memory, level, verbose, quiet, progress, noProgress,
    help, version,
};

struct OptionSpec {
    char shortName;             // '\0': none
    std::string_view longName;  // empty: none
    bool takesValue;
    OptionId id;
};

// Every option the tool takes. -1 ... -9 are not listed: any digit from 1
// to 9 in a bundle of short options is a level.
constexpr std::array kOptions = {
    OptionSpec{'z', "compress", false, OptionId::compress},
    OptionSpec{'d', "decompress", false, OptionId::decompress},
    OptionSpec{'\0', "uncompress", false, OptionId::decompress},
    OptionSpec{'t', "test", false, OptionId::test},
    OptionSpec{'l', "list", false, OptionId::list},
    OptionSpec{'c', "stdout", false, OptionId::toStdout},
    OptionSpec{'o', "output", true, OptionId::output},
    OptionSpec{'k', "keep", false, OptionId::keep},
    OptionSpec{'\0', "rm", false, OptionId::removeSource},
    OptionSpec{'f', "force", false, OptionId::force},
    OptionSpec{'r', "recursive", false, OptionId::recursive},
    OptionSpec{'T', "threads", true, OptionId::threads},
    OptionSpec{'\0', "variant", true, OptionId::variant},
    OptionSpec{'\0', "segment-size", true, OptionId::segmentSize},
    OptionSpec{'\0', "raw", false, OptionId::raw},
    OptionSpec{'\0', "memory", true, OptionId::memory},
    OptionSpec{'\0', "fast", false, OptionId::level},
    OptionSpec{'\0', "best", false, OptionId::level},
    OptionSpec{'v', "verbose", false, OptionId::verbose},
    OptionSpec{'q', "quiet", false, OptionId::quiet},
    OptionSpec{'\0', "progress", false, OptionId::progress},
    OptionSpec{'\0', "no-progress", false, OptionId::noProgress},
    OptionSpec{'h', "help", false, OptionId::help},
    OptionSpec{'V', "version", false, OptionId::version},
};

bool isLevelDigit(char c) noexcept { return c >= '1' && c <= '9'; }

const OptionSpec* findShort(char name) noexcept {
    for (const auto& spec : kOptions) {
        if (spec.shortName == name) return &spec;
    }
    return nullptr;
}

const OptionSpec* findLong(std::string_view name) noexcept {
    for (const auto& spec : kOptions) {
        if (!spec.longName.empty() && spec.longName == name) return &spec;
    }
    return nullptr;
}

std::string programName(const char* argv0) { return commandName(argv0 != nullptr ? argv0 : "tavrine"); }

// The switches as given, before they are resolved into ToolOptions.
struct Flags {
    bool compress = false;
    bool decompress = false;
    bool test = false;
    bool list = false;
    bool keep = false;
    bool progress = false;
    bool noProgress = false;
    bool help = false;
    bool version = false;
    unsigned threads = 0;
};

std::optional<unsigned> parseCount(const std::string& text, unsigned largest) {
    if (text.empty() || text.size() > 6) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > largest) return std::nullopt;
    return value;
}

unsigned parseThreads(const std::string& spelling, const std::string& value) {
    const auto threads = parseCount(value, kMaxThreads);
    if (!threads) {
        throw UsageError(spelling + ": '" + value + "' is not a number of threads from 0 to " +
                         std::to_string(kMaxThreads) + " (0: all cores)");
    }
    return *threads;
}

std::uint8_t parseVariant(const std::string& spelling, const std::string& value) {
    if (value != "0" && value != "5") {
        throw UsageError(spelling + ": '" + value + "' is not a variant: 0 or 5");
    }
    return static_cast<std::uint8_t>(value[0] - '0');
}

std::uint32_t parseSegmentSize(const std::string& spelling, const std::string& value) {
    const auto size = parseSize(value);
    if (!size || *size < kMinSegmentSize || *size > kMaxSegmentSize) {
        throw UsageError(spelling + ": '" + value + "' is not a size from 4K to 64M");
    }
    return static_cast<std::uint32_t>(*size);
}

std::uint64_t parseMemory(const std::string& spelling, const std::string& value) {
    const auto size = parseSize(value);
    if (!size || *size == 0) {
        throw UsageError(spelling + ": '" + value + "' is not a size (such as 512M or 2G)");
    }
    return *size;
}

void apply(const OptionSpec& spec, const std::string& spelling, const std::string& value,
           Flags& flags, ToolOptions& options) {
    switch (spec.id) {
        case OptionId::compress: flags.compress = true; break;
        case OptionId::decompress: flags.decompress = true; break;
        case OptionId::test: flags.test = true; break;
        case OptionId::list: flags.list = true; break;
        case OptionId::toStdout: options.toStdout = true; break;
        case OptionId::output:
            if (value.empty()) throw UsageError(spelling + ": the file name is empty");
            options.output = value;
            break;
        case OptionId::keep: flags.keep = true; break;
        case OptionId::removeSource: options.removeSource = true; break;
        case OptionId::force: options.force = true; break;
        case OptionId::recursive: options.recursive = true; break;
        case OptionId::threads: flags.threads = parseThreads(spelling, value); break;
        case OptionId::variant: options.variant = parseVariant(spelling, value); break;
        case OptionId::segmentSize: options.segmentSize = parseSegmentSize(spelling, value); break;
        case OptionId::raw: options.raw = true; break;
        case OptionId::memory: options.memoryLimit = parseMemory(spelling, value); break;
        case OptionId::level: break;  // one setting: nothing to choose
        case OptionId::verbose: options.verbose = true; break;
        case OptionId::quiet: options.quiet = true; break;
        case OptionId::progress: flags.progress = true; break;
        case OptionId::noProgress: flags.noProgress = true; break;
        case OptionId::help: flags.help = true; break;
        case OptionId::version: flags.version = true; break;
    }
}

// Walks the arguments once; stops early at -h or -V, which make the rest moot.
class ArgumentReader {
public:
    ArgumentReader(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}

    void read(Flags& flags, ToolOptions& options) {
        bool optionsEnded = false;
        for (next_ = 1; next_ < argc_ && !flags.help && !flags.version;) {
            const std::string argument = argv_[next_++];
            if (optionsEnded || argument == "-" || argument.size() < 2 || argument[0] != '-') {
                options.files.push_back(argument);
            } else if (argument == "--") {
                optionsEnded = true;
            } else if (argument[1] == '-') {
                readLong(argument, flags, options);
            } else {
                readShortBundle(argument, flags, options);
            }
        }
    }

private:
    void readLong(const std::string& argument, Flags& flags, ToolOptions& options) {
        const auto equals = argument.find('=');
        const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const std::string spelling = "--" + name;
        const OptionSpec* spec = findLong(name);
        if (spec == nullptr) throw UsageError("unknown option '" + spelling + "'");
        std::string value;
        if (spec->takesValue) {
            value = equals != std::string::npos ? argument.substr(equals + 1) : takeValue(spelling);
        } else if (equals != std::string::npos) {
            throw UsageError(spelling + " takes no value");
        }
        apply(*spec, spelling, value, flags, options);
    }

    // -dc, -kfT2, -ofile, -9: switches in a row; a value option takes the
    // rest of the bundle, or the next argument when the bundle ends with it.
    void readShortBundle(const std::string& argument, Flags& flags, ToolOptions& options) {
        for (std::size_t at = 1; at < argument.size(); ++at) {
            const char name = argument[at];
            if (isLevelDigit(name)) continue;
            const std::string spelling = std::string("-") + name;
            const OptionSpec* spec = findShort(name);
            if (spec == nullptr) throw UsageError("unknown option '" + spelling + "'");
            if (!spec->takesValue) {
                apply(*spec, spelling, "", flags, options);
                continue;
            }
            const std::string value = at + 1 < argument.size() ? argument.substr(at + 1) : takeValue(spelling);
            apply(*spec, spelling, value, flags, options);
            return;
        }
    }

    std::string takeValue(const std::string& spelling) {
        if (next_ >= argc_) throw UsageError(spelling + " needs a value");
        return argv_[next_++];
    }

    int argc_;
    const char* const* argv_;
    int next_ = 1;
};

Mode resolveMode(const Flags& flags, bool invokedAsDecompressor) {
    if (flags.list) return Mode::list;
    if (flags.test) return Mode::test;
    if (flags.decompress) return Mode::decompress;
    if (flags.compress) return Mode::compress;
    return invokedAsDecompressor ? Mode::decompress : Mode::compress;
}

void checkCombinations(const ToolOptions& options, const Flags& flags) {
    if (flags.compress && (flags.decompress || flags.test || flags.list)) {
        throw UsageError("-z cannot be combined with -d, -t or -l");
    }
    if (flags.test && flags.list) throw UsageError("-t and -l cannot be combined");
    if (flags.keep && options.removeSource) throw UsageError("-k and --rm cannot be combined");
    if (options.verbose && options.quiet) throw UsageError("-v and -q cannot be combined");
    if (flags.progress && flags.noProgress) throw UsageError("--progress and --no-progress cannot be combined");
    if (options.output) {
        if (options.toStdout) throw UsageError("-o and -c cannot be combined");
        if (options.mode == Mode::test || options.mode == Mode::list) {
            throw UsageError("-o makes no sense with -t or -l: they write no output");
        }
        if (options.files.size() > 1) throw UsageError("-o takes a single input file");
        if (options.recursive) throw UsageError("-o takes a single input file, -r goes through directories");
    }
    const auto stdinCount = std::count(options.files.begin(), options.files.end(), "-");
    if (stdinCount > 1) throw UsageError("standard input ('-') can be named only once");
}

}  // namespace

std::optional<std::uint64_t> parseSize(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])) != 0) ++digits;
    if (digits == 0 || digits > 19) return std::nullopt;
    const std::uint64_t value = std::stoull(text.substr(0, digits));
    std::string unit = text.substr(digits);
    std::transform(unit.begin(), unit.end(), unit.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    unsigned shift = 0;
    if (unit.empty() || unit == "b") {
        shift = 0;
    } else if (unit == "k" || unit == "kib") {
        shift = 10;
    } else if (unit == "m" || unit == "mib") {
        shift = 20;
    } else if (unit == "g" || unit == "gib") {
        shift = 30;
    } else {
        return std::nullopt;
    }
    if (value > (std::numeric_limits<std::uint64_t>::max() >> shift)) return std::nullopt;
    return value << shift;
}

std::string helpText(const std::string& programName) {
    return "Usage: " + programName + " [OPTION]... [FILE]...\n" + R"(Compress each FILE into FILE.tvr with the tavrine block-sorting codec, or with
-d decompress FILE.tvr into FILE. Without FILE, or with -, standard input goes
to standard output. Invoked as untavrine, the program decompresses.

Operation:
  -z, --compress         compress (the default)
  -d, --decompress       decompress (also --uncompress)
  -t, --test             decompress and verify every checksum; write nothing
  -l, --list             list segments, blocks, sizes, ratio and checksum

Files:
  -c, --stdout           write to standard output; keep the input files
  -o, --output=FILE      write to FILE (a single input; - is standard output)
  -k, --keep             keep the input files (the default)
      --rm               remove each input file once its output is complete
  -f, --force            replace existing output files; write compressed data
                         to a terminal
  -r, --recursive        go through directories: compress every file that is
                         not a .tvr file; with -d, -t or -l, every .tvr file

Format:
  -T, --threads=N        worker threads, 0 to 256; 0 = all cores (the default)
      --memory=SIZE      decompressing: what the segments being decoded may
                         hold at once (default 512M); fewer are decoded at
                         once to stay within it, and a file whose segment
                         needs more is refused
      --variant=0|5      5: range-coded blocks (the default); 0: block-sorted
      --segment-size=SIZE
                         input bytes per independent segment, 4K to 64M
                         (default 1M)
      --raw              a bare codec stream, exactly as ZOLT_Encode writes it:
                         no header, no checksums, at most 4 GiB - 1 bytes;
                         named FILE.tvraw, a suffix that implies --raw when
                         decompressing
  -1 ... -9, --fast, --best
                         accepted and ignored, for scripts written for gzip,
                         bzip2 or zstd: tavrine has a single setting

Messages:
  -v, --verbose          print a summary line per file
  -q, --quiet            print errors only; no progress line
      --progress         show the progress line even when standard error is
                         not a terminal
      --no-progress      never show the progress line
  -h, --help             show this help and exit
  -V, --version          show the version and exit

An output appears under its name only once it is complete; an existing file
is replaced only with -f. Devices and pipes named as outputs (-o /dev/null)
are written in place.

Exit status: 0 success; 1 a file failed (the others are still processed) or
changed while it was read; 2 usage error.

Examples:
  tavrine -v big.log             big.log -> big.log.tvr, keeping big.log
  tavrine -d big.log.tvr         big.log.tvr -> big.log
  tavrine -l *.tvr               list segments, blocks, sizes, ratio
  tavrine -r --rm logs/          compress every file below logs/, in place
  tar -I tavrine -cf dir.tar.tvr dir
)";
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
    ToolOptions options;
    Flags flags;
    CommandLine result;
    try {
        ArgumentReader(argc, argv).read(flags, options);
        if (flags.help) {
            out << helpText(name);
            return result;
        }
        if (flags.version) {
            out << versionText();
            return result;
        }
        options.mode = resolveMode(flags, invokedAsDecompressor);
        if (flags.progress) options.progress = true;
        if (flags.noProgress) options.progress = false;
        options.threads = flags.threads == 0 ? availableCores() : flags.threads;
        if (options.segmentSize == 0) options.segmentSize = kDefaultSegmentSize;
        checkCombinations(options, flags);
    } catch (const UsageError& error) {
        err << name << ": " << error.what() << "\nTry '" << name << " --help' for more information.\n";
        result.exitStatus = kExitUsage;
        return result;
    }
    result.options = std::move(options);
    return result;
}

}  // namespace tavrine::tool
