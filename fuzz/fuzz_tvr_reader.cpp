// The library's .tvr reader on arbitrary bytes: damaged, truncated or foreign
// input ends in ContainerError and nothing else; input the reader accepts is
// also accepted by the listing, with the same sizes.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "container/byte_io.h"
#include "container/tvr_format.h"
#include "container/tvr_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavrine::container;
    const std::span<const std::uint8_t> input(data, size);

    bool decoded = false;
    TransferStats stats;
    DiscardSink sink;
    try {
        MemorySource source(input);
        stats = decompressTvr(source, sink, DecompressSettings{1});
        decoded = true;
    } catch (const ContainerError&) {
    }

    bool listed = false;
    TvrListing listing;
    try {
        MemorySource source(input);
        listing = listTvr(source);
        listed = true;
    } catch (const ContainerError&) {
    }

    if (decoded) {
        if (!listed) std::abort();  // decoding checks more than listing, never less
        if (stats.bytesOut != sink.written() || listing.decodedSize != stats.bytesOut) std::abort();
    }
    return 0;
}
