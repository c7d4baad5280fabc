// What the file handling of every system shares: temporary names and suffixes.
#include "file_ops.h"

#include <string_view>

#include "system.h"

namespace tavrine::tool {

std::string temporaryName(const std::string& targetName, const std::string& tail, std::size_t nameMax) {
    const std::size_t fixed = 2 + tail.size();  // the leading dot and the dot before the tail
    const std::size_t room = nameMax > fixed ? nameMax - fixed : 0;
    std::string name(1, '.');
    name.append(targetName, 0, room).append(1, '.').append(tail);
    return name;
}

std::string temporaryTail(std::uint64_t seed) {
    constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    constexpr std::size_t kTailLength = 6;
    std::uint64_t state = seed;
    std::string tail;
    for (std::size_t i = 0; i < kTailLength; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;  // a 64-bit LCG step
        tail += kAlphabet[static_cast<std::size_t>((state >> 33) % kAlphabet.size())];
    }
    return tail;
}

bool hasSuffix(const std::string& path, const std::string& suffix) noexcept {
    return path.size() >= suffix.size() &&
           path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<std::string> stripSuffix(const std::string& path, const std::string& suffix) {
    if (!hasSuffix(path, suffix)) return std::nullopt;
    std::string stripped = path.substr(0, path.size() - suffix.size());
    if (stripped.empty() || isPathSeparator(stripped.back())) return std::nullopt;
    return stripped;
}

}  // namespace tavrine::tool
