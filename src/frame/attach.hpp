// Attachment of the calling thread to the interpreter.
//
// ATTACH_COUNT counts, per thread, the nested entries into pelm that the
// thread is inside: above zero the thread holds the global lock and may touch
// objects, zero means detached, a negative value means attaching is refused.
// Releases of owned references consult it (see refs.hpp).
#pragma once

#include <Python.h>

#include <cstdint>

namespace pelm {

// Read on every release of a reference, so it uses the initial-exec model: one
// load from the thread pointer instead of a call that finds the module's
// thread-local block.
[[gnu::tls_model("initial-exec")]] inline thread_local std::intptr_t ATTACH_COUNT = 0;

// Decrements every object whose release was put off while its thread was
// detached. Cheap when nothing was ever deferred.
void drain_pending_releases_if_any();

// Releases the global lock for the lifetime of the scope, or until
// reattach(): saves ATTACH_COUNT and sets it to 0, then PyEval_SaveThread.
// Taking the interpreter back restores the lock and the count and drains the
// pending releases.
class DetachedScope {
public:
    DetachedScope() noexcept : saved_count_(ATTACH_COUNT) {
        ATTACH_COUNT = 0;
        state_ = PyEval_SaveThread();
    }
    DetachedScope(const DetachedScope&) = delete;
    DetachedScope& operator=(const DetachedScope&) = delete;
    ~DetachedScope() { reattach(); }

    void reattach() {
        if (state_ == nullptr) return;
        PyEval_RestoreThread(state_);
        state_ = nullptr;
        ATTACH_COUNT = saved_count_;
        drain_pending_releases_if_any();
    }

private:
    std::intptr_t saved_count_;
    PyThreadState* state_;
};

}  // namespace pelm
