#include "dictsort/sort_value.hpp"

#include "frame/args.hpp"
#include "frame/error.hpp"

namespace pelm::dictsort {
namespace {

// PyLong_AsLongLong accepts ints (bool included) and objects whose type has
// __index__; for any other object it can only raise TypeError. Such objects
// skip the call, and with it an exception that would be built and discarded.
bool may_convert_to_int(PyObject* value) noexcept {
    if (PyLong_Check(value)) return true;
    const PyNumberMethods* number = Py_TYPE(value)->tp_as_number;
    return number != nullptr && number->nb_index != nullptr;
}

// The same for PyFloat_AsDouble: floats, __float__, and __index__ as fallback.
bool may_convert_to_float(PyObject* value) noexcept {
    if (PyFloat_Check(value)) return true;
    const PyNumberMethods* number = Py_TYPE(value)->tp_as_number;
    return number != nullptr && (number->nb_float != nullptr || number->nb_index != nullptr);
}

// The text of a str, or its object when it has no UTF-8 form (a lone
// surrogate).
SortValue text_cell(OwnedRef value, ColumnTexts texts) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(value.get(), &size)) {
        return SortValue::text(texts.store({utf8, static_cast<std::size_t>(size)}));
    }
    discard_raised_exception();
    return SortValue::object(std::move(value));
}

}  // namespace

namespace detail {

SortValue convert_owned_value(OwnedRef value, ColumnTexts texts) {
    PyObject* object = value.get();
    if (object == Py_None) return SortValue::null();
    // The exact str and float types, the common cells, offer neither
    // __index__ nor (str) __float__, so the steps below would come to the
    // same cell by longer ways.
    if (Py_IS_TYPE(object, &PyUnicode_Type)) return text_cell(std::move(value), texts);
    if (Py_IS_TYPE(object, &PyFloat_Type)) return SortValue::number(PyFloat_AS_DOUBLE(object));
    if (may_convert_to_int(object)) {
        const long long integer = PyLong_AsLongLong(object);
        if (integer != -1) return SortValue::integer(integer);
        if (!take_raised_exception()) return SortValue::integer(-1);
    }
    // Float subclasses go through the conversion, which may run their
    // __float__.
    if (may_convert_to_float(object)) {
        const double number = PyFloat_AsDouble(object);
        if (number != -1.0) return SortValue::number(number);
        if (!take_raised_exception()) return SortValue::number(-1.0);
    }
    if (is_str(object)) return text_cell(std::move(value), texts);
    return SortValue::object(std::move(value));
}

SortValue subscript_cell(PyObject* item, const FreshStr& column_key, ColumnTexts texts) {
    OwnedRef value;
    {
        // A new key for every cell: nothing is cached between lookups.
        const OwnedRef key = column_key.make();
        value = OwnedRef::steal(PyObject_GetItem(item, key.get()));
    }
    if (!value) {
        discard_raised_exception();
        return SortValue::null();
    }
    return convert_owned_value(std::move(value), texts);
}

}  // namespace detail

}  // namespace pelm::dictsort
