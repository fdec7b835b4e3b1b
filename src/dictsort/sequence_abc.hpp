// The type Sequence of collections.abc, looked up once per process.
#pragma once

#include <Python.h>

namespace pelm::dictsort {

// Borrowed; kept for the life of the process once found. The global lock is
// released while the lookup runs in another thread. A failed lookup is not
// remembered, so a later call tries again; for the call at hand it is an
// internal fault. Python code that the lookup runs (an import hook) may ask
// for the type again on the same thread: that request makes a lookup of its
// own, and the first lookup to succeed is the one kept.
PyTypeObject* sequence_abc_type();

}  // namespace pelm::dictsort
