// The module definition of pelm._pelm and its execution step.
#pragma once

#include <Python.h>

namespace pelm {

// The static module definition (multi-phase initialisation).
PyModuleDef& module_definition() noexcept;

// The execution step: adds the ten functions to `module` and to its
// __all__ list. 0 on success, -1 with an exception set.
int module_exec(PyObject* module) noexcept;

}  // namespace pelm
