#include "dictsort/order_keys.hpp"

#include <algorithm>
#include <bit>

#include "dictsort/value_keys.hpp"

namespace pelm::dictsort {
namespace {

// Null sorts before every value. A value whose key is 0 as well (the Int
// -2^63, the empty text) only compares its rows in full.
constexpr std::uint64_t null_key = 0;

std::uint64_t cell_key(const SortValue& cell, ColumnKind kind) noexcept {
    switch (cell.kind()) {
        case SortValue::Kind::Int:
            return kind == ColumnKind::Integers ? integer_key(cell.integer())
                                                : number_key(static_cast<double>(cell.integer()));
        case SortValue::Kind::Float:
            return number_key(cell.number());
        case SortValue::Kind::Str:
            return cell.text().word_at(0);
        case SortValue::Kind::Null:
        case SortValue::Kind::Other:
            break;
    }
    return null_key;
}

// A column's field in the keys: its bits are the highest of the `free_bits`
// low bits that earlier columns left.
struct Field {
    std::size_t column;
    bool descending;
    unsigned free_bits;
};

// The exact field of a column of Null and Int cells: the rank of each cell
// among the column's values (Null first), when the ranks fit. Equal fields
// then mean equal cells, and the next column may follow. Returns the field's
// width, or nothing when the ranks do not fit.
std::optional<unsigned> add_rank_field(const SortRows& rows, Field field, KeyedHandles& handles) {
    bool has_null = false;
    bool has_value = false;
    std::uint64_t low = ~std::uint64_t{0};
    std::uint64_t high = 0;
    for (std::size_t row = 0; row < rows.row_count(); ++row) {
        const SortValue& cell = rows.cells(row)[field.column];
        if (cell.kind() == SortValue::Kind::Null) {
            has_null = true;
            continue;
        }
        has_value = true;
        low = std::min(low, integer_key(cell.integer()));
        high = std::max(high, integer_key(cell.integer()));
    }
    if (!has_value) return 0u;  // every cell is Null: all equal, no bits needed
    const std::uint64_t null_offset = has_null ? 1 : 0;
    if (high - low > ~std::uint64_t{0} - null_offset) return std::nullopt;
    const std::uint64_t top_rank = high - low + null_offset;
    const auto width = static_cast<unsigned>(std::bit_width(top_rank));
    if (width > field.free_bits) return std::nullopt;
    if (width == 0) return 0u;  // one value only
    const unsigned shift = field.free_bits - width;
    for (std::size_t row = 0; row < rows.row_count(); ++row) {
        const SortValue& cell = rows.cells(row)[field.column];
        std::uint64_t rank = cell.kind() == SortValue::Kind::Null
                                 ? 0
                                 : integer_key(cell.integer()) - low + null_offset;
        if (field.descending) rank = top_rank - rank;
        handles[row].key |= rank << shift;
    }
    return width;
}

// The last field: the highest `free_bits` bits of each cell's own key.
void add_truncated_field(const SortRows& rows, Field field, ColumnKind kind,
                         KeyedHandles& handles) {
    // A descending column reverses the order of the keys; Null goes last.
    const std::uint64_t direction = field.descending ? ~std::uint64_t{0} : 0;
    const unsigned shift = 64 - field.free_bits;
    for (std::size_t row = 0; row < rows.row_count(); ++row) {
        handles[row].key |= (cell_key(rows.cells(row)[field.column], kind) ^ direction) >> shift;
    }
}

}  // namespace

std::optional<KeyedHandles> keyed_row_handles(const SortRows& rows,
                                              std::span<const SortColumn> columns) {
    KeyedHandles handles(rows.row_count());
    for (std::size_t row = 0; row < handles.size(); ++row) handles[row] = {0, row};
    unsigned free_bits = 64;
    for (std::size_t column = 0; column < columns.size() && free_bits > 0; ++column) {
        const ColumnKind kind = rows.summary(column).kind();
        if (kind == ColumnKind::Unkeyable) break;
        const Field field{column, columns[column].descending, free_bits};
        if (kind == ColumnKind::Integers) {
            if (const std::optional<unsigned> width = add_rank_field(rows, field, handles)) {
                free_bits -= *width;
                continue;
            }
        }
        add_truncated_field(rows, field, kind, handles);
        free_bits = 0;
    }
    if (free_bits == 64) return std::nullopt;
    return handles;
}

}  // namespace pelm::dictsort
