#include "dictsort/distinct_texts.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

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
    // The 0 to 7 bytes after the last whole word (the mask tells the compiler
    // so).
    std::uint64_t tail = 0;
    copy_bytes(&tail, text.data() + i, (text.size() - i) & 7);
    hash = (hash ^ tail) * 0x94d049bb133111ebu;
    return hash ^ (hash >> 29);
}

constexpr std::size_t first_slot_count = 64;

}  // namespace

DistinctTexts::DistinctTexts(std::size_t max_distinct, std::size_t row_count) noexcept
    : max_distinct_(std::min<std::size_t>(max_distinct, std::numeric_limits<std::uint32_t>::max())),
      probe_budget_(4 * row_count + 64) {}

DistinctTexts::DistinctTexts(DistinctTexts&& other) noexcept
    : storage_(std::move(other.storage_)),
      mask_(other.mask_),
      shift_(other.shift_),
      distinct_(std::move(other.distinct_)),
      shape_(other.shape_),
      max_distinct_(other.max_distinct_),
      probe_budget_(other.probe_budget_),
      gave_up_(other.gave_up_) {
    slots_ = storage_.empty() ? &empty_slot_ : storage_.data();
    other.slots_ = &other.empty_slot_;
    other.mask_ = 0;
}

StoredText DistinctTexts::give_up(std::string_view text, TextArena& arena) {
    gave_up_ = true;
    slots_ = &empty_slot_;
    mask_ = 0;
    Vector<Slot>().swap(storage_);
    Vector<char*>().swap(distinct_);
    return store_new(text, arena);
}

void DistinctTexts::grow() {
    Vector<Slot> old(std::max(first_slot_count, 2 * storage_.size()), Slot{});
    old.swap(storage_);
    slots_ = storage_.data();
    mask_ = storage_.size() - 1;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(storage_.size()));
    for (const Slot& slot : old) {
        if (slot.entry == nullptr) continue;
        std::size_t at = (slot.key.hash() >> shift_) & mask_;
        while (slots_[at].entry != nullptr) at = (at + 1) & mask_;
        slots_[at] = slot;
    }
}

StoredText DistinctTexts::store_slowly(std::string_view text, TextArena& arena) {
    // At most half full, so an empty slot always ends a probe.
    if (2 * (distinct_.size() + 1) > storage_.size()) grow();
    const bool is_short = text.size() <= short_text;
    const ShortText key = is_short ? ShortText::of(text) : ShortText{text_hash(text), 0, text.size()};
    for (std::size_t at = (key.hash() >> shift_) & mask_;; at = (at + 1) & mask_) {
        Slot& slot = slots_[at];
        if (slot.entry == nullptr) {
            if (distinct_.size() == max_distinct_) break;
            const StoredText stored = store_new(text, arena);
            slot = {key, stored.entry()};
            distinct_.push_back(stored.entry());
            return stored;
        }
        if (slot.key == key) {
            const StoredText known(slot.entry);
            if (is_short || equal_bytes(known.data(), text.data(), text.size())) return known;
        }
        if (probe_budget_ == 0) break;
        --probe_budget_;
    }
    return give_up(text, arena);
}

void DistinctTexts::rank_entries() {
    // string_view orders by unsigned bytes, a prefix first.
    std::sort(distinct_.begin(), distinct_.end(), [](char* a, char* b) {
        return StoredText(a).view() < StoredText(b).view();
    });
    for (std::size_t rank = 0; rank < distinct_.size(); ++rank) {
        StoredText(distinct_[rank]).set_rank(static_cast<std::uint32_t>(rank));
    }
}

}  // namespace pelm::dictsort
