// Equality of an object with others of its own exact built-in type, decided
// without the interpreter's rich comparison where that comparison would run
// no Python code anyway: exact str against exact str, exact int against exact
// int (both within 64 bits), exact float against exact float. The answer is
// the one `==` gives: a float NaN equals nothing, itself included. Every
// other pair, subclasses and mixed types among them, is left undecided for
// the caller to compare in full.
#pragma once

#include <Python.h>

#include "frame/str_storage.hpp"

namespace pelm::iter {

enum class QuickEquality { equal, unequal, undecided };

class QuickComparand {
public:
    explicit QuickComparand(PyObject* object) noexcept : object_(object) {
        PyTypeObject* type = Py_TYPE(object);
        if (type == &PyUnicode_Type) {
            if (has_str_storage(object)) kind_ = Kind::str;
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
                if (Py_TYPE(other) != &PyUnicode_Type || !has_str_storage(other)) break;
                return verdict(same_str_text(object_, other));
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

    PyObject* object_;
    Kind kind_ = Kind::none;
    long long int_value_ = 0;
    double float_value_ = 0.0;
};

}  // namespace pelm::iter
