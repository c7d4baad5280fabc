// The model as the inline coding steps see it: its counters that change with
// every symbol, held in locals between period ends (the table pointers change
// only in modelInit), and the entries of the coding table that the decoder
// tests against every symbol. count() is modelUpdate, exactly.
#pragma once

#include <array>
#include <cstdint>

#include "entropy/byte_symbol_index.h"
#include "entropy/coder_constants.h"
#include "entropy/frequency_model.h"

namespace tavrine {

// The model's period end, as modelUpdate would run it, except for the lookup
// table: when the coding table changed and `index` is given (decoding), the
// index is rebuilt if the periods are long enough for it to be worth keeping,
// and the lookup table otherwise; periods only grow, so from the first such
// rebuild on the index stays current. Without an index (encoding) the lookup
// table is left stale.
void rescaleModel(FrequencyModel* model, ByteSymbolIndex* index) noexcept;

class SymbolCounter {
public:
    // `index` is the decoder's table, kept current at period ends; null when encoding.
    SymbolCounter(FrequencyModel* model, ByteSymbolIndex* index) noexcept
        : model_(model), index_(index), cumFreq_(model->cumFreq), accumFreq_(model->accumFreq) {
        load();
    }

    // modelUpdate(symbol).
    void count(std::uint32_t symbol) noexcept {
        endPeriodIfDue();
        --tally_;
        accumFreq_[symbol] = static_cast<std::uint16_t>(accumFreq_[symbol] + step_);
    }

    // count(0) for a decoder in a run of zeros: symbol 0's additions gather
    // in a register until the model needs them, so that a run is not a chain
    // of loads and stores of one counter. The counters wrap at 2^16 either way.
    void countZero() noexcept {
        endPeriodIfDue();
        tally_ += zeroStep_;
    }

    // Hands the counters back to the model.
    void store() noexcept {
        addGatheredZeros();
        model_->untilRescale = untilRescale();
    }

    const std::uint16_t* cumFreq() const noexcept { return cumFreq_; }
    // The index is given and kept current: the model's periods are long.
    bool indexed() const noexcept { return indexed_; }
    // cumFreq[1], cumFreq[2], cumFreq[3]: where symbols 0, 1 and 2 end.
    std::uint32_t top(std::uint32_t symbol) const noexcept { return tops_[symbol]; }
    // Symbol 0 takes over half of the table: runs of it are common enough
    // for the decoder to test for it first.
    bool zeroDominates() const noexcept { return tops_[0] >= kDominantZeroTop; }
    std::uint32_t endOfBlockBase() const noexcept { return endOfBlockBase_; }  // cumFreq[256]

private:
    // Testing for symbol 0 first costs a mispredicted branch whenever another
    // symbol comes, and saves the comparisons and conditional moves of the
    // other symbols whenever it is 0. Since a zero is counted in a register
    // (tally_), the test pays from a share of about 9/16 on: lower, it cost
    // text 1-4 %; at 3/4, spreadsheet and small inputs decoded 4-12 % slower.
    static constexpr std::uint32_t kDominantZeroTop = coding::kTotal * 9 / 16;

    void endPeriodIfDue() noexcept {
        if (untilRescale() <= 0) [[unlikely]] {
            store();
            rescaleModel(model_, index_);
            load();
        }
    }

    // The updates left until the model's period ends: the tally's low half.
    std::int32_t untilRescale() const noexcept { return static_cast<std::int32_t>(tally_); }

    void addGatheredZeros() noexcept {
        const auto zeroAdded = static_cast<std::uint32_t>(tally_ >> 32);
        accumFreq_[0] = static_cast<std::uint16_t>(accumFreq_[0] + zeroAdded);
        tally_ = static_cast<std::uint32_t>(tally_);
    }

    void load() noexcept {
        tally_ = static_cast<std::uint32_t>(model_->untilRescale);
        step_ = model_->step;
        zeroStep_ = (std::uint64_t{static_cast<std::uint32_t>(step_)} << 32) - 1;
        for (std::uint32_t s = 0; s < tops_.size(); ++s) tops_[s] = cumFreq_[s + 1];
        endOfBlockBase_ = cumFreq_[kEndOfBlock];
        indexed_ = index_ != nullptr && ByteSymbolIndex::worthKeeping(*model_);
    }

    FrequencyModel* model_;
    ByteSymbolIndex* index_;
    const std::uint16_t* cumFreq_;
    std::uint16_t* accumFreq_;
    // Two counters in one register: the low half the updates left until the
    // period ends, the high half symbol 0's additions not yet in
    // accumFreq_[0]. countZero updates both with one addition of zeroStep_;
    // the low half is positive before every update, so it never borrows.
    std::uint64_t tally_ = 0;
    std::uint64_t zeroStep_ = 0;  // step in the high half, minus one
    std::int32_t step_ = 0;
    std::array<std::uint32_t, 3> tops_{};
    std::uint32_t endOfBlockBase_ = 0;
    bool indexed_ = false;
};

}  // namespace tavrine
