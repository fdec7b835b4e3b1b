#include "dictsort/native_order.hpp"

#include <bit>
#include <cstdint>

#include "dictsort/bit_compaction.hpp"
#include "dictsort/column_keys.hpp"
#include "dictsort/order_records.hpp"
#include "dictsort/row_order.hpp"
#include "dictsort/stable_sort.hpp"

namespace pelm::dictsort {
namespace {

__extension__ using Bits128 = unsigned __int128;

// One column's field in the order records.
struct Field {
    ColumnKeys keys;
    BitCompaction compaction;
    // Set in the field of every value when the column also has Null cells,
    // which get a field of 0.
    std::uint64_t value_flag;
    // All ones over the field's full width for a descending column, else 0.
    std::uint64_t direction;
    // Low bits of the field that find no room in the record.
    unsigned dropped;
    // The position of the field's lowest kept bit in the 128-bit record.
    unsigned shift;

    std::uint64_t value(std::size_t row) const noexcept {
        std::uint64_t field = keys.null_rows.size() != 0 && keys.null_rows[row] != 0
                                  ? 0
                                  : compaction.apply(keys.keys[row]) | value_flag;
        return (field ^ direction) >> dropped;
    }
};

// The fields of the leading columns, as many as fit beside the row numbers.
struct FieldPlan {
    Vector<Field> fields;
    unsigned key_bits = 0;
    // Whether equal keys mean equal rows.
    bool complete = true;
};

FieldPlan plan_fields(SortRows& rows, std::span<const SortColumn> columns,
                      std::span<const ColumnKind> kinds, unsigned room) {
    FieldPlan plan;
    plan.fields.reserve(columns.size());
    for (std::size_t column = 0; column < columns.size(); ++column) {
        if (plan.key_bits == room) {
            plan.complete = false;  // no room for the columns left
            break;
        }
        ColumnKeys keys = column_keys(rows, column, kinds[column]);
        if (!keys.has_value) continue;  // every cell Null: all equal
        const bool with_null = keys.null_rows.size() != 0;
        if (with_null && keys.varying == ~std::uint64_t{0}) {
            // Values of 64 varying bits and the Null flag make 65 bits: the
            // lowest bit is left to the full comparison.
            keys.varying &= keys.varying - 1;
            keys.exact = false;
        }
        const BitCompaction compaction(keys.varying);
        const unsigned width = compaction.width() + (with_null ? 1 : 0);
        if (width == 0) continue;  // one value only: all equal
        const unsigned kept = std::min(width, room - plan.key_bits);
        const bool exact = keys.exact && kept == width;
        plan.key_bits += kept;
        plan.fields.push_back(Field{
            .keys = std::move(keys),
            .compaction = compaction,
            .value_flag = with_null ? std::uint64_t{1} << compaction.width() : 0,
            .direction = columns[column].descending ? low_bits(width) : 0,
            .dropped = width - kept,
            .shift = 128 - plan.key_bits,
        });
        if (!exact) {
            // A window of texts or a cut field decides only where it differs.
            plan.complete = false;
            break;
        }
    }
    return plan;
}

// One record per row, in row order: the fields, and the row number in the
// lowest bits.
template <class Record>
ScratchArray<Record> make_records(const FieldPlan& plan, std::size_t row_count);

template <>
ScratchArray<OneWordRecord> make_records(const FieldPlan& plan, std::size_t row_count) {
    ScratchArray<OneWordRecord> records(row_count);
    for (std::size_t row = 0; row < row_count; ++row) {
        std::uint64_t bits = row;
        for (const Field& field : plan.fields) bits |= field.value(row) << (field.shift - 64);
        records[row] = {{bits}};
    }
    return records;
}

template <>
ScratchArray<TwoWordRecord> make_records(const FieldPlan& plan, std::size_t row_count) {
    ScratchArray<TwoWordRecord> records(row_count);
    for (std::size_t row = 0; row < row_count; ++row) {
        Bits128 bits = row;
        for (const Field& field : plan.fields) bits |= Bits128{field.value(row)} << field.shift;
        records[row] = {{static_cast<std::uint64_t>(bits >> 64), static_cast<std::uint64_t>(bits)}};
    }
    return records;
}

template <class Record>
Vector<std::size_t> sort_by_plan(const SortRows& rows, std::span<const SortColumn> columns,
                                 const FieldPlan& plan, std::uint64_t row_mask) {
    const std::size_t row_count = rows.row_count();
    ScratchArray<Record> records = make_records<Record>(plan, row_count);
    {
        ScratchArray<Record> buffer(row_count);
        sort_records(records.span(), buffer.span(), plan.key_bits);
    }
    auto row_of = [row_mask](const Record& record) {
        return static_cast<std::size_t>(record.low_word() & row_mask);
    };
    if (!plan.complete) {
        // Rows whose keys tie may still differ; they are in row order, and a
        // stable sort by the full comparison orders them.
        const std::span<Record> all = records.span();
        auto less = [&](const Record& x, const Record& y) {
            return row_is_less(columns, rows.cells(row_of(x)), rows.cells(row_of(y)));
        };
        for (std::size_t start = 0; start < row_count;) {
            std::size_t end = start + 1;
            while (end < row_count && all[end].same_key(all[start], row_mask)) ++end;
            if (end - start > 1) stable_sort(all.subspan(start, end - start), less);
            start = end;
        }
    }
    Vector<std::size_t> order(row_count);
    for (std::size_t i = 0; i < row_count; ++i) order[i] = row_of(records[i]);
    return order;
}

}  // namespace

std::optional<Vector<std::size_t>> native_sorted_order(SortRows& rows,
                                                       std::span<const SortColumn> columns) {
    Vector<ColumnKind> kinds;
    kinds.reserve(columns.size());
    for (std::size_t column = 0; column < columns.size(); ++column) {
        const ColumnKind kind = rows.summary(column).kind();
        if (kind == ColumnKind::WideNumbers || kind == ColumnKind::Unkeyable) return std::nullopt;
        kinds.push_back(kind);
    }
    const std::size_t row_count = rows.row_count();
    const auto row_bits = static_cast<unsigned>(std::bit_width(row_count - 1));
    const std::uint64_t row_mask = low_bits(row_bits);
    const FieldPlan plan = plan_fields(rows, columns, kinds, 128 - row_bits);
    if (plan.key_bits + row_bits <= 64) {
        return sort_by_plan<OneWordRecord>(rows, columns, plan, row_mask);
    }
    return sort_by_plan<TwoWordRecord>(rows, columns, plan, row_mask);
}

}  // namespace pelm::dictsort
