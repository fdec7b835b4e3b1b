// Order records: each row's order key and its row number packed into one or
// two 64-bit words, and their radix sorts.
//
// The key fields of a sort's leading columns fill the highest bits of the
// record, first column first; the row number fills the lowest bits. Records
// start in row order, and a sort by key bits alone that keeps equal keys in
// their order, or a comparison of whole records (the row number breaking ties
// of keys), gives the stable order of the keys. Bits between the key and the
// row number are 0.
//
// Two radix sorts, chosen by the number of key bits against the number of
// records:
//   least significant digit first: one counting pass for all digits, then
//     one stable scatter per digit; cheapest when a few digits cover the key;
//   most significant digit first: each bucket split by its next digit until
//     it is small enough for an insertion sort; it reads only the digits that
//     tell records apart, so it wins for keys much longer than the count of
//     records needs (doubles, long text windows, several columns).
// Every position either writes comes from counts of the very records it
// moves, so the result is a permutation of the input whatever the keys hold.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>

#include "dictsort/bit_compaction.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

struct OneWordRecord {
    std::uint64_t words[1];

    static constexpr unsigned word_count = 1;
    std::uint64_t low_word() const noexcept { return words[0]; }
    bool operator<(const OneWordRecord& other) const noexcept { return words[0] < other.words[0]; }
    // Whether the two records have the same key, their row numbers being the
    // bits of `row_mask`.
    bool same_key(const OneWordRecord& other, std::uint64_t row_mask) const noexcept {
        return ((words[0] ^ other.words[0]) & ~row_mask) == 0;
    }
};

// words[0] is the high word.
struct TwoWordRecord {
    std::uint64_t words[2];

    static constexpr unsigned word_count = 2;
    std::uint64_t low_word() const noexcept { return words[1]; }
    bool operator<(const TwoWordRecord& other) const noexcept {
        return words[0] != other.words[0] ? words[0] < other.words[0] : words[1] < other.words[1];
    }
    bool same_key(const TwoWordRecord& other, std::uint64_t row_mask) const noexcept {
        return words[0] == other.words[0] && ((words[1] ^ other.words[1]) & ~row_mask) == 0;
    }
};

// Where a digit lies in a record: `width` bits that start `top` bits below
// the record's highest bit, within one word.
struct DigitPlace {
    unsigned word;
    unsigned shift;
    std::uint64_t mask;

    static DigitPlace at(unsigned top, unsigned width) noexcept {
        return {top / 64, 64 - top % 64 - width, low_bits(width)};
    }
    template <class Record>
    std::size_t of(const Record& record) const noexcept {
        return static_cast<std::size_t>((record.words[word] >> shift) & mask);
    }
};

namespace detail {

// Buckets of at most this many records are sorted by insertion.
inline constexpr std::size_t record_insertion_limit = 16;
inline constexpr unsigned max_digit_width = 11;

template <class Record>
void insertion_sort_records(Record* records, std::size_t count) noexcept {
    for (std::size_t i = 1; i < count; ++i) {
        const Record moving = records[i];
        std::size_t j = i;
        for (; j > 0 && moving < records[j - 1]; --j) records[j] = records[j - 1];
        records[j] = moving;
    }
}

// Counting tables cost a pass over 2^width entries: digits of 8 bits suit
// thousands of records, 11 bits (four times fewer passes than bytes would
// need for 32 bits... at most) millions.
inline unsigned widest_digit(std::size_t count) noexcept {
    return count >= (std::size_t{1} << 16) ? 11 : 8;
}

// Digits of at most widest_digit(count) bits covering the key bits [0,
// key_bits), none across the boundary of two words, least significant first.
// Returns their number.
inline unsigned plan_digits(std::size_t count, unsigned key_bits, DigitPlace* places) noexcept {
    const unsigned widest = widest_digit(count);
    unsigned digit_count = 0;
    // The key bits of the low word, then those of the high word.
    for (unsigned end = key_bits; end > 0;) {
        const unsigned start = end > 64 ? 64 : 0;
        const unsigned length = end - start;
        const unsigned parts = (length + widest - 1) / widest;
        for (unsigned part = 0; part < parts; ++part) {
            // Equal shares, the first ones a bit wider.
            const unsigned width = length / parts + (part < length % parts ? 1 : 0);
            end -= width;
            places[digit_count++] = DigitPlace::at(end, width);
        }
    }
    return digit_count;
}

// Digits with about as many values as the bucket has records, so that most
// buckets they make are too small to split again; no wider than the key bits
// left, and within one word of the record.
inline unsigned split_width(std::size_t count, unsigned top, unsigned key_bits) noexcept {
    unsigned width = 3;
    while (width < max_digit_width && (std::size_t{2} << width) < count) ++width;
    width = std::min(width, key_bits - top);
    if (top < 64 && top + width > 64) width = 64 - top;
    return width;
}

template <class Record>
void lsd_sort(std::span<Record> records, std::span<Record> buffer, const DigitPlace* places,
              unsigned digit_count) {
    const std::size_t count = records.size();
    constexpr std::size_t table_size = std::size_t{1} << max_digit_width;
    ScratchArray<std::size_t> tables(std::size_t{digit_count} * table_size);
    for (unsigned d = 0; d < digit_count; ++d) {
        std::fill_n(tables.data() + d * table_size, places[d].mask + 1, 0);
    }
    for (const Record& record : records) {
        for (unsigned d = 0; d < digit_count; ++d) ++tables[d * table_size + places[d].of(record)];
    }
    Record* from = records.data();
    Record* to = buffer.data();
    for (unsigned d = 0; d < digit_count; ++d) {
        const DigitPlace place = places[d];
        std::size_t* const starts = tables.data() + d * table_size;
        if (starts[place.of(*from)] == count) continue;  // one digit for all
        std::size_t sum = 0;
        for (std::size_t v = 0; v <= place.mask; ++v) sum += std::exchange(starts[v], sum);
        for (std::size_t i = 0; i < count; ++i) to[starts[place.of(from[i])]++] = from[i];
        std::swap(from, to);
    }
    if (from != records.data()) std::memcpy(records.data(), from, count * sizeof(Record));
}

template <class Record>
void msd_sort(std::span<Record> records, std::span<Record> buffer, unsigned key_bits) {
    struct Bucket {
        std::size_t start;
        std::size_t count;
        unsigned top;
    };
    Vector<Bucket> pending;
    pending.push_back({0, records.size(), 0});
    std::size_t ends[std::size_t{1} << max_digit_width];
    while (!pending.empty()) {
        Bucket bucket = pending.back();
        pending.pop_back();
        Record* const from = records.data() + bucket.start;
        Record* const to = buffer.data() + bucket.start;
        while (true) {
            if (bucket.count <= record_insertion_limit) {
                insertion_sort_records(from, bucket.count);
                break;
            }
            if (bucket.top >= key_bits) break;  // equal keys, in their order
            const unsigned width = split_width(bucket.count, bucket.top, key_bits);
            const DigitPlace place = DigitPlace::at(bucket.top, width);
            const std::size_t digits = std::size_t{1} << width;
            std::fill_n(ends, digits, 0);
            for (std::size_t i = 0; i < bucket.count; ++i) ++ends[place.of(from[i])];
            if (ends[place.of(from[0])] == bucket.count) {
                bucket.top += width;  // one digit for all: nothing to split
                continue;
            }
            std::size_t sum = 0;
            for (std::size_t d = 0; d < digits; ++d) sum += std::exchange(ends[d], sum);
            for (std::size_t i = 0; i < bucket.count; ++i) to[ends[place.of(from[i])]++] = from[i];
            std::memcpy(from, to, bucket.count * sizeof(Record));
            // The buckets are the runs of records with equal digits.
            for (std::size_t start = 0; start < bucket.count;) {
                const std::size_t digit = place.of(from[start]);
                const std::size_t end = ends[digit];
                const std::size_t size = end - start;
                if (size > record_insertion_limit) {
                    pending.push_back({bucket.start + start, size, bucket.top + width});
                } else if (size > 1) {
                    insertion_sort_records(from + start, size);
                }
                start = end;
            }
            break;
        }
    }
}

}  // namespace detail

// Sorts `records` by their highest `key_bits` bits, equal keys keeping their
// order, through `buffer` (as large as `records`).
template <class Record>
void sort_records(std::span<Record> records, std::span<Record> buffer, unsigned key_bits) {
    if (records.size() < 2 || key_bits == 0) return;
    DigitPlace places[2 * 64];
    const unsigned digit_count = detail::plan_digits(records.size(), key_bits, places);
    // Least significant digit first while it takes few passes; more passes
    // than the splits of the other way need are wasted.
    const unsigned lsd_passes = records.size() >= (std::size_t{1} << 16) ? 3 : 2;
    if (digit_count <= lsd_passes) {
        detail::lsd_sort(records, buffer, places, digit_count);
    } else {
        detail::msd_sort(records, buffer, key_bits);
    }
}

}  // namespace pelm::dictsort
