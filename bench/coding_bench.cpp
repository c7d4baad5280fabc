// The decoder's and encoder's stages after the block sort, on the sorted
// records of three generated inputs: 1 MiB of English-like text, 1 MiB of
// spreadsheet-like records with long runs and 1 MiB of a random 4096-byte
// pattern repeated, whose records move-to-front spreads over all positions.
// Move-to-front and range coding fused and apart, and the inverse block sort.
// Each iteration codes all records of an input with a fresh table and model,
// as one call would. Last, whole ZOLT_Encode and ZOLT_Decode calls on small
// inputs (16 bytes to a block), whose fixed costs per call the stages above
// do not show.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "entropy/range_coder.h"
#include "stream/codec_context.h"
#include "stream/record_coding.h"
#include "support/block_coder.h"
#include "support/data_generator.h"
#include "support/reference_block_sort.h"
#include "tavrine.h"
#include "transform/block_sort.h"
#include "transform/move_to_front.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kBlock = 8192;
constexpr std::size_t kSample = 1u << 20;
constexpr std::size_t kPatternPeriod = 4096;

struct Records {
    std::vector<Bytes> sorted;     // block records as the forward sort writes them
    std::vector<Bytes> positions;  // after move-to-front, the table running on
    std::vector<Bytes> payloads;   // range coded, the model running on
    std::size_t bytes = 0;
};

Bytes sample(tavrine::test::SampleKind kind) {
    return tavrine::test::generateSample(kind, kSample, 1, kPatternPeriod);
}

// Records as a call makes them; payloads that would be stored uncoded are
// kept all the same, for the coder benchmarks.
Records makeRecords(const Bytes& text) {
    Records records;
    tavrine::CodecContext context;
    tavrine::MoveToFrontTable table;
    tavrine::test::BlockCoder coder;
    for (std::size_t at = 0; at < text.size(); at += kBlock) {
        const auto len =
            static_cast<std::uint32_t>(std::min<std::size_t>(kBlock, text.size() - at));
        Bytes record(len + tavrine::kPrimaryIndexBytes);
        context.ForwardBlockSort(record.data(), text.data() + at, len);
        records.sorted.push_back(record);
        Bytes payload(2 * record.size() + 16);
        const std::uint32_t length = tavrine::encodeRecord(
            table, coder, record.data(), static_cast<std::uint32_t>(record.size()), payload.data(),
            static_cast<std::uint32_t>(payload.size()));
        payload.resize(length);
        records.positions.push_back(record);
        records.payloads.push_back(payload);
        records.bytes += len;
    }
    return records;
}

enum Input : int { kText, kSpreadsheet, kPattern, kInputCount };
constexpr std::array<const char*, kInputCount> kInputNames = {"text", "records", "period4096"};

const Records& records(std::int64_t input) {
    static const std::array<Records, kInputCount> kRecords = {
        makeRecords(sample(tavrine::test::SampleKind::text)),
        makeRecords(sample(tavrine::test::SampleKind::records)),
        makeRecords(sample(tavrine::test::SampleKind::periodic)),
    };
    return kRecords[static_cast<std::size_t>(input)];
}

void finish(benchmark::State& state) {
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * records(state.range(0)).bytes));
    state.SetLabel(kInputNames[static_cast<std::size_t>(state.range(0))]);
}

// As the encode loop runs it when the output has room for the record: the
// payload counts only when shorter, and the model starts over when it is not.
void BM_EncodeFused(benchmark::State& state) {
    const Records& all = records(state.range(0));  // built before the clock runs
    Bytes work(kBlock + tavrine::kPrimaryIndexBytes);
    Bytes out(work.size());
    for (auto _ : state) {
        tavrine::MoveToFrontTable table;
        tavrine::test::BlockCoder coder;
        tavrine::EncodingCursorHint hint;
        for (const Bytes& record : all.sorted) {
            std::copy(record.begin(), record.end(), work.begin());
            const auto n = static_cast<std::uint32_t>(record.size());
            if (tavrine::encodeRecordIfShorter(table, coder, work.data(), n, out.data(), hint) >=
                n) {
                coder.initModel();
            }
        }
    }
    finish(state);
}

// The same with the payload cut at a capacity instead, as when the record
// would not fit: every record is coded to its end.
void BM_EncodeFusedCapped(benchmark::State& state) {
    const Records& all = records(state.range(0));  // built before the clock runs
    Bytes work(kBlock + tavrine::kPrimaryIndexBytes);
    Bytes out(2 * work.size() + 16);
    for (auto _ : state) {
        tavrine::MoveToFrontTable table;
        tavrine::test::BlockCoder coder;
        for (const Bytes& record : all.sorted) {
            std::copy(record.begin(), record.end(), work.begin());
            benchmark::DoNotOptimize(tavrine::encodeRecord(
                table, coder, work.data(), static_cast<std::uint32_t>(record.size()), out.data(),
                static_cast<std::uint32_t>(out.size())));
        }
    }
    finish(state);
}

void BM_MoveToFrontEncode(benchmark::State& state) {
    const Records& all = records(state.range(0));  // built before the clock runs
    Bytes work(kBlock + tavrine::kPrimaryIndexBytes);
    for (auto _ : state) {
        tavrine::MoveToFrontTable table;
        for (const Bytes& record : all.sorted) {
            table.MoveToFrontEncode(work.data(), record.data(),
                                    static_cast<std::int32_t>(record.size()));
            benchmark::DoNotOptimize(work.data());
        }
    }
    finish(state);
}

void BM_RangeEncode(benchmark::State& state) {
    const Records& all = records(state.range(0));  // built before the clock runs
    Bytes out(2 * (kBlock + tavrine::kPrimaryIndexBytes) + 16);
    for (auto _ : state) {
        tavrine::test::BlockCoder coder;
        for (const Bytes& positions : all.positions) {
            std::uint32_t count = 0;
            coder.encodeBlock(out.data(), positions.data(), static_cast<std::uint32_t>(out.size()),
                              static_cast<std::uint32_t>(positions.size()), count);
            benchmark::DoNotOptimize(count);
        }
    }
    finish(state);
}

void BM_DecodeFused(benchmark::State& state) {
    const Records& all = records(state.range(0));  // built before the clock runs
    Bytes work(kBlock + tavrine::kPrimaryIndexBytes);
    for (auto _ : state) {
        tavrine::MoveToFrontTable table;
        tavrine::test::BlockCoder coder;
        for (const Bytes& payload : all.payloads) {
            std::uint32_t count = 0;
            tavrine::decodeRecord(table, coder, payload.data(),
                                  static_cast<std::uint32_t>(payload.size()), work.data(),
                                  static_cast<std::uint32_t>(work.size()), count);
            benchmark::DoNotOptimize(count);
        }
    }
    finish(state);
}

void BM_RangeDecode(benchmark::State& state) {
    const Records& all = records(state.range(0));  // built before the clock runs
    Bytes work(kBlock + tavrine::kPrimaryIndexBytes);
    for (auto _ : state) {
        tavrine::test::BlockCoder coder;
        for (const Bytes& payload : all.payloads) {
            std::uint32_t count = 0;
            coder.decodeBlock(work.data(), payload.data(), static_cast<std::uint32_t>(work.size()),
                              static_cast<std::uint32_t>(payload.size()), count);
            benchmark::DoNotOptimize(count);
        }
    }
    finish(state);
}

void BM_MoveToFrontDecode(benchmark::State& state) {
    const Records& all = records(state.range(0));  // built before the clock runs
    Bytes work(kBlock + tavrine::kPrimaryIndexBytes);
    for (auto _ : state) {
        tavrine::MoveToFrontTable table;
        for (const Bytes& positions : all.positions) {
            table.MoveToFrontDecode(work.data(), positions.data(),
                                    static_cast<std::int32_t>(positions.size()));
            benchmark::DoNotOptimize(work.data());
        }
    }
    finish(state);
}

void BM_InverseSort(benchmark::State& state) {
    const Records& all = records(state.range(0));  // built before the clock runs
    std::vector<std::uint16_t> table(tavrine::inverseSortTableEntries(kBlock));
    Bytes out(kBlock);
    for (auto _ : state) {
        for (const Bytes& record : all.sorted) {
            tavrine::InverseBlockSort(out.data(), record.data(),
                                      static_cast<std::uint32_t>(record.size()), table.data());
            benchmark::DoNotOptimize(out.data());
        }
    }
    finish(state);
}

// Small inputs: kSmallInputs different stretches of the generated text of
// each length, so that no branch learns one of them, and their streams.
constexpr std::size_t kSmallInputs = 64;
constexpr std::uint32_t kZoltType = 2;
constexpr std::uint32_t kCodedVariant = 5;

struct SmallInputs {
    std::vector<Bytes> sources;
    std::vector<Bytes> streams;
};

SmallInputs makeSmallInputs(std::size_t length) {
    const Bytes text = sample(tavrine::test::SampleKind::text);
    SmallInputs inputs;
    for (std::size_t k = 0; k < kSmallInputs; ++k) {
        const auto from = text.begin() + static_cast<std::ptrdiff_t>(k * (text.size() / kSmallInputs));
        Bytes source(from, from + static_cast<std::ptrdiff_t>(length));
        Bytes stream(2 * length + 64);
        auto streamLength = static_cast<std::uint32_t>(stream.size());
        if (ZOLT_Encode(kZoltType, kCodedVariant, source.data(), static_cast<std::uint32_t>(length),
                        stream.data(), &streamLength, nullptr, nullptr) != 1) {
            std::abort();
        }
        stream.resize(streamLength);
        inputs.sources.push_back(source);
        inputs.streams.push_back(stream);
    }
    return inputs;
}

const SmallInputs& smallInputs(std::int64_t length) {
    static std::vector<std::pair<std::int64_t, SmallInputs>> made;
    for (const auto& [madeLength, inputs] : made) {
        if (madeLength == length) return inputs;
    }
    made.emplace_back(length, makeSmallInputs(static_cast<std::size_t>(length)));
    return made.back().second;
}

void finishSmall(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_SmallInputEncode(benchmark::State& state) {
    const SmallInputs& inputs = smallInputs(state.range(0));  // made before the clock runs
    Bytes stream(2 * static_cast<std::size_t>(state.range(0)) + 64);
    std::size_t k = 0;
    for (auto _ : state) {
        const Bytes& source = inputs.sources[k++ % kSmallInputs];
        auto streamLength = static_cast<std::uint32_t>(stream.size());
        benchmark::DoNotOptimize(ZOLT_Encode(kZoltType, kCodedVariant, source.data(),
                                             static_cast<std::uint32_t>(source.size()),
                                             stream.data(), &streamLength, nullptr, nullptr));
    }
    finishSmall(state);
}

void BM_SmallInputDecode(benchmark::State& state) {
    const SmallInputs& inputs = smallInputs(state.range(0));  // made before the clock runs
    Bytes out(static_cast<std::size_t>(state.range(0)));
    std::size_t k = 0;
    for (auto _ : state) {
        const Bytes& stream = inputs.streams[k++ % kSmallInputs];
        auto outLength = static_cast<std::uint32_t>(out.size());
        benchmark::DoNotOptimize(ZOLT_Decode(kZoltType, stream.data(),
                                             static_cast<std::uint32_t>(stream.size()),
                                             out.data(), &outLength, nullptr, nullptr));
    }
    finishSmall(state);
}

}  // namespace

void inputs(benchmark::internal::Benchmark* benchmark) {
    for (int input = 0; input < kInputCount; ++input) benchmark->Arg(input);
    benchmark->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_EncodeFused)->Apply(inputs);
BENCHMARK(BM_EncodeFusedCapped)->Apply(inputs);
BENCHMARK(BM_MoveToFrontEncode)->Apply(inputs);
BENCHMARK(BM_RangeEncode)->Apply(inputs);
BENCHMARK(BM_DecodeFused)->Apply(inputs);
BENCHMARK(BM_RangeDecode)->Apply(inputs);
BENCHMARK(BM_MoveToFrontDecode)->Apply(inputs);
BENCHMARK(BM_InverseSort)->Apply(inputs);
BENCHMARK(BM_SmallInputEncode)->RangeMultiplier(4)->Range(16, 4096)->Arg(8192);
BENCHMARK(BM_SmallInputDecode)->RangeMultiplier(4)->Range(16, 4096)->Arg(8192);

BENCHMARK_MAIN();
