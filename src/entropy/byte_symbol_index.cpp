#include "entropy/byte_symbol_index.h"

#include <cstring>

namespace tavrine {

// Every byte symbol has a frequency of at least 1, so the intervals of
// symbols kFirstSymbol..255 tile the values cumFreq[kFirstSymbol] ..
// cumFreq[256]-1 exactly. Symbols are
// filled in ascending order, each in whole 16-byte pieces from the start of its
// interval: a piece that runs past the interval's end is overwritten by the
// next symbol, and the last one runs into the slack behind the table. The
// early periods rebuild the table every few dozen symbols, so this matters.
void ByteSymbolIndex::rebuild(const FrequencyModel& model) noexcept {
    constexpr std::uint64_t kEveryByte = 0x0101010101010101;
    const std::uint16_t* cumFreq = model.cumFreq;
    for (std::uint32_t symbol = kFirstSymbol; symbol < static_cast<std::uint32_t>(kEndOfBlock);
         ++symbol) {
        // Every byte of the word is the symbol, whatever the byte order.
        const std::uint64_t word = kEveryByte * symbol;
        const std::array<std::uint64_t, kFillWidth / sizeof(word)> fill{word, word};
        for (std::uint32_t v = cumFreq[symbol]; v < cumFreq[symbol + 1]; v += kFillWidth) {
            std::memcpy(entries_.data() + v, fill.data(), kFillWidth);
        }
    }
}

}  // namespace tavrine
