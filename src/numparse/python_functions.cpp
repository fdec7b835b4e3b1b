// The Python functions parse and normalize_numeric_str.
#include "argument_tables.hpp"
#include "frame/args.hpp"
#include "functions.hpp"
#include "numparse/numparse.hpp"

namespace pelm {

CallOutcome parse_wrapper(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_text_argument(tables::parse, args, nargs, kwnames,
                                   [](BorrowedText text) -> CallOutcome {
        numparse::Number number = numparse::parse_number(text);
        switch (number.kind) {
            case numparse::Number::Kind::Int:
                return made_object(PyLong_FromLong(number.int_value));
            case numparse::Number::Kind::Float:
                return made_object(PyFloat_FromDouble(number.float_value));
            case numparse::Number::Kind::Nothing:
                break;
        }
        return none_object();
    });
}

CallOutcome normalize_numeric_str_wrapper(PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
    return call_with_text_argument(tables::normalize_numeric_str, args, nargs, kwnames,
                                   [](BorrowedText text) -> CallOutcome {
        numparse::ScratchText scratch;
        std::optional<std::string_view> normalized = numparse::normalize_numeric(text, scratch);
        if (!normalized) return none_object();
        return new_str(*normalized);
    });
}

}  // namespace pelm
