// The streaming decoder on arbitrary bytes, fed in pieces of random sizes
// into output windows of random sizes: it must reach the one-shot decoder's
// verdict, with the same bytes on success, the same block at fault and the
// bytes of the blocks before it on failure, and never write outside the
// window it is given, with worker threads or without. The first four input
// bytes seed the piece sizes (and, by their top bit, two worker threads); the
// rest is the stream.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "tavrine_api.h"

namespace {

constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 16;
constexpr std::uint64_t kLargestOutput = 1u << 22;  // streams announcing more are only decoded

// A small generator of piece sizes: mostly short pieces, now and then a long one.
struct Pieces {
    std::uint32_t state;
    std::size_t next() {
        state = state * 1103515245u + 12345u;
        const std::uint32_t r = state >> 8;
        return (r & 7) == 0 ? 1 + (r >> 3) % 40000 : 1 + (r >> 3) % 64;
    }
};

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t seed = 0;
    std::memcpy(&seed, data, 4);
    const std::uint8_t* stream = data + 4;
    const std::size_t length = size - 4;

    tavrine_decoder* decoder = nullptr;
    require(tavrine_decoder_create(&decoder) == TAVRINE_OK);
    require(tavrine_decoder_set_threads(decoder, (seed >> 31) != 0 ? 2 : 1) == TAVRINE_OK);
    Pieces pieces{seed};
    std::vector<std::uint8_t> decoded;
    std::vector<std::uint8_t> window;
    tavrine_status status = TAVRINE_OK;
    std::size_t at = 0;
    bool last = false;
    while (!last && status == TAVRINE_OK) {
        const std::size_t piece = std::min(pieces.next(), length - at);
        last = at + piece == length;
        tavrine_in_buffer in{stream + at, piece, 0};
        std::size_t remaining = 0;
        do {
            const std::size_t room = pieces.next();
            window.assign(room + kGuardBytes, kGuard);
            tavrine_out_buffer out{window.data(), room, 0};
            status = tavrine_decode_stream(decoder, &out, &in, last ? TAVRINE_END : TAVRINE_CONTINUE, &remaining);
            require(out.pos <= room && in.pos <= in.size);
            for (std::size_t i = room; i < window.size(); ++i) require(window[i] == kGuard);
            decoded.insert(decoded.end(), window.begin(), window.begin() + static_cast<std::ptrdiff_t>(out.pos));
            if (decoded.size() > kLargestOutput) break;
        } while (status == TAVRINE_OK && (in.pos < in.size || remaining != 0));
        if (decoded.size() > kLargestOutput) break;
        at += piece;
    }
    const std::uint64_t offset = tavrine_decoder_offset(decoder);
    tavrine_decoder_free(decoder);
    if (decoded.size() > kLargestOutput) return 0;

    std::uint64_t announced = 0;
    tavrine_decoded_length(stream, length, &announced, nullptr);
    if (announced > kLargestOutput) return 0;
    std::vector<std::uint8_t> expected(announced + 65536);
    std::size_t produced = 0;
    std::uint64_t fault = 0;
    const tavrine_status oneShot = tavrine_decode(stream, length, expected.data(), expected.size(), &produced,
                                                  &fault, nullptr, nullptr);
    require(status == oneShot);
    require(decoded.size() == produced &&
            std::equal(decoded.begin(), decoded.end(), expected.begin()));
    require(offset == (status == TAVRINE_OK ? length : fault));
    return 0;
}
