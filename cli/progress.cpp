#include "progress.h"

#include <array>
#include <string>

namespace tavrine::tool {
namespace {

constexpr auto kMinimumInterval = std::chrono::milliseconds(1000 / 6);
constexpr std::size_t kLabelWidth = 32;
constexpr double kBytesPerMegabyte = 1e6;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::string humanSize(std::uint64_t bytes) {
    constexpr std::array<const char*, 5> kUnits = {"B", "KiB", "MiB", "GiB", "TiB"};
    constexpr double kStep = 1024.0;
    auto value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= kStep && unit + 1 < kUnits.size()) {
        value /= kStep;
        ++unit;
    }
    std::array<char, 32> text{};
    if (unit == 0) {
        std::snprintf(text.data(), text.size(), "%llu B", static_cast<unsigned long long>(bytes));
    } else {
        std::snprintf(text.data(), text.size(), "%.2f %s", value, kUnits[unit]);
    }
    return text.data();
}

ProgressMeter::ProgressMeter(bool enabled, std::string label, std::uint64_t total,
                             bool decompressing, std::FILE* terminal)
    : enabled_(enabled),
      label_(std::move(label)),
      total_(total),
      decompressing_(decompressing),
      terminal_(terminal),
      start_(std::chrono::steady_clock::now()),
      lastShown_(start_) {
    if (label_.size() > kLabelWidth) label_ = "..." + label_.substr(label_.size() - kLabelWidth + 3);
}

void ProgressMeter::show(const TransferStats& stats) noexcept {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastShown_ < kMinimumInterval) return;
    lastShown_ = now;
    try {
        const std::uint64_t decoded = decompressing_ ? stats.bytesOut : stats.bytesIn;
        const std::uint64_t coded = decompressing_ ? stats.bytesIn : stats.bytesOut;
        const double elapsed = secondsSince(start_);
        std::string line = label_ + ": ";
        std::array<char, 64> field{};
        if (total_ > 0) {
            std::snprintf(field.data(), field.size(), "%3.0f%% ",
                          100.0 * static_cast<double>(stats.bytesIn) / static_cast<double>(total_));
            line += field.data();
        }
        line += humanSize(decoded);
        if (elapsed > 0) {
            std::snprintf(field.data(), field.size(), "  %.1f MB/s",
                          static_cast<double>(decoded) / kBytesPerMegabyte / elapsed);
            line += field.data();
        }
        if (decoded > 0 && coded > 0) {
            std::snprintf(field.data(), field.size(), "  ratio %.1f%%",
                          100.0 * static_cast<double>(coded) / static_cast<double>(decoded));
            line += field.data();
        }
        const std::size_t width = line.size();
        if (width < shownWidth_) line.append(shownWidth_ - width, ' ');
        shownWidth_ = width;
        std::fprintf(terminal_, "\r%s", line.c_str());
        std::fflush(terminal_);
    } catch (...) {
        // Out of memory for a progress line: skip this update.
    }
}

void ProgressMeter::clear() noexcept {
    if (!enabled_ || shownWidth_ == 0) return;
    std::fprintf(terminal_, "\r%*s\r", static_cast<int>(shownWidth_), "");
    std::fflush(terminal_);
    shownWidth_ = 0;
}

}  // namespace tavrine::tool
