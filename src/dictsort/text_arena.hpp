// TextArena: the storage of every Str cell of one multikeysort call.
//
// Each text is copied once, as a machine-word length and a 32-bit rank slot
// followed by its UTF-8 bytes, into large blocks that are never moved or freed
// before the arena itself, so a cell keeps a plain pointer to its entry. One
// allocation serves thousands of short texts, and a text comparison reads the
// length and the bytes from the same place. The rank slot belongs to whoever
// ranks the texts of a column (distinct_texts.hpp); it starts at 0.
//
// The eight bytes after the end of every text belong to the arena too (their
// values mean nothing), so a word can be loaded at any offset within a text
// without a branch on its length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <bit>
#include <cstring>
#include <memory>
#include <string_view>

#include "frame/short_bytes.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

// A pointer to one entry of a TextArena: the length, the rank slot, then the
// bytes.
class StoredText {
public:
    static constexpr std::size_t rank_offset = sizeof(std::size_t);
    static constexpr std::size_t header = rank_offset + sizeof(std::uint32_t);

    explicit StoredText(char* entry) noexcept : entry_(entry) {}

    std::size_t size() const noexcept {
        std::size_t length;
        std::memcpy(&length, entry_, sizeof length);
        return length;
    }
    const char* data() const noexcept { return entry_ + header; }
    std::string_view view() const noexcept { return {data(), size()}; }
    char* entry() const noexcept { return entry_; }

    // The eight bytes from `offset` (at most size()) on, big-endian, those
    // past the end of the text 0: for texts that agree before `offset`,
    // different words are in the order of the texts' bytes.
    std::uint64_t word_at(std::size_t offset) const noexcept {
        std::uint64_t word;
        std::memcpy(&word, data() + offset, sizeof word);
        if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
        const std::size_t rest = size() - offset;
        return rest >= 8 ? word : word & ~(~std::uint64_t{0} >> (8 * rest));
    }

    std::uint32_t rank() const noexcept {
        std::uint32_t rank;
        std::memcpy(&rank, entry_ + rank_offset, sizeof rank);
        return rank;
    }
    void set_rank(std::uint32_t rank) const noexcept {
        std::memcpy(entry_ + rank_offset, &rank, sizeof rank);
    }

private:
    char* entry_;
};

class TextArena {
public:
    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // The bytes after a text that can be read.
    static constexpr std::size_t readable_after = 8;

    // Copies `text` into the arena; the entry lives as long as the arena.
    StoredText store(std::string_view text) {
        const std::size_t length = text.size();
        char* entry = remaining_ >= header && length <= remaining_ - header
                          ? take(header + length)
                          : reserve_entry(length);
        constexpr std::uint32_t no_rank = 0;
        std::memcpy(entry, &length, sizeof length);
        std::memcpy(entry + StoredText::rank_offset, &no_rank, sizeof no_rank);
        copy_bytes(entry + header, text.data(), length);
        return StoredText(entry);
    }

private:
    static constexpr std::size_t header = StoredText::header;
    struct FreeBlock {
        void operator()(char* block) const noexcept { std::free(block); }
    };
    using Block = std::unique_ptr<char, FreeBlock>;

    static constexpr std::size_t block_size = 64 * 1024;

    // Room for `bytes` in the current block, which has it (besides the bytes
    // readable after them).
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
