// The conversion of multikeysort's `inplace` argument.
#pragma once

#include <Python.h>

#include "frame/result.hpp"

namespace pelm::dictsort {

// A bool is taken as it is. A numpy boolean, recognised by the names of its
// type alone (module "numpy", name "bool_" or "bool"; numpy is never
// imported), is converted by its type's truth slot. Anything else, ints
// included, is the type-mismatch TypeError for bool. The error carries no
// note: the caller adds the one naming the parameter.
Result<bool> extract_bool(PyObject* value);

}  // namespace pelm::dictsort
