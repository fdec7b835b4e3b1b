// What the texts of one column have in common, gathered as they are stored:
// the bits in which their first sixteen bytes differ, and the range of their
// lengths. From these the prefix that every text shares follows without
// another pass over the cells, where it lies within the first sixteen bytes.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

#include "dictsort/text_arena.hpp"

namespace pelm::dictsort {

class TextShape {
public:
    void add(StoredText text) noexcept {
        const std::size_t size = text.size();
        const std::uint64_t head = text.word_at(0);
        const std::uint64_t next = size >= 8 ? text.word_at(8) : 0;
        head_any_ones_ |= head;
        head_all_ones_ &= head;
        next_any_ones_ |= next;
        next_all_ones_ &= next;
        shortest_ = std::min(shortest_, size);
        longest_ = std::max(longest_, size);
        if (!first_) first_ = text;
    }

    // One of the texts, or nothing when there are none.
    std::optional<StoredText> first() const noexcept { return first_; }
    std::size_t shortest() const noexcept { return shortest_; }
    std::size_t longest() const noexcept { return longest_; }

    // The length of the prefix that every text shares when it is shorter than
    // sixteen bytes; else at least sixteen (the shortest length), to be
    // checked text by text past sixteen bytes. Bytes past the end of a text
    // count as 0 here and may match NUL bytes; the shortest length bounds
    // that.
    std::size_t prefix_within_sixteen() const noexcept {
        if (const std::uint64_t differ = head_any_ones_ ^ head_all_ones_) {
            return std::min(shortest_, static_cast<std::size_t>(std::countl_zero(differ)) / 8);
        }
        if (const std::uint64_t differ = next_any_ones_ ^ next_all_ones_) {
            return std::min(shortest_, 8 + static_cast<std::size_t>(std::countl_zero(differ)) / 8);
        }
        return shortest_;
    }

private:
    std::uint64_t head_any_ones_ = 0;
    std::uint64_t head_all_ones_ = ~std::uint64_t{0};
    std::uint64_t next_any_ones_ = 0;
    std::uint64_t next_all_ones_ = ~std::uint64_t{0};
    std::size_t shortest_ = std::numeric_limits<std::size_t>::max();
    std::size_t longest_ = 0;
    std::optional<StoredText> first_;
};

}  // namespace pelm::dictsort
