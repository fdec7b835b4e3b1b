// A stable sort of keyed handles by their keys alone, for keys that decide
// every pair.
//
// Least significant byte first, one counting pass per byte; a byte that is
// the same in every key orders nothing and takes no pass. Every position a
// pass writes comes from counts of the very keys it moves, so the result is
// a permutation of the input whatever the keys hold.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "dictsort/order_keys.hpp"

namespace pelm::dictsort {

namespace detail {

// Removes from every key the bits that are the same in all keys, which keeps
// their order and their equalities: dates, ids and numbers of one range leave
// few varying bits, so fewer passes. The varying bits are moved down run by
// run (a run is a stretch of neighbouring varying bits); keys with more than
// `max_runs` runs are left as they are. Takes and returns the mask of the
// bits that vary among the keys.
inline std::uint64_t compact_keys(std::span<KeyedHandle> handles, std::uint64_t varying) {
    constexpr unsigned max_runs = 8;
    struct Run {
        unsigned shift;
        std::uint64_t mask;
        unsigned to;
    };
    Run runs[max_runs];
    unsigned run_count = 0;
    unsigned width = 0;
    for (std::uint64_t rest = varying; rest != 0;) {
        const auto low = static_cast<unsigned>(std::countr_zero(rest));
        const auto length = static_cast<unsigned>(std::countr_one(rest >> low));
        if (run_count == max_runs) return varying;
        runs[run_count++] = {low, length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1,
                             width};
        width += length;
        rest &= length + low == 64 ? 0 : ~std::uint64_t{0} << (low + length);
    }
    const std::uint64_t compacted = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
    if (run_count == 1 && runs[0].shift == 0) return compacted;  // nothing to move
    for (KeyedHandle& handle : handles) {
        std::uint64_t key = 0;
        for (unsigned r = 0; r < run_count; ++r) {
            key |= ((handle.key >> runs[r].shift) & runs[r].mask) << runs[r].to;
        }
        handle.key = key;
    }
    return compacted;
}

}  // namespace detail

// Sorts `handles` stably by key, through `buffer`, which has room for as many
// handles. The keys are compacted on the way (detail::compact_keys): they
// keep their order and equalities, not their values.
inline void radix_sort(std::span<KeyedHandle> handles, std::span<KeyedHandle> buffer) {
    constexpr unsigned byte_count = 8;
    if (handles.size() < 2) return;
    std::uint64_t all_ones = ~std::uint64_t{0};
    std::uint64_t any_ones = 0;
    for (const KeyedHandle& handle : handles) {
        all_ones &= handle.key;
        any_ones |= handle.key;
    }
    if (all_ones == any_ones) return;  // all keys equal
    const std::uint64_t varying = detail::compact_keys(handles, all_ones ^ any_ones);
    unsigned shifts[byte_count];
    unsigned pass_count = 0;
    for (unsigned byte = 0; byte < byte_count; ++byte) {
        if (((varying >> (8 * byte)) & 0xff) != 0) shifts[pass_count++] = 8 * byte;
    }

    std::size_t starts[byte_count][256];
    for (unsigned pass = 0; pass < pass_count; ++pass) std::fill_n(starts[pass], 256, 0);
    for (const KeyedHandle& handle : handles) {
        for (unsigned pass = 0; pass < pass_count; ++pass) {
            ++starts[pass][(handle.key >> shifts[pass]) & 0xff];
        }
    }
    KeyedHandle* from = handles.data();
    KeyedHandle* to = buffer.data();
    for (unsigned pass = 0; pass < pass_count; ++pass) {
        std::size_t* const start = starts[pass];
        std::size_t sum = 0;
        for (unsigned digit = 0; digit < 256; ++digit) sum += std::exchange(start[digit], sum);
        const unsigned shift = shifts[pass];
        for (std::size_t i = 0; i < handles.size(); ++i) {
            to[start[(from[i].key >> shift) & 0xff]++] = from[i];
        }
        std::swap(from, to);
    }
    if (from != handles.data()) std::copy(from, from + handles.size(), handles.data());
}

}  // namespace pelm::dictsort
