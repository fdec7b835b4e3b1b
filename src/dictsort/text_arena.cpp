#include "dictsort/text_arena.hpp"

#include <limits>

namespace pelm::dictsort {

char* TextArena::reserve(std::size_t bytes) {
    if (bytes <= remaining_) {
        char* start = cursor_;
        cursor_ += bytes;
        remaining_ -= bytes;
        return start;
    }
    // A text too large to share a block gets a block of its own, so the
    // current block keeps its free space for the short texts that follow.
    if (bytes > block_size / 4) {
        blocks_.emplace_back(static_cast<char*>(checked_malloc(bytes)));
        return blocks_.back().get();
    }
    blocks_.emplace_back(static_cast<char*>(checked_malloc(block_size)));
    cursor_ = blocks_.back().get() + bytes;
    remaining_ = block_size - bytes;
    return blocks_.back().get();
}

StoredText TextArena::store(std::string_view text) {
    constexpr std::size_t header = sizeof(std::size_t);
    if (text.size() > std::numeric_limits<std::size_t>::max() - header) {
        allocation_failed(std::numeric_limits<std::size_t>::max());
    }
    char* entry = reserve(header + text.size());
    const std::size_t length = text.size();
    std::memcpy(entry, &length, header);
    if (length != 0) std::memcpy(entry + header, text.data(), length);
    return StoredText(entry);
}

}  // namespace pelm::dictsort
