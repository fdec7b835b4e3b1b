// Argument binding and conversion.
//
// Every function receives the interpreter's fast-call form (argument vector,
// number of positional values, keyword-name tuple or null). Its wrapper binds
// the values to the function's ArgumentTable, borrowing them into a slot
// array, then converts them. Binding failures are TypeErrors with no note;
// conversion failures carry the note "while processing 'NAME'".
#pragma once

#include <Python.h>

#include <source_location>
#include <span>
#include <string_view>

#include "frame/error.hpp"
#include "frame/refs.hpp"
#include "frame/result.hpp"
#include "frame/text.hpp"

namespace pelm {

// The read-only parameter description of one function. None of pelm's
// functions is a method or has keyword-only or positional-only parameters,
// so every named parameter may be given by position or by keyword.
struct ArgumentTable {
    std::string_view function_name;
    std::span<const std::string_view> positional_names;
    std::size_t required;
};

// Fills `slots` (one per positional parameter, all null on entry) with
// borrowed values.
Result<void> bind_fastcall_arguments(const ArgumentTable& table, PyObject* const* args,
                                     Py_ssize_t nargs, PyObject* kwnames,
                                     std::span<PyObject*> slots);

// Matches keyword arguments (names in `kwnames`, values in `kwvalues`) to the
// slots by exact name.
Result<void> match_keyword_arguments(const ArgumentTable& table, PyObject* kwnames,
                                     PyObject* const* kwvalues, std::span<PyObject*> slots);

// Adds the note "while processing 'NAME'" to the error's exception, when that
// can be done, and returns the same error.
PyErr annotate_argument_error(std::string_view parameter, PyErr error);

// TypeError "'T' object is not an instance of 'E'" ("'None' is not an
// instance of 'E'" for None), built only when raised.
PyErr type_mismatch_error(BorrowedRef object, PyTypeObject* expected);
PyErr type_mismatch_error_from_owned(OwnedRef object, PyTypeObject* expected);

// The UTF-8 text of a str (or str subclass) argument, borrowed from the str.
Result<BorrowedText> extract_borrowed_text(BorrowedRef object);

// The same, for the common case of an ASCII str, which is its own UTF-8 form:
// no call into the interpreter. Falls back to extract_borrowed_text.
inline Result<BorrowedText> extract_borrowed_text_fast(BorrowedRef object) {
    PyObject* str = object.get();
    if (PyUnicode_Check(str) && PyUnicode_IS_COMPACT_ASCII(str)) {
        return BorrowedText(static_cast<const char*>(PyUnicode_DATA(str)),
                            static_cast<size_t>(PyUnicode_GET_LENGTH(str)));
    }
    return extract_borrowed_text(object);
}
// The same text copied into a new OwnedText.
Result<OwnedText> extract_owned_text(BorrowedRef object);

// str() of an object for an error message. When str() fails, the failure is
// written as unraisable and the text is "<unprintable T object>" with the
// name of the object's type ("<unprintable object>" without one).
OwnedText object_display_text(PyObject* object);

// Type tests by the flags of the core types: each accepts subclasses.
inline bool is_str(PyObject* object) noexcept { return PyUnicode_Check(object); }
inline bool is_list(PyObject* object) noexcept { return PyList_Check(object); }
inline bool is_tuple(PyObject* object) noexcept { return PyTuple_Check(object); }
inline bool is_dict(PyObject* object) noexcept { return PyDict_Check(object); }

// A new reference to list[index], or the interpreter's IndexError.
Result<OwnedRef> list_item_at(PyObject* list, Py_ssize_t index);

// A new list holding the vector's objects in order; the list takes over the
// references and the vector is emptied.
OwnedRef list_from_owned_refs(OwnedRefVec&& objects,
                              std::source_location where = std::source_location::current());

// A new reference to None.
inline OwnedRef none_object() noexcept { return OwnedRef::new_ref(Py_None); }

// The wrapper of a function with one str parameter: binds it, borrows its
// text (annotating a failure with the parameter's name) and runs the body.
template <class Body>
CallOutcome call_with_text_argument(const ArgumentTable& table, PyObject* const* args,
                                    Py_ssize_t nargs, PyObject* kwnames, Body&& body) {
    PyObject* slots[1] = {nullptr};
    if (nargs == 1 && kwnames == nullptr) {
        slots[0] = args[0];
    } else if (Result<void> bound = bind_fastcall_arguments(table, args, nargs, kwnames, slots);
               !bound) {
        return bound.take_error();
    }
    Result<BorrowedText> text = extract_borrowed_text_fast(BorrowedRef(slots[0]));
    if (!text) return annotate_argument_error(table.positional_names[0], text.take_error());
    return body(*text);
}

}  // namespace pelm
