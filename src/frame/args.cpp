#include "frame/args.hpp"

#include <charconv>

#include "frame/compat.hpp"
#include "frame/interned.hpp"

namespace pelm {
namespace {

void append_number(OwnedText& text, std::size_t number) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    text.append(digits, static_cast<size_t>(end - digits));
}

OwnedText full_name(const ArgumentTable& table) {
    OwnedText name(table.function_name);
    name += "()";
    return name;
}

PyErr argument_error(OwnedText text) { return PyErr(ErrorRecipe::built_text(std::move(text))); }

PyErr too_many_positional(const ArgumentTable& table, Py_ssize_t given) {
    std::size_t positional = table.positional_names.size();
    OwnedText text = full_name(table);
    if (table.required == positional) {
        text += " takes ";
        append_number(text, positional);
    } else {
        text += " takes from ";
        append_number(text, table.required);
        text += " to ";
        append_number(text, positional);
    }
    text += " positional arguments but ";
    append_number(text, static_cast<std::size_t>(given));
    text += given == 1 ? " was given" : " were given";
    return argument_error(std::move(text));
}

PyErr missing_required(const ArgumentTable& table, std::span<PyObject*> slots) {
    Vector<std::string_view> missing;
    for (std::size_t i = 0; i < table.required; ++i) {
        if (slots[i] == nullptr) missing.push_back(table.positional_names[i]);
    }
    OwnedText text = full_name(table);
    text += " missing ";
    append_number(text, missing.size());
    text += missing.size() == 1 ? " required positional argument: " : " required positional arguments: ";
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) text += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
        text += "'";
        text += missing[i];
        text += "'";
    }
    return argument_error(std::move(text));
}

}  // namespace

// str() of an object for an error message; an object whose str() fails is
// reported as unraisable and named by its type.
OwnedText object_display_text(PyObject* object) {
    if (OwnedRef str = OwnedRef::steal(PyObject_Str(object))) return lossy_text(str.get());
    if (PyObject* pending = PyErr_GetRaisedException()) {
        PyErr_SetRaisedException(pending);
        PyErr_WriteUnraisable(object);
    }
    OwnedRef type_name = OwnedRef::steal(PyType_GetName(Py_TYPE(object)));
    if (!type_name) {
        PyErr_Clear();
        return OwnedText("<unprintable object>");
    }
    OwnedText text("<unprintable ");
    text += lossy_text(type_name.get());
    text += " object>";
    return text;
}

Result<void> bind_fastcall_arguments(const ArgumentTable& table, PyObject* const* args,
                                     Py_ssize_t nargs, PyObject* kwnames,
                                     std::span<PyObject*> slots) {
    std::size_t positional = table.positional_names.size();
    std::size_t given = static_cast<std::size_t>(nargs);
    for (std::size_t i = 0; i < std::min(positional, given); ++i) slots[i] = args[i];
    if (given > positional) return too_many_positional(table, nargs);
    if (kwnames != nullptr) {
        if (Result<void> matched = match_keyword_arguments(table, kwnames, args + nargs, slots);
            !matched) {
            return matched;
        }
    }
    if (given < table.required) {
        for (std::size_t i = given; i < table.required; ++i) {
            if (slots[i] == nullptr) return missing_required(table, slots);
        }
    }
    return {};
}

Result<void> match_keyword_arguments(const ArgumentTable& table, PyObject* kwnames,
                                     PyObject* const* kwvalues, std::span<PyObject*> slots) {
    Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* name = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
        std::string_view text;
        bool readable = utf8 != nullptr;
        if (readable) {
            text = std::string_view(utf8, static_cast<size_t>(size));
        } else {
            discard_raised_exception();
        }
        std::size_t found = table.positional_names.size();
        for (std::size_t i = 0; readable && i < table.positional_names.size(); ++i) {
            if (table.positional_names[i] == text) {
                found = i;
                break;
            }
        }
        if (found == table.positional_names.size()) {
            OwnedText message = full_name(table);
            message += " got an unexpected keyword argument '";
            message += object_display_text(name);
            message += "'";
            return argument_error(std::move(message));
        }
        if (slots[found] != nullptr) {
            OwnedText message = full_name(table);
            message += " got multiple values for argument '";
            message += text;
            message += "'";
            return argument_error(std::move(message));
        }
        slots[found] = kwvalues[k];
    }
    return {};
}

PyErr annotate_argument_error(std::string_view parameter, PyErr error) {
    PyUnicodeWriter* writer = PyUnicodeWriter_Create(0);
    if (writer == nullptr) {
        discard_raised_exception();
        return error;
    }
    if (PyUnicodeWriter_WriteUTF8(writer, "while processing '", -1) < 0 ||
        PyUnicodeWriter_WriteUTF8(writer, parameter.data(), static_cast<Py_ssize_t>(parameter.size())) < 0 ||
        PyUnicodeWriter_WriteUTF8(writer, "'", 1) < 0) {
        PyUnicodeWriter_Discard(writer);
        discard_raised_exception();
        return error;
    }
    OwnedRef note = OwnedRef::steal(PyUnicodeWriter_Finish(writer));
    if (!note) {
        discard_raised_exception();
        return error;
    }
    PyObject* exception = normalize_error(error);
    PyObject* call_args[] = {exception, note.get()};
    OwnedRef added = OwnedRef::steal(PyObject_VectorcallMethod(
        interned(InternedName::AddNote), call_args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!added) discard_raised_exception();
    return error;
}

PyErr type_mismatch_error(BorrowedRef object, PyTypeObject* expected) {
    return type_mismatch_error_from_owned(object.to_owned(), expected);
}

PyErr type_mismatch_error_from_owned(OwnedRef object, PyTypeObject* expected) {
    return PyErr(ErrorRecipe::type_mismatch(
        std::move(object), OwnedRef::new_ref(reinterpret_cast<PyObject*>(expected))));
}

Result<BorrowedText> extract_borrowed_text(BorrowedRef object) {
    if (!is_str(object.get())) return type_mismatch_error(object, &PyUnicode_Type);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object.get(), &size);
    if (utf8 == nullptr) return taken_error();
    return BorrowedText(utf8, static_cast<size_t>(size));
}

Result<OwnedText> extract_owned_text(BorrowedRef object) {
    Result<BorrowedText> text = extract_borrowed_text(object);
    if (!text) return text.take_error();
    return OwnedText(*text);
}

Result<OwnedRef> list_item_at(PyObject* list, Py_ssize_t index) {
    if (OwnedRef item = OwnedRef::steal(PyList_GetItemRef(list, index))) return item;
    return taken_error();
}

OwnedRef list_from_owned_refs(OwnedRefVec&& objects, std::source_location where) {
    OwnedRefVec taken(std::move(objects));
    objects.clear();
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(taken.size()));
    if (list == nullptr) fail_null_object(where);
    for (std::size_t i = 0; i < taken.size(); ++i) {
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), taken[i].release());
    }
    return OwnedRef::steal(list);
}

}  // namespace pelm
