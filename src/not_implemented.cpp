// Functions whose bodies have not landed yet bind their arguments like the
// real ones, then raise NotImplementedError naming the function. They are
// weak definitions: a subsystem's own wrapper replaces its placeholder.
#include "argument_tables.hpp"
#include "frame/error.hpp"
#include "functions.hpp"

namespace pelm {
namespace {

CallOutcome not_implemented(const ArgumentTable& table, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, const char* text) {
    PyObject* slots[3] = {nullptr, nullptr, nullptr};
    if (table.positional_names.empty()) {
        if (kwnames != nullptr) {
            if (Result<void> matched = match_keyword_arguments(table, kwnames, args + nargs, slots);
                !matched) {
                return matched.take_error();
            }
        }
    } else if (Result<void> bound = bind_fastcall_arguments(table, args, nargs, kwnames, slots);
               !bound) {
        return bound.take_error();
    }
    return PyErr(ErrorRecipe::fixed_text(PyExc_NotImplementedError, text));
}

}  // namespace

#define PELM_NOT_IMPLEMENTED(name)                                                           \
    [[gnu::weak]] CallOutcome name##_wrapper(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) { \
        return not_implemented(tables::name, args, nargs, kwnames,                           \
                               #name " is not implemented yet");                             \
    }

PELM_NOT_IMPLEMENTED(parse)
PELM_NOT_IMPLEMENTED(normalize_numeric_str)
PELM_NOT_IMPLEMENTED(multikeysort)
PELM_NOT_IMPLEMENTED(sanitize_vulgar_string)
PELM_NOT_IMPLEMENTED(uncamel)
PELM_NOT_IMPLEMENTED(underscore_to_camelcase)
PELM_NOT_IMPLEMENTED(collapse)
PELM_NOT_IMPLEMENTED(backfill)
PELM_NOT_IMPLEMENTED(backfill_iterdict)
PELM_NOT_IMPLEMENTED(same_order)

}  // namespace pelm
