// C functions that pelm calls under their CPython 3.14 names, for the older
// interpreters that lack them (3.11 to 3.13). Each shim sits behind the
// version gate of the release that added the real function, keeps its
// signature, and follows its documented behaviour (what fails, what is
// cleared). On 3.14 the real functions are called and nothing here is built.
#pragma once

#include <Python.h>

#include <cstring>

// --- Added in 3.12 ----------------------------------------------------------
#if PY_VERSION_HEX < 0x030C0000
// The current exception as one normalised object carrying its traceback; the
// error indicator is cleared. Null when no exception is set.
static inline PyObject* PyErr_GetRaisedException(void) {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(traceback);
    Py_DECREF(type);
    return value;
}

// Sets `exc` (a reference that the call steals) as the current exception;
// null clears the error indicator.
static inline void PyErr_SetRaisedException(PyObject* exc) {
    if (exc == nullptr) {
        PyErr_Restore(nullptr, nullptr, nullptr);
        return;
    }
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
    Py_INCREF(type);
    PyErr_Restore(type, exc, PyException_GetTraceback(exc));
}
#endif

// --- Added in 3.13 ----------------------------------------------------------
#if PY_VERSION_HEX < 0x030D0000
// A new reference to list[index]; IndexError when out of range.
static inline PyObject* PyList_GetItemRef(PyObject* list, Py_ssize_t index) {
    if (!PyList_Check(list)) {
        PyErr_SetString(PyExc_TypeError, "expected a list");
        return nullptr;
    }
    if (index < 0 || index >= PyList_GET_SIZE(list)) {
        PyErr_SetString(PyExc_IndexError, "list index out of range");
        return nullptr;
    }
    PyObject* item = PyList_GET_ITEM(list, index);
    Py_INCREF(item);
    return item;
}

// 1 when `unicode` is a str equal to the UTF-8 bytes, else 0. Never raises and
// leaves the error indicator as it was.
static inline int PyUnicode_EqualToUTF8AndSize(PyObject* unicode, const char* str, Py_ssize_t size) {
    if (!PyUnicode_Check(unicode)) return 0;
    PyObject* pending = PyErr_GetRaisedException();
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(unicode, &length);
    int equal = 0;
    if (utf8 == nullptr) {
        PyErr_Clear();  // a str with a lone surrogate equals no UTF-8 text
    } else {
        equal = length == size && std::memcmp(utf8, str, static_cast<size_t>(size)) == 0;
    }
    PyErr_SetRaisedException(pending);
    return equal;
}

// Added with the other type-name functions of PEP 737. The module name as the
// type itself records it, without attribute lookup (which would run a
// metaclass's descriptors): for a heap type the "__module__" entry of its own
// dict, AttributeError when there is none; for a static type the part of
// tp_name before the last dot, or "builtins" when it has no dot. A new
// reference; no Python code runs.
static inline PyObject* PyType_GetModuleName(PyTypeObject* type) {
    if (!PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) {
        const char* last_dot = std::strrchr(type->tp_name, '.');
        if (last_dot == nullptr) return PyUnicode_InternFromString("builtins");
        return PyUnicode_FromStringAndSize(type->tp_name, last_dot - type->tp_name);
    }
    PyObject* key = PyUnicode_InternFromString("__module__");
    if (key == nullptr) return nullptr;
    PyObject* module = PyDict_GetItemWithError(type->tp_dict, key);  // borrowed
    Py_DECREF(key);
    if (module == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_AttributeError, "__module__");
        return nullptr;
    }
    return Py_NewRef(module);
}

// Whether the main interpreter is shutting down. Older releases export the
// same query under its earlier name.
static inline int Py_IsFinalizing(void) { return _Py_IsFinalizing(); }
#endif

// --- Added in 3.14 ----------------------------------------------------------
#if PY_VERSION_HEX < 0x030E0000
// Result code of PyIter_NextItem: 1 with *item set to a new reference, 0 at
// the end (*item null), -1 with an exception set (*item null).
static inline int PyIter_NextItem(PyObject* iter, PyObject** item) {
    if (Py_TYPE(iter)->tp_iternext == nullptr) {
        *item = nullptr;
        PyErr_Format(PyExc_TypeError, "expected an iterator, got '%s'", Py_TYPE(iter)->tp_name);
        return -1;
    }
    *item = PyIter_Next(iter);
    if (*item != nullptr) return 1;
    return PyErr_Occurred() ? -1 : 0;
}

// A writer that builds one str from UTF-8 pieces. Only the calls that pelm
// uses are provided: Create, WriteUTF8, Finish and Discard.
struct PyUnicodeWriter {
    char* data;
    Py_ssize_t size;
    Py_ssize_t capacity;
};

static inline void PyUnicodeWriter_Discard(PyUnicodeWriter* writer) {
    if (writer == nullptr) return;
    PyMem_Free(writer->data);
    PyMem_Free(writer);
}

static inline PyUnicodeWriter* PyUnicodeWriter_Create(Py_ssize_t length) {
    if (length < 0) {
        PyErr_SetString(PyExc_ValueError, "length must be positive");
        return nullptr;
    }
    auto* writer = static_cast<PyUnicodeWriter*>(PyMem_Malloc(sizeof(PyUnicodeWriter)));
    if (writer == nullptr) {
        PyErr_NoMemory();
        return nullptr;
    }
    writer->size = 0;
    writer->capacity = length > 0 ? length : 16;
    writer->data = static_cast<char*>(PyMem_Malloc(static_cast<size_t>(writer->capacity)));
    if (writer->data == nullptr) {
        PyMem_Free(writer);
        PyErr_NoMemory();
        return nullptr;
    }
    return writer;
}

// Appends UTF-8 text (size -1: NUL-terminated). Invalid UTF-8 raises
// UnicodeDecodeError, as the real call does.
static inline int PyUnicodeWriter_WriteUTF8(PyUnicodeWriter* writer, const char* str, Py_ssize_t size) {
    if (size < 0) size = static_cast<Py_ssize_t>(std::strlen(str));
    PyObject* check = PyUnicode_DecodeUTF8(str, size, "strict");
    if (check == nullptr) return -1;
    Py_DECREF(check);
    if (writer->size + size > writer->capacity) {
        Py_ssize_t wanted = writer->capacity * 2 > writer->size + size ? writer->capacity * 2
                                                                       : writer->size + size;
        auto* grown = static_cast<char*>(PyMem_Realloc(writer->data, static_cast<size_t>(wanted)));
        if (grown == nullptr) {
            PyErr_NoMemory();
            return -1;
        }
        writer->data = grown;
        writer->capacity = wanted;
    }
    std::memcpy(writer->data + writer->size, str, static_cast<size_t>(size));
    writer->size += size;
    return 0;
}

// The str made of everything written; the writer is freed either way.
static inline PyObject* PyUnicodeWriter_Finish(PyUnicodeWriter* writer) {
    PyObject* result = PyUnicode_DecodeUTF8(writer->data, writer->size, "strict");
    PyUnicodeWriter_Discard(writer);
    return result;
}
#endif
