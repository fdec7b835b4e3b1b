// Equality of an object with others of its own exact built-in type, decided
// without the interpreter's rich comparison where that comparison would run
// no Python code anyway: exact str against exact str, exact int against exact
// int (both within 64 bits), exact float against exact float. The answer is
// the one `==` gives: a float NaN equals nothing, itself included. Every
// other pair, subclasses and mixed types among them, is left undecided for
// the caller to compare in full.
#pragma once

#include <Python.h>

#include <cstring>

namespace pelm::iter {

enum class QuickEquality { equal, unequal, undecided };

class QuickComparand {
public:
    explicit QuickComparand(PyObject* object) noexcept : object_(object) {
        PyTypeObject* type = Py_TYPE(object);
        if (type == &PyUnicode_Type) {
            if (is_ready(object)) kind_ = Kind::str;
        } else if (type == &PyLong_Type) {
            if (fits_int64(object, int_value_)) kind_ = Kind::int64;
        } else if (type == &PyFloat_Type) {
            float_value_ = PyFloat_AS_DOUBLE(object);
            kind_ = Kind::float64;
        }
    }

    QuickEquality compare(PyObject* other) const noexcept {
        switch (kind_) {
            case Kind::str:
                if (Py_TYPE(other) != &PyUnicode_Type || !is_ready(other)) break;
                return verdict(same_text(object_, other));
            case Kind::int64: {
                if (Py_TYPE(other) != &PyLong_Type) break;
                long long value = 0;
                if (!fits_int64(other, value)) break;
                return verdict(value == int_value_);
            }
            case Kind::float64:
                if (Py_TYPE(other) != &PyFloat_Type) break;
                return verdict(PyFloat_AS_DOUBLE(other) == float_value_);
            case Kind::none:
                break;
        }
        return QuickEquality::undecided;
    }

private:
    enum class Kind { none, str, int64, float64 };

    static QuickEquality verdict(bool equal) noexcept {
        return equal ? QuickEquality::equal : QuickEquality::unequal;
    }

    // An exact int converts without error and without running Python code;
    // only its size can stop it.
    static bool fits_int64(PyObject* exact_int, long long& value) noexcept {
        int overflow = 0;
        value = PyLong_AsLongLongAndOverflow(exact_int, &overflow);
        return overflow == 0;
    }

    // Strings in the compact form: two equal ones have the same length and
    // the same kind, since each is stored in the narrowest kind that holds it.
    static bool same_text(PyObject* a, PyObject* b) noexcept {
        const Py_ssize_t length = PyUnicode_GET_LENGTH(a);
        if (length != PyUnicode_GET_LENGTH(b)) return false;
        const int kind = PyUnicode_KIND(a);
        if (kind != static_cast<int>(PyUnicode_KIND(b))) return false;
        return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b),
                           static_cast<std::size_t>(length) * static_cast<std::size_t>(kind)) == 0;
    }

    static bool is_ready(PyObject* str) noexcept {
#if PY_VERSION_HEX < 0x030C0000
        // Strings made through the legacy wide-character API may not have
        // their compact form yet; those take the full comparison.
        return PyUnicode_IS_READY(str);
#else
        (void)str;
        return true;
#endif
    }

    PyObject* object_;
    Kind kind_ = Kind::none;
    long long int_value_ = 0;
    double float_value_ = 0.0;
};

}  // namespace pelm::iter
