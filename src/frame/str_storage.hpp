// A str's own storage (its kind, length and code units), read and copied
// without going through UTF-8.
//
// Every str in the compact form keeps its text in the narrowest kind that
// holds it, so two equal texts have the same length, the same kind and the
// same bytes, and they hash equally. That is what lets a copy of a str take
// over the original's cached hash: a dict that stores the copy finds the hash
// already there instead of hashing the text again.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

#include "frame/error.hpp"
#include "frame/refs.hpp"

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

// New strs equal to one original, each an object of its own that carries the
// original's hash, as PyUnicode_FromStringAndSize would make them from the
// text: the same kind and length, and for a text of 0 or 1 characters the
// interpreter's own object for it (which it shares).
class StrCopier {
public:
    // `original` is an exact str made from UTF-8 text: hashing it runs no
    // user code and cannot fail.
    explicit StrCopier(OwnedRef original)
        : original_(std::move(original)),
          hash_(PyObject_Hash(original_.get())),
          length_(PyUnicode_GET_LENGTH(original_.get())),
          max_char_(max_char(original_.get())) {
        if (hash_ == -1) fail_null_object();
    }

    PyObject* original() const noexcept { return original_.get(); }
    Py_hash_t hash() const noexcept { return hash_; }

    OwnedRef copy() const {
        if (length_ <= 1) {
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(original_.get(), &size);
            if (utf8 == nullptr) fail_null_object();
            return made_object(PyUnicode_FromStringAndSize(utf8, size));
        }
        OwnedRef made = made_object(PyUnicode_New(length_, max_char_));
        const std::string_view bytes = str_storage(original_.get());
        std::memcpy(PyUnicode_DATA(made.get()), bytes.data(), bytes.size());
        reinterpret_cast<PyASCIIObject*>(made.get())->hash = hash_;
        return made;
    }

private:
    // The largest character that the original's kind implies: PyUnicode_New
    // picks the same kind (and ASCII or not) from it.
    static Py_UCS4 max_char(PyObject* str) noexcept {
        if (PyUnicode_IS_ASCII(str)) return 0x7F;
        switch (PyUnicode_KIND(str)) {
            case PyUnicode_1BYTE_KIND:
                return 0xFF;
            case PyUnicode_2BYTE_KIND:
                return 0xFFFF;
            default:
                return 0x10FFFF;
        }
    }

    OwnedRef original_;
    Py_hash_t hash_;
    Py_ssize_t length_;
    Py_UCS4 max_char_;
};

}  // namespace pelm
