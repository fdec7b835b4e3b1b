#include "dictsort/sequence_abc.hpp"

#include "frame/error.hpp"
#include "frame/fault.hpp"
#include "frame/once.hpp"
#include "frame/refs.hpp"

namespace pelm::dictsort {
namespace {

constexpr std::string_view unwrap_failure = "called `Result::unwrap()` on an `Err` value: ";

InterpreterOnceCell<OnFailure::Retry> SEQUENCE_ABC_TYPE;

// "TypeName: text" of an exception, for the fault message.
OwnedText describe_exception(PyObject* exception) {
    OwnedText description;
    if (const OwnedRef name = OwnedRef::steal(PyType_GetQualName(Py_TYPE(exception)))) {
        description = lossy_text(name.get());
    } else {
        discard_raised_exception();
        description = "<unknown exception>";
    }
    if (const OwnedRef text = OwnedRef::steal(PyObject_Str(exception))) {
        description += ": ";
        description += lossy_text(text.get());
    } else {
        discard_raised_exception();
    }
    return description;
}

[[noreturn]] void fail_lookup(OwnedText description) {
    OwnedText message(unwrap_failure);
    message += description;
    fault(view(message));
}

// The failure that the interpreter holds after a failed import or attribute
// read.
[[noreturn]] void fail_lookup_with_raised_exception() {
    PyErr error = taken_error();
    fail_lookup(describe_exception(normalize_error(error)));
}

OwnedRef look_up_sequence_type() {
    const OwnedRef module_name = new_str("collections.abc");
    const OwnedRef module = OwnedRef::steal(PyImport_Import(module_name.get()));
    if (!module) fail_lookup_with_raised_exception();
    const OwnedRef attribute = new_str("Sequence");
    OwnedRef sequence = OwnedRef::steal(PyObject_GetAttr(module.get(), attribute.get()));
    if (!sequence) fail_lookup_with_raised_exception();
    if (!PyType_Check(sequence.get())) {
        OwnedText description("TypeError: 'collections.abc.Sequence' is a '");
        description += qualified_type_name(reinterpret_cast<PyObject*>(Py_TYPE(sequence.get())));
        description += "' object, not a type";
        fail_lookup(std::move(description));
    }
    return sequence;
}

}  // namespace

PyTypeObject* sequence_abc_type() {
    return reinterpret_cast<PyTypeObject*>(SEQUENCE_ABC_TYPE.get(look_up_sequence_type));
}

}  // namespace pelm::dictsort
