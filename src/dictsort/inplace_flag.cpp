#include "dictsort/inplace_flag.hpp"

#include "frame/args.hpp"
#include "frame/compat.hpp"
#include "frame/error.hpp"

namespace pelm::dictsort {
namespace {

bool name_equals(PyObject* name, std::string_view text) {
    const auto size = static_cast<Py_ssize_t>(text.size());
    return PyUnicode_EqualToUTF8AndSize(name, text.data(), size) == 1;
}

// Whether the type is numpy's boolean scalar type, by its names. A query that
// fails counts as "no", its exception discarded.
bool is_numpy_bool_type(PyTypeObject* type) {
    const OwnedRef module = OwnedRef::steal(PyType_GetModuleName(type));
    if (!module) {
        discard_raised_exception();
        return false;
    }
    if (!is_str(module.get()) || !name_equals(module.get(), "numpy")) return false;
    const OwnedRef name = OwnedRef::steal(PyType_GetName(type));
    if (!name) {
        discard_raised_exception();
        return false;
    }
    return name_equals(name.get(), "bool_") || name_equals(name.get(), "bool");
}

PyErr no_bool_conversion_error(PyTypeObject* type) {
    OwnedText text("object of type '");
    text += object_display_text(reinterpret_cast<PyObject*>(type));
    text += "' does not define a '__bool__' conversion";
    return PyErr(ErrorRecipe::built_text(std::move(text)));
}

}  // namespace

Result<bool> extract_bool(PyObject* value) {
    if (Py_IS_TYPE(value, &PyBool_Type)) return value == Py_True;
    PyTypeObject* type = Py_TYPE(value);
    if (!is_numpy_bool_type(type)) return type_mismatch_error(BorrowedRef(value), &PyBool_Type);
    const PyNumberMethods* number = type->tp_as_number;
    if (number == nullptr || number->nb_bool == nullptr) return no_bool_conversion_error(type);
    switch (number->nb_bool(value)) {
        case 0:
            return false;
        case 1:
            return true;
        default:
            return taken_error();
    }
}

}  // namespace pelm::dictsort
