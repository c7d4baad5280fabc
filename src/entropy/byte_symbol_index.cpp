#include "entropy/byte_symbol_index.h"

#include <cstring>

#include "platform/byte_order.h"

namespace tavrine {

namespace {

constexpr std::uint64_t kEveryByte = 0x0101010101010101;
constexpr std::uint32_t kWordBytes = sizeof(std::uint64_t);
constexpr std::uint32_t kTopByteShift = 56;

}  // namespace

// Every byte symbol has a frequency of at least 1, so the intervals of
// symbols kFirstSymbol..255 tile the values cumFreq[kFirstSymbol] ..
// cumFreq[256]-1 exactly, and each later symbol's interval starts at a value
// of its own. The table is built without a branch per symbol, whose exits
// mispredict as the intervals vary in length: a 1 marks where each symbol
// after the first begins, and running sums of the marks, from kFirstSymbol
// on, give every value its symbol. The sums go eight entries at a time: the
// product of a word of marks with kEveryByte holds in byte k the marks of
// bytes 0..k (little-endian, whatever the host), and no byte overflows, since
// no sum passes 255. The last word may run up to seven entries past the
// table's end, into the slack behind it. The work follows the table's length
// rather than the symbols': about half the time of a fill per symbol where
// symbols 0 to 2 take most of the values (text), and twice it where all
// symbols are about as frequent (random data), whose decoding is slow anyway.
void ByteSymbolIndex::rebuild(const FrequencyModel& model) noexcept {
    const std::uint16_t* cumFreq = model.cumFreq;
    const std::uint32_t first = cumFreq[kFirstSymbol];
    const std::uint32_t end = cumFreq[kEndOfBlock];
    const std::uint32_t words = (end - first + kWordBytes - 1) / kWordBytes;
    std::uint8_t* marks = entries_.data() + first;
    std::memset(marks, 0, std::size_t{words} * kWordBytes);
    // Unrolled: the loop's own steps were half of its work.
#pragma GCC unroll 4
    for (std::uint32_t symbol = kFirstSymbol + 1; symbol < static_cast<std::uint32_t>(kEndOfBlock);
         ++symbol) {
        entries_[cumFreq[symbol]] = 1;
    }
    std::uint64_t symbol = kFirstSymbol;
    for (std::uint32_t w = 0; w < words; ++w) {
        std::uint8_t* at = marks + std::size_t{w} * kWordBytes;
        const std::uint64_t sums = platform::loadLittleEndian64(at) * kEveryByte;
        platform::storeLittleEndian64(at, sums + symbol * kEveryByte);
        symbol += sums >> kTopByteShift;
    }
}

}  // namespace tavrine
