#include "tool.h"

#include <unistd.h>

#include <chrono>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "byte_io.h"
#include "file_ops.h"
#include "input_probe.h"
#include "progress.h"
#include "raw_stream.h"
#include "system.h"
#include "tvr_file.h"

namespace tavrine::tool {
namespace {

constexpr const char* kStdinName = "stdin";
constexpr const char* kStdoutName = "stdout";
constexpr const char* kSuffix = ".tvr";
constexpr const char* kRawSuffix = ".tvraw";
constexpr double kBytesPerMegabyte = 1e6;
constexpr std::uint64_t kLargestMappedInput = std::uint64_t{16} << 20;

struct Input {
    std::string name;               // for messages
    std::optional<InputFile> file;  // empty for standard input
    int fd = STDIN_FILENO;
    bool raw = false;  // a bare stream: --raw, or implied by the .tvraw suffix

    bool isStdin() const noexcept { return !file.has_value(); }
    const FileInfo* regularInfo() const noexcept {
        return file && file->info.isRegular() ? &file->info : nullptr;
    }
    std::uint64_t knownSize() const noexcept {
        const FileInfo* info = regularInfo();
        return info != nullptr ? info->size : 0;
    }
};

// `foundBelow`: met while going through a directory (-r), where symbolic
// links are not followed.
Input openNamedInput(const std::string& argument, bool foundBelow) {
    Input input;
    if (argument == "-") {
        input.name = kStdinName;
        return input;
    }
    input.name = argument;
    input.file = openInput(argument, !foundBelow);
    input.fd = input.file->fd.get();
    return input;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The ratio column of -l in at most 8 characters, whatever the ratio:
// "36.90%", "7800.00%", "123456%", "1.8e+21%"; "-" when nothing was decoded.
std::string ratioText(std::uint64_t coded, std::uint64_t decoded) {
    if (decoded == 0) return "-";
    constexpr double kTwoDecimalsBelow = 9999.995;
    constexpr double kWholeBelow = 9999999.5;
    const double percent = 100.0 * static_cast<double>(coded) / static_cast<double>(decoded);
    char text[32];
    if (percent < kTwoDecimalsBelow) {
        std::snprintf(text, sizeof text, "%.2f%%", percent);
    } else if (percent < kWholeBelow) {
        std::snprintf(text, sizeof text, "%.0f%%", percent);
    } else {
        std::snprintf(text, sizeof text, "%.1e%%", percent);
    }
    return text;
}

class FileRunner {
public:
    FileRunner(const ToolOptions& options, std::FILE* messages)
        : options_(options), messages_(messages) {}

    // Returns whether the file succeeded.
    bool process(const std::string& argument, bool foundBelow = false) {
        std::string subject = argument == "-" ? kStdinName : argument;
        try {
            Input input = openNamedInput(argument, foundBelow);
            input.raw = readsAsBareStream(input);
            switch (options_.mode) {
                case Mode::compress:
                case Mode::decompress:
                case Mode::test:
                    transfer(input);
                    break;
                case Mode::list:
                    list(input);
                    break;
            }
            return true;
        } catch (const FileError& error) {
            report(error.name(), error.what());
        } catch (const FormatError& error) {
            report(subject, error.what());
        } catch (const CodecError& error) {
            report(subject, error.what());
        } catch (const std::bad_alloc&) {
            report(subject, "not enough memory");
        } catch (const std::exception& error) {
            report(subject, error.what());
        }
        return false;
    }

    // -r: every file below `directory` that the mode works on, in name
    // order; symbolic links are not followed. Returns whether all succeeded.
    bool processTree(const std::string& directory) {
        std::vector<DirectoryEntry> entries;
        try {
            entries = readDirectory(directory);
        } catch (const FileError& error) {
            report(error.name(), error.what());
            return false;
        }
        bool succeeded = true;
        for (const auto& entry : entries) {
            if (entry.kind == DirectoryEntry::Kind::directory) {
                succeeded = processTree(entry.path) && succeeded;
            } else if (entry.kind == DirectoryEntry::Kind::regular && worksOn(entry.path)) {
                succeeded = process(entry.path, true) && succeeded;
            }
        }
        return succeeded;
    }

    void finishListing() const {
        if (listed_ <= 1) return;
        char name[32];
        std::snprintf(name, sizeof name, "(%u files)", listed_);
        printListRow(total_, name, "-", options_.raw);
    }

private:
    void report(const std::string& subject, const std::string& reason) const {
        std::fprintf(messages_, "tavrine: %s: %s\n", subject.c_str(), reason.c_str());
    }

    // What is said even when all went well; -q silences it.
    void note(const std::string& subject, const std::string& text) const {
        if (!options_.quiet) report(subject, text);
    }

    bool showProgress() const {
        if (options_.quiet) return false;
        if (options_.progress) return *options_.progress;
        return isTerminal(STDERR_FILENO);
    }

    // Whether -r takes a file met below a directory: when compressing, those
    // not compressed yet; otherwise the compressed ones.
    bool worksOn(const std::string& path) const {
        const bool compressed = hasSuffix(path, kRawSuffix) || (!options_.raw && hasSuffix(path, kSuffix));
        return options_.mode == Mode::compress ? !hasSuffix(path, kSuffix) && !hasSuffix(path, kRawSuffix)
                                               : compressed;
    }

    // --raw, or reading a .tvraw file that is not a .tvr file in disguise.
    bool readsAsBareStream(const Input& input) const {
        if (options_.raw) return true;
        if (options_.mode == Mode::compress || !hasSuffix(input.name, kRawSuffix)) return false;
        return !(input.file && startsWithTvrMagic(input.fd));
    }

    static const char* suffixOf(const Input& input) noexcept { return input.raw ? kRawSuffix : kSuffix; }

    // The output file's name, or nullopt for standard output.
    std::optional<std::string> outputName(const Input& input) const {
        if (options_.output) {
            if (*options_.output == "-") return std::nullopt;
            return *options_.output;
        }
        if (options_.toStdout || input.isStdin()) return std::nullopt;
        const std::string suffix = suffixOf(input);
        if (options_.mode == Mode::compress) {
            if (hasSuffix(input.name, suffix) && !options_.force) {
                throw FileError(input.name, "already has the " + suffix +
                                                " suffix -- left unchanged (use -f to compress it again)");
            }
            return input.name + suffix;
        }
        auto stripped = stripSuffix(input.name, suffix);
        if (!stripped) {
            std::string reason = "unknown suffix, expected " + suffix + " -- skipped (name the output with -o or use -c)";
            if (looksLikeBareStream(input)) reason += "; it parses as a bare stream: use --raw";
            throw FileError(input.name, reason);
        }
        return stripped;
    }

    // A regular file without the .tvr magic whose block headers tile it.
    static bool looksLikeBareStream(const Input& input) {
        return !input.raw && input.regularInfo() != nullptr && !startsWithTvrMagic(input.fd) &&
               parsesAsBareStream(input.fd, input.knownSize());
    }

    static FormatError tvrReadAsBareStream() {
        return FormatError("a .tvr file, not a bare stream: leave out --raw");
    }

    // The refusals of the .tvr and bare stream readers, with what to do
    // instead when the input is the other kind.
    // `sawTvrMagic`: the input read began with the .tvr magic number.
    static FormatError explained(const FormatError& error, const Input& input, bool sawTvrMagic) {
        if (input.raw && sawTvrMagic) return tvrReadAsBareStream();
        if (!input.raw && !sawTvrMagic && looksLikeBareStream(input)) {
            return FormatError(std::string(error.what()) + ", but it parses as a bare stream: use --raw");
        }
        return error;
    }

    void checkTerminalInput(const Input& input) const {
        if (options_.force) return;
        if (options_.mode != Mode::compress && input.isStdin() && isTerminal(STDIN_FILENO)) {
            throw FileError(kStdinName, "refusing to read compressed data from a terminal (use -f to force)");
        }
    }

    // Standard output, or a terminal named with -o.
    void checkTerminalOutput(int fd, const std::string& name) const {
        if (options_.force || options_.mode != Mode::compress) return;
        if (isTerminal(fd)) {
            throw FileError(name, "refusing to write compressed data to a terminal (use -f to force)");
        }
    }

    TransferStats code(const Input& input, ByteSource& source, ByteSink& sink, ProgressMeter& meter) const {
        const ProgressFunction progress = [&meter](const TransferStats& stats) { meter.show(stats); };
        if (options_.mode == Mode::compress) {
            if (input.raw) {
                return compressRaw(source, sink, options_.variant, progress, input.knownSize(), options_.threads);
            }
            const CompressSettings settings{options_.variant, options_.segmentSize, options_.threads};
            return compressToTvr(source, sink, settings, progress);
        }
        if (input.raw) return decompressRaw(source, sink, progress, options_.threads);
        return decompressTvr(source, sink, DecompressSettings{options_.threads, options_.memoryLimit}, progress);
    }

    void transfer(Input& input) {
        const bool testing = options_.mode == Mode::test;
        if (options_.mode != Mode::compress && input.raw && input.regularInfo() != nullptr &&
            startsWithTvrMagic(input.fd)) {
            throw tvrReadAsBareStream();
        }
        const std::optional<std::string> target = testing ? std::nullopt : outputName(input);
        checkTerminalInput(input);

        std::unique_ptr<OutputFile> file;
        if (target) {
            const OutputRequest request{options_.force, options_.output.has_value(), input.regularInfo()};
            file = std::make_unique<OutputFile>(*target, request);
        }
        const int outputFd = file ? file->fd() : STDOUT_FILENO;
        const std::string outputLabel = target ? *target : kStdoutName;
        if (!testing) checkTerminalOutput(outputFd, outputLabel);
        FdSink fileSink(outputFd, outputLabel);
        DiscardSink discard;
        ByteSink& sink = testing ? static_cast<ByteSink&>(discard) : fileSink;

        FdSource fdSource(input.fd, input.name);
        InputTap source(fdSource);
        const std::optional<MappedInput> mapped = mappedInput(input);
        const auto start = std::chrono::steady_clock::now();
        TransferStats stats;
        try {
            ProgressMeter meter(showProgress(), input.name, input.knownSize(),
                                options_.mode != Mode::compress);
            stats = mapped ? codeMapped(*mapped, sink, meter) : code(input, source, sink, meter);
        } catch (const FormatError& error) {
            throw explained(error, input, mapped ? startsWithTvrMagic(mapped->bytes()) : source.sawTvrMagic());
        }
        if (file) file->commit(input.regularInfo());
        if (options_.verbose) summarize(input, target, stats, secondsSince(start));
        finishInput(input, file.get(), mapped ? mapped->bytes().size() : source.bytesRead());
    }

    // A regular file compressed into a .tvr file, or a .tvr file decompressed
    // or tested, is coded where the system maps it when it is small: no copy,
    // no fresh buffers, and the threads start at once instead of after the
    // first segment has been read. Larger files are read: once the buffers
    // serve segment after segment, reading into memory that is already there
    // costs about what mapping the file page by page does (measured, -T1:
    // mapping 2.8 % faster at 8 MB, even at 20 MB, 2.8 % slower at 200 MB),
    // and the process does not come to map all of a large file.
    std::optional<MappedInput> mappedInput(const Input& input) const {
        if (options_.mode == Mode::list || input.raw || !input.file) return std::nullopt;
        if (input.knownSize() > kLargestMappedInput) return std::nullopt;
        return mapInput(*input.file, input.name);
    }

    TransferStats codeMapped(const MappedInput& mapped, ByteSink& sink, ProgressMeter& meter) const {
        const ProgressFunction progress = [&meter](const TransferStats& stats) { meter.show(stats); };
        if (options_.mode == Mode::compress) {
            const CompressSettings settings{options_.variant, options_.segmentSize, options_.threads};
            return compressToTvr(mapped.bytes(), sink, settings, progress);
        }
        return decompressTvr(mapped.bytes(), sink, DecompressSettings{options_.threads, options_.memoryLimit},
                             progress);
    }

    // After the output is complete: an input that changed while it was read
    // is reported, and --rm removes only the very file that was read.
    void finishInput(const Input& input, const OutputFile* output, std::uint64_t bytesRead) const {
        if (!input.file) return;
        const bool removing = options_.removeSource && output != nullptr && input.regularInfo() != nullptr;
        if (const auto change = changeWhileRead(*input.file, bytesRead)) {
            throw FileError(input.name, *change + (removing ? "; not removed" : ""));
        }
        if (!removing) return;
        if (output->inPlace()) {
            // A device or pipe keeps nothing the tool can vouch for.
            note(input.name, "kept: the output is not a regular file");
            return;
        }
        if (const auto refusal = removeIfUnchanged(input.name, *input.file)) throw FileError(input.name, *refusal);
    }

    void summarize(const Input& input, const std::optional<std::string>& target,
                   const TransferStats& stats, double seconds) const {
        const bool compressing = options_.mode == Mode::compress;
        const std::uint64_t decoded = compressing ? stats.bytesIn : stats.bytesOut;
        const std::uint64_t coded = compressing ? stats.bytesOut : stats.bytesIn;
        const double ratio = decoded > 0 ? 100.0 * static_cast<double>(coded) / static_cast<double>(decoded) : 0.0;
        const double speed = seconds > 0 ? static_cast<double>(decoded) / kBytesPerMegabyte / seconds : 0.0;
        const std::string destination =
            options_.mode == Mode::test ? "OK" : "-> " + (target ? *target : std::string(kStdoutName));
        std::fprintf(messages_, "%s: %llu -> %llu bytes (%.2f%%), %.2f s, %.1f MB/s %s\n",
                     input.name.c_str(), static_cast<unsigned long long>(stats.bytesIn),
                     static_cast<unsigned long long>(stats.bytesOut), ratio, seconds, speed,
                     destination.c_str());
    }

    void list(Input& input) {
        if (input.raw && input.regularInfo() != nullptr && startsWithTvrMagic(input.fd)) throw tvrReadAsBareStream();
        checkTerminalInput(input);
        FdSource fdSource(input.fd, input.name);
        InputTap source(fdSource);
        TvrListing row;
        try {
            if (input.raw) {
                const RawListing raw = listRaw(source);
                row.codedBlocks = raw.codedBlocks;
                row.uncodedBlocks = raw.uncodedBlocks;
                row.compressedSize = raw.compressedSize;
                row.decodedSize = raw.decodedSize;
            } else {
                row = listTvr(source);
            }
        } catch (const FormatError& error) {
            throw explained(error, input, source.sawTvrMagic());
        }
        if (listed_++ == 0) printListHeader();
        printListRow(row, input.name, checksumText(row, input.raw), input.raw);
        total_.members += row.members;
        total_.segments += row.segments;
        total_.codedBlocks += row.codedBlocks;
        total_.uncodedBlocks += row.uncodedBlocks;
        total_.compressedSize += row.compressedSize;
        total_.decodedSize += row.decodedSize;
    }

    // Wide enough for the counts of files of some hundred terabytes; the
    // ratio column fits any ratio (ratioText).
    static void printListHeader() {
        std::printf("%8s %10s %10s %10s %14s %14s %8s  %-16s  %s\n", "segments", "blocks", "coded",
                    "uncoded", "compressed", "uncompressed", "ratio", "checksum", "name");
    }

    static std::string checksumText(const TvrListing& row, bool raw) {
        if (raw) return "-";
        char text[32];
        if (row.members > 1) {
            std::snprintf(text, sizeof text, "(%llu members)", static_cast<unsigned long long>(row.members));
        } else {
            std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(row.checksum));
        }
        return text;
    }

    static void printListRow(const TvrListing& row, const std::string& name, const std::string& checksum,
                             bool raw) {
        const std::string segments = raw ? "-" : std::to_string(row.segments);
        std::printf("%8s %10llu %10llu %10llu %14llu %14llu %8s  %-16s  %s\n", segments.c_str(),
                    static_cast<unsigned long long>(row.codedBlocks) + row.uncodedBlocks,
                    static_cast<unsigned long long>(row.codedBlocks),
                    static_cast<unsigned long long>(row.uncodedBlocks),
                    static_cast<unsigned long long>(row.compressedSize),
                    static_cast<unsigned long long>(row.decodedSize),
                    ratioText(row.compressedSize, row.decodedSize).c_str(), checksum.c_str(), name.c_str());
        std::fflush(stdout);
    }

    const ToolOptions& options_;
    std::FILE* messages_;
    TvrListing total_;
    unsigned listed_ = 0;
};

}  // namespace

int runTool(const ToolOptions& options, std::FILE* messages) {
    FileRunner runner(options, messages);
    const std::vector<std::string> stdinOnly = {"-"};
    const auto& files = options.files.empty() ? stdinOnly : options.files;
    int status = kExitSuccess;
    for (const auto& file : files) {
        const bool tree = options.recursive && file != "-" && isDirectory(file);
        if (!(tree ? runner.processTree(file) : runner.process(file))) status = kExitFileFailed;
    }
    runner.finishListing();
    return status;
}

}  // namespace tavrine::tool
