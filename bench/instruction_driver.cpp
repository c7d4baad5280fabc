// Runs one codec operation a given number of times on one file, for
// bench/instruction_counts.sh, which counts the instructions of two runs
// under cachegrind: with REPS calls and with none. Their difference is the
// calls' own work, without reading the file or preparing the input.
//
// Usage: tavrine-instructions tavrine|bzip2 encode|decode REPS FILE
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "codec_calls.h"

namespace {

using tavrine::bench::Bytes;
namespace bench = tavrine::bench;

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

std::size_t encode(bool useTavrine, const Bytes& in, Bytes& out) {
    return useTavrine ? bench::tavrineEncode(kRangeCoded, in, out, fail)
                      : bench::bzipCompress(kBzipBlockSize9, in, out, fail);
}

std::size_t decode(bool useTavrine, const Bytes& in, Bytes& out) {
    return useTavrine ? bench::tavrineDecode(in, out, fail) : bench::bzipDecompress(in, out, fail);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) fail("usage: tavrine-instructions tavrine|bzip2 encode|decode REPS FILE");
    const std::string codec = argv[1];
    const std::string operation = argv[2];
    const long reps = std::strtol(argv[3], nullptr, 10);
    const bool knownCodec = codec == "tavrine" || codec == "bzip2";
    const bool knownOperation = operation == "encode" || operation == "decode";
    if (!knownCodec || !knownOperation || reps < 0) {
        fail("usage: tavrine-instructions tavrine|bzip2 encode|decode REPS FILE");
    }
    const bool useTavrine = codec == "tavrine";
    const Bytes original = readFile(argv[4]);

    // A stream to decode is made before the counted calls, by the same codec.
    Bytes in = original;
    if (operation == "decode") {
        Bytes coded(original.size() + original.size() / 2 + kOutputSlack);
        coded.resize(encode(useTavrine, original, coded));
        in = std::move(coded);
    }
    Bytes out(original.size() + original.size() / 2 + kOutputSlack);
    std::size_t length = 0;
    for (long k = 0; k < reps; ++k) {
        length = operation == "encode" ? encode(useTavrine, in, out) : decode(useTavrine, in, out);
    }
    // Checked once, after the counted calls.
    if (reps > 0 && operation == "decode" &&
        (length != original.size() || std::memcmp(out.data(), original.data(), length) != 0)) {
        fail("the decoded bytes differ from the file");
    }
    return 0;
}
