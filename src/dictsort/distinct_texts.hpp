// The distinct texts of one column, found while its cells are made.
//
// Surnames, first names, labels and dates repeat: a column of a million
// texts may hold a few hundred distinct ones. Each text of such a column is
// stored once, and every cell of that text points to the one entry, so the
// column costs memory per distinct text rather than per row. Once the rows
// are built the distinct texts are sorted, and the rank of each (its place
// among them in byte order) goes into the rank slot of its entry: an exact
// order key of a few bits, read through the cell's own pointer.
//
// The table is open-addressed. A text of up to 16 bytes is found by its
// bytes and length held in the slot itself, so a lookup reads no entry;
// longer texts by a hash of all their bytes and a comparison with the entry.
//
// A column that turns out to hold more distinct texts than asked for (ids,
// free text) stops using the table and copies its remaining texts as they
// come; so does one whose texts collide in the table far more than distinct
// texts should. Its texts are then keyed by their bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "dictsort/text_arena.hpp"
#include "dictsort/text_shape.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

class DistinctTexts {
public:
    // A table for at most `max_distinct` texts among `row_count` cells. It
    // allocates nothing until it stores a text.
    DistinctTexts(std::size_t max_distinct, std::size_t row_count) noexcept;
    DistinctTexts(DistinctTexts&& other) noexcept;
    DistinctTexts& operator=(DistinctTexts&&) = delete;

    // The entry of `text`: the one stored earlier for an equal text, or a new
    // one in `arena`.
    StoredText store(std::string_view text, TextArena& arena) {
        if (gave_up_) return store_new(text, arena);
        if (text.size() <= short_text) {
            const ShortText key = ShortText::of(text);
            std::size_t at = (key.hash() >> shift_) & mask_;
            for (std::size_t probe = 0; probe < short_probes; ++probe) {
                const Slot& slot = slots_[at];
                if (slot.key == key && slot.entry != nullptr) return StoredText(slot.entry);
                if (slot.entry == nullptr) break;
                at = (at + 1) & mask_;
            }
        }
        return store_slowly(text, arena);
    }

    // Whether every text of the column went through the table, so that equal
    // texts share one entry.
    bool complete() const noexcept { return !gave_up_; }

    // Writes the rank of each distinct text into its entry; the table must be
    // complete.
    void rank_entries();

    // What the column's stored texts have in common.
    const TextShape& shape() const noexcept { return shape_; }

private:
    static constexpr std::size_t short_text = 16;
    // Lookups that probe further go the slow way, which counts the probes.
    static constexpr std::size_t short_probes = 8;

    // A text of up to 16 bytes as two words (its first and its last eight
    // bytes, overlapping or zero-padded) and its length, which together tell
    // its bytes; a longer text as its hash and its length.
    struct ShortText {
        std::uint64_t first;
        std::uint64_t last;
        std::uint64_t size;

        static ShortText of(std::string_view text) noexcept {
            const char* bytes = text.data();
            const std::size_t size = text.size();
            ShortText key{0, 0, size};
            if (size >= 8) {
                std::memcpy(&key.first, bytes, 8);
                std::memcpy(&key.last, bytes + size - 8, 8);
            } else if (size >= 4) {
                std::uint32_t first;
                std::uint32_t last;
                std::memcpy(&first, bytes, 4);
                std::memcpy(&last, bytes + size - 4, 4);
                key.first = first;
                key.last = last;
            } else if (size != 0) {
                // The first, the middle and the last byte: all of them.
                key.first = std::uint64_t{static_cast<unsigned char>(bytes[0])} |
                            std::uint64_t{static_cast<unsigned char>(bytes[size / 2])} << 8 |
                            std::uint64_t{static_cast<unsigned char>(bytes[size - 1])} << 16;
            }
            return key;
        }
        std::uint64_t hash() const noexcept {
            return (first ^ (last * 0xbf58476d1ce4e5b9u) ^ size) * 0x9e3779b97f4a7c15u;
        }
        bool operator==(const ShortText&) const noexcept = default;
    };
    struct Slot {
        ShortText key;
        char* entry;  // null for an empty slot
    };

    StoredText store_new(std::string_view text, TextArena& arena) {
        const StoredText stored = arena.store(text);
        shape_.add(stored);
        return stored;
    }
    StoredText store_slowly(std::string_view text, TextArena& arena);
    StoredText give_up(std::string_view text, TextArena& arena);
    void grow();

    // Before the first text, one empty slot that no lookup ever fills.
    Slot empty_slot_{};
    Slot* slots_ = &empty_slot_;
    Vector<Slot> storage_;
    std::size_t mask_ = 0;
    // The table index is the top bits of a hash.
    unsigned shift_ = 32;
    Vector<char*> distinct_;
    TextShape shape_;
    std::size_t max_distinct_;
    // Probes beyond the first, for the whole column: hashes of distinct texts
    // in a table at most half full need about one per lookup.
    std::size_t probe_budget_;
    bool gave_up_ = false;
};

}  // namespace pelm::dictsort
