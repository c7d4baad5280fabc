// Writes the deterministic test inputs of the generator to files or standard
// output, for the shell tests, the Windows host tests, fuzz seeds and the
// quick start.
// Usage: tavrine-datagen KIND LENGTH [SEED [PERIOD]]   one sample to standard output
//        tavrine-datagen --samples DIR                 the standard samples as DIR/NAME
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <filesystem>
#include <string>
#include <vector>

#include "support/data_generator.h"

namespace {

namespace fs = std::filesystem;
using tavrine::test::Bytes;

bool writeAll(std::FILE* file, const Bytes& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

int writeStandardSamples(const fs::path& directory) {
    fs::create_directories(directory);
    for (const tavrine::test::Sample& sample : tavrine::test::standardSamples()) {
        const fs::path path = directory / sample.name;
        std::FILE* file = std::fopen(path.string().c_str(), "wb");
        const bool written = file != nullptr && writeAll(file, sample.bytes);
        if (file == nullptr || std::fclose(file) != 0 || !written) {
            std::fprintf(stderr, "tavrine-datagen: cannot write %s\n", path.string().c_str());
            return 1;
        }
    }
    return 0;
}

std::uint64_t parseNumber(const char* text) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0') throw std::invalid_argument(std::string("not a number: ") + text);
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (args.size() == 2 && args[0] == "--samples") return writeStandardSamples(args[1]);
        if (args.size() >= 2 && args.size() <= 4) {
            const tavrine::test::SampleKind kind = tavrine::test::sampleKindByName(args[0]);
            const std::uint64_t length = parseNumber(argv[2]);
            const std::uint64_t seed = args.size() >= 3 ? parseNumber(argv[3]) : 1;
            const std::uint64_t period = args.size() == 4 ? parseNumber(argv[4]) : 7;
            if (!writeAll(stdout, tavrine::test::generateSample(kind, length, seed, period)) ||
                std::fflush(stdout) != 0) {
                std::fprintf(stderr, "tavrine-datagen: cannot write the output\n");
                return 1;
            }
            return 0;
        }
        std::fprintf(stderr,
                     "usage: tavrine-datagen KIND LENGTH [SEED [PERIOD]]\n"
                     "       tavrine-datagen --samples DIR\n"
                     "kinds: text records runs periodic nearly-periodic two-symbols random "
                     "alphabet constant\n");
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tavrine-datagen: %s\n", error.what());
        return 2;
    }
}
