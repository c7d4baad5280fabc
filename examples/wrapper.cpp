// The C++ interface: one-shot calls on any byte container, streaming
// classes that own their handles, exceptions that carry the status and the
// offset. Encodes a file in pieces, checks it against the one-shot call,
// decodes it again, then cuts the stream short.
// Usage: tavrine-wrapper FILE
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "tavrine.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

    const std::vector<std::uint8_t> stream = tavrine::encode(text);
    if (stream.empty()) return 1;  // nothing to cut short below

    tavrine::Encoder encoder;  // the same stream, from pieces of 1000 bytes
    std::vector<std::uint8_t> pieces;
    for (std::size_t at = 0; at < text.size(); at += 1000) {
        const std::size_t n = std::min<std::size_t>(1000, text.size() - at);
        encoder.update(tavrine::bytes_view(text.data() + at, n), pieces);
    }
    encoder.finish(pieces);

    const std::vector<std::uint8_t> back = tavrine::decode(pieces);
    const bool same = pieces == stream && back == text;
    std::printf("%zu bytes -> %zu bytes -> %zu bytes, %s\n", text.size(), stream.size(), back.size(),
                same ? "the same" : "DIFFERENT");

    try {
        tavrine::Decoder decoder;
        std::vector<std::uint8_t> out;
        decoder.update(tavrine::bytes_view(stream.data(), stream.size() - 1), out);
        decoder.finish(out);  // the stream stops inside its last block
    } catch (const tavrine::error& error) {
        std::printf("cut short: %s (status %d, block at %llu)\n", error.what(), static_cast<int>(error.status()),
                    static_cast<unsigned long long>(error.offset()));
        return same && error.status() == TAVRINE_TRUNCATED ? 0 : 1;
    }
    return 1;
}
