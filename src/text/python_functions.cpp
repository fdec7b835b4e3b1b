// The Python functions uncamel, underscore_to_camelcase and
// sanitize_vulgar_string. Each result is a new exact str made from the
// converted bytes, also when the text did not change.
#include "argument_tables.hpp"
#include "frame/args.hpp"
#include "functions.hpp"
#include "text/case_conversion.hpp"
#include "text/fraction_replace.hpp"

namespace pelm {

CallOutcome uncamel_wrapper(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_text_argument(tables::uncamel, args, nargs, kwnames,
                                   [](BorrowedText text) -> CallOutcome {
        return new_str(view(text::uncamel(text)));
    });
}

CallOutcome underscore_to_camelcase_wrapper(PyObject* const* args, Py_ssize_t nargs,
                                            PyObject* kwnames) {
    return call_with_text_argument(tables::underscore_to_camelcase, args, nargs, kwnames,
                                   [](BorrowedText text) -> CallOutcome {
        return new_str(view(text::underscore_to_camelcase(text)));
    });
}

CallOutcome sanitize_vulgar_string_wrapper(PyObject* const* args, Py_ssize_t nargs,
                                           PyObject* kwnames) {
    return call_with_text_argument(tables::sanitize_vulgar_string, args, nargs, kwnames,
                                   [](BorrowedText text) -> CallOutcome {
        std::optional<OwnedText> replaced = text::sanitize_vulgar_string(text);
        return new_str(replaced ? view(*replaced) : text);
    });
}

}  // namespace pelm
