// The record comes into use with the first deferred release and lives for
// the rest of the process. Queueing happens under its mutex; draining takes
// the whole vector under the mutex and decrements after unlocking, so no
// deallocation runs with the mutex held.
#include "frame/pending_releases.hpp"

#include <atomic>
#include <new>

#include "frame/fault.hpp"
#include "frame/never_destroyed.hpp"
#include "frame/refs.hpp"

namespace pelm {
namespace {

struct PendingReleases {
    std::mutex mutex;
    bool broken = false;
    Vector<PyObject*> objects;
};

// Constant-initialised: making the record needs no guard (the guard of a
// function-local static is itself a lock that fork() can leave held).
constinit NeverDestroyed<PendingReleases> RECORD;

// Null until the first deferred release: entries skip the drain until then.
constinit std::atomic<PendingReleases*> PENDING_RELEASES{nullptr};

void fail_broken_lock() { fault("called `Result::unwrap()` on an `Err` value: PoisonError { .. }"); }

}  // namespace

PendingReleasesLock::PendingReleasesLock() : lock_(RECORD.value.mutex) {
    if (RECORD.value.broken) {
        lock_.unlock();
        fail_broken_lock();
    }
}

Vector<PyObject*>& PendingReleasesLock::objects() noexcept { return RECORD.value.objects; }

void defer_release(PyObject* object) {
    if (PENDING_RELEASES.load(std::memory_order_relaxed) == nullptr) {
        PENDING_RELEASES.store(&RECORD.value, std::memory_order_release);
    }
    PendingReleasesLock record;
    record.objects().push_back(object);
}

void drain_pending_releases_if_any() {
    if (PENDING_RELEASES.load(std::memory_order_acquire) == nullptr) return;
    Vector<PyObject*> taken;
    {
        PendingReleasesLock record;
        if (record.objects().empty()) return;
        taken.swap(record.objects());
    }
    for (PyObject* object : taken) Py_DECREF(object);
}

void reset_pending_releases_in_child() noexcept {
    PendingReleases& record = RECORD.value;
    if (record.mutex.try_lock()) {
        record.mutex.unlock();
        return;
    }
    // Held by a thread that is gone, which may have been in the middle of
    // changing the vector: the child starts with a fresh mutex and an empty
    // queue. The objects queued by then are never released; a leak is safe
    // where a torn vector is not.
    ::new (static_cast<void*>(&record.mutex)) std::mutex;
    ::new (static_cast<void*>(&record.objects)) Vector<PyObject*>;
}

}  // namespace pelm
