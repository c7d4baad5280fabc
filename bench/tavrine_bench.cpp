// tavrine against its peers, in one process: tavrine encode (variants 0 and
// 5) and decode, libbz2 (levels 9 and 1, decompression of its level-9 streams)
// and zstd level 3, on every file of a corpus and on the files named on the
// command line. The corpus is the directory that --corpus or the environment
// variable TAVRINE_CORPUS_DIR names, or else the build's setting of that
// name; without any, the generated standard samples of the test suite.
//
// The clock of a shared machine drifts, so every round times tavrine and each
// peer on the same input one right after the other, and a speed multiple is
// the median over the rounds of the ratio taken within each round; the corpus
// line does the same with the times summed over the corpus files. A
// worst-case section compares the encode speed on highly repetitive inputs
// with the corpus-average encode speed of the same round.
//
// A second table does the same with threads (--threads N, 2 by default): the
// library's streaming coders with N threads on one stream against the same
// with one thread and against zstd level 3 with N workers (ZSTD_c_nbWorkers);
// and, as whole processes on the same files, the tavrine program with -TN
// against itself with -T1 and against lbzip2 -nN (compression and
// decompression), each pair timed in the same round; beside them N copies
// of the program with -T1 run side by side, which shows in the same round
// what the machine's cores give N independent processes.
//
// Usage: tavrine-bench [--rounds N] [--min-ms M] [--threads N] [--tool PATH]
//                      [--corpus DIR | --no-corpus] [FILE...]
#include <bzlib.h>
#include <zstd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "codec_calls.h"
#include "heap_counter.h"
#include "process_timer.h"
#include "support/data_generator.h"
#include "tavrine.h"
#include "tavrine_api.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kType = 2;
constexpr double kMegabyte = 1e6;
constexpr std::size_t kMebibyte = 1u << 20;
constexpr int kBzipBlockSize9 = 9;
constexpr int kBzipBlockSize1 = 1;
constexpr int kZstdLevel = 3;

std::string defaultCorpus() {
    const char* fromEnvironment = std::getenv("TAVRINE_CORPUS_DIR");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
    return TAVRINE_CORPUS_DIR;
}

struct Options {
    int rounds = 7;
    double minSeconds = 0.02;  // per timed sample, reached by repeating the call
    std::string corpus = defaultCorpus();  // empty: the generated samples
    bool useCorpus = true;
    unsigned threads = 2;  // of the second table; 0 or 1: no second table
    std::string tool = TAVRINE_TOOL_PATH;  // the tavrine program; empty: not timed
    std::vector<std::string> files;
};

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "tavrine-bench: %s\n", message.c_str());
    std::exit(1);
}

// ---------------------------------------------------------------- operations

// One timed call: reads `in`, writes into `out` (sized beforehand), returns the
// output length, or fails the whole run.
using Operation = std::function<std::size_t(const Bytes& in, Bytes& out)>;

// The calls of codec_calls.h fail the run through this.
void failCall(const char* message) { fail(message); }

std::size_t zstdCompress(const Bytes& in, Bytes& out) {
    const std::size_t length =
        ZSTD_compress(out.data(), out.size(), in.data(), in.size(), kZstdLevel);
    if (ZSTD_isError(length) != 0) fail("zstd compression failed");
    return length;
}

std::size_t zstdDecompress(const Bytes& in, Bytes& out) {
    const std::size_t length = ZSTD_decompress(out.data(), out.size(), in.data(), in.size());
    if (ZSTD_isError(length) != 0) fail("zstd decompression failed");
    return length;
}

// The measured operations, in the order every round runs them on an input.
enum Op : std::size_t {
    kTavrineEncode5,
    kBzipCompress9,
    kBzipCompress1,
    kZstdCompress,
    kTavrineEncode0,
    kTavrineDecode,
    kBzipDecompress,
    kZstdDecompress,
    kOpCount
};

constexpr const char* kOpNames[kOpCount] = {"tav -5", "bz -9",  "bz -1", "zstd -3",
                                            "tav -0", "tav -d", "bz -d", "zstd -d"};

// tavrine's speed is compared with these peers.
struct Comparison {
    Op tavrine;
    Op peer;
    const char* label;
};
constexpr Comparison kComparisons[] = {
    {kTavrineEncode5, kBzipCompress9, "enc/bz9"},  {kTavrineEncode5, kBzipCompress1, "enc/bz1"},
    {kTavrineEncode5, kZstdCompress, "enc/zstd"},  {kTavrineDecode, kBzipDecompress, "dec/bz"},
    {kTavrineDecode, kZstdDecompress, "dec/zstd"},
};

// ---------------------------------------------------------------- inputs

using PerOp = std::array<std::vector<double>, kOpCount>;

struct Input {
    std::string name;
    Bytes data;
    bool inCorpus = false;
    bool worstCase = false;
    // Streams to decode, made once, and room for every operation's output.
    Bytes tavrineStream, bzipStream, zstdStream;
    Bytes out;
    std::size_t repetitions = 1;  // calls per timed sample
    std::array<std::size_t, kOpCount> peakHeap{};
    PerOp seconds;  // per call, one entry per round
    // The input as a file, and its .tvr and .bz2 forms, for the programs.
    std::string path, tvrPath, bz2Path;
    std::size_t threadRepetitions = 1;
    std::array<std::vector<double>, 13> threadSeconds;  // per ThreadOp
};

Bytes readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Input> corpusInputs(const std::string& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file() || it->path().filename() == "SHA1SUM") continue;
        names.push_back(fs::relative(it->path(), root).generic_string());
    }
    if (error || names.empty()) fail("no corpus files under " + root);
    std::sort(names.begin(), names.end());
    std::vector<Input> inputs;
    for (const std::string& name : names) {
        Input input;
        input.name = name;
        input.path = std::string(root).append("/").append(name);
        input.data = readWhole(input.path);
        input.inCorpus = true;
        input.worstCase = name == "artificial/aaa.txt" || name == "artificial/alphabet.txt";
        inputs.push_back(std::move(input));
    }
    return inputs;
}

std::vector<Input> generatedCorpus() {
    std::vector<Input> inputs;
    for (tavrine::test::Sample& sample : tavrine::test::standardSamples()) {
        Input input;
        input.name = sample.name;
        input.data = std::move(sample.bytes);
        input.inCorpus = true;
        input.worstCase = input.name == "constant-100k" || input.name == "alphabet-100k";
        inputs.push_back(std::move(input));
    }
    return inputs;
}

// 1 MiB of zeros and of random patterns repeated with periods 3, 7 and 4096.
std::vector<Input> generatedWorstCases() {
    std::vector<Input> inputs;
    Input zeros;
    zeros.name = "zeros (1 MiB)";
    zeros.data.assign(kMebibyte, 0);
    zeros.worstCase = true;
    inputs.push_back(std::move(zeros));
    std::mt19937 rng(20240601);
    for (const std::size_t period : {std::size_t{3}, std::size_t{7}, std::size_t{4096}}) {
        Bytes pattern(period);
        for (auto& b : pattern) b = static_cast<std::uint8_t>(rng());
        Input input;
        input.name = "period " + std::to_string(period) + " (1 MiB)";
        input.data.resize(kMebibyte);
        for (std::size_t i = 0; i < kMebibyte; ++i) input.data[i] = pattern[i % period];
        input.worstCase = true;
        inputs.push_back(std::move(input));
    }
    return inputs;
}

// ---------------------------------------------------------------- timing

Operation operation(Op op, const Input& input) {
    switch (op) {
        case kTavrineEncode5:
            return [](const Bytes& in, Bytes& out) {
                return tavrine::bench::tavrineEncode(5, in, out, failCall);
            };
        case kTavrineEncode0:
            return [](const Bytes& in, Bytes& out) {
                return tavrine::bench::tavrineEncode(0, in, out, failCall);
            };
        case kBzipCompress9:
            return [](const Bytes& in, Bytes& out) {
                return tavrine::bench::bzipCompress(kBzipBlockSize9, in, out, failCall);
            };
        case kBzipCompress1:
            return [](const Bytes& in, Bytes& out) {
                return tavrine::bench::bzipCompress(kBzipBlockSize1, in, out, failCall);
            };
        case kZstdCompress:
            return zstdCompress;
        case kTavrineDecode:
            return [&input](const Bytes&, Bytes& out) {
                return tavrine::bench::tavrineDecode(input.tavrineStream, out, failCall);
            };
        case kBzipDecompress:
            return [&input](const Bytes&, Bytes& out) {
                return tavrine::bench::bzipDecompress(input.bzipStream, out, failCall);
            };
        case kZstdDecompress:
            return [&input](const Bytes&, Bytes& out) {
                return zstdDecompress(input.zstdStream, out);
            };
        case kOpCount:
            break;
    }
    fail("unknown operation");
}

double timeCalls(const Operation& call, Input& input, std::size_t repetitions) {
    const auto start = Clock::now();
    for (std::size_t r = 0; r < repetitions; ++r) call(input.data, input.out);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Bytes streamOf(const Operation& call, const Input& input, std::size_t capacity) {
    Bytes out(capacity);
    out.resize(call(input.data, out));
    return out;
}

// Makes the streams to decode, checks every round trip, measures the peak heap
// of each operation, and sets the repetitions so that the slowest operation's
// sample takes at least minSeconds.
void prepare(Input& input, const Options& options) {
    const std::size_t n = input.data.size();
    std::uint32_t bound = 0;
    if (ZOLT_GetMaximumEncodedLength(kType, 5, static_cast<std::uint32_t>(n), &bound) != 1) {
        fail(input.name + ": too large for one call");
    }
    const std::size_t capacity =
        std::max({std::size_t{bound}, n + n / 100 + 600, ZSTD_compressBound(n)}) + 64;
    input.out.assign(capacity, 0);  // touched once, so no timed call takes page faults

    input.tavrineStream = streamOf(operation(kTavrineEncode5, input), input, capacity);
    input.bzipStream = streamOf(operation(kBzipCompress9, input), input, capacity);
    input.zstdStream = streamOf(operation(kZstdCompress, input), input, capacity);
    for (const Op op : {kTavrineDecode, kBzipDecompress, kZstdDecompress}) {
        const std::size_t length = operation(op, input)(input.data, input.out);
        if (length != n || !std::equal(input.data.begin(), input.data.end(), input.out.begin())) {
            fail(input.name + ": " + kOpNames[op] + " did not give the input back");
        }
    }

    double slowest = 0;
    for (std::size_t op = 0; op < kOpCount; ++op) {
        const Operation call = operation(static_cast<Op>(op), input);
        bench::heapPeakReset();
        slowest = std::max(slowest, timeCalls(call, input, 1));
        input.peakHeap[op] = bench::heapPeakSinceReset();
    }
    input.repetitions =
        slowest >= options.minSeconds
            ? 1
            : static_cast<std::size_t>(options.minSeconds / std::max(slowest, 1e-7)) + 1;
}

void runRound(std::vector<Input>& inputs) {
    for (Input& input : inputs) {
        for (std::size_t op = 0; op < kOpCount; ++op) {
            const Operation call = operation(static_cast<Op>(op), input);
            const double elapsed = timeCalls(call, input, input.repetitions);
            input.seconds[op].push_back(elapsed / static_cast<double>(input.repetitions));
        }
    }
}

// ---------------------------------------------------------------- statistics

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Speed of a over speed of b, per round, for the same amount of work.
std::vector<double> speedRatios(const std::vector<double>& secondsA,
                                const std::vector<double>& secondsB) {
    std::vector<double> ratios;
    for (std::size_t r = 0; r < secondsA.size() && r < secondsB.size(); ++r) {
        if (secondsA[r] > 0) ratios.push_back(secondsB[r] / secondsA[r]);
    }
    return ratios;
}

double megabytesPerSecond(std::size_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / kMegabyte / seconds : 0;
}

// The corpus as one input: per round, the times summed over its files.
struct Totals {
    std::size_t bytes = 0;
    std::size_t tavrineBytes = 0, bzipBytes = 0, zstdBytes = 0;
    std::array<std::size_t, kOpCount> peakHeap{};
    PerOp seconds;
};

Totals corpusTotals(const std::vector<Input>& inputs, int rounds) {
    Totals totals;
    for (auto& perOp : totals.seconds) perOp.assign(static_cast<std::size_t>(rounds), 0.0);
    for (const Input& input : inputs) {
        if (!input.inCorpus) continue;
        totals.bytes += input.data.size();
        totals.tavrineBytes += input.tavrineStream.size();
        totals.bzipBytes += input.bzipStream.size();
        totals.zstdBytes += input.zstdStream.size();
        for (std::size_t op = 0; op < kOpCount; ++op) {
            totals.peakHeap[op] = std::max(totals.peakHeap[op], input.peakHeap[op]);
            for (std::size_t r = 0; r < input.seconds[op].size(); ++r) {
                totals.seconds[op][r] += input.seconds[op][r];
            }
        }
    }
    return totals;
}

// ---------------------------------------------------------------- report

double percent(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

void printRow(const std::string& name, std::size_t bytes, std::size_t tavrine, std::size_t bzip,
              std::size_t zstd, const PerOp& seconds) {
    std::printf("| %-22s | %9zu | %6.2f | %6.2f | %6.2f |", name.c_str(), bytes,
                percent(tavrine, bytes), percent(bzip, bytes), percent(zstd, bytes));
    for (std::size_t op = 0; op < kOpCount; ++op) {
        std::printf(" %7.1f |", megabytesPerSecond(bytes, median(seconds[op])));
    }
    for (const Comparison& c : kComparisons) {
        std::printf(" %7.2fx |", median(speedRatios(seconds[c.tavrine], seconds[c.peer])));
    }
    std::printf("\n");
}

void printHeader() {
    std::printf("| %-22s | %9s | %6s | %6s | %6s |", "file", "bytes", "tav %", "bz9 %", "zstd %");
    for (const char* name : kOpNames) std::printf(" %7s |", name);
    for (const Comparison& c : kComparisons) std::printf(" %8s |", c.label);
    std::printf("\n|%s|%s|%s|%s|%s|", "------------------------", "-----------", "--------",
                "--------", "--------");
    for (std::size_t op = 0; op < kOpCount; ++op) std::printf("---------|");
    for (std::size_t c = 0; c < std::size(kComparisons); ++c) std::printf("----------|");
    std::printf("\n");
}

void printTables(const std::vector<Input>& inputs, const Options& options) {
    std::printf(
        "Sizes as %% of the input; speeds in MB/s of uncompressed data (10^6 bytes/s);\n"
        "multiples: tavrine's speed over the peer's, median of %d paired rounds.\n\n",
        options.rounds);
    printHeader();
    for (const Input& input : inputs) {
        printRow(input.name, input.data.size(), input.tavrineStream.size(), input.bzipStream.size(),
                 input.zstdStream.size(), input.seconds);
    }
    const Totals totals = corpusTotals(inputs, options.rounds);
    if (totals.bytes == 0) return;
    printRow("corpus (summed times)", totals.bytes, totals.tavrineBytes, totals.bzipBytes,
             totals.zstdBytes, totals.seconds);

    std::printf("\nMedian over the corpus files of the per-file multiples:");
    for (const Comparison& c : kComparisons) {
        std::vector<double> perFile;
        for (const Input& input : inputs) {
            if (input.inCorpus) {
                perFile.push_back(
                    median(speedRatios(input.seconds[c.tavrine], input.seconds[c.peer])));
            }
        }
        std::printf(" %s %.2fx", c.label, median(perFile));
    }
    std::printf("\n");

    std::printf(
        "\nWorst cases: tavrine -5 encode speed over the corpus-average encode speed of the same "
        "round\n\n");
    std::printf("| %-22s | %9s | %8s | %8s |\n", "input", "MB/s", "vs avg", "tav %");
    std::printf("|------------------------|-----------|----------|----------|\n");
    for (const Input& input : inputs) {
        if (!input.worstCase) continue;
        std::vector<double> ratios;
        const auto& own = input.seconds[kTavrineEncode5];
        for (std::size_t r = 0; r < own.size(); ++r) {
            const double average =
                megabytesPerSecond(totals.bytes, totals.seconds[kTavrineEncode5][r]);
            if (average > 0) {
                ratios.push_back(megabytesPerSecond(input.data.size(), own[r]) / average);
            }
        }
        std::printf("| %-22s | %9.1f | %7.2fx | %8.2f |\n", input.name.c_str(),
                    megabytesPerSecond(input.data.size(), median(own)), median(ratios),
                    percent(input.tavrineStream.size(), input.data.size()));
    }

    std::printf("\nPeak heap per call (largest over the corpus files):");
    if (!bench::heapCounterAvailable()) {
        std::printf(" not counted in this build\n");
        return;
    }
    std::printf("\n\n");
    for (std::size_t op = 0; op < kOpCount; ++op) {
        std::printf("  %-12s %9zu bytes\n", kOpNames[op], totals.peakHeap[op]);
    }
}

// ---------------------------------------------------------------- threads

// The operations of the thread table; the library's run in this process on
// the input in memory, the programs' as processes on the files.
enum ThreadOp : std::size_t {
    kStreamEncodeN,
    kStreamEncode1,
    kZstdCompressN,
    kStreamDecodeN,
    kStreamDecode1,
    kZstdDecompress1,
    kToolCompressN,
    kToolCompress1,
    kToolCompress1SideBySide,  // N copies of tool -T1 at once: the wall time over N
    kLbzipCompressN,
    kToolDecompressN,
    kToolDecompress1,
    kLbzipDecompressN,
    kThreadOpCount
};
static_assert(kThreadOpCount == std::tuple_size_v<decltype(Input::threadSeconds)>);

constexpr const char* kThreadOpNames[kThreadOpCount] = {
    "tav TN", "tav T1", "zstd TN", "tav -d TN", "tav -d T1", "zstd -d",
    "tool TN", "tool T1", "N x T1", "lbz2 TN", "tool -d TN", "tool -d T1", "lbz2 -d TN"};

struct ThreadComparison {
    ThreadOp tavrine;
    ThreadOp peer;
    const char* label;
};
constexpr ThreadComparison kThreadComparisons[] = {
    {kStreamEncodeN, kStreamEncode1, "enc TN/T1"},   {kStreamDecodeN, kStreamDecode1, "dec TN/T1"},
    {kStreamEncodeN, kZstdCompressN, "enc/zstd"},    {kStreamDecodeN, kZstdDecompress1, "dec/zstd"},
    {kToolCompressN, kToolCompress1, "tool TN/T1"},  {kToolDecompressN, kToolDecompress1, "tool -d"},
    {kToolCompressN, kLbzipCompressN, "enc/lbz2"},   {kToolDecompressN, kLbzipDecompressN, "dec/lbz2"},
    {kToolCompress1SideBySide, kToolCompress1, "machine"},
};

// The streaming calls on one stream: input in pieces of a mebibyte, output
// straight into the output buffer.
constexpr std::size_t kStreamPiece = kMebibyte;

std::size_t streamEncode(unsigned threads, const Bytes& in, Bytes& out) {
    tavrine_encoder* encoder = nullptr;
    if (tavrine_encoder_create(5, &encoder) != TAVRINE_OK ||
        tavrine_encoder_set_threads(encoder, threads) != TAVRINE_OK) {
        fail("no streaming encoder");
    }
    tavrine_out_buffer window{out.data(), out.size(), 0};
    for (std::size_t at = 0;;) {
        const std::size_t n = std::min(kStreamPiece, in.size() - at);
        const bool last = at + n == in.size();
        tavrine_in_buffer piece{in.data() + at, n, 0};
        std::size_t remaining = 0;
        do {
            if (tavrine_encode_stream(encoder, &window, &piece, last ? TAVRINE_END : TAVRINE_CONTINUE,
                                      &remaining) != TAVRINE_OK) {
                fail("streaming encoding failed");
            }
        } while (piece.pos < piece.size || (last && remaining != 0));
        at += n;
        if (last) break;
    }
    tavrine_encoder_free(encoder);
    return window.pos;
}

std::size_t streamDecode(unsigned threads, const Bytes& stream, Bytes& out) {
    tavrine_decoder* decoder = nullptr;
    if (tavrine_decoder_create(&decoder) != TAVRINE_OK ||
        tavrine_decoder_set_threads(decoder, threads) != TAVRINE_OK) {
        fail("no streaming decoder");
    }
    tavrine_out_buffer window{out.data(), out.size(), 0};
    for (std::size_t at = 0;;) {
        const std::size_t n = std::min(kStreamPiece, stream.size() - at);
        const bool last = at + n == stream.size();
        tavrine_in_buffer piece{stream.data() + at, n, 0};
        std::size_t remaining = 0;
        do {
            if (tavrine_decode_stream(decoder, &window, &piece, last ? TAVRINE_END : TAVRINE_CONTINUE,
                                      &remaining) != TAVRINE_OK) {
                fail("streaming decoding failed");
            }
        } while (piece.pos < piece.size || remaining != 0);
        at += n;
        if (last) break;
    }
    tavrine_decoder_free(decoder);
    return window.pos;
}

// zstd with its own worker threads, as its program's -T option runs it.
std::size_t zstdCompressOnWorkers(unsigned threads, const Bytes& in, Bytes& out) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    if (context == nullptr ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, kZstdLevel)) != 0 ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_nbWorkers, static_cast<int>(threads))) != 0) {
        fail("zstd cannot use worker threads (a libzstd without multithreading?)");
    }
    const std::size_t length = ZSTD_compress2(context, out.data(), out.size(), in.data(), in.size());
    ZSTD_freeCCtx(context);
    if (ZSTD_isError(length) != 0) fail("zstd compression failed");
    return length;
}

// Runs a program on the input's files; fails the run when it does not succeed.
double runProgram(const std::vector<std::string>& argv, const std::string& name) {
    const double seconds = bench::timeProcess(argv, {});
    if (seconds < 0) fail(name + ": " + argv[0] + " failed");
    return seconds;
}

// A timed operation of the thread table: seconds for `repetitions` calls.
double timeThreadOp(ThreadOp op, unsigned threads, const Options& options, Input& input,
                    std::size_t repetitions) {
    const std::string n = std::to_string(threads);
    const auto repeat = [&](const std::function<void()>& call) {
        const auto start = Clock::now();
        for (std::size_t r = 0; r < repetitions; ++r) call();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    const auto program = [&](std::vector<std::string> argv) {
        double seconds = 0;
        for (std::size_t r = 0; r < repetitions; ++r) seconds += runProgram(argv, input.name);
        return seconds;
    };
    switch (op) {
        case kStreamEncodeN: return repeat([&] { streamEncode(threads, input.data, input.out); });
        case kStreamEncode1: return repeat([&] { streamEncode(1, input.data, input.out); });
        case kZstdCompressN: return repeat([&] { zstdCompressOnWorkers(threads, input.data, input.out); });
        case kStreamDecodeN: return repeat([&] { streamDecode(threads, input.tavrineStream, input.out); });
        case kStreamDecode1: return repeat([&] { streamDecode(1, input.tavrineStream, input.out); });
        case kZstdDecompress1: return repeat([&] { zstdDecompress(input.zstdStream, input.out); });
        case kToolCompressN: return program({options.tool, "-q", "-T" + n, "-c", input.path});
        case kToolCompress1: return program({options.tool, "-q", "-T1", "-c", input.path});
        case kToolCompress1SideBySide: {
            double seconds = 0;
            for (std::size_t r = 0; r < repetitions; ++r) {
                const double wall = bench::timeProcessesSideBySide(
                    {options.tool, "-q", "-T1", "-c", input.path}, {}, threads);
                if (wall < 0) fail(input.name + ": " + options.tool + " failed");
                seconds += wall / threads;
            }
            return seconds;
        }
        case kLbzipCompressN: return program({"lbzip2", "-n" + n, "-c", input.path});
        case kToolDecompressN: return program({options.tool, "-q", "-T" + n, "-dc", input.tvrPath});
        case kToolDecompress1: return program({options.tool, "-q", "-T1", "-dc", input.tvrPath});
        case kLbzipDecompressN: return program({"lbzip2", "-n" + n, "-dc", input.bz2Path});
        case kThreadOpCount: break;
    }
    fail("unknown operation");
}

// Writes what the programs read: the input where it is no file already, its
// .tvr and .bz2 forms; checks the threaded round trips.
void prepareThreads(Input& input, unsigned threads, const Options& options,
                    const std::filesystem::path& scratch, std::size_t index) {
    const std::string stem = (scratch / ("input-" + std::to_string(index))).string();
    if (input.path.empty()) {
        input.path = stem;
        std::ofstream(input.path, std::ios::binary)
            .write(reinterpret_cast<const char*>(input.data.data()), static_cast<std::streamsize>(input.data.size()));
    }
    input.tvrPath = stem + ".tvr";
    input.bz2Path = stem + ".bz2";
    if (bench::timeProcess({options.tool, "-q", "-c", input.path}, {}, input.tvrPath) < 0 ||
        bench::timeProcess({"lbzip2", "-c", input.path}, {}, input.bz2Path) < 0) {
        fail(input.name + ": the programs could not compress it");
    }
    const std::size_t length = streamEncode(threads, input.data, input.out);
    if (length != input.tavrineStream.size() ||
        !std::equal(input.tavrineStream.begin(), input.tavrineStream.end(), input.out.begin())) {
        fail(input.name + ": the stream with threads differs");
    }
    if (streamDecode(threads, input.tavrineStream, input.out) != input.data.size() ||
        !std::equal(input.data.begin(), input.data.end(), input.out.begin())) {
        fail(input.name + ": decoding with threads did not give the input back");
    }
    double slowest = 0;
    for (std::size_t op = 0; op < kThreadOpCount; ++op) {
        slowest = std::max(slowest, timeThreadOp(static_cast<ThreadOp>(op), threads, options, input, 1));
    }
    input.threadRepetitions =
        slowest >= options.minSeconds
            ? 1
            : static_cast<std::size_t>(options.minSeconds / std::max(slowest, 1e-7)) + 1;
}

// The operations that run in this process: the first of the programs' ends them.
bool runsInProcess(ThreadOp op) noexcept { return op < kToolCompressN; }

// Each in-process operation is timed right after an untimed call of itself:
// the one before it may have left the other processors idle (a program that
// ran on one, a one-thread call), and a virtual processor that has been idle
// takes milliseconds to run a thread again, which a pair's first operation
// would pay alone.
void runThreadRound(std::vector<Input>& inputs, unsigned threads, const Options& options) {
    for (Input& input : inputs) {
        for (std::size_t op = 0; op < kThreadOpCount; ++op) {
            if (runsInProcess(static_cast<ThreadOp>(op))) {
                timeThreadOp(static_cast<ThreadOp>(op), threads, options, input, 1);
            }
            const double elapsed =
                timeThreadOp(static_cast<ThreadOp>(op), threads, options, input, input.threadRepetitions);
            input.threadSeconds[op].push_back(elapsed / static_cast<double>(input.threadRepetitions));
        }
    }
}

void printThreadTable(const std::vector<Input>& inputs, unsigned threads, const Options& options) {
    std::printf(
        "\nWith threads: N = %u. tav: the streaming calls on one stream (pieces of 1 MiB), zstd -3\n"
        "with N workers (its decoder has one thread); tool: the tavrine program and lbzip2 -nN\n"
        "as whole processes on the file; N x T1: N copies of tool -T1 side by side, and\n"
        "machine: their speed over one copy's, what the machine gives N independent processes\n"
        "(the most N threads can gain). Speeds in MB/s of uncompressed data; multiples:\n"
        "median of %d paired rounds.\n\n",
        threads, options.rounds);
    std::printf("| %-22s | %9s |", "file", "bytes");
    for (const char* name : kThreadOpNames) std::printf(" %10s |", name);
    for (const ThreadComparison& c : kThreadComparisons) std::printf(" %10s |", c.label);
    std::printf("\n|------------------------|-----------|");
    for (std::size_t op = 0; op < kThreadOpCount + std::size(kThreadComparisons); ++op) {
        std::printf("------------|");
    }
    std::printf("\n");
    std::array<std::vector<double>, kThreadOpCount> summed;
    for (auto& perOp : summed) perOp.assign(static_cast<std::size_t>(options.rounds), 0.0);
    std::size_t corpusBytes = 0;
    const auto printRowOf = [](const std::string& name, std::size_t bytes,
                               const std::array<std::vector<double>, kThreadOpCount>& seconds) {
        std::printf("| %-22s | %9zu |", name.c_str(), bytes);
        for (std::size_t op = 0; op < kThreadOpCount; ++op) {
            std::printf(" %10.1f |", megabytesPerSecond(bytes, median(seconds[op])));
        }
        for (const ThreadComparison& c : kThreadComparisons) {
            std::printf(" %9.2fx |", median(speedRatios(seconds[c.tavrine], seconds[c.peer])));
        }
        std::printf("\n");
    };
    for (const Input& input : inputs) {
        printRowOf(input.name, input.data.size(), input.threadSeconds);
        if (!input.inCorpus) continue;
        corpusBytes += input.data.size();
        for (std::size_t op = 0; op < kThreadOpCount; ++op) {
            for (std::size_t r = 0; r < input.threadSeconds[op].size(); ++r) {
                summed[op][r] += input.threadSeconds[op][r];
            }
        }
    }
    if (corpusBytes == 0) return;
    printRowOf("corpus (summed times)", corpusBytes, summed);

    std::printf("\nWorst cases with N threads: tav TN encode speed over its corpus-average speed of the\n"
                "same round\n\n");
    std::printf("| %-22s | %9s | %8s |\n", "input", "MB/s", "vs avg");
    std::printf("|------------------------|-----------|----------|\n");
    for (const Input& input : inputs) {
        if (!input.worstCase) continue;
        std::vector<double> ratios;
        const auto& own = input.threadSeconds[kStreamEncodeN];
        for (std::size_t r = 0; r < own.size(); ++r) {
            const double average = megabytesPerSecond(corpusBytes, summed[kStreamEncodeN][r]);
            if (average > 0) ratios.push_back(megabytesPerSecond(input.data.size(), own[r]) / average);
        }
        std::printf("| %-22s | %9.1f | %7.2fx |\n", input.name.c_str(),
                    megabytesPerSecond(input.data.size(), median(own)), median(ratios));
    }
}

// The whole thread table: inputs prepared, rounds run, the table printed,
// the scratch files removed.
void measureThreads(std::vector<Input>& inputs, const Options& options) {
    if (options.tool.empty() || !bench::programAvailable(options.tool)) {
        fail("no tavrine program to time (--tool PATH)");
    }
    if (!bench::programAvailable("lbzip2")) fail("lbzip2 is not installed (Debian: lbzip2)");
    std::filesystem::path scratch = std::filesystem::temp_directory_path() / "tavrine-bench-XXXXXX";
    std::string pattern = scratch.string();
    if (mkdtemp(pattern.data()) == nullptr) fail("cannot make a scratch directory");
    scratch = pattern;
    for (std::size_t i = 0; i < inputs.size(); ++i) prepareThreads(inputs[i], options.threads, options, scratch, i);
    runThreadRound(inputs, options.threads, options);  // warm-up, not counted
    for (Input& input : inputs) {
        for (auto& perOp : input.threadSeconds) perOp.clear();
    }
    for (int round = 0; round < options.rounds; ++round) runThreadRound(inputs, options.threads, options);
    std::filesystem::remove_all(scratch);
    printThreadTable(inputs, options.threads, options);
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--rounds" && hasValue) {
            options.rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--min-ms" && hasValue) {
            options.minSeconds = std::max(0.0, std::atof(argv[++i]) / 1000.0);
        } else if (arg == "--corpus" && hasValue) {
            options.corpus = argv[++i];
        } else if (arg == "--no-corpus") {
            options.useCorpus = false;
        } else if (arg == "--threads" && hasValue) {
            options.threads = static_cast<unsigned>(std::max(0, std::atoi(argv[++i])));
        } else if (arg == "--tool" && hasValue) {
            options.tool = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            fail(
                "usage: tavrine-bench [--rounds N] [--min-ms M] [--threads N] [--tool PATH] "
                "[--corpus DIR | --no-corpus] [FILE...]");
        } else {
            options.files.push_back(arg);
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    std::vector<Input> inputs;
    if (options.useCorpus) {
        std::printf("Corpus: %s\n\n", options.corpus.empty()
                                           ? "the generated samples (no TAVRINE_CORPUS_DIR)"
                                           : options.corpus.c_str());
        inputs = options.corpus.empty() ? generatedCorpus() : corpusInputs(options.corpus);
    }
    for (const std::string& path : options.files) {
        Input input;
        input.name = std::filesystem::path(path).filename().string();
        input.path = path;
        input.data = readWhole(path);
        inputs.push_back(std::move(input));
    }
    if (options.useCorpus) {
        for (Input& input : generatedWorstCases()) inputs.push_back(std::move(input));
    }
    inputs.erase(std::remove_if(inputs.begin(), inputs.end(),
                                [](const Input& in) { return in.data.empty(); }),
                 inputs.end());
    if (inputs.empty()) fail("nothing to measure");

    for (Input& input : inputs) prepare(input, options);  // also the warm-up
    runRound(inputs);                                     // a second warm-up, not counted
    for (Input& input : inputs) {
        for (auto& perOp : input.seconds) perOp.clear();
    }
    for (int round = 0; round < options.rounds; ++round) runRound(inputs);
    printTables(inputs, options);
    if (options.threads >= 2) measureThreads(inputs, options);
    return 0;
}
