// The module definition, the ten method records and the execution step.
#include "module.hpp"

#include <array>

#include "docstrings.hpp"
#include "frame/args.hpp"
#include "frame/call.hpp"
#include "frame/compat.hpp"
#include "frame/fault.hpp"
#include "frame/interned.hpp"
#include "functions.hpp"

namespace pelm {
namespace {

// METH_FASTCALL | METH_STATIC | METH_KEYWORDS: the interpreter passes a null
// self and reports __self__ as None.
constexpr int method_flags = METH_FASTCALL | METH_STATIC | METH_KEYWORDS;
static_assert(method_flags == 0xa2);

template <Wrapper W>
PyCFunction entry_of() {
    PyObject* (*entry)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) = &fastcall_entry<W>;
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(entry));
}

// Not a terminated table: the execution step hands each record to the
// interpreter by itself, in this order.
std::array<PyMethodDef, 10> method_records = {{
    {"parse", entry_of<parse_wrapper>(), method_flags, parse_doc},
    {"normalize_numeric_str", entry_of<normalize_numeric_str_wrapper>(), method_flags,
     normalize_numeric_str_doc},
    {"multikeysort", entry_of<multikeysort_wrapper>(), method_flags, multikeysort_doc},
    {"sanitize_vulgar_string", entry_of<sanitize_vulgar_string_wrapper>(), method_flags,
     sanitize_vulgar_string_doc},
    {"uncamel", entry_of<uncamel_wrapper>(), method_flags, uncamel_doc},
    {"underscore_to_camelcase", entry_of<underscore_to_camelcase_wrapper>(), method_flags,
     underscore_to_camelcase_doc},
    {"collapse", entry_of<collapse_wrapper>(), method_flags, collapse_doc},
    {"backfill", entry_of<backfill_wrapper>(), method_flags, backfill_doc},
    {"backfill_iterdict", entry_of<backfill_iterdict_wrapper>(), method_flags,
     backfill_iterdict_doc},
    {"same_order", entry_of<same_order_wrapper>(), method_flags, same_order_doc},
}};

Result<OwnedRef> make_module_function(BorrowedRef module, PyMethodDef& record) {
    OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module.get()));
    if (!module_name) return taken_error();
    OwnedRef function =
        OwnedRef::steal(PyCMethod_New(&record, module.get(), module_name.get(), nullptr));
    if (!function) return taken_error();
    return function;
}

// "PyErr { type: ..., value: ..., traceback: ... }" for a fault message.
OwnedText debug_description(PyObject* exception) {
    auto repr_of = [](PyObject* object) {
        if (object == nullptr) return OwnedText("None");
        OwnedRef repr = OwnedRef::steal(PyObject_Repr(object));
        if (!repr) {
            PyErr_Clear();
            return OwnedText("<unprintable>");
        }
        return lossy_text(repr.get());
    };
    OwnedRef traceback = OwnedRef::steal(PyException_GetTraceback(exception));
    OwnedText text("PyErr { type: ");
    text += repr_of(reinterpret_cast<PyObject*>(Py_TYPE(exception)));
    text += ", value: ";
    text += repr_of(exception);
    text += ", traceback: ";
    text += repr_of(traceback.get());
    text += " }";
    return text;
}

// The module's __all__ list, made empty when the module has none.
Result<OwnedRef> module_all_list(BorrowedRef module) {
    OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module.get(), interned(InternedName::All)));
    if (all) {
        if (is_list(all.get())) return all;
        return type_mismatch_error_from_owned(std::move(all), &PyList_Type);
    }
    PyErr missing = taken_error();
    PyObject* exception = normalize_error(missing);
    if (!PyErr_GivenExceptionMatches(exception, PyExc_AttributeError)) return missing;
    OwnedRef fresh = made_object(PyList_New(0));
    if (PyObject_SetAttr(module.get(), interned(InternedName::All), fresh.get()) < 0) {
        return taken_error();
    }
    drop_error(std::move(missing));
    return fresh;
}

Result<void> publish_module_function(BorrowedRef module, OwnedRef function) {
    OwnedRef name = OwnedRef::steal(PyObject_GetAttr(function.get(), interned(InternedName::Name)));
    if (!name) return taken_error();
    if (!is_str(name.get())) return type_mismatch_error_from_owned(std::move(name), &PyUnicode_Type);

    Result<OwnedRef> all = module_all_list(module);
    if (!all) return all.take_error();

    if (PyList_Append(all->get(), name.get()) < 0) {
        OwnedText message("could not append __name__ to __all__: ");
        OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
        message += exception ? debug_description(exception.get()) : OwnedText("None");
        fault(view(message));
    }
    if (PyObject_SetAttr(module.get(), name.get(), function.get()) < 0) return taken_error();
    return {};
}

Result<void> add_functions(BorrowedRef module) {
    if (!PyObject_TypeCheck(module.get(), &PyModule_Type)) {
        return type_mismatch_error(module, &PyModule_Type);
    }
    for (PyMethodDef& record : method_records) {
        Result<OwnedRef> function = make_module_function(module, record);
        if (!function) return function.take_error();
        if (Result<void> published = publish_module_function(module, std::move(function).value());
            !published) {
            return published;
        }
    }
    return {};
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&module_exec)},
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "_pelm",
    "Python module definition.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyModuleDef& module_definition() noexcept { return definition; }

int module_exec(PyObject* module) noexcept {
    FrameEntry entry;
    Result<void> added = run_guarded<void>([&] { return add_functions(BorrowedRef(module)); });
    try {
        if (added) return 0;
        raise_in_interpreter(added.take_error());
        return -1;
    } catch (...) {
        uncaught_fault_at_boundary();
    }
}

}  // namespace pelm
