// Calls of the exported encode and decode functions for tests: ample buffers,
// progress recording, and guard bytes that catch writes past the capacity.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "support/test_data.h"
#include "tavrine.h"

namespace tavrine::test {

constexpr std::uint32_t kStreamType = 2;
constexpr std::uint32_t kUntouched = 0xDEADBEEF;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::size_t kGuardBytes = 64;

inline std::uint32_t size32(const Bytes& bytes) { return static_cast<std::uint32_t>(bytes.size()); }

inline std::uint32_t maximumEncodedLength(std::size_t srcLen) {
    std::uint32_t bound = 0;
    EXPECT_EQ(ZOLT_GetMaximumEncodedLength(kStreamType, 5, static_cast<std::uint32_t>(srcLen), &bound), 1);
    return bound;
}

// Records every progress report; returns 0 (abort) at report number abortAt (from 0).
struct ProgressLog {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> reports;
    std::size_t abortAt = SIZE_MAX;

    static int ZOLT_CALL callback(void* user, std::uint32_t done, std::uint32_t total) {
        auto* log = static_cast<ProgressLog*>(user);
        log->reports.emplace_back(done, total);
        return log->reports.size() - 1 == log->abortAt ? 0 : 1;
    }
    std::vector<std::uint32_t> done() const {
        std::vector<std::uint32_t> values;
        for (const auto& report : reports) values.push_back(report.first);
        return values;
    }
};

// The outcome of one call: result, the word at dstLen, and the output buffer
// (capacity bytes followed by guard bytes that must stay untouched).
struct CallResult {
    int result = 0;
    std::uint32_t length = kUntouched;
    Bytes buffer;
    std::uint32_t capacity = 0;

    Bytes output() const { return Bytes(buffer.begin(), buffer.begin() + (result ? length : 0)); }
    bool guardsIntact() const {
        for (std::size_t i = capacity; i < buffer.size(); ++i) {
            if (buffer[i] != kGuardByte) return false;
        }
        return true;
    }
};

inline CallResult encodeCall(const Bytes& src, std::uint32_t variant, std::uint32_t capacity,
                             ProgressLog* log = nullptr) {
    CallResult call;
    call.capacity = capacity;
    call.buffer.assign(capacity + kGuardBytes, kGuardByte);
    call.length = capacity;
    call.result = ZOLT_Encode(kStreamType, variant, src.data(), size32(src), call.buffer.data(),
                              &call.length, log ? &ProgressLog::callback : nullptr, log);
    return call;
}

inline CallResult decodeCall(const Bytes& stream, std::uint32_t capacity,
                             ProgressLog* log = nullptr) {
    CallResult call;
    call.capacity = capacity;
    call.buffer.assign(capacity + kGuardBytes, kGuardByte);
    call.length = capacity;
    call.result = ZOLT_Decode(kStreamType, stream.data(), size32(stream), call.buffer.data(),
                              &call.length, log ? &ProgressLog::callback : nullptr, log);
    return call;
}

// Encodes with a capacity of the maximum encoded length; the call must succeed.
inline Bytes encodeOrFail(const Bytes& src, std::uint32_t variant) {
    const CallResult call = encodeCall(src, variant, maximumEncodedLength(src.size()));
    EXPECT_EQ(call.result, 1) << "encoding " << src.size() << " bytes, variant " << variant;
    EXPECT_TRUE(call.guardsIntact());
    return call.output();
}

// Decodes with exactly the announced length as capacity; the call must succeed.
inline Bytes decodeOrFail(const Bytes& stream) {
    std::uint32_t announced = 0;
    EXPECT_EQ(ZOLT_GetDecodedLength(kStreamType, stream.data(), size32(stream), &announced), 1);
    const CallResult call = decodeCall(stream, announced);
    EXPECT_EQ(call.result, 1) << "decoding a stream of " << stream.size() << " bytes";
    EXPECT_EQ(call.length, announced);
    EXPECT_TRUE(call.guardsIntact());
    return call.output();
}

// Block boundaries of a stream: offsets of each block's start, plus the end.
inline std::vector<std::size_t> blockOffsets(const Bytes& stream) {
    std::vector<std::size_t> offsets{0};
    while (offsets.back() + 4 <= stream.size()) {
        const std::size_t size = stream[offsets.back()] | (stream[offsets.back() + 1] << 8);
        if (size == 0) break;
        offsets.push_back(offsets.back() + size);
    }
    return offsets;
}

}  // namespace tavrine::test
