#include "frame/interned.hpp"

#include <string_view>

#include "frame/error.hpp"
#include "frame/once.hpp"

namespace pelm {
namespace {

struct InternedString {
    std::string_view text;
    InterpreterOnceCell<> cell;

    PyObject* get() {
        return cell.get([this] {
            PyObject* str =
                PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
            if (str == nullptr) fail_null_object();
            PyUnicode_InternInPlace(&str);
            return OwnedRef::steal(str);
        });
    }
};

InternedString NAME{"__name__", {}};
InternedString ALL{"__all__", {}};
InternedString ADD_NOTE{"add_note", {}};

}  // namespace

PyObject* interned(InternedName which) {
    switch (which) {
        case InternedName::Name:
            return NAME.get();
        case InternedName::All:
            return ALL.get();
        case InternedName::AddNote:
            return ADD_NOTE.get();
    }
    return ADD_NOTE.get();
}

}  // namespace pelm
