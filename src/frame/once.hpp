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
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <utility>

#include "frame/attach.hpp"
#include "frame/fault.hpp"

namespace pelm {

enum class OnFailure { Poison, Retry };

namespace detail {

enum class CellState : int { Unbuilt, Building, Built, Poisoned };

template <class T>
class OnceStorage {
public:
    OnceStorage() = default;
    OnceStorage(const OnceStorage&) = delete;
    OnceStorage& operator=(const OnceStorage&) = delete;
    // Process-wide values are never destroyed.
    ~OnceStorage() = default;

    bool built() const noexcept { return state_.load(std::memory_order_acquire) == CellState::Built; }
    T& value() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }

    // Claims the build for this thread, or waits while another thread builds.
    // Returns true when this thread must build, false when the value is built.
    // A poisoned cell is a fault.
    bool claim_or_wait() {
        std::unique_lock lock(mutex_);
        for (;;) {
            switch (state_.load(std::memory_order_acquire)) {
                case CellState::Built:
                    return false;
                case CellState::Poisoned:
                    lock.unlock();
                    fault("Lazy instance has previously been poisoned");
                case CellState::Unbuilt:
                    state_.store(CellState::Building, std::memory_order_relaxed);
                    return true;
                case CellState::Building:
                    changed_.wait(lock);
                    break;
            }
        }
    }

    template <class Build>
    void build(Build&& make, OnFailure policy) {
        try {
            ::new (static_cast<void*>(storage_)) T(make());
        } catch (...) {
            finish(policy == OnFailure::Poison ? CellState::Poisoned : CellState::Unbuilt);
            throw;
        }
        finish(CellState::Built);
    }

private:
    void finish(CellState state) {
        {
            std::lock_guard lock(mutex_);
            state_.store(state, std::memory_order_release);
        }
        changed_.notify_all();
    }

    std::atomic<CellState> state_{CellState::Unbuilt};
    std::mutex mutex_;
    std::condition_variable changed_;
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace detail

template <class T, OnFailure Policy = OnFailure::Poison>
class LazyCell {
public:
    template <class Build>
    T& get(Build&& make) {
        if (!cell_.built() && cell_.claim_or_wait()) cell_.build(std::forward<Build>(make), Policy);
        return cell_.value();
    }
    bool built() const noexcept { return cell_.built(); }

private:
    detail::OnceStorage<T> cell_;
};

template <class T, OnFailure Policy = OnFailure::Poison>
class InterpreterOnceCell {
public:
    // Must be called attached. Returns attached.
    template <class Build>
    T& get(Build&& make) {
        if (cell_.built()) return cell_.value();
        DetachedScope detached;
        if (cell_.claim_or_wait()) {
            detached.reattach();
            cell_.build(std::forward<Build>(make), Policy);
        }
        return cell_.value();
    }
    bool built() const noexcept { return cell_.built(); }

private:
    detail::OnceStorage<T> cell_;
};

}  // namespace pelm
