// The .tvr reader of the command-line tool on arbitrary bytes: damaged,
// truncated or foreign input ends in FormatError and nothing else; input the
// reader accepts is also accepted by the listing, with the same sizes.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "byte_io.h"
#include "tvr_format.h"
#include "tvr_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavrine::tool;
    const std::span<const std::uint8_t> input(data, size);

    bool decoded = false;
    TransferStats stats;
    DiscardSink sink;
    try {
        MemorySource source(input);
        stats = decompressTvr(source, sink, DecompressSettings{1});
        decoded = true;
    } catch (const FormatError&) {
    }

    bool listed = false;
    TvrListing listing;
    try {
        MemorySource source(input);
        listing = listTvr(source);
        listed = true;
    } catch (const FormatError&) {
    }

    if (decoded) {
        if (!listed) std::abort();  // decoding checks more than listing, never less
        if (stats.bytesOut != sink.written() || listing.decodedSize != stats.bytesOut) std::abort();
    }
    return 0;
}
