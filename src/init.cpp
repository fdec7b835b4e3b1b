// The extension's only exported entry.
#include "module.hpp"

PyMODINIT_FUNC PyInit__pelm(void) { return PyModuleDef_Init(&pelm::module_definition()); }
