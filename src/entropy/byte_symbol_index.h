// The decoder's value-to-symbol table of the byte symbols: entry v is the
// symbol s with cumFreq[s] <= v < cumFreq[s + 1], for every v from
// cumFreq[kFirstSymbol] up to cumFreq[256]; values from there on belong to the
// end-of-block symbol, and those below to the symbols the decoder finds by
// comparison, which take most of the table. One load in place of the bucket
// lookup and binary search of modelFindSymbol; valid until the model's next
// full rebuild.
#pragma once

#include <array>
#include <cstdint>

#include "entropy/coder_constants.h"
#include "entropy/frequency_model.h"

namespace tavrine {

class ByteSymbolIndex {
public:
    // A rebuild costs about as much as a dozen searches of the model's
    // lookup table (decoding text), so the table is kept once the model's
    // periods run at least kIndexedInterval updates, from the second period
    // on; only the first period searches instead. Kept only from periods
    // of 288 updates on, inputs of 256 bytes to 2 KB decoded 5-40 % slower.
    static constexpr std::int32_t kIndexedInterval = 72;
    static bool worthKeeping(const FrequencyModel& model) noexcept {
        return model.interval >= kIndexedInterval;
    }

    // The lowest symbol with entries: the ones below are never looked up.
    static constexpr std::uint32_t kFirstSymbol = 3;

    void rebuild(const FrequencyModel& model) noexcept;
    std::uint32_t symbolAt(std::uint32_t value) const noexcept { return entries_[value]; }

private:
    // The rebuild writes eight entries at a time and may run up to seven
    // past the last symbol's interval.
    static constexpr std::uint32_t kSlack = 8;
    std::array<std::uint8_t, coding::kTotal + kSlack> entries_;
};

}  // namespace tavrine
