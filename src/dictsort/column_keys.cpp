#include "dictsort/column_keys.hpp"

#include <algorithm>
#include <limits>
#include <string_view>

#include "dictsort/text_ranks.hpp"
#include "dictsort/value_keys.hpp"
#include "frame/fault.hpp"

namespace pelm::dictsort {
namespace {

std::size_t common_prefix_length(std::string_view a, std::string_view b) noexcept {
    const std::size_t limit = std::min(a.size(), b.size());
    std::size_t i = 0;
    while (i < limit && a[i] == b[i]) ++i;
    return i;
}

class KeyWriter {
public:
    KeyWriter(const SortRows& rows, std::size_t column) : rows_(rows), column_(column) {
        keys_.keys.resize(rows.row_count());
    }

    const SortRows& rows() const noexcept { return rows_; }
    std::size_t column() const noexcept { return column_; }
    const SortValue& cell(std::size_t row) const noexcept { return rows_.cells(row)[column_]; }

    // Sets the key of each row from `key_of(cell, row)`, marking the Null
    // rows.
    template <class KeyOf>
    void fill(KeyOf key_of) {
        for (std::size_t row = 0; row < rows_.row_count(); ++row) {
            const SortValue& value = cell(row);
            if (value.kind() == SortValue::Kind::Null) {
                if (keys_.null_rows.empty()) keys_.null_rows.resize(rows_.row_count());
                keys_.null_rows[row] = 1;
                continue;
            }
            keys_.keys[row] = key_of(value, row);
        }
    }

    ColumnKeys take(bool exact, std::size_t first_window = 0) {
        keys_.exact = exact;
        keys_.first_window = first_window;
        return std::move(keys_);
    }

private:
    const SortRows& rows_;
    std::size_t column_;
    ColumnKeys keys_;
};

// A column holds few distinct texts when it has at most one for every this
// many rows (or this many in all): then it is keyed by their ranks.
constexpr std::size_t rows_per_distinct_text = 16;

ColumnKeys text_keys(KeyWriter writer, std::size_t row_count) {
    const std::size_t max_distinct =
        std::max(rows_per_distinct_text, row_count / rows_per_distinct_text);
    if (const auto ranks = few_text_ranks(writer.rows(), writer.column(), max_distinct)) {
        writer.fill(
            [&](const SortValue&, std::size_t row) { return std::uint64_t{(*ranks)[row]}; });
        return writer.take(true);
    }
    // The prefix that every text shares, and the range of their lengths.
    std::string_view first;
    std::size_t prefix = std::numeric_limits<std::size_t>::max();
    std::size_t shortest = std::numeric_limits<std::size_t>::max();
    std::size_t longest = 0;
    for (std::size_t row = 0; row < row_count; ++row) {
        const SortValue& value = writer.cell(row);
        if (value.kind() != SortValue::Kind::Str) continue;
        const std::string_view text = value.text().view();
        if (prefix == std::numeric_limits<std::size_t>::max()) {
            first = text;
            prefix = text.size();
        } else if (prefix != 0) {
            prefix = common_prefix_length(first.substr(0, prefix), text);
        }
        shortest = std::min(shortest, text.size());
        longest = std::max(longest, text.size());
    }
    if (longest < shortest) return writer.take(true);  // no text at all
    if (shortest == longest && longest - prefix == 8) {
        // Eight bytes of every rest and no padding: the keys hold whole texts.
        writer.fill([prefix](const SortValue& value, std::size_t) {
            return leading_bytes_key(value.text().view().substr(prefix));
        });
        return writer.take(true);
    }
    writer.fill([prefix](const SortValue& value, std::size_t) {
        return text_window_key(value.text().view(), prefix);
    });
    return writer.take(longest - prefix <= text_window, prefix);
}

}  // namespace

ColumnKeys column_keys(const SortRows& rows, std::size_t column, ColumnKind kind) {
    KeyWriter writer(rows, column);
    switch (kind) {
        case ColumnKind::Integers:
            writer.fill(
                [](const SortValue& value, std::size_t) { return integer_key(value.integer()); });
            break;
        case ColumnKind::Numbers:
            writer.fill([](const SortValue& value, std::size_t) {
                return number_key(value.kind() == SortValue::Kind::Int
                                      ? static_cast<double>(value.integer())
                                      : value.number());
            });
            break;
        case ColumnKind::Texts:
            return text_keys(std::move(writer), rows.row_count());
        case ColumnKind::WideNumbers:
        case ColumnKind::Unkeyable:
            fault("column keys of a column that C++ does not order by itself");
    }
    return writer.take(true);
}

}  // namespace pelm::dictsort
