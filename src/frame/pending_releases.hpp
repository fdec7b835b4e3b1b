// PENDING_RELEASES: objects whose release was put off because the releasing
// thread was not attached to the interpreter (see refs.hpp). Queueing and
// draining go through PendingReleasesLock.
#pragma once

#include <Python.h>

#include <mutex>

#include "frame/alloc.hpp"

namespace pelm {

// Holds the queue's mutex for its lifetime. A queue marked broken is the
// internal fault of a broken lock (the mutex is let go first).
class PendingReleasesLock {
public:
    PendingReleasesLock();
    PendingReleasesLock(const PendingReleasesLock&) = delete;
    PendingReleasesLock& operator=(const PendingReleasesLock&) = delete;

    Vector<PyObject*>& objects() noexcept;

private:
    std::unique_lock<std::mutex> lock_;
};

// In the child of a fork(): makes the mutex usable when a thread that is gone
// in the child held it.
void reset_pending_releases_in_child() noexcept;

}  // namespace pelm
