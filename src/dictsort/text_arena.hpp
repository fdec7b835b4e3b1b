// TextArena: the storage of every Str cell of one multikeysort call.
//
// Each text is copied once, as a machine-word length followed by its UTF-8
// bytes, into large blocks that are never moved or freed before the arena
// itself, so a cell keeps a plain pointer to its entry. One allocation serves
// thousands of short texts, and a text comparison reads the length and the
// bytes from the same place.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "frame/short_bytes.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

// A pointer to one entry of a TextArena: the length, then the bytes.
class StoredText {
public:
    explicit StoredText(const char* entry) noexcept : entry_(entry) {}

    std::size_t size() const noexcept {
        std::size_t length;
        std::memcpy(&length, entry_, sizeof length);
        return length;
    }
    const char* data() const noexcept { return entry_ + sizeof(std::size_t); }
    std::string_view view() const noexcept { return {data(), size()}; }
    const char* entry() const noexcept { return entry_; }

private:
    const char* entry_;
};

class TextArena {
public:
    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // Copies `text` into the arena; the entry lives as long as the arena.
    StoredText store(std::string_view text) {
        const std::size_t length = text.size();
        char* entry = remaining_ >= header && length <= remaining_ - header
                          ? take(header + length)
                          : reserve_entry(length);
        std::memcpy(entry, &length, header);
        copy_bytes(entry + header, text.data(), length);
        return StoredText(entry);
    }

private:
    static constexpr std::size_t header = sizeof(std::size_t);
    struct FreeBlock {
        void operator()(char* block) const noexcept { std::free(block); }
    };
    using Block = std::unique_ptr<char, FreeBlock>;

    static constexpr std::size_t block_size = 64 * 1024;

    // Room for `bytes` in the current block, which has it.
    char* take(std::size_t bytes) noexcept {
        char* start = cursor_;
        cursor_ += bytes;
        remaining_ -= bytes;
        return start;
    }
    // Room for an entry of a text of `length` bytes, in a new block.
    char* reserve_entry(std::size_t length);

    Vector<Block> blocks_;
    char* cursor_ = nullptr;
    std::size_t remaining_ = 0;
};

}  // namespace pelm::dictsort
