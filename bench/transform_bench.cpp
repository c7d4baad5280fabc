// Block sort and move-to-front on 8192-byte blocks: the worst case of the
// reference sort (all bytes equal), a piece of English text, and random bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "stream/codec_context.h"
#include "transform/block_sort.h"
#include "transform/move_to_front.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kBlock = 8192;
constexpr std::size_t kTextOffset = 16384;  // past the title page, into running text

Bytes equalBytes() { return Bytes(kBlock, 0x20); }

Bytes textPiece() {
    std::ifstream in(std::string(TAVRINE_CORPUS_DIR) + "/canterbury/alice29.txt", std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < kTextOffset + kBlock) return {};
    return Bytes(file.begin() + kTextOffset, file.begin() + kTextOffset + kBlock);
}

Bytes randomBlock() {
    std::mt19937 rng(1);
    Bytes block(kBlock);
    for (auto& b : block) b = static_cast<std::uint8_t>(rng());
    return block;
}

void runForwardSort(benchmark::State& state, const Bytes& block) {
    if (block.size() != kBlock) {
        state.SkipWithError("corpus file missing");
        return;
    }
    tavrine::CodecContext context;
    Bytes record(block.size() + tavrine::kPrimaryIndexBytes);
    for (auto _ : state) {
        context.ForwardBlockSort(record.data(), block.data(), kBlock);
        benchmark::DoNotOptimize(record.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

void BM_ForwardSortEqualBytes(benchmark::State& state) { runForwardSort(state, equalBytes()); }
void BM_ForwardSortText(benchmark::State& state) { runForwardSort(state, textPiece()); }
void BM_ForwardSortRandom(benchmark::State& state) { runForwardSort(state, randomBlock()); }

void BM_InverseSortText(benchmark::State& state) {
    const Bytes block = textPiece();
    if (block.size() != kBlock) {
        state.SkipWithError("corpus file missing");
        return;
    }
    tavrine::CodecContext context;
    Bytes record(block.size() + tavrine::kPrimaryIndexBytes);
    context.ForwardBlockSort(record.data(), block.data(), kBlock);
    Bytes out(kBlock);
    for (auto _ : state) {
        tavrine::InverseBlockSort(out.data(), record.data(), static_cast<std::uint32_t>(record.size()));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

void BM_MoveToFrontEncodeText(benchmark::State& state) {
    const Bytes block = textPiece();
    if (block.size() != kBlock) {
        state.SkipWithError("corpus file missing");
        return;
    }
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

BENCHMARK(BM_ForwardSortEqualBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForwardSortText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForwardSortRandom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InverseSortText)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MoveToFrontEncodeText)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
