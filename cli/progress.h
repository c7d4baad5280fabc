// The progress line on standard error: percent (when the input size is
// known), bytes done, speed and the ratio so far, rewritten in place at most
// about six times a second and cleared when the file is done.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tvr_file.h"

namespace tavrine::tool {

class ProgressMeter {
public:
    // `total` is the input's size in bytes, 0 when unknown. `decompressing`
    // says which side of TransferStats holds the decoded bytes.
    ProgressMeter(bool enabled, std::string label, std::uint64_t total, bool decompressing,
                  std::FILE* terminal = stderr);
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;
    ~ProgressMeter() { clear(); }

    void show(const TransferStats& stats) noexcept;
    void clear() noexcept;

private:
    bool enabled_;
    std::string label_;
    std::uint64_t total_;
    bool decompressing_;
    std::FILE* terminal_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastShown_;
    std::size_t shownWidth_ = 0;
};

// "1.50 MiB", "830 B": a size for people.
std::string humanSize(std::uint64_t bytes);

}  // namespace tavrine::tool
