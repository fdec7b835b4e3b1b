// Attribute names that the frame looks up, as process-wide interned str
// objects made on first use and kept for the life of the process.
#pragma once

#include <Python.h>

namespace pelm {

enum class InternedName { Name, All, AddNote };

// A borrowed reference to the interned str ("__name__", "__all__", "add_note").
PyObject* interned(InternedName which);

}  // namespace pelm
