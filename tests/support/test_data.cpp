#include "support/test_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
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

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes readTestData(std::string_view relative) {
    return readFile(std::string(TAVRINE_TEST_DATA_DIR) + "/" + std::string(relative));
}

std::string corpusDirectory() {
    const char* fromEnvironment = std::getenv("TAVRINE_CORPUS_DIR");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
    return TAVRINE_CORPUS_DIR;
}

namespace {

std::vector<Sample> corpusInputs() {
    namespace fs = std::filesystem;
    const fs::path root(corpusDirectory());
    std::vector<std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file() || it->path().filename() == "SHA1SUM") continue;
        files.push_back(fs::relative(it->path(), root).generic_string());
    }
    EXPECT_FALSE(error) << "cannot list the corpus at " << root << ": " << error.message();
    std::sort(files.begin(), files.end());
    std::vector<Sample> inputs;
    for (const std::string& file : files) inputs.push_back({file, readFile((root / file).string())});
    return inputs;
}

}  // namespace

std::vector<Sample> inputsOf(InputSet set) {
    std::vector<Sample> inputs = set == InputSet::generated ? standardSamples() : corpusInputs();
    EXPECT_FALSE(inputs.empty()) << "no input to test";
    return inputs;
}

void PrintTo(InputSet set, std::ostream* out) {
    *out << (set == InputSet::generated ? "the generated samples" : "the external corpus");
}

void InputSetTest::SetUp() {
    if (GetParam() == InputSet::corpus && corpusDirectory().empty()) {
        GTEST_SKIP() << "no external corpus: set TAVRINE_CORPUS_DIR to run the corpus tests";
    }
}

Bytes sampleText(std::size_t length) { return generateSample(SampleKind::text, length); }

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
