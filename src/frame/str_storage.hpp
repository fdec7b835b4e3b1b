// A str's own storage (its kind, length and code units), read without going
// through UTF-8.
//
// Every str in the compact form keeps its text in the narrowest kind that
// holds it, so two equal texts have the same length, the same kind and the
// same bytes, and they hash equally.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string_view>

namespace pelm {

// Whether the str's text can be read from its storage. Strings made through
// the legacy wide-character API of 3.11 may not have their compact form yet;
// from 3.12 on every str has it.
inline bool has_str_storage(PyObject* str) noexcept {
#if PY_VERSION_HEX < 0x030C0000
    return PyUnicode_IS_READY(str);
#else
    (void)str;
    return true;
#endif
}

// The bytes of a str's storage (length times kind).
inline std::string_view str_storage(PyObject* str) noexcept {
    return {static_cast<const char*>(PyUnicode_DATA(str)),
            static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)) *
                static_cast<std::size_t>(PyUnicode_KIND(str))};
}

// Whether two strs with storage hold the same text.
inline bool same_str_text(PyObject* a, PyObject* b) noexcept {
    return PyUnicode_GET_LENGTH(a) == PyUnicode_GET_LENGTH(b) &&
           PyUnicode_KIND(a) == PyUnicode_KIND(b) && str_storage(a) == str_storage(b);
}

// The hash that the interpreter cached in a str with storage, or -1 when it
// has not hashed that str yet. Only the str type's own hash writes it, so it
// is the hash of the text also in an instance of a str subclass that defines
// its own __hash__.
inline Py_hash_t cached_str_hash(PyObject* str) noexcept {
    return reinterpret_cast<PyASCIIObject*>(str)->hash;
}

}  // namespace pelm
