// FreshStr: new str objects equal to one text, each made with the text's
// hash already stored.
//
// Some lookups must hand the interpreter a new key object every time, since
// code that receives the key (a __getitem__, a key's __eq__) may keep it. A
// str made from UTF-8 bytes is decoded and, at the first lookup, hashed; a
// copy of a ready-made str of the same kind skips both, and is otherwise the
// same object: the same type, kind, length, characters and hash.
//
// The interpreter shares one object for the empty str and for each str of
// one character below U+0100, wherever it makes them from UTF-8; those are
// handed out the same way here.
#pragma once

#include <Python.h>

#include <source_location>
#include <string_view>

#include "frame/error.hpp"
#include "frame/refs.hpp"
#include "frame/short_bytes.hpp"

namespace pelm {

class FreshStr {
public:
    // `text` is UTF-8 that the interpreter can decode.
    explicit FreshStr(std::string_view text,
                      std::source_location where = std::source_location::current())
        : model_(new_str(text, where)),
          // Hashing a str made from UTF-8 runs no user code and cannot fail.
          hash_(PyObject_Hash(model_.get())),
          length_(PyUnicode_GET_LENGTH(model_.get())),
          max_char_(PyUnicode_MAX_CHAR_VALUE(model_.get())),
          bytes_(static_cast<std::size_t>(length_) * PyUnicode_KIND(model_.get())),
          // A str made with the same length and largest character has the
          // same layout, so its characters sit at the same offset.
          data_offset_(static_cast<const char*>(PyUnicode_DATA(model_.get())) -
                       reinterpret_cast<const char*>(model_.get())),
          shared_(length_ == 0 || (length_ == 1 && PyUnicode_READ_CHAR(model_.get(), 0) < 0x100)) {}

    // The ready-made str of the text, and its hash.
    PyObject* model() const noexcept { return model_.get(); }
    Py_hash_t hash() const noexcept { return hash_; }

    // A new str equal to the text, its hash already set.
    OwnedRef make() const {
        if (shared_) return OwnedRef::new_ref(model_.get());
        OwnedRef copy = made_object(PyUnicode_New(length_, max_char_));
        copy_bytes(reinterpret_cast<char*>(copy.get()) + data_offset_,
                   reinterpret_cast<const char*>(model_.get()) + data_offset_, bytes_);
        // Every str layout starts with the ASCII header, which holds the hash.
        reinterpret_cast<PyASCIIObject*>(copy.get())->hash = hash_;
        return copy;
    }

private:
    OwnedRef model_;
    Py_hash_t hash_;
    Py_ssize_t length_;
    Py_UCS4 max_char_;
    std::size_t bytes_;
    std::ptrdiff_t data_offset_;
    // The interpreter's own object for this text, which it never copies.
    bool shared_;
};

}  // namespace pelm
