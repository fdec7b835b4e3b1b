#include "dictsort/columns.hpp"

#include <algorithm>

#include "dictsort/sequence_abc.hpp"
#include "frame/args.hpp"
#include "frame/compat.hpp"
#include "frame/error.hpp"
#include "frame/hash.hpp"

namespace pelm::dictsort {
namespace {

// The room reserved for the items of a sequence of names, whatever its
// __len__ claims: a hostile length must not turn into a huge allocation.
constexpr Py_ssize_t reserve_limit = 1024;

SortColumn column_from_text(OwnedText text) {
    if (!text.empty() && text.front() == '-') {
        text.erase(0, 1);
        return SortColumn{std::move(text), true};
    }
    return SortColumn{std::move(text), false};
}

// A list: every element that is a str with a UTF-8 form is a column; the
// others are skipped.
SortColumns columns_from_list(PyObject* list) {
    SortColumns columns;
    columns.reserve(static_cast<std::size_t>(PyList_GET_SIZE(list)));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        Result<OwnedRef> element = list_item_at(list, i);
        if (!element) break;
        if (Result<OwnedText> text = extract_owned_text(element->borrow())) {
            columns.push_back(column_from_text(std::move(*text)));
        }
    }
    return columns;
}

// Any other sequence: iterated, and all or nothing - one item that is not a
// usable str, or a failing iteration, leaves no columns at all.
SortColumns columns_from_sequence(PyObject* sequence) {
    SortColumns columns;
    const Py_ssize_t size = PyObject_Size(sequence);
    if (size < 0) {
        discard_raised_exception();
    } else {
        columns.reserve(static_cast<std::size_t>(std::min(size, reserve_limit)));
    }
    const OwnedRef iterator = OwnedRef::steal(PyObject_GetIter(sequence));
    if (!iterator) {
        discard_raised_exception();
        return {};
    }
    for (;;) {
        PyObject* next = nullptr;
        const int status = PyIter_NextItem(iterator.get(), &next);
        const OwnedRef item = OwnedRef::steal(next);
        if (status == 0) return columns;
        if (status < 0) {
            discard_raised_exception();
            return {};
        }
        Result<OwnedText> text = extract_owned_text(item.borrow());
        if (!text) return {};
        columns.push_back(column_from_text(std::move(*text)));
    }
}

// Marks as found, in `missing`, the name of every str key of `dict`.
void strike_keys_of(PyObject* dict, TextKeySet& missing) {
    Py_ssize_t position = 0;
    PyObject* borrowed_key = nullptr;
    PyObject* value = nullptr;
    while (!missing.empty() && PyDict_Next(dict, &position, &borrowed_key, &value)) {
        if (!is_str(borrowed_key)) continue;
        // Held while its text is read: taking a failure may release the
        // global lock the first time the process takes an exception.
        const OwnedRef key = OwnedRef::new_ref(borrowed_key);
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(key.get(), &size);
        if (utf8 == nullptr) {
            discard_raised_exception();
            continue;
        }
        if (auto found = missing.find(std::string_view(utf8, static_cast<std::size_t>(size)));
            found != missing.end()) {
            missing.erase(found);
        }
    }
}

}  // namespace

SortColumns parse_sort_columns(PyObject* columns) {
    if (is_str(columns)) {
        // A str without a UTF-8 form (a lone surrogate) names no column.
        if (Result<OwnedText> text = extract_owned_text(BorrowedRef(columns))) {
            SortColumns one;
            one.push_back(column_from_text(std::move(*text)));
            return one;
        }
        return {};
    }
    if (is_list(columns)) return columns_from_list(columns);
    if (PySequence_Check(columns)) return columns_from_sequence(columns);
    // Not a sequence of names (a set, a dict, a number, an iterator): the
    // failure names the Sequence type and is dropped at once.
    drop_error(type_mismatch_error(BorrowedRef(columns), sequence_abc_type()));
    return {};
}

SortColumns keep_columns_found_in_dicts(PyObject* items, SortColumns columns) {
    // The set holds the names not yet seen as a key; the scan of the items
    // stops as soon as every name has been seen.
    TextKeySet missing;
    for (const SortColumn& column : columns) missing.insert(column.name);
    for (Py_ssize_t i = 0; !missing.empty() && i < PyList_GET_SIZE(items); ++i) {
        Result<OwnedRef> item = list_item_at(items, i);
        if (!item) break;
        if (is_dict(item->get())) strike_keys_of(item->get(), missing);
    }
    SortColumns kept;
    kept.reserve(columns.size());
    for (SortColumn& column : columns) {
        if (!missing.contains(view(column.name))) kept.push_back(std::move(column));
    }
    return kept;
}

}  // namespace pelm::dictsort
