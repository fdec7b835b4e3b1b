// Dense ranks of a text column with few distinct texts.
//
// Surnames, first names, labels and dates repeat: a column of a million
// texts may hold a few hundred distinct ones. Their ranks (the place of each
// text among the column's distinct texts, in byte order) are exact keys of a
// few bits, where the texts' own bytes would need many counting passes and
// then the tie-breaking of texts longer than a key. The distinct texts are
// found with an open-addressing table of their hashes and sorted once.
//
// The search gives up (and costs no more than a bounded pass) as soon as the
// column turns out to hold more distinct texts than asked for, or when its
// texts collide in the table far more than hashes of distinct texts should.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dictsort/sort_rows.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

// The rank of each row's text among the distinct texts of `column`, in row
// order (a Null row's means nothing), when there are at most `max_distinct`
// of them; nothing otherwise.
std::optional<Vector<std::uint32_t>> few_text_ranks(const SortRows& rows, std::size_t column,
                                                    std::size_t max_distinct);

}  // namespace pelm::dictsort
