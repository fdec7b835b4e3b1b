#include "frame/once.hpp"

namespace pelm::detail {

Claim CellCore::claim_or_wait() {
    const pthread_t self = pthread_self();
    std::unique_lock lock(mutex_);
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
                changed_.wait(lock);
                break;
        }
    }
}

void CellCore::abandon(OnFailure policy) noexcept {
    {
        std::lock_guard lock(mutex_);
        if (state_.load(std::memory_order_relaxed) != CellState::Building) return;
        state_.store(policy == OnFailure::Poison ? CellState::Poisoned : CellState::Unbuilt,
                     std::memory_order_release);
    }
    changed_.notify_all();
}

}  // namespace pelm::detail
