// Block sort and move-to-front on 8192-byte blocks. The forward sort runs
// in its fast form and in the plain reference form on the same blocks: equal
// bytes (the reference's worst case), English-like text (every full block of
// 150 kB of generated text in turn, so that no branch pattern is learnt), random bytes,
// short and long periods, periods with one changed byte and a Fibonacci word
// (primitive, with common prefixes thousands of bytes long). Short blocks of
// text (16 to 128 bytes, the whole of a small input) take the fast sort and,
// beside it, the general methods alone, which the fast sort passes over for
// blocks of up to 128 bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "stream/codec_context.h"
#include "support/data_generator.h"
#include "support/reference_block_sort.h"
#include "transform/block_sort.h"
#include "transform/move_to_front.h"
#include "transform/rotation_sort.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kBlock = 8192;
constexpr std::size_t kTextLength = 150000;

Bytes equalBytes() { return Bytes(kBlock, 0x20); }

Bytes textPiece() {
    return tavrine::test::generateSample(tavrine::test::SampleKind::text, kBlock);
}

std::vector<Bytes> textPieces() {
    const Bytes file = tavrine::test::generateSample(tavrine::test::SampleKind::text, kTextLength);
    std::vector<Bytes> pieces;
    for (std::size_t at = 0; at + kBlock <= file.size(); at += kBlock) {
        pieces.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at),
                            file.begin() + static_cast<std::ptrdiff_t>(at + kBlock));
    }
    return pieces;
}

Bytes randomBlock() {
    std::mt19937 rng(1);
    Bytes block(kBlock);
    for (auto& b : block) b = static_cast<std::uint8_t>(rng());
    return block;
}

Bytes periodicBlock(std::size_t period) {
    std::mt19937 rng(2);
    Bytes pattern(period);
    for (auto& b : pattern) b = static_cast<std::uint8_t>(rng());
    Bytes block(kBlock);
    for (std::size_t i = 0; i < kBlock; ++i) block[i] = pattern[i % period];
    return block;
}

Bytes nearlyPeriodicBlock(std::size_t period) {
    Bytes block = periodicBlock(period);
    block[kBlock / 2] = static_cast<std::uint8_t>(block[kBlock / 2] ^ 0x80);
    return block;
}

Bytes fibonacciWord() {
    std::string previous = "a";
    std::string word = "ab";
    while (word.size() < kBlock) {
        std::string next = word;
        next += previous;
        previous = std::exchange(word, std::move(next));
    }
    return Bytes(word.begin(), word.begin() + kBlock);
}

enum class Input {
    equalBytes,
    text,
    random,
    period3,
    period7,
    period4096,
    nearlyPeriod3,
    nearlyPeriod26,
    fibonacci
};

// The blocks a benchmark sorts in turn.
std::vector<Bytes> makeInput(Input input) {
    switch (input) {
        case Input::equalBytes: return {equalBytes()};
        case Input::text: return textPieces();
        case Input::random: return {randomBlock()};
        case Input::period3: return {periodicBlock(3)};
        case Input::period7: return {periodicBlock(7)};
        case Input::period4096: return {periodicBlock(4096)};
        case Input::nearlyPeriod3: return {nearlyPeriodicBlock(3)};
        case Input::nearlyPeriod26: return {nearlyPeriodicBlock(26)};
        case Input::fibonacci: return {fibonacciWord()};
    }
    return {};
}

void setThroughput(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

void BM_ForwardSort(benchmark::State& state, Input input) {
    const std::vector<Bytes> blocks = makeInput(input);
    tavrine::CodecContext context;
    Bytes record(kBlock + tavrine::kPrimaryIndexBytes);
    std::size_t next = 0;
    for (auto _ : state) {
        context.ForwardBlockSort(record.data(), blocks[next].data(), kBlock);
        next = next + 1 == blocks.size() ? 0 : next + 1;
        benchmark::DoNotOptimize(record.data());
        benchmark::ClobberMemory();
    }
    setThroughput(state);
}

void BM_ReferenceSort(benchmark::State& state, Input input) {
    const std::vector<Bytes> blocks = makeInput(input);
    std::vector<std::uint32_t> scratch(tavrine::test::kScratchSlots);
    Bytes record(kBlock + tavrine::kPrimaryIndexBytes);
    std::size_t next = 0;
    for (auto _ : state) {
        tavrine::test::forwardBlockSortReference(record.data(), blocks[next].data(), kBlock, scratch.data());
        next = next + 1 == blocks.size() ? 0 : next + 1;
        benchmark::DoNotOptimize(record.data());
        benchmark::ClobberMemory();
    }
    setThroughput(state);
}

// Blocks of one length doubled as the rotation sorts read them, and one
// workspace for them, for the benchmarks of a method of the sort alone.
class RotationSortBench {
public:
    RotationSortBench(const std::vector<Bytes>& blocks, std::uint32_t length)
        : rows_(length + 1),
          seeds_(tavrine::rotationSortSeedSlots(length)),
          work_(tavrine::rotationSortWorkWords(length)),
          spare_(tavrine::rotationSortSpareStarts(length)),
          workBytes_(tavrine::rotationSortWorkBytes(length)),
          lastColumn_(length) {
        for (const Bytes& block : blocks) {
            Bytes twice(2 * length + tavrine::kDoubledPadding);
            for (std::size_t i = 0; i < twice.size(); ++i) twice[i] = block[i % length];
            doubled_.push_back(std::move(twice));
        }
    }

    // The workspace of the next block in turn.
    tavrine::RotationWorkspace next() {
        const tavrine::RotationWorkspace ws{doubled_[next_].data(), rows_.data(),  seeds_.data(),
                                            work_.data(),           spare_.data(), workBytes_.data(),
                                            lastColumn_.data()};
        next_ = next_ + 1 == doubled_.size() ? 0 : next_ + 1;
        return ws;
    }

private:
    std::vector<Bytes> doubled_;
    std::vector<tavrine::RotationStart> rows_;
    std::vector<tavrine::RotationStart> seeds_;
    std::vector<std::uint32_t> work_;
    std::vector<tavrine::RotationStart> spare_;
    Bytes workBytes_;
    Bytes lastColumn_;
    std::size_t next_ = 0;
};

// The induced sort alone, as the fast sort runs it on blocks that exceed
// the comparison budget.
void BM_InducedMethod(benchmark::State& state, Input input) {
    RotationSortBench bench(makeInput(input), kBlock);
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavrine::sortPrimitiveRotationsByInduction(bench.next(), kBlock));
        benchmark::ClobberMemory();
    }
    setThroughput(state);
}

// Blocks of `length` bytes of generated text, each a whole short input.
std::vector<Bytes> shortTextBlocks(std::uint32_t length) {
    const Bytes file = tavrine::test::generateSample(tavrine::test::SampleKind::text, kTextLength);
    std::vector<Bytes> blocks;
    for (std::size_t at = 0; at + length <= file.size() && blocks.size() < 256; at += 577) {
        blocks.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at),
                            file.begin() + static_cast<std::ptrdiff_t>(at + length));
    }
    return blocks;
}

// The fast sort of a short block, whatever method it takes.
void BM_ShortBlockSort(benchmark::State& state) {
    const auto length = static_cast<std::uint32_t>(state.range(0));
    const std::vector<Bytes> blocks = shortTextBlocks(length);
    tavrine::CodecContext context;
    Bytes record(length + tavrine::kPrimaryIndexBytes);
    std::size_t next = 0;
    for (auto _ : state) {
        context.ForwardBlockSort(record.data(), blocks[next].data(), length);
        next = next + 1 == blocks.size() ? 0 : next + 1;
        benchmark::DoNotOptimize(record.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * length);
}

// The general methods alone on the same blocks: comparison, or induction
// where comparison gives up.
void BM_ShortBlockGeneralMethods(benchmark::State& state) {
    const auto length = static_cast<std::uint32_t>(state.range(0));
    RotationSortBench bench(shortTextBlocks(length), length);
    for (auto _ : state) {
        const tavrine::RotationWorkspace ws = bench.next();
        std::uint32_t primaryIndex = tavrine::sortPrimitiveRotationsByComparison(ws, length);
        if (primaryIndex == tavrine::kSortAbandoned) {
            primaryIndex = tavrine::sortPrimitiveRotationsByInduction(ws, length);
        }
        benchmark::DoNotOptimize(primaryIndex);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * length);
}

void BM_InverseSortText(benchmark::State& state) {
    const Bytes block = textPiece();
    tavrine::CodecContext context;
    Bytes record(block.size() + tavrine::kPrimaryIndexBytes);
    context.ForwardBlockSort(record.data(), block.data(), kBlock);
    Bytes out(kBlock);
    std::vector<std::uint16_t> table(tavrine::inverseSortTableEntries(kBlock));
    for (auto _ : state) {
        tavrine::InverseBlockSort(out.data(), record.data(), static_cast<std::uint32_t>(record.size()),
                                  table.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

void BM_MoveToFrontEncodeText(benchmark::State& state) {
    const Bytes block = textPiece();
    tavrine::CodecContext context;
    Bytes record(block.size() + tavrine::kPrimaryIndexBytes);
    context.ForwardBlockSort(record.data(), block.data(), kBlock);
    Bytes out(record.size());
    tavrine::MoveToFrontTable table;
    for (auto _ : state) {
        table.MoveToFrontEncode(out.data(), record.data(), static_cast<std::int32_t>(record.size()));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

}  // namespace

#define TAVRINE_SORT_BENCHMARKS(function, unit)                                            \
    BENCHMARK_CAPTURE(function, equal_bytes, Input::equalBytes)->Unit(unit);               \
    BENCHMARK_CAPTURE(function, text, Input::text)->Unit(unit);                            \
    BENCHMARK_CAPTURE(function, random, Input::random)->Unit(unit);                        \
    BENCHMARK_CAPTURE(function, period_3, Input::period3)->Unit(unit);                     \
    BENCHMARK_CAPTURE(function, period_7, Input::period7)->Unit(unit);                     \
    BENCHMARK_CAPTURE(function, period_4096, Input::period4096)->Unit(unit);               \
    BENCHMARK_CAPTURE(function, nearly_period_3, Input::nearlyPeriod3)->Unit(unit);        \
    BENCHMARK_CAPTURE(function, nearly_period_26, Input::nearlyPeriod26)->Unit(unit);         \
    BENCHMARK_CAPTURE(function, fibonacci, Input::fibonacci)->Unit(unit)

TAVRINE_SORT_BENCHMARKS(BM_ForwardSort, benchmark::kMicrosecond);
TAVRINE_SORT_BENCHMARKS(BM_ReferenceSort, benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_InducedMethod, text, Input::text)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_InducedMethod, random, Input::random)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_InducedMethod, nearly_period_3, Input::nearlyPeriod3)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_InducedMethod, fibonacci, Input::fibonacci)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShortBlockSort)->Arg(16)->Arg(32)->Arg(64)->Arg(96)->Arg(128);
BENCHMARK(BM_ShortBlockGeneralMethods)->Arg(16)->Arg(32)->Arg(64)->Arg(96)->Arg(128);
BENCHMARK(BM_InverseSortText)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MoveToFrontEncodeText)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
