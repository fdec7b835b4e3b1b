// The wrappers of the ten functions: each binds and converts its arguments
// and runs its body, handing back a CallOutcome. Defined in the subsystem
// folders.
#pragma once

#include <Python.h>

#include "frame/result.hpp"

namespace pelm {

#define PELM_WRAPPER(name) CallOutcome name##_wrapper(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

PELM_WRAPPER(parse);
PELM_WRAPPER(normalize_numeric_str);
PELM_WRAPPER(multikeysort);
PELM_WRAPPER(sanitize_vulgar_string);
PELM_WRAPPER(uncamel);
PELM_WRAPPER(underscore_to_camelcase);
PELM_WRAPPER(collapse);
PELM_WRAPPER(backfill);
PELM_WRAPPER(backfill_iterdict);
PELM_WRAPPER(same_order);

#undef PELM_WRAPPER

}  // namespace pelm
