#include "tool.h"

#include <unistd.h>

#include <chrono>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "byte_io.h"
#include "file_ops.h"
#include "progress.h"
#include "raw_stream.h"
#include "tvr_file.h"

namespace tavrine::tool {
namespace {

constexpr const char* kStdinName = "stdin";
constexpr const char* kStdoutName = "stdout";
constexpr const char* kSuffix = ".tvr";
constexpr const char* kRawSuffix = ".tvraw";
constexpr double kBytesPerMegabyte = 1e6;

struct Input {
    std::string name;               // for messages
    std::optional<InputFile> file;  // empty for standard input
    int fd = STDIN_FILENO;

    bool isStdin() const noexcept { return !file.has_value(); }
    const struct stat* regularInfo() const noexcept {
        return file && S_ISREG(file->info.st_mode) ? &file->info : nullptr;
    }
    std::uint64_t knownSize() const noexcept {
        const struct stat* info = regularInfo();
        return info != nullptr ? static_cast<std::uint64_t>(info->st_size) : 0;
    }
};

Input openNamedInput(const std::string& argument) {
    Input input;
    if (argument == "-") {
        input.name = kStdinName;
        return input;
    }
    input.name = argument;
    input.file = openInput(argument);
    input.fd = input.file->fd.get();
    return input;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class FileRunner {
public:
    FileRunner(const ToolOptions& options, std::FILE* messages)
        : options_(options), messages_(messages) {}

    // Returns whether the file succeeded.
    bool process(const std::string& argument) {
        std::string subject = argument == "-" ? kStdinName : argument;
        try {
            Input input = openNamedInput(argument);
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

    void finishListing() const {
        if (listed_ <= 1) return;
        char name[32];
        std::snprintf(name, sizeof name, "(%u files)", listed_);
        printListRow(total_, name);
    }

private:
    void report(const std::string& subject, const std::string& reason) const {
        std::fprintf(messages_, "tavrine: %s: %s\n", subject.c_str(), reason.c_str());
    }

    bool showProgress() const {
        if (options_.quiet) return false;
        if (options_.progress) return *options_.progress;
        return ::isatty(STDERR_FILENO) != 0;
    }

    const char* suffix() const noexcept { return options_.raw ? kRawSuffix : kSuffix; }

    // The output file's name, or nullopt for standard output.
    std::optional<std::string> outputName(const Input& input) const {
        if (options_.output) {
            if (*options_.output == "-") return std::nullopt;
            return *options_.output;
        }
        if (options_.toStdout || input.isStdin()) return std::nullopt;
        if (options_.mode == Mode::compress) {
            if (hasSuffix(input.name, suffix()) && !options_.force) {
                throw FileError(input.name, std::string("already has the ") + suffix() +
                                                " suffix \u2014 left unchanged (use -f to compress it again)");
            }
            return input.name + suffix();
        }
        auto stripped = stripSuffix(input.name, suffix());
        if (!stripped) {
            throw FileError(input.name, std::string("unknown suffix, expected ") + suffix() +
                                            " \u2014 skipped (name the output with -o or use -c)");
        }
        return stripped;
    }

    void checkTerminals(const Input& input, bool toStdout) const {
        if (options_.force) return;
        if (options_.mode == Mode::compress && toStdout && ::isatty(STDOUT_FILENO) != 0) {
            throw FileError(kStdoutName, "refusing to write compressed data to a terminal (use -f to force)");
        }
        if (options_.mode != Mode::compress && input.isStdin() && ::isatty(STDIN_FILENO) != 0) {
            throw FileError(kStdinName, "refusing to read compressed data from a terminal (use -f to force)");
        }
    }

    TransferStats code(const Input& input, ByteSource& source, ByteSink& sink,
                       ProgressMeter& meter) const {
        const ProgressFunction progress = [&meter](const TransferStats& stats) { meter.show(stats); };
        if (options_.mode == Mode::compress) {
            if (options_.raw) {
                return compressRaw(source, sink, options_.variant, progress, input.knownSize());
            }
            const CompressSettings settings{options_.variant, options_.segmentSize, options_.threads};
            return compressToTvr(source, sink, settings, progress);
        }
        if (options_.raw) return decompressRaw(source, sink, progress);
        return decompressTvr(source, sink, DecompressSettings{options_.threads}, progress);
    }

    void transfer(Input& input) {
        const bool testing = options_.mode == Mode::test;
        const std::optional<std::string> target = testing ? std::nullopt : outputName(input);
        checkTerminals(input, !testing && !target);

        std::unique_ptr<OutputFile> file;
        if (target) {
            if (input.file && isSameFile(*target, input.file->info)) {
                throw FileError(*target, "is the input file itself");
            }
            if (!options_.force && pathExists(*target)) {
                throw FileError(*target, "already exists; use -f to overwrite");
            }
            file = std::make_unique<OutputFile>(*target);
        }
        FdSink fileSink(file ? file->fd() : STDOUT_FILENO, target ? *target : kStdoutName);
        DiscardSink discard;
        ByteSink& sink = testing ? static_cast<ByteSink&>(discard) : fileSink;

        FdSource source(input.fd, input.name);
        const auto start = std::chrono::steady_clock::now();
        TransferStats stats;
        {
            ProgressMeter meter(showProgress(), input.name, input.knownSize(),
                                options_.mode != Mode::compress);
            stats = code(input, source, sink, meter);
        }
        if (file) file->commit(options_.force, input.regularInfo());
        if (options_.removeSource && file && input.regularInfo() != nullptr) removeFile(input.name);
        if (options_.verbose) summarize(input, target, stats, secondsSince(start));
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
        checkTerminals(input, false);
        FdSource source(input.fd, input.name);
        TvrListing row;
        if (options_.raw) {
            const RawListing raw = listRaw(source);
            row.codedBlocks = raw.codedBlocks;
            row.uncodedBlocks = raw.uncodedBlocks;
            row.compressedSize = raw.compressedSize;
            row.decodedSize = raw.decodedSize;
        } else {
            row = listTvr(source);
        }
        if (listed_++ == 0) printListHeader();
        printListRow(row, input.name, checksumText(row));
        total_.members += row.members;
        total_.segments += row.segments;
        total_.codedBlocks += row.codedBlocks;
        total_.uncodedBlocks += row.uncodedBlocks;
        total_.compressedSize += row.compressedSize;
        total_.decodedSize += row.decodedSize;
    }

    void printListHeader() const {
        std::printf("%8s %8s %8s %8s %14s %14s %7s  %-16s  %s\n", "segments", "blocks", "coded",
                    "uncoded", "compressed", "uncompressed", "ratio", "checksum", "name");
    }

    std::string checksumText(const TvrListing& row) const {
        if (options_.raw) return "-";
        char text[32];
        if (row.members > 1) {
            std::snprintf(text, sizeof text, "(%llu members)", static_cast<unsigned long long>(row.members));
        } else {
            std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(row.checksum));
        }
        return text;
    }

    void printListRow(const TvrListing& row, const std::string& name,
                      const std::string& checksum = "-") const {
        const double ratio = row.decodedSize > 0
                                 ? 100.0 * static_cast<double>(row.compressedSize) /
                                       static_cast<double>(row.decodedSize)
                                 : 0.0;
        const std::string segments = options_.raw ? "-" : std::to_string(row.segments);
        std::printf("%8s %8llu %8llu %8llu %14llu %14llu %6.2f%%  %-16s  %s\n", segments.c_str(),
                    static_cast<unsigned long long>(row.codedBlocks) + row.uncodedBlocks,
                    static_cast<unsigned long long>(row.codedBlocks),
                    static_cast<unsigned long long>(row.uncodedBlocks),
                    static_cast<unsigned long long>(row.compressedSize),
                    static_cast<unsigned long long>(row.decodedSize), ratio, checksum.c_str(),
                    name.c_str());
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
        if (!runner.process(file)) status = kExitFileFailed;
    }
    runner.finishListing();
    return status;
}

}  // namespace tavrine::tool
