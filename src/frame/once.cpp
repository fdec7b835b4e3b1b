#include "frame/once.hpp"

namespace pelm {
namespace {

// Head of the list of every cell. Constant-initialised, so it is there before
// any cell is constructed, whatever the order of static initialisation; cells
// are pushed without a lock, so fork() can never leave the list half-changed.
constinit std::atomic<detail::CellCore*> CELLS{nullptr};

}  // namespace

namespace detail {

CellCore::CellCore() noexcept {
    next_ = CELLS.load(std::memory_order_relaxed);
    while (!CELLS.compare_exchange_weak(next_, this, std::memory_order_release,
                                        std::memory_order_relaxed)) {
    }
}

Claim CellCore::claim_or_wait() {
    const pthread_t self = pthread_self();
    std::unique_lock lock(mutex_.value);
    for (;;) {
        switch (state_.load(std::memory_order_relaxed)) {
            case CellState::Built:
                return Claim::Built;
            case CellState::Poisoned:
                lock.unlock();
                fault("Lazy instance has previously been poisoned");
            case CellState::Unbuilt:
                builder_ = self;
                state_.store(CellState::Building, std::memory_order_relaxed);
                return Claim::Build;
            case CellState::Building:
                // Waiting for its own build, a thread would wait forever.
                if (pthread_equal(builder_, self)) return Claim::Nested;
                changed_.value.wait(lock);
                break;
        }
    }
}

void CellCore::abandon(OnFailure policy) noexcept {
    {
        std::lock_guard lock(mutex_.value);
        if (state_.load(std::memory_order_relaxed) != CellState::Building) return;
        state_.store(policy == OnFailure::Poison ? CellState::Poisoned : CellState::Unbuilt,
                     std::memory_order_release);
    }
    changed_.value.notify_all();
}

void CellCore::reset_in_child() noexcept {
    // A thread that is gone may have held the mutex or waited on the
    // condition variable: both are made anew.
    ::new (static_cast<void*>(&mutex_.value)) std::mutex;
    ::new (static_cast<void*>(&changed_.value)) std::condition_variable;
    if (state_.load(std::memory_order_relaxed) == CellState::Building &&
        !pthread_equal(builder_, pthread_self())) {
        state_.store(CellState::Unbuilt, std::memory_order_relaxed);
    }
}

}  // namespace detail

void reset_once_cells_in_child() noexcept {
    for (detail::CellCore* cell = CELLS.load(std::memory_order_acquire); cell != nullptr;
         cell = cell->next_) {
        cell->reset_in_child();
    }
}

}  // namespace pelm
