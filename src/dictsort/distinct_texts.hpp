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
// A column that turns out to hold more distinct texts than asked for (ids,
// free text) stops using the table and copies its remaining texts as they
// come; so does one whose texts collide in the table far more than hashes of
// distinct texts should. Its texts are then keyed by their bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dictsort/text_arena.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

class DistinctTexts {
public:
    // A table for at most `max_distinct` texts among `row_count` cells. It
    // allocates nothing until it stores a text.
    DistinctTexts(std::size_t max_distinct, std::size_t row_count) noexcept;

    // The entry of `text`: the one stored earlier for an equal text, or a new
    // one in `arena`.
    StoredText store(std::string_view text, TextArena& arena) {
        if (gave_up_) return arena.store(text);
        return store_in_table(text, arena);
    }

    // Whether every text of the column went through the table, so that equal
    // texts share one entry.
    bool complete() const noexcept { return !gave_up_; }
    std::size_t distinct_count() const noexcept { return distinct_.size(); }

    // Writes the rank of each distinct text into its entry; the table must be
    // complete. Returns the number of distinct texts.
    std::size_t rank_entries();

private:
    struct Slot {
        std::uint64_t hash;
        char* entry;  // null for an empty slot
    };

    StoredText store_in_table(std::string_view text, TextArena& arena);
    void give_up() noexcept;
    void grow();

    Vector<Slot> slots_;
    Vector<char*> distinct_;
    std::size_t max_distinct_;
    // Probes beyond the first, for the whole column: hashes of distinct texts
    // in a table at most half full need about one per lookup.
    std::size_t probe_budget_;
    bool gave_up_ = false;
};

}  // namespace pelm::dictsort
