// Asks the module what it is and what it can do, as a host does before any work.
#include <cinttypes>
#include <cstdio>

#include "tavrine.h"

int main() {
    std::uint32_t version = 0;
    if (ZOLT_GetInterfaceVersion(&version, 0) == 0 || ZOLT_VerifyInterfaceVersion(version, 0) == 0) {
        std::fprintf(stderr, "tavrine: interface version not accepted\n");
        return 1;
    }
    std::printf("interface version 0x%08" PRIX32 " (accepted)\n", version);

    const std::uint32_t* table = nullptr;
    std::uint32_t count = 0;
    ZOLT_GetSupportedEncodeType(&table, &count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t bound = 0;
        ZOLT_GetMaximumEncodedLength(table[2 * i], table[2 * i + 1], 1u << 20, &bound);
        std::printf("encodes type %" PRIu32 " variant %" PRIu32 ": 1 MiB needs at most %" PRIu32
                    " bytes of output\n",
                    table[2 * i], table[2 * i + 1], bound);
    }
    ZOLT_GetSupportedDecodeType(&table, &count);
    for (std::uint32_t i = 0; i < count; ++i) std::printf("decodes type %" PRIu32 "\n", table[i]);
    return 0;
}
