#include "dictsort/column_keys.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "dictsort/value_keys.hpp"
#include "frame/fault.hpp"

namespace pelm::dictsort {
namespace {

class KeyWriter {
public:
    KeyWriter(const SortRows& rows, std::size_t column)
        : rows_(rows), column_(column), has_null_(rows.summary(column).has(SortValue::Kind::Null)) {
        keys_.keys = ScratchArray<std::uint64_t>(rows.row_count());
        if (has_null_) keys_.null_rows = ScratchArray<unsigned char>(rows.row_count());
    }

    const SortRows& rows() const noexcept { return rows_; }
    std::size_t column() const noexcept { return column_; }

    // Sets the key of each row from `key_of(cell)`, marking the Null rows.
    template <class KeyOf>
    void fill(KeyOf key_of) {
        std::uint64_t all_ones = ~std::uint64_t{0};
        std::uint64_t any_ones = 0;
        const std::size_t count = rows_.row_count();
        std::uint64_t* const keys = keys_.keys.data();
        if (has_null_) {
            unsigned char* const nulls = keys_.null_rows.data();
            bool has_value = false;
            for (std::size_t row = 0; row < count; ++row) {
                const SortValue& value = rows_.cell(row, column_);
                const bool null = value.kind() == SortValue::Kind::Null;
                nulls[row] = null ? 1 : 0;
                if (null) {
                    keys[row] = 0;
                    continue;
                }
                const std::uint64_t key = key_of(value);
                keys[row] = key;
                all_ones &= key;
                any_ones |= key;
                has_value = true;
            }
            keys_.has_value = has_value;
        } else {
            for (std::size_t row = 0; row < count; ++row) {
                const std::uint64_t key = key_of(rows_.cell(row, column_));
                keys[row] = key;
                all_ones &= key;
                any_ones |= key;
            }
            keys_.has_value = count != 0;
        }
        keys_.varying = keys_.has_value ? all_ones ^ any_ones : 0;
    }

    ColumnKeys take(bool exact) {
        keys_.exact = exact;
        return std::move(keys_);
    }

private:
    const SortRows& rows_;
    std::size_t column_;
    bool has_null_;
    ColumnKeys keys_;
};

ColumnKeys text_keys(KeyWriter writer, DistinctTexts& distinct) {
    if (distinct.complete()) {
        distinct.rank_entries();
        writer.fill([](const SortValue& value) { return std::uint64_t{value.text().rank()}; });
        return writer.take(true);
    }
    const SortRows& rows = writer.rows();
    const std::size_t column = writer.column();
    // The prefix that every text shares, and the range of their lengths.
    const TextShape& shape = distinct.shape();
    const std::optional<StoredText> first = shape.first();
    if (!first) {  // no text at all
        writer.fill([](const SortValue&) { return std::uint64_t{0}; });
        return writer.take(true);
    }
    std::size_t prefix = shape.prefix_within_sixteen();
    // Beyond sixteen shared bytes, text by text.
    for (std::size_t row = 0; row < rows.row_count() && prefix > 16; ++row) {
        const SortValue& value = rows.cell(row, column);
        if (value.kind() != SortValue::Kind::Str) continue;
        const StoredText text = value.text();
        for (std::size_t same = 16; same < prefix; same += 8) {
            if (const std::uint64_t differ = text.word_at(same) ^ first->word_at(same)) {
                prefix = std::min(prefix, same + static_cast<std::size_t>(std::countl_zero(differ)) / 8);
                break;
            }
        }
    }
    const std::size_t shortest = shape.shortest();
    const std::size_t longest = shape.longest();
    if (shortest == longest && longest - prefix == 8) {
        // Eight bytes of every rest and no padding: the keys hold whole texts.
        writer.fill([prefix](const SortValue& value) { return value.text().word_at(prefix); });
        return writer.take(true);
    }
    writer.fill(
        [prefix](const SortValue& value) { return text_window_key(value.text(), prefix); });
    return writer.take(longest - prefix <= text_window);
}

}  // namespace

ColumnKeys column_keys(SortRows& rows, std::size_t column, ColumnKind kind) {
    KeyWriter writer(rows, column);
    switch (kind) {
        case ColumnKind::Integers:
            writer.fill([](const SortValue& value) { return integer_key(value.integer()); });
            break;
        case ColumnKind::Numbers:
            writer.fill([](const SortValue& value) {
                return number_key(value.kind() == SortValue::Kind::Int
                                      ? static_cast<double>(value.integer())
                                      : value.number());
            });
            break;
        case ColumnKind::Texts:
            return text_keys(std::move(writer), rows.distinct_texts(column));
        case ColumnKind::WideNumbers:
        case ColumnKind::Unkeyable:
            fault("column keys of a column that C++ does not order by itself");
    }
    return writer.take(true);
}

}  // namespace pelm::dictsort
