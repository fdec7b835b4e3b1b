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

// item[key], or an empty reference when the subscript fails. An exact dict is
// asked with the very lookup of its own subscript, which differs only in not
// building the KeyError of a missing key that would be discarded here anyway.
OwnedRef fetch_cell(PyObject* item, PyObject* key) {
    if (PyDict_CheckExact(item)) {
        if (PyObject* found = PyDict_GetItemWithError(item, key)) return OwnedRef::new_ref(found);
        discard_raised_exception();
        return {};
    }
    OwnedRef value = OwnedRef::steal(PyObject_GetItem(item, key));
    if (!value) discard_raised_exception();
    return value;
}

SortValue convert_cell(OwnedRef value, TextArena& texts) {
    PyObject* object = value.get();
    if (object == Py_None) return SortValue::null();
    if (may_convert_to_int(object)) {
        const long long integer = PyLong_AsLongLong(object);
        if (integer != -1) return SortValue::integer(integer);
        if (!take_raised_exception()) return SortValue::integer(-1);
    }
    // An exact float is read without a call; subclasses go through the
    // conversion, which may run their __float__.
    if (Py_IS_TYPE(object, &PyFloat_Type)) return SortValue::number(PyFloat_AS_DOUBLE(object));
    if (may_convert_to_float(object)) {
        const double number = PyFloat_AsDouble(object);
        if (number != -1.0) return SortValue::number(number);
        if (!take_raised_exception()) return SortValue::number(-1.0);
    }
    if (is_str(object)) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size)) {
            return SortValue::text(texts.store({utf8, static_cast<std::size_t>(size)}));
        }
        // A str with a lone surrogate has no UTF-8 form: it stays an object.
        discard_raised_exception();
    }
    return SortValue::object(std::move(value));
}

}  // namespace

SortValue extract_sort_value(PyObject* item, const SortColumn& column, TextArena& texts) {
    OwnedRef value;
    {
        // A new key for every cell: nothing is cached between lookups.
        const OwnedRef key = new_str(view(column.name));
        value = fetch_cell(item, key.get());
    }
    if (!value) return SortValue::null();
    return convert_cell(std::move(value), texts);
}

}  // namespace pelm::dictsort
