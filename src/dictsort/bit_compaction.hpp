// Removing the bits that are the same in every key of a set.
//
// A bit that never differs decides no comparison, so dropping it keeps the
// keys' order and their equalities: dates, ids and numbers of one range keep
// few varying bits, which saves counting passes and lets several columns
// share one key. The varying bits are moved down run by run (a run is a
// stretch of neighbouring varying bits); a set whose varying bits form more
// than eight runs is not compacted.
#pragma once

#include <bit>
#include <cstdint>

namespace pelm::dictsort {

// The mask of the lowest `width` bits, 0 to 64.
constexpr std::uint64_t low_bits(unsigned width) noexcept {
    return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
}

class BitCompaction {
public:
    // Plans the compaction of keys whose varying bits are `varying`.
    explicit BitCompaction(std::uint64_t varying) noexcept : varying_(varying) {
        unsigned width = 0;
        for (std::uint64_t rest = varying; rest != 0;) {
            const auto low = static_cast<unsigned>(std::countr_zero(rest));
            const auto length = static_cast<unsigned>(std::countr_one(rest >> low));
            if (run_count_ == max_runs) {
                run_count_ = 0;  // too scattered: keys stay as they are
                return;
            }
            runs_[run_count_++] = {low, low_bits(length), width};
            width += length;
            rest &= ~low_bits(low + length);
        }
        compacts_ = true;
        width_ = width;
    }

    // Whether apply() removes the constant bits; else it returns keys as
    // they are.
    bool compacts() const noexcept { return compacts_; }
    // After apply(), the keys of the set are below 2^width() (when compacts()).
    unsigned width() const noexcept { return width_; }
    // The mask of the bits that vary among the keys after apply().
    std::uint64_t varying_after() const noexcept { return compacts_ ? low_bits(width_) : varying_; }
    // Whether apply() changes keys at all.
    bool moves_bits() const noexcept {
        return compacts_ && !(run_count_ == 1 && runs_[0].shift == 0);
    }

    std::uint64_t apply(std::uint64_t key) const noexcept {
        if (!compacts_) return key;
        std::uint64_t compacted = 0;
        for (unsigned r = 0; r < run_count_; ++r) {
            compacted |= ((key >> runs_[r].shift) & runs_[r].mask) << runs_[r].to;
        }
        return compacted;
    }

private:
    static constexpr unsigned max_runs = 8;
    struct Run {
        unsigned shift;
        std::uint64_t mask;
        unsigned to;
    };
    std::uint64_t varying_;
    Run runs_[max_runs] = {};
    unsigned run_count_ = 0;
    unsigned width_ = 64;
    bool compacts_ = false;
};

}  // namespace pelm::dictsort
