#include "dictsort/text_arena.hpp"

#include <limits>

namespace pelm::dictsort {

char* TextArena::reserve_entry(std::size_t length) {
    if (length > std::numeric_limits<std::size_t>::max() - header - readable_after) {
        allocation_failed(std::numeric_limits<std::size_t>::max());
    }
    const std::size_t bytes = header + length;
    // A text too large to share a block gets a block of its own, so the
    // current block keeps its free space for the short texts that follow.
    if (bytes > block_size / 4) {
        blocks_.emplace_back(static_cast<char*>(checked_malloc(bytes + readable_after)));
        return blocks_.back().get();
    }
    blocks_.emplace_back(static_cast<char*>(checked_malloc(block_size)));
    cursor_ = blocks_.back().get();
    remaining_ = block_size - readable_after;
    return take(bytes);
}

}  // namespace pelm::dictsort
