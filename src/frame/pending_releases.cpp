// PENDING_RELEASES: objects whose release was put off because the releasing
// thread was not attached to the interpreter. The record is made on the first
// deferred release and lives for the rest of the process. Queueing happens
// under its mutex; draining takes the whole vector under the mutex and
// decrements after unlocking, so no deallocation runs with the mutex held.
#include <atomic>
#include <mutex>

#include "frame/fault.hpp"
#include "frame/refs.hpp"

namespace pelm {
namespace {

struct PendingReleases {
    std::mutex mutex;
    bool broken = false;
    Vector<PyObject*> objects;
};

std::atomic<PendingReleases*> PENDING_RELEASES{nullptr};

PendingReleases& pending_releases() {
    static PendingReleases* const record = [] {
        auto* made = new PendingReleases;
        PENDING_RELEASES.store(made, std::memory_order_release);
        return made;
    }();
    return *record;
}

void fail_broken_lock() { fault("called `Result::unwrap()` on an `Err` value: PoisonError { .. }"); }

}  // namespace

void defer_release(PyObject* object) {
    PendingReleases& record = pending_releases();
    std::unique_lock lock(record.mutex);
    if (record.broken) {
        lock.unlock();
        fail_broken_lock();
    }
    record.objects.push_back(object);
}

void drain_pending_releases_if_any() {
    PendingReleases* record = PENDING_RELEASES.load(std::memory_order_acquire);
    if (record == nullptr) return;
    Vector<PyObject*> taken;
    {
        std::unique_lock lock(record->mutex);
        if (record->broken) {
            lock.unlock();
            fail_broken_lock();
        }
        if (record->objects.empty()) return;
        taken.swap(record->objects);
    }
    for (PyObject* object : taken) Py_DECREF(object);
}

}  // namespace pelm
