#include "dictsort/column_kind.hpp"

#include <cmath>
#include <cstdint>

namespace pelm::dictsort {
namespace {

// Every integer of this magnitude or less is a double exactly.
constexpr std::int64_t exact_double_limit = std::int64_t{1} << 53;

bool is_exact_double(std::int64_t value) noexcept {
    return value >= -exact_double_limit && value <= exact_double_limit;
}

}  // namespace

ColumnKind column_kind(const SortRows& rows, std::size_t column) {
    bool integers = false;
    bool wide_integers = false;
    bool floats = false;
    bool texts = false;
    for (std::size_t row = 0; row < rows.row_count(); ++row) {
        const SortValue& cell = rows.cells(row)[column];
        switch (cell.kind()) {
            case SortValue::Kind::Null:
                break;
            case SortValue::Kind::Int:
                integers = true;
                wide_integers = wide_integers || !is_exact_double(cell.integer());
                break;
            case SortValue::Kind::Float:
                if (std::isnan(cell.number())) return ColumnKind::Unkeyable;
                floats = true;
                break;
            case SortValue::Kind::Str:
                texts = true;
                break;
            case SortValue::Kind::Other:
                return ColumnKind::Unkeyable;
        }
    }
    if (texts) return integers || floats ? ColumnKind::Unkeyable : ColumnKind::Texts;
    if (!floats) return ColumnKind::Integers;
    return wide_integers ? ColumnKind::WideNumbers : ColumnKind::Numbers;
}

}  // namespace pelm::dictsort
