// Removing the bits that are the same in every key of a set.
//
// A bit that never differs decides no comparison, so dropping it keeps the
// keys' order and their equalities: dates, ids and numbers of one range keep
// few varying bits, which lets several columns share one order key and
// leaves the radix sort only bits that tell rows apart. The varying bits are
// moved down run by run (a run is a stretch of neighbouring varying bits).
// When they form more than eight runs, the runs closest together are merged
// (keeping the constant bits between them), which still keeps the order.
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
    explicit BitCompaction(std::uint64_t varying) noexcept {
        Run found[32];
        unsigned count = 0;
        for (std::uint64_t rest = varying; rest != 0;) {
            const auto low = static_cast<unsigned>(std::countr_zero(rest));
            const auto length = static_cast<unsigned>(std::countr_one(rest >> low));
            found[count++] = {low, length};
            rest &= ~low_bits(low + length);
        }
        while (count > max_runs) merge_closest(found, count);
        unsigned width = 0;
        for (unsigned r = 0; r < count; ++r) {
            runs_[r] = {found[r].low, low_bits(found[r].length), width};
            kept_ |= low_bits(found[r].length) << found[r].low;
            width += found[r].length;
        }
        run_count_ = count;
        width_ = width;
    }

    // After apply(), the keys of the set are below 2^width().
    unsigned width() const noexcept { return width_; }
    // The bits that apply() keeps: apply(key) gathers the bits of key under
    // this mask, in their order, into the lowest bits.
    std::uint64_t kept() const noexcept { return kept_; }

    std::uint64_t apply(std::uint64_t key) const noexcept {
        if (run_count_ == 1) return (key >> runs_[0].shift) & runs_[0].mask;
        std::uint64_t compacted = 0;
        for (unsigned r = 0; r < run_count_; ++r) {
            compacted |= ((key >> runs_[r].shift) & runs_[r].mask) << runs_[r].to;
        }
        return compacted;
    }

private:
    static constexpr unsigned max_runs = 8;
    struct Run {
        unsigned low;
        unsigned length;
    };
    struct Move {
        unsigned shift;
        std::uint64_t mask;
        unsigned to;
    };

    // Joins the two neighbouring runs with the fewest bits between them.
    static void merge_closest(Run* runs, unsigned& count) noexcept {
        unsigned best = 0;
        unsigned best_gap = 64;
        for (unsigned r = 0; r + 1 < count; ++r) {
            const unsigned gap = runs[r + 1].low - (runs[r].low + runs[r].length);
            if (gap < best_gap) {
                best = r;
                best_gap = gap;
            }
        }
        runs[best].length = runs[best + 1].low + runs[best + 1].length - runs[best].low;
        for (unsigned r = best + 1; r + 1 < count; ++r) runs[r] = runs[r + 1];
        --count;
    }

    Move runs_[max_runs] = {};
    std::uint64_t kept_ = 0;
    unsigned run_count_ = 0;
    unsigned width_ = 0;
};

}  // namespace pelm::dictsort
