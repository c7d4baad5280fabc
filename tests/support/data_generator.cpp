#include "support/data_generator.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tavrine::test {

std::uint64_t SampleRandom::next() noexcept {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

std::uint32_t SampleRandom::below(std::uint32_t bound) noexcept {
    return static_cast<std::uint32_t>(next() % bound);
}

double SampleRandom::unit() noexcept {
    constexpr double kTwoToThe53 = 9007199254740992.0;
    return static_cast<double>(next() >> 11) / kTwoToThe53;
}

namespace {

std::uint8_t randomByte(SampleRandom& random) { return static_cast<std::uint8_t>(random.next() >> 56); }

// A length from 1 up, mostly near `mean`, with a long tail.
std::size_t geometricLength(SampleRandom& random, double mean) {
    return 1 + static_cast<std::size_t>(-mean * std::log(1.0 - random.unit()));
}

// --- text -------------------------------------------------------------------

// The most frequent words of English prose take the top ranks, so that the
// shortest words are the commonest, as in real text; made-up words of one to
// three syllables follow them.
constexpr std::array<const char*, 64> kCommonWords{
    "the",  "of",   "and",   "to",    "a",     "in",    "that",  "it",   "was",  "he",   "is",
    "for",  "with", "as",    "his",   "on",    "be",    "at",    "by",   "I",    "had",  "not",
    "are",  "but",  "from",  "or",    "have",  "an",    "they",  "which", "one", "you",  "were",
    "her",  "all",  "she",   "there", "would", "their", "we",    "him",  "been", "has",  "when",
    "who",  "will", "more",  "no",    "if",    "out",   "so",    "said", "what", "up",   "its",
    "about", "into", "than", "them",  "can",   "only",  "other", "new",  "some"};
constexpr std::array<const char*, 26> kOnsets{"",   "b",  "c",  "d",  "f",  "g",  "h",  "j",  "k",
                                              "l",  "m",  "n",  "p",  "r",  "s",  "t",  "v",  "w",
                                              "th", "st", "ch", "sh", "tr", "br", "pl", "gr"};
constexpr std::array<const char*, 9> kVowels{"a", "e", "i", "o", "u", "ea", "ou", "ai", "ee"};
constexpr std::array<const char*, 11> kCodas{"", "n", "r", "s", "t", "l", "nd", "st", "ng", "ck", "m"};
constexpr std::size_t kVocabulary = 4000;
constexpr double kZipfExponent = 1.05;
constexpr std::size_t kLineWidth = 72;

class TextWriter {
public:
    explicit TextWriter(std::uint64_t seed) : random_(seed) {
        // The language is the same for every seed; only the prose differs.
        SampleRandom language(0x7E47);
        for (const char* word : kCommonWords) words_.emplace_back(word);
        while (words_.size() < kVocabulary) {
            const std::uint32_t syllables = 1 + language.below(3);
            std::string word;
            for (std::uint32_t s = 0; s < syllables; ++s) {
                word += kOnsets[language.below(kOnsets.size())];
                word += kVowels[language.below(kVowels.size())];
                word += kCodas[language.below(kCodas.size())];
            }
            words_.push_back(word);
        }
        double total = 0;
        for (std::size_t rank = 0; rank < words_.size(); ++rank) {
            total += 1.0 / std::pow(static_cast<double>(rank + 1), kZipfExponent);
            cumulative_.push_back(total);
        }
        for (double& c : cumulative_) c /= total;
    }

    Bytes write(std::size_t length) {
        Bytes out;
        out.reserve(length + 256);
        while (out.size() < length) paragraph(out);
        out.resize(length);
        return out;
    }

private:
    const std::string& drawWord() {
        const double u = random_.unit();
        const auto it = std::upper_bound(cumulative_.begin(), cumulative_.end(), u);
        const std::size_t rank = std::min<std::size_t>(it - cumulative_.begin(), words_.size() - 1);
        return words_[rank];
    }

    void put(Bytes& out, std::string_view piece) {
        if (column_ + piece.size() + 1 > kLineWidth && column_ > 0) {
            out.push_back('\n');
            column_ = 0;
        } else if (column_ > 0) {
            out.push_back(' ');
            ++column_;
        }
        out.insert(out.end(), piece.begin(), piece.end());
        column_ += piece.size();
    }

    void sentence(Bytes& out) {
        const std::uint32_t count = 4 + random_.below(18);
        const bool quoted = random_.below(8) == 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::string word = drawWord();
            if (i == 0) word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
            if (i == 0 && quoted) word.insert(word.begin(), '"');
            if (random_.below(40) == 0) word = std::to_string(1 + random_.below(1900));
            if (i + 1 == count) {
                static constexpr std::array<char, 8> kEnds{'.', '.', '.', '.', '.', '?', '!', ';'};
                word.push_back(kEnds[random_.below(kEnds.size())]);
                if (quoted) word.push_back('"');
            } else if (random_.below(9) == 0) {
                word.push_back(',');
            }
            put(out, word);
        }
    }

    void paragraph(Bytes& out) {
        const std::uint32_t sentences = 2 + random_.below(7);
        for (std::uint32_t i = 0; i < sentences; ++i) sentence(out);
        out.insert(out.end(), {'\n', '\n'});
        column_ = 0;
    }

    SampleRandom random_;
    std::vector<std::string> words_;
    std::vector<double> cumulative_;
    std::size_t column_ = 0;
};

// --- binary records ---------------------------------------------------------

void putLittleEndian(Bytes& out, std::uint64_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A worksheet stored as typed records: a header of zeros and a few set bytes,
// then rows of cells, each a record of a type code, a length, row and column
// and a value (a number from a small set of prices, a counter, or an index
// into a table of labels), with label records and zero padding between rows.
Bytes generateRecords(std::size_t length, std::uint64_t seed) {
    SampleRandom random(seed);
    constexpr std::array<const char*, 12> kLabels{
        "Total",  "Region North", "Region South", "Quarter", "Revenue", "Cost of sales",
        "Margin", "Headcount",    "Forecast",     "Actual",  "Variance", "Notes"};
    constexpr std::uint16_t kNumberCell = 0x0203;
    constexpr std::uint16_t kCounterCell = 0x027E;
    constexpr std::uint16_t kLabelCell = 0x00FD;
    constexpr std::uint16_t kLabelRecord = 0x0204;
    constexpr std::size_t kHeaderBytes = 512;
    constexpr std::size_t kColumns = 9;

    Bytes out(kHeaderBytes, 0);
    out[0] = 0xD0;
    out[1] = 0xCF;
    out[30] = 0x09;
    out[44] = 0x01;
    std::array<double, 16> prices{};
    for (double& price : prices) price = static_cast<double>(random.below(500000)) / 100.0;
    std::uint32_t counter = random.below(1000);
    for (std::uint16_t row = 0; out.size() < length; ++row) {
        for (std::uint16_t column = 0; column < kColumns; ++column) {
            const std::uint32_t pick = random.below(10);
            if (pick < 5) {
                putLittleEndian(out, kNumberCell, 2);
                putLittleEndian(out, 14, 2);
                putLittleEndian(out, row, 2);
                putLittleEndian(out, column, 2);
                putLittleEndian(out, 0x0F, 2);
                std::uint64_t bits = 0;
                const double value = prices[random.below(prices.size())];
                std::memcpy(&bits, &value, sizeof bits);
                putLittleEndian(out, bits, 8);
            } else if (pick < 8) {
                putLittleEndian(out, kCounterCell, 2);
                putLittleEndian(out, 10, 2);
                putLittleEndian(out, row, 2);
                putLittleEndian(out, column, 2);
                putLittleEndian(out, 0x11, 2);
                counter += random.below(4);
                putLittleEndian(out, counter, 4);
            } else {
                putLittleEndian(out, kLabelCell, 2);
                putLittleEndian(out, 10, 2);
                putLittleEndian(out, row, 2);
                putLittleEndian(out, column, 2);
                putLittleEndian(out, 0x15, 2);
                putLittleEndian(out, random.below(kLabels.size()), 4);
            }
        }
        if (row % 32 == 0) {
            const std::string_view label = kLabels[random.below(kLabels.size())];
            putLittleEndian(out, kLabelRecord, 2);
            putLittleEndian(out, label.size() + 1, 2);
            out.insert(out.end(), label.begin(), label.end());
            out.push_back(0);
        }
        if (row % 64 == 63) out.insert(out.end(), 16 + random.below(200), 0);
    }
    out.resize(length);
    return out;
}

// --- runs and repetitions ---------------------------------------------------

// Mostly zeros, as in a scanned page, with runs of a few other values and
// now and then a run of thousands.
Bytes generateRuns(std::size_t length, std::uint64_t seed) {
    SampleRandom random(seed);
    constexpr std::array<std::uint8_t, 4> kValues{0xFF, 0x80, 0x0F, 0x01};
    Bytes out;
    out.reserve(length);
    while (out.size() < length) {
        const std::uint32_t pick = random.below(100);
        const std::uint8_t value = pick < 60   ? 0x00
                                   : pick < 90 ? kValues[random.below(kValues.size())]
                                               : randomByte(random);
        const std::size_t run = random.below(50) == 0 ? 500 + random.below(5000) : geometricLength(random, 30);
        out.insert(out.end(), std::min(run, length - out.size()), value);
    }
    return out;
}

Bytes generatePeriodic(std::size_t length, std::size_t period, std::uint64_t seed, bool nearly) {
    if (period == 0) throw std::invalid_argument("period 0");
    SampleRandom random(seed);
    Bytes pattern(period);
    for (std::uint8_t& b : pattern) b = randomByte(random);
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = pattern[i % period];
    if (nearly) {
        constexpr std::uint32_t kOneChangeIn = 500;
        for (std::uint8_t& b : out) {
            if (random.below(kOneChangeIn) == 0) b = randomByte(random);
        }
    }
    return out;
}

Bytes generateFromAlphabet(std::size_t length, std::uint64_t seed, std::uint32_t symbols,
                           std::uint8_t first) {
    SampleRandom random(seed);
    Bytes out(length);
    for (std::uint8_t& b : out) b = static_cast<std::uint8_t>(first + random.below(symbols));
    return out;
}

struct KindName {
    SampleKind kind;
    std::string_view name;
};
constexpr std::array<KindName, 9> kKindNames{{
    {SampleKind::text, "text"},
    {SampleKind::records, "records"},
    {SampleKind::runs, "runs"},
    {SampleKind::periodic, "periodic"},
    {SampleKind::nearlyPeriodic, "nearly-periodic"},
    {SampleKind::twoSymbols, "two-symbols"},
    {SampleKind::random, "random"},
    {SampleKind::alphabet, "alphabet"},
    {SampleKind::constant, "constant"},
}};

}  // namespace

Bytes generateSample(SampleKind kind, std::size_t length, std::uint64_t seed, std::size_t period) {
    constexpr std::uint32_t kLetters = 26;
    switch (kind) {
        case SampleKind::text: return TextWriter(seed).write(length);
        case SampleKind::records: return generateRecords(length, seed);
        case SampleKind::runs: return generateRuns(length, seed);
        case SampleKind::periodic: return generatePeriodic(length, period, seed, false);
        case SampleKind::nearlyPeriodic: return generatePeriodic(length, period, seed, true);
        case SampleKind::twoSymbols: return generateFromAlphabet(length, seed, 2, 'a');
        case SampleKind::random: return generateFromAlphabet(length, seed, 256, 0);
        case SampleKind::alphabet: {
            Bytes out(length);
            for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>('a' + i % kLetters);
            return out;
        }
        case SampleKind::constant: return Bytes(length, 'a');
    }
    throw std::invalid_argument("unknown sample kind");
}

SampleKind sampleKindByName(std::string_view name) {
    for (const KindName& entry : kKindNames) {
        if (entry.name == name) return entry.kind;
    }
    throw std::invalid_argument("unknown sample kind: " + std::string(name));
}

std::string_view sampleKindName(SampleKind kind) noexcept {
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) return entry.name;
    }
    return "unknown";
}

std::vector<Sample> standardSamples() {
    struct Entry {
        const char* name;
        SampleKind kind;
        std::size_t length;
        std::size_t period;
    };
    static constexpr Entry kEntries[] = {
        {"one-byte", SampleKind::constant, 1, 0},
        {"text-4k", SampleKind::text, 4000, 0},
        {"text-25k", SampleKind::text, 25000, 0},
        {"text-150k", SampleKind::text, 150000, 0},
        {"text-1m", SampleKind::text, 1000000, 0},
        {"records-1m", SampleKind::records, 1000000, 0},
        {"runs-500k", SampleKind::runs, 500000, 0},
        {"periodic-3-100k", SampleKind::periodic, 100000, 3},
        {"periodic-4096-100k", SampleKind::periodic, 100000, 4096},
        {"nearly-periodic-7-100k", SampleKind::nearlyPeriodic, 100000, 7},
        {"alphabet-100k", SampleKind::alphabet, 100000, 0},
        {"constant-100k", SampleKind::constant, 100000, 0},
        {"two-symbols-64k", SampleKind::twoSymbols, 65536, 0},
        {"random-100k", SampleKind::random, 100000, 0},
    };
    std::vector<Sample> samples;
    std::uint64_t seed = 1;
    for (const Entry& entry : kEntries) {
        samples.push_back({entry.name, generateSample(entry.kind, entry.length, seed++,
                                                      entry.period == 0 ? 1 : entry.period)});
    }
    return samples;
}

}  // namespace tavrine::test
