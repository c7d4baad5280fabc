// Writes seed inputs for the fuzz targets: encoded streams (both variants) of
// small pieces of the generated samples and of the corpus, when one is
// given, and the pieces themselves.
// Usage: make_seeds OUTPUT_DIR [CORPUS_DIR]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "container/byte_io.h"
#include "container/tvr_writer.h"
#include "support/data_generator.h"
#include "tavrine.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

void writeFile(const fs::path& path, const Bytes& prefix, const Bytes& body) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(prefix.data()), static_cast<std::streamsize>(prefix.size()));
    out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
}

Bytes encode(const Bytes& piece, std::uint32_t variant) {
    std::uint32_t bound = 0;
    ZOLT_GetMaximumEncodedLength(2, variant, static_cast<std::uint32_t>(piece.size()), &bound);
    Bytes stream(bound);
    std::uint32_t length = bound;
    if (ZOLT_Encode(2, variant, piece.data(), static_cast<std::uint32_t>(piece.size()),
                    stream.data(), &length, nullptr, nullptr) != 1) {
        return {};
    }
    stream.resize(length);
    return stream;
}

// A .tvr file of the piece, cut into segments of the smallest size.
Bytes tvrFile(const Bytes& piece, std::uint8_t variant) {
    using namespace tavrine::container;
    MemorySource source(piece);
    VectorSink sink;
    compressToTvr(source, sink, CompressSettings{variant, kMinSegmentSize, 1});
    return sink.bytes();
}

// Seeds of every target from the first bytes of one input.
void writeSeeds(const fs::path& out, const std::string& inputName, const Bytes& whole) {
    for (const std::size_t length : {64u, 700u, 9000u}) {
        const Bytes piece(whole.begin(),
                          whole.begin() + static_cast<std::ptrdiff_t>(std::min(length, whole.size())));
        const std::string name = inputName + "-" + std::to_string(length);
        for (const std::uint32_t variant : {0u, 5u}) {
            const Bytes stream = encode(piece, variant);
            const std::string tag = name + "-v" + std::to_string(variant);
            writeFile(out / "decode" / tag, {0, 0}, stream);
            writeFile(out / "decoded_length" / tag, {}, stream);
            writeFile(out / "stream_decode" / tag, {static_cast<std::uint8_t>(length), 1, 2, 3}, stream);
        }
        writeFile(out / "roundtrip" / name, {static_cast<std::uint8_t>(length % 4), 0, 0}, piece);
        if (length <= 700) writeFile(out / "block_sort" / name, {0}, piece);
        writeFile(out / "tvr_reader" / name, {}, tvrFile(piece, length % 2 ? 0 : 5));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR [CORPUS_DIR]\n", argv[0]);
        return 2;
    }
    const fs::path out(argv[1]);
    for (const char* target : {"decode", "decoded_length", "roundtrip", "block_sort", "stream_decode",
                               "tvr_reader"}) {
        fs::create_directories(out / target);
    }
    int inputs = 0;
    for (const tavrine::test::Sample& sample : tavrine::test::standardSamples()) {
        writeSeeds(out, sample.name, sample.bytes);
        ++inputs;
    }
    if (argc == 3) {
        for (const auto& entry : fs::recursive_directory_iterator(argv[2])) {
            if (!entry.is_regular_file() || entry.path().filename() == "SHA1SUM") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const Bytes whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            writeSeeds(out, entry.path().filename().string(), whole);
            ++inputs;
        }
    }
    std::printf("wrote seeds of %d inputs to %s\n", inputs, out.string().c_str());
    return 0;
}
