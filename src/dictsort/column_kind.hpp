// What the cells of one column allow the sort to do without the interpreter.
//
// A column whose cells C++ compares by itself in a consistent way has an
// order of its own (a total preorder: Null first, then the values), so the
// column can be keyed, and a sort may use any algorithm on it. The kinds:
//   Integers     - Null and Int cells: Int against Int is exact;
//   Numbers      - Null, Int and Float cells without NaN, every Int exact as
//                  a double: all compare as doubles;
//   WideNumbers  - the same with an Int beyond 2^53: Int against Int is exact
//                  but against Float rounded, which is no consistent order;
//                  only the doubles' order can be told (a smaller double
//                  means a smaller cell);
//   Texts        - Null and Str cells: by UTF-8 bytes;
//   Unkeyable    - an Other cell, a Str beside a number (both compared by the
//                  interpreter), or a NaN (equal to every number).
//
// The rows note each cell in its column's summary as the cell is made, so the
// kind is known without another pass over the cells.
#pragma once

#include <cmath>
#include <cstdint>

#include "dictsort/sort_value.hpp"

namespace pelm::dictsort {

enum class ColumnKind { Integers, Numbers, WideNumbers, Texts, Unkeyable };

class ColumnSummary {
public:
    void note(const SortValue& cell) noexcept {
        const SortValue::Kind kind = cell.kind();
        kinds_ |= static_cast<std::uint8_t>(1u << static_cast<unsigned>(kind));
        if (kind == SortValue::Kind::Float) {
            nan_ = nan_ || std::isnan(cell.number());
        } else if (kind == SortValue::Kind::Int) {
            wide_ = wide_ || !is_exact_double(cell.integer());
        }
    }

    bool has(SortValue::Kind kind) const noexcept {
        return (kinds_ & (1u << static_cast<unsigned>(kind))) != 0;
    }

    ColumnKind kind() const noexcept {
        using Kind = SortValue::Kind;
        if (has(Kind::Other) || nan_) return ColumnKind::Unkeyable;
        const bool numbers = has(Kind::Int) || has(Kind::Float);
        if (has(Kind::Str)) return numbers ? ColumnKind::Unkeyable : ColumnKind::Texts;
        if (!has(Kind::Float)) return ColumnKind::Integers;
        return wide_ ? ColumnKind::WideNumbers : ColumnKind::Numbers;
    }

private:
    // Every integer of this magnitude or less is a double exactly.
    static constexpr std::int64_t exact_double_limit = std::int64_t{1} << 53;

    static bool is_exact_double(std::int64_t value) noexcept {
        return value >= -exact_double_limit && value <= exact_double_limit;
    }

    std::uint8_t kinds_ = 0;
    bool nan_ = false;
    bool wide_ = false;
};

}  // namespace pelm::dictsort
