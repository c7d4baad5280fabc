#include "support/test_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tavrine::test {

Bytes hex(std::string_view text) {
    Bytes out;
    std::string digits;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) digits.push_back(c);
        if (digits.size() == 2) {
            out.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
            digits.clear();
        }
    }
    if (!digits.empty()) throw std::invalid_argument("odd number of hex digits");
    return out;
}

std::string toHex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) out.push_back(' ');
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 15]);
    }
    return out;
}

Bytes ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string corpusPath(std::string_view relative) {
    return std::string(TAVRINE_CORPUS_DIR) + "/" + std::string(relative);
}

std::vector<std::string> corpusFiles() {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    const fs::path root(TAVRINE_CORPUS_DIR);
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file() || it->path().filename() == "SHA1SUM") continue;
        files.push_back(fs::relative(it->path(), root).generic_string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes readCorpus(std::string_view relative) { return readFile(corpusPath(relative)); }

Bytes randomBytes(std::size_t length, std::mt19937& rng, unsigned alphabet) {
    std::uniform_int_distribution<unsigned> pick(0, alphabet - 1);
    Bytes out(length);
    for (auto& b : out) b = static_cast<std::uint8_t>(pick(rng));
    return out;
}

Bytes periodicBytes(std::size_t length, std::size_t period, std::mt19937& rng, unsigned alphabet,
                    bool breakLastPeriod) {
    const Bytes pattern = randomBytes(period, rng, alphabet);
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = pattern[i % period];
    if (breakLastPeriod && length > 0) out.back() = static_cast<std::uint8_t>(out.back() + 1);
    return out;
}

Bytes skewedBytes(std::size_t length, std::mt19937& rng) {
    std::geometric_distribution<unsigned> pick(0.35);
    Bytes out(length);
    for (auto& b : out) b = static_cast<std::uint8_t>(std::min(pick(rng), 255u));
    return out;
}

}  // namespace tavrine::test
