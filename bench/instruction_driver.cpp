// Runs one codec operation a given number of times on one file, for
// bench/instruction_counts.sh, which counts the instructions of two runs
// under cachegrind: with REPS calls and with none. Their difference is the
// calls' own work, without reading the file or preparing the input.
//
// Usage: tavrine-instructions tavrine|bzip2 encode|decode REPS FILE
#include <bzlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tavrine.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kType = 2;
constexpr std::uint32_t kRangeCoded = 5;
constexpr int kBzipBlockSize9 = 9;
constexpr std::size_t kOutputSlack = 1024;

[[noreturn]] void fail(const char* message) {
    std::fprintf(stderr, "tavrine-instructions: %s\n", message);
    std::exit(1);
}

Bytes readFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) fail("cannot read the file");
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::size_t tavrineEncode(const Bytes& in, Bytes& out) {
    auto length = static_cast<std::uint32_t>(out.size());
    if (ZOLT_Encode(kType, kRangeCoded, in.data(), static_cast<std::uint32_t>(in.size()),
                    out.data(), &length, nullptr, nullptr) != 1) {
        fail("tavrine encoding failed");
    }
    return length;
}

std::size_t tavrineDecode(const Bytes& in, Bytes& out) {
    auto length = static_cast<std::uint32_t>(out.size());
    if (ZOLT_Decode(kType, in.data(), static_cast<std::uint32_t>(in.size()), out.data(), &length,
                    nullptr, nullptr) != 1) {
        fail("tavrine decoding failed");
    }
    return length;
}

std::size_t bzipCompress(const Bytes& in, Bytes& out) {
    auto length = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length,
                                 const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                                 static_cast<unsigned>(in.size()), kBzipBlockSize9, 0, 0) != BZ_OK) {
        fail("libbz2 compression failed");
    }
    return length;
}

std::size_t bzipDecompress(const Bytes& in, Bytes& out) {
    auto length = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &length,
                                   const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                                   static_cast<unsigned>(in.size()), 0, 0) != BZ_OK) {
        fail("libbz2 decompression failed");
    }
    return length;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) fail("usage: tavrine-instructions tavrine|bzip2 encode|decode REPS FILE");
    const std::string codec = argv[1];
    const std::string operation = argv[2];
    const long reps = std::strtol(argv[3], nullptr, 10);
    if ((codec != "tavrine" && codec != "bzip2") || (operation != "encode" && operation != "decode") ||
        reps < 0) {
        fail("usage: tavrine-instructions tavrine|bzip2 encode|decode REPS FILE");
    }
    const bool tavrine = codec == "tavrine";
    const Bytes original = readFile(argv[4]);

    // A stream to decode is made before the counted calls, by the same codec.
    Bytes in = original;
    if (operation == "decode") {
        Bytes coded(original.size() + original.size() / 2 + kOutputSlack);
        coded.resize(tavrine ? tavrineEncode(original, coded) : bzipCompress(original, coded));
        in = coded;
    }
    Bytes out(original.size() + original.size() / 2 + kOutputSlack);
    std::size_t length = 0;
    for (long k = 0; k < reps; ++k) {
        if (operation == "encode") {
            length = tavrine ? tavrineEncode(in, out) : bzipCompress(in, out);
        } else {
            length = tavrine ? tavrineDecode(in, out) : bzipDecompress(in, out);
        }
    }
    // Checked once, after the counted calls.
    if (reps > 0 && operation == "decode" &&
        (length != original.size() || std::memcmp(out.data(), original.data(), length) != 0)) {
        fail("the decoded bytes differ from the file");
    }
    return 0;
}
