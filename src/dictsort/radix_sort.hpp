// A stable sort of keyed handles by their keys alone, for keys that decide
// every pair.
//
// Least significant byte first, one counting pass per byte; a byte that is
// the same in every key orders nothing and takes no pass. Every position a
// pass writes comes from counts of the very keys it moves, so the result is
// a permutation of the input whatever the keys hold.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "dictsort/bit_compaction.hpp"
#include "dictsort/order_keys.hpp"

namespace pelm::dictsort {

// Sorts `handles` stably by key, through `buffer`, which has room for as many
// handles. The keys are compacted on the way (bit_compaction.hpp): they
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
    const BitCompaction compaction(all_ones ^ any_ones);
    if (compaction.moves_bits()) {
        for (KeyedHandle& handle : handles) handle.key = compaction.apply(handle.key);
    }
    const std::uint64_t varying = compaction.varying_after();
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
