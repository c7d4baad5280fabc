// The streaming encoder and decoder against the one-shot calls (ZOLT_Encode,
// ZOLT_Decode) on inputs of 4 MB: generated text, generated incompressible
// bytes, and the files named on the command line. The streaming calls take
// their input and give their output in pieces of 4 KiB, 64 KiB and 1 MiB,
// as a program reading a pipe or a socket would. The peak heap of every call
// is counted as well (the caller's buffers aside): the streaming calls' does
// not grow with the input.
//
// A shared machine's clock drifts and other work comes and goes, so every
// round times the one-shot call and each streaming form on the same input
// one right after the other, in alternating order. Two ratios come out: the
// median over the rounds of the ratio taken within each round, which decides
// whether the streaming calls stay within 3 % of the one-shot ones (exit
// status 1 otherwise), and the ratio of the fastest runs, which other work on
// the machine can only slow down.
//
// Usage: stream_bench [--rounds N] [FILE...]
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "heap_counter.h"
#include "tavrine_api.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kInputSize = 4000000;
constexpr double kMegabyte = 1e6;
constexpr double kAllowedSlowdown = 0.03;
constexpr std::array<std::size_t, 3> kPieces = {4u << 10, 64u << 10, 1u << 20};

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "stream_bench: %s\n", message.c_str());
    std::exit(2);
}

// Words of a small vocabulary drawn with Zipf-like frequencies, in lines:
// compresses about as text does.
Bytes generatedText(std::mt19937& rng) {
    std::vector<std::string> words;
    std::uniform_int_distribution<int> letter('a', 'z');
    std::uniform_int_distribution<int> wordLength(1, 9);
    for (int i = 0; i < 4000; ++i) {
        std::string word;
        for (int n = wordLength(rng); n > 0; --n) word += static_cast<char>(letter(rng));
        words.push_back(word);
    }
    std::vector<double> weights;
    for (std::size_t rank = 1; rank <= words.size(); ++rank) weights.push_back(1.0 / static_cast<double>(rank));
    std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
    Bytes text;
    while (text.size() < kInputSize) {
        const std::string& word = words[pick(rng)];
        text.insert(text.end(), word.begin(), word.end());
        text.push_back(rng() % 12 == 0 ? '\n' : ' ');
    }
    text.resize(kInputSize);
    return text;
}

Bytes generatedNoise(std::mt19937& rng) {
    Bytes noise(kInputSize);
    for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
    return noise;
}

Bytes readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > kInputSize) bytes.resize(kInputSize);
    return bytes;
}

struct Input {
    std::string name;
    Bytes data;
    Bytes stream;  // ZOLT_Encode's
    Bytes out;     // room for any output, touched once so that no timed call takes page faults
};

// ---------------------------------------------------------------- the calls

std::size_t oneShotEncode(Input& input) {
    auto length = static_cast<std::uint32_t>(input.out.size());
    if (ZOLT_Encode(TAVRINE_STREAM_TYPE, TAVRINE_VARIANT_RANGE_CODED, input.data.data(),
                    static_cast<std::uint32_t>(input.data.size()), input.out.data(), &length, nullptr,
                    nullptr) != 1) {
        fail("ZOLT_Encode failed");
    }
    return length;
}

std::size_t oneShotDecode(Input& input) {
    auto length = static_cast<std::uint32_t>(input.out.size());
    if (ZOLT_Decode(TAVRINE_STREAM_TYPE, input.stream.data(), static_cast<std::uint32_t>(input.stream.size()),
                    input.out.data(), &length, nullptr, nullptr) != 1) {
        fail("ZOLT_Decode failed");
    }
    return length;
}

// Input in pieces of `piece` bytes, output into windows of `piece` bytes
// taken one after the other from the output buffer.
std::size_t streamingEncode(Input& input, std::size_t piece) {
    tavrine_encoder* encoder = nullptr;
    if (tavrine_encoder_create(TAVRINE_VARIANT_RANGE_CODED, &encoder) != TAVRINE_OK) fail("no encoder");
    std::size_t produced = 0;
    for (std::size_t at = 0;;) {
        const std::size_t n = std::min(piece, input.data.size() - at);
        const bool last = at + n == input.data.size();
        tavrine_in_buffer in{input.data.data() + at, n, 0};
        std::size_t remaining = 0;
        do {
            tavrine_out_buffer out{input.out.data() + produced, std::min(piece, input.out.size() - produced), 0};
            if (tavrine_encode_stream(encoder, &out, &in, last ? TAVRINE_END : TAVRINE_CONTINUE, &remaining) !=
                TAVRINE_OK) {
                fail("streaming encoding failed");
            }
            produced += out.pos;
        } while (in.pos < in.size || (last && remaining != 0));
        at += n;
        if (last) break;
    }
    tavrine_encoder_free(encoder);
    return produced;
}

std::size_t streamingDecode(Input& input, std::size_t piece) {
    tavrine_decoder* decoder = nullptr;
    if (tavrine_decoder_create(&decoder) != TAVRINE_OK) fail("no decoder");
    std::size_t produced = 0;
    for (std::size_t at = 0;;) {
        const std::size_t n = std::min(piece, input.stream.size() - at);
        const bool last = at + n == input.stream.size();
        tavrine_in_buffer in{input.stream.data() + at, n, 0};
        std::size_t remaining = 0;
        do {
            tavrine_out_buffer out{input.out.data() + produced, std::min(piece, input.out.size() - produced), 0};
            if (tavrine_decode_stream(decoder, &out, &in, last ? TAVRINE_END : TAVRINE_CONTINUE, &remaining) !=
                TAVRINE_OK) {
                fail("streaming decoding failed");
            }
            produced += out.pos;
        } while (in.pos < in.size || remaining != 0);
        at += n;
        if (last) break;
    }
    tavrine_decoder_free(decoder);
    return produced;
}

// ---------------------------------------------------------------- timing

using Call = std::function<std::size_t(Input&)>;

double secondsOf(const Call& call, Input& input) {
    const auto start = Clock::now();
    call(input);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

struct Comparison {
    std::vector<double> oneShot;    // seconds per round
    std::vector<double> streaming;  // seconds per round
};

// Times both calls once per round, in alternating order; returns whether the
// streaming call kept within the allowed slowdown, by the median paired ratio.
bool compare(const char* what, const Call& oneShot, const Call& streaming, Input& input,
             std::size_t piece, int rounds) {
    Comparison times;
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        double a = 0;
        double b = 0;
        if (round % 2 == 0) {
            a = secondsOf(oneShot, input);
            b = secondsOf(streaming, input);
        } else {
            b = secondsOf(streaming, input);
            a = secondsOf(oneShot, input);
        }
        times.oneShot.push_back(a);
        times.streaming.push_back(b);
        ratios.push_back(a / b);  // streaming speed over one-shot speed
    }
    const double bytes = static_cast<double>(input.data.size());
    const double fastestOneShot = *std::min_element(times.oneShot.begin(), times.oneShot.end());
    const double fastestStreaming = *std::min_element(times.streaming.begin(), times.streaming.end());
    const double fastestRatio = fastestOneShot / fastestStreaming;
    const bool within = median(ratios) >= 1.0 - kAllowedSlowdown;
    std::printf("| %-22s | %-6s | %7zu KiB | %8.1f | %8.1f | %6.3f | %6.3f | %s |\n", input.name.c_str(),
                what, piece >> 10, bytes / kMegabyte / fastestOneShot, bytes / kMegabyte / fastestStreaming,
                median(ratios), fastestRatio, within ? "yes" : "NO");
    return within;
}

// Peak heap of each call on this input, in bytes.
void reportHeap(Input& input) {
    if (!bench::heapCounterAvailable()) return;
    const auto peak = [&input](const Call& call) {
        bench::heapPeakReset();
        call(input);
        return bench::heapPeakSinceReset();
    };
    std::printf("| %-22s | peak heap | one-shot encode %zu, decode %zu; streaming encode %zu, decode %zu |\n",
                input.name.c_str(), peak(oneShotEncode), peak(oneShotDecode),
                peak([](Input& in) { return streamingEncode(in, kPieces.front()); }),
                peak([](Input& in) { return streamingDecode(in, kPieces.front()); }));
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 21;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (!arg.empty() && arg[0] == '-') {
            fail("usage: stream_bench [--rounds N] [FILE...]");
        } else {
            files.push_back(arg);
        }
    }

    std::mt19937 rng(4000000);
    std::vector<Input> inputs;
    inputs.push_back({"generated text (4 MB)", generatedText(rng), {}, {}});
    inputs.push_back({"random bytes (4 MB)", generatedNoise(rng), {}, {}});
    for (const std::string& file : files) {
        inputs.push_back({file.substr(file.find_last_of('/') + 1), readWhole(file), {}, {}});
    }

    std::printf("Speeds in MB/s of uncompressed data, fastest of %d rounds; ratios: streaming speed\n"
                "over one-shot speed, the median of the paired rounds and that of the fastest runs;\n"
                "within: the median ratio no more than %.0f %% below 1.\n\n",
                rounds, kAllowedSlowdown * 100);
    std::printf("| %-22s | %-6s | %11s | %8s | %8s | %6s | %6s | %s |\n", "input", "call", "pieces",
                "one-shot", "stream", "median", "best", "within");
    std::printf("|------------------------|--------|-------------|----------|----------|--------|--------|--------|\n");
    bool allWithin = true;
    for (Input& input : inputs) {
        input.out.assign(static_cast<std::size_t>(tavrine_encode_bound(input.data.size())), 0);
        input.stream.assign(input.out.begin(), input.out.begin() + static_cast<std::ptrdiff_t>(oneShotEncode(input)));
        for (const std::size_t piece : kPieces) {
            // Both forms give the same bytes before either is timed.
            if (streamingEncode(input, piece) != input.stream.size() ||
                !std::equal(input.stream.begin(), input.stream.end(), input.out.begin())) {
                fail(input.name + ": the streaming encoder's stream differs");
            }
            if (streamingDecode(input, piece) != input.data.size() ||
                !std::equal(input.data.begin(), input.data.end(), input.out.begin())) {
                fail(input.name + ": the streaming decoder's bytes differ");
            }
            if (piece == kPieces.front()) reportHeap(input);
            allWithin &= compare("encode", oneShotEncode,
                                 [piece](Input& in) { return streamingEncode(in, piece); }, input, piece, rounds);
            allWithin &= compare("decode", oneShotDecode,
                                 [piece](Input& in) { return streamingDecode(in, piece); }, input, piece, rounds);
        }
    }
    return allWithin ? 0 : 1;
}
