#include "dictsort/text_ranks.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string_view>

#include "frame/short_bytes.hpp"

namespace pelm::dictsort {
namespace {

// A fast, unkeyed hash of a text: a multiply-mix of its 8-byte words and its
// length. Colliding inputs only cost probes, which are bounded.
std::uint64_t text_hash(std::string_view text) noexcept {
    std::uint64_t hash = text.size() * 0x9e3779b97f4a7c15u;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        hash = (hash ^ word) * 0xbf58476d1ce4e5b9u;
        hash ^= hash >> 31;
    }
    std::uint64_t tail = 0;
    copy_bytes(&tail, text.data() + i, text.size() - i);
    hash = (hash ^ tail) * 0x94d049bb133111ebu;
    return hash ^ (hash >> 29);
}

struct Slot {
    std::uint64_t hash;
    // One more than the index of the distinct text; 0 for an empty slot.
    std::uint32_t distinct_plus_one;
};

}  // namespace

std::optional<Vector<std::uint32_t>> few_text_ranks(const SortRows& rows, std::size_t column,
                                                    std::size_t max_distinct) {
    const std::size_t row_count = rows.row_count();
    if (max_distinct >= std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    // At most half full, so an empty slot always ends a probe.
    const std::size_t slot_count = std::bit_ceil(2 * max_distinct + 2);
    const std::size_t mask = slot_count - 1;
    Vector<Slot> slots(slot_count, Slot{0, 0});
    Vector<std::string_view> distinct;
    distinct.reserve(max_distinct);
    Vector<std::uint32_t> ranks(row_count, 0);
    // Probes beyond the first, over the whole column: hashes of distinct texts
    // in a half-full table need about one per lookup.
    std::size_t probe_budget = 4 * row_count + 64;

    for (std::size_t row = 0; row < row_count; ++row) {
        const SortValue& cell = rows.cells(row)[column];
        if (cell.kind() != SortValue::Kind::Str) continue;
        const std::string_view text = cell.text().view();
        const std::uint64_t hash = text_hash(text);
        std::size_t at = hash & mask;
        while (true) {
            Slot& slot = slots[at];
            if (slot.distinct_plus_one == 0) {
                if (distinct.size() == max_distinct) return std::nullopt;
                distinct.push_back(text);
                slot = {hash, static_cast<std::uint32_t>(distinct.size())};
                break;
            }
            const std::string_view known = distinct[slot.distinct_plus_one - 1];
            if (slot.hash == hash && known.size() == text.size() &&
                equal_bytes(known.data(), text.data(), text.size())) {
                break;
            }
            if (probe_budget-- == 0) return std::nullopt;
            at = (at + 1) & mask;
        }
        ranks[row] = slots[at].distinct_plus_one - 1;
    }

    // string_view compares by unsigned bytes, the shorter prefix first.
    Vector<std::uint32_t> by_text(distinct.size());
    for (std::uint32_t i = 0; i < by_text.size(); ++i) by_text[i] = i;
    std::sort(by_text.begin(), by_text.end(),
              [&](std::uint32_t a, std::uint32_t b) { return distinct[a] < distinct[b]; });
    Vector<std::uint32_t> rank_of(distinct.size());
    for (std::uint32_t rank = 0; rank < by_text.size(); ++rank) rank_of[by_text[rank]] = rank;
    for (std::size_t row = 0; row < row_count; ++row) ranks[row] = rank_of[ranks[row]];
    return ranks;
}

}  // namespace pelm::dictsort
