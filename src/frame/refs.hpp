// Object references with their ownership in the type.
//
// Rules of use:
//   BorrowedRef - the count belongs to someone else (the argument vector, the
//                 keyword-name tuple, the module during start-up, an item read
//                 with PyTuple_GetItem). Never released.
//   OwnedRef    - carries one count of the object's reference count. Made
//                 explicitly: OwnedRef::steal(p) takes over a new reference
//                 returned by the interpreter; OwnedRef::new_ref(p) adds one.
//                 Move-only; release() hands the count on. There is no
//                 implicit conversion to PyObject*: use get().
//   OwnedRefVec - a growable array of OwnedRefs that owns every reference in
//                 it; dropping it releases each one still held.
//
// The release rule: a thread attached to the interpreter (ATTACH_COUNT above
// zero) decrements at once; any other thread queues the object in
// PENDING_RELEASES, which the next attached thread drains on entry.
#pragma once

#include <Python.h>

#include <utility>

#include "frame/alloc.hpp"
#include "frame/attach.hpp"

namespace pelm {

// Queues an object whose release must wait for an attached thread.
void defer_release(PyObject* object);

inline void release_owned_ref(PyObject* object) {
    if (ATTACH_COUNT > 0) {
        Py_DECREF(object);
    } else {
        defer_release(object);
    }
}

class OwnedRef;

class BorrowedRef {
public:
    explicit BorrowedRef(PyObject* object) noexcept : object_(object) {}
    PyObject* get() const noexcept { return object_; }
    inline OwnedRef to_owned() const noexcept;

private:
    PyObject* object_;
};

class OwnedRef {
public:
    OwnedRef() noexcept = default;

    // Takes over a new reference (which may be null).
    [[nodiscard]] static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
    // Adds a reference to an object that someone else holds.
    [[nodiscard]] static OwnedRef new_ref(PyObject* object) noexcept {
        Py_XINCREF(object);
        return OwnedRef(object);
    }

    OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        OwnedRef old(std::move(*this));
        object_ = std::exchange(other.object_, nullptr);
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() {
        if (object_ != nullptr) release_owned_ref(object_);
    }

    PyObject* get() const noexcept { return object_; }
    BorrowedRef borrow() const noexcept { return BorrowedRef(object_); }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference to the caller; this OwnedRef becomes empty.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    // A second owned reference to the same object.
    [[nodiscard]] OwnedRef clone() const noexcept { return new_ref(object_); }
    void reset() noexcept { OwnedRef old(std::move(*this)); }

private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

inline OwnedRef BorrowedRef::to_owned() const noexcept { return OwnedRef::new_ref(object_); }

using OwnedRefVec = Vector<OwnedRef>;

}  // namespace pelm
