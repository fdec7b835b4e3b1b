// One-time values: built on first use, shared by every thread, never freed.
//
// std::call_once and function-local statics retry after a throw; the cells
// here keep the states that pelm needs instead: unbuilt, being built, built,
// and poisoned. What a failed build leaves behind is the cell's policy:
//   OnFailure::Poison - unbuilt for good: every later use is the internal
//                       fault "Lazy instance has previously been poisoned";
//   OnFailure::Retry  - unbuilt again: the next use tries anew.
//
// LazyCell waits for a concurrent build while keeping the global lock (its
// builds never need the interpreter). InterpreterOnceCell releases the global
// lock while it waits, and the building thread takes the lock back before it
// builds, so two threads that need the value cannot deadlock on the lock.
//
// No thread ever waits for its own build. An InterpreterOnceCell's build runs
// Python code (an import, a finaliser run by a collection, the releases put
// off meanwhile), and that code may ask for the same value again on the same
// thread. Such a nested request builds a value of its own, without touching
// the cell's state; whichever build finishes first publishes its value, and
// a build that finishes later releases its own and uses the published one, so
// only one value is ever visible. (Using a nested value without publishing
// it would not do: get() hands out a borrowed reference that must outlive
// the request, and only a published value is kept.) A nested build that
// fails fails only the nested request. LazyCell builds run no Python code and cannot be asked for
// again by their own thread; should one be, that is an internal fault.
//
// Every cell is linked into one process-wide list, so that the child of a
// fork() can set each one right (see after_fork.cpp). Cells therefore have
// static storage duration. Their mutex and condition variable are never
// destroyed: a thread may still wait on them while the process exits.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <utility>

#include "frame/attach.hpp"
#include "frame/fault.hpp"
#include "frame/never_destroyed.hpp"
#include "frame/refs.hpp"

namespace pelm {

enum class OnFailure { Poison, Retry };

// In the child of a fork(): makes every cell's mutex and condition variable
// usable, and turns a cell that another thread (gone in the child) was
// building back to unbuilt. A cell that the forking thread itself is
// building stays so: that thread goes on in the child and finishes it.
void reset_once_cells_in_child() noexcept;

namespace detail {

enum class CellState : int { Unbuilt, Building, Built, Poisoned };

// What a request for an unbuilt value found.
enum class Claim {
    Build,   // the cell was unbuilt; this thread now builds it
    Built,   // the value is there, possibly after waiting for another thread
    Nested,  // this thread is building the value already, further up its stack
};

// The state and synchronisation of a cell, apart from its value.
class CellCore {
public:
    CellCore() noexcept;
    CellCore(const CellCore&) = delete;
    CellCore& operator=(const CellCore&) = delete;

    bool built() const noexcept { return state_.load(std::memory_order_acquire) == CellState::Built; }

    // Claims the build for this thread, or waits while another thread builds.
    // A poisoned cell is a fault.
    Claim claim_or_wait();

    // Stores a finished build's value with `store` (run under the cell's
    // mutex, so it must be quick) and marks the cell built, unless a value
    // was published first. Returns whether `store` ran.
    template <class Store>
    bool publish(Store&& store) {
        {
            std::lock_guard lock(mutex_.value);
            if (state_.load(std::memory_order_relaxed) == CellState::Built) return false;
            store();
            state_.store(CellState::Built, std::memory_order_release);
        }
        changed_.value.notify_all();
        return true;
    }

    // The claimed build failed: unless a nested build published a value
    // meanwhile, the cell becomes poisoned or unbuilt again.
    void abandon(OnFailure policy) noexcept;

private:
    friend void pelm::reset_once_cells_in_child() noexcept;
    void reset_in_child() noexcept;

    std::atomic<CellState> state_{CellState::Unbuilt};
    // The thread that claimed the build; meaningful while Building.
    pthread_t builder_{};
    NeverDestroyed<std::mutex> mutex_;
    NeverDestroyed<std::condition_variable> changed_;
    CellCore* next_ = nullptr;
};

}  // namespace detail

template <class T, OnFailure Policy = OnFailure::Poison>
class LazyCell {
public:
    LazyCell() = default;
    LazyCell(const LazyCell&) = delete;
    LazyCell& operator=(const LazyCell&) = delete;
    // Process-wide values are never destroyed.
    ~LazyCell() = default;

    template <class Build>
    T& get(Build&& make) {
        if (!core_.built()) {
            switch (core_.claim_or_wait()) {
                case detail::Claim::Built:
                    break;
                case detail::Claim::Nested:
                    fault("a one-time value was asked for by its own build");
                case detail::Claim::Build:
                    build(std::forward<Build>(make));
                    break;
            }
        }
        return value();
    }
    bool built() const noexcept { return core_.built(); }

private:
    T& value() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }

    // Only the claiming thread builds, so the value is made in place: it
    // need not be movable.
    template <class Build>
    void build(Build&& make) {
        try {
            ::new (static_cast<void*>(storage_)) T(make());
        } catch (...) {
            core_.abandon(Policy);
            throw;
        }
        core_.publish([] {});
    }

    detail::CellCore core_;
    alignas(T) unsigned char storage_[sizeof(T)];
};

// A process-wide interpreter object. The build returns an OwnedRef and runs
// attached; get() hands out a borrowed reference that lives as long as the
// process.
template <OnFailure Policy = OnFailure::Poison>
class InterpreterOnceCell {
public:
    // Must be called attached. Returns attached.
    template <class Build>
    PyObject* get(Build&& make) {
        if (core_.built()) return value_;
        detail::Claim claim;
        {
            DetachedScope detached;
            claim = core_.claim_or_wait();
        }
        switch (claim) {
            case detail::Claim::Built:
                break;
            case detail::Claim::Nested:
                build_and_publish(make);
                break;
            case detail::Claim::Build:
                // Taking the interpreter back ran the releases put off
                // meanwhile, which may have asked for the value and built it.
                if (core_.built()) break;
                try {
                    build_and_publish(make);
                } catch (...) {
                    core_.abandon(Policy);
                    throw;
                }
                break;
        }
        return value_;
    }
    bool built() const noexcept { return core_.built(); }

private:
    template <class Build>
    void build_and_publish(Build& make) {
        OwnedRef made = make();
        // A value published first wins; `made` is then released here.
        core_.publish([&] { value_ = made.release(); });
    }

    detail::CellCore core_;
    // Written under the cell's mutex before the cell is marked built.
    PyObject* value_ = nullptr;
};

}  // namespace pelm
