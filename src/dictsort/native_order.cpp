#include "dictsort/native_order.hpp"

#include <bit>
#include <cstdint>

#include "dictsort/bit_compaction.hpp"
#include "dictsort/bit_extract.hpp"
#include "dictsort/column_keys.hpp"
#include "dictsort/order_records.hpp"
#include "dictsort/row_order.hpp"
#include "dictsort/stable_sort.hpp"

namespace pelm::dictsort {
namespace {

// A field cut to fit one word keeps at least this many bits.
constexpr unsigned min_bits_of_cut_field = 16;

// One column's field in the order records.
struct Field {
    ColumnKeys keys;
    BitCompaction compaction;
    // The field's bits: the compacted keys and the Null flag.
    unsigned width;
    // Set in the field of every value when the column also has Null cells,
    // which get a field of 0.
    std::uint64_t value_flag;
    // All ones over the field's width for a descending column, else 0.
    std::uint64_t direction;
    // Low bits of the field that find no room in the record.
    unsigned dropped = 0;
    // The position of the field's lowest kept bit in the 128-bit record.
    unsigned shift = 0;
};

// The fields of the leading columns, and where they go in the records.
struct FieldPlan {
    Vector<Field> fields;
    // Whether the fields end at a column whose keys only tell some cells
    // apart (text windows), or before columns that found no room.
    bool ends_early = false;
    bool ran_out_of_room = false;
    unsigned key_bits = 0;
    // Whether equal keys mean equal rows.
    bool complete = true;

    unsigned total_width() const noexcept {
        unsigned total = 0;
        for (const Field& field : fields) total += field.width;
        return total;
    }

    // Places the fields from the highest bit of 128 down, the first field
    // highest, in `room` bits; the field that crosses the end keeps its
    // highest bits, and the fields after it are left out.
    void lay_out(unsigned room) {
        key_bits = 0;
        complete = !ends_early && !ran_out_of_room;
        for (std::size_t f = 0; f < fields.size(); ++f) {
            Field& field = fields[f];
            const unsigned kept = std::min(field.width, room - key_bits);
            key_bits += kept;
            field.dropped = field.width - kept;
            field.shift = 128 - key_bits;
            if (field.dropped != 0 || key_bits == room) {
                complete = complete && field.dropped == 0 && f + 1 == fields.size();
                fields.erase(fields.begin() + static_cast<std::ptrdiff_t>(f + 1), fields.end());
                break;
            }
        }
    }
};

// The fields of the leading columns, up to the first whose keys are not
// exact, or until they fill `room` bits.
FieldPlan plan_fields(SortRows& rows, std::span<const SortColumn> columns,
                      std::span<const ColumnKind> kinds, unsigned room) {
    FieldPlan plan;
    plan.fields.reserve(columns.size());
    unsigned width_so_far = 0;
    for (std::size_t column = 0; column < columns.size(); ++column) {
        if (width_so_far >= room) {
            plan.ran_out_of_room = true;
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
        const bool exact = keys.exact;
        width_so_far += width;
        plan.fields.push_back(Field{
            .keys = std::move(keys),
            .compaction = compaction,
            .width = width,
            .value_flag = with_null ? std::uint64_t{1} << compaction.width() : 0,
            .direction = columns[column].descending ? low_bits(width) : 0,
        });
        if (!exact) {
            // A window of texts decides only where it differs.
            plan.ends_early = true;
            break;
        }
    }
    return plan;
}

// The bits that a compaction keeps, moved down run by run.
struct ShiftRuns {
    std::uint64_t operator()(const BitCompaction& compaction, std::uint64_t key) const noexcept {
        return compaction.apply(key);
    }
};

// The same bits by the processor's bit gathering instruction.
struct GatherBits {
    std::uint64_t operator()(const BitCompaction& compaction, std::uint64_t key) const noexcept {
        return extract_bits(key, compaction.kept());
    }
};

// Puts `value` at bit `shift` of the 128 bits of a record (the field's bits
// all below 128).
template <class Record>
struct FieldPlacer;

template <>
struct FieldPlacer<OneWordRecord> {
    unsigned shift;
    void operator()(OneWordRecord& record, std::uint64_t value) const noexcept {
        record.words[0] |= value << (shift - 64);
    }
};

template <>
struct FieldPlacer<TwoWordRecord> {
    unsigned shift;
    void operator()(TwoWordRecord& record, std::uint64_t value) const noexcept {
        if (shift >= 64) {
            record.words[0] |= value << (shift - 64);
        } else {
            record.words[1] |= value << shift;
            if (shift != 0) record.words[0] |= value >> (64 - shift);
        }
    }
};

// Adds a column's field to every record.
template <class Record, class Compact>
void add_field(std::span<Record> records, const Field& field, Compact compact) {
    const std::uint64_t* const keys = field.keys.keys.data();
    const unsigned char* const nulls = field.keys.null_rows.data();
    const bool with_nulls = field.keys.null_rows.size() != 0;
    const FieldPlacer<Record> place{field.shift};
    for (std::size_t row = 0; row < records.size(); ++row) {
        // A Null row's key is 0, and so is what compaction makes of it.
        std::uint64_t value = compact(field.compaction, keys[row]);
        value |= with_nulls && nulls[row] != 0 ? 0 : field.value_flag;
        place(records[row], (value ^ field.direction) >> field.dropped);
    }
}

// One record per row, in row order: the fields, and the row number in the
// lowest bits.
template <class Record, class Compact>
ScratchArray<Record> make_records(const FieldPlan& plan, std::size_t row_count, Compact compact) {
    ScratchArray<Record> records(row_count);
    for (std::size_t row = 0; row < row_count; ++row) {
        records[row] = Record{};
        records[row].words[Record::word_count - 1] = row;
    }
    for (const Field& field : plan.fields) add_field(records.span(), field, compact);
    return records;
}

template <class Record>
ScratchArray<Record> make_records(const FieldPlan& plan, std::size_t row_count) {
    if (bit_extract_compiled && fast_bit_extract()) {
        return make_records<Record>(plan, row_count, GatherBits{});
    }
    return make_records<Record>(plan, row_count, ShiftRuns{});
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
    FieldPlan plan = plan_fields(rows, columns, kinds, 128 - row_bits);
    // One word moves and compares faster than two. When the fields do not
    // all fit, one word still serves if only the last field loses its
    // lowest bits and keeps enough to tell most rows apart: the few rows
    // whose keys then tie are compared in full.
    const unsigned one_word_room = 64 - row_bits;
    const unsigned total = plan.total_width();
    const bool last_field_cut =
        !plan.ran_out_of_room && !plan.fields.empty() &&
        total - plan.fields.back().width + min_bits_of_cut_field <= one_word_room;
    if (total <= one_word_room || last_field_cut) {
        plan.lay_out(one_word_room);
        return sort_by_plan<OneWordRecord>(rows, columns, plan, row_mask);
    }
    plan.lay_out(128 - row_bits);
    return sort_by_plan<TwoWordRecord>(rows, columns, plan, row_mask);
}

}  // namespace pelm::dictsort
