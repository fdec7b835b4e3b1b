// NeverDestroyed<T>: a T made with its owner and never destroyed. For
// process-wide state that threads may still use while the process exits:
// daemon threads go on running, or stay blocked, while static destructors
// run, and destroying a condition variable that a thread waits on blocks
// the exit for good.
#pragma once

namespace pelm {

template <class T>
union NeverDestroyed {
    constexpr NeverDestroyed() : value() {}
    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;
    ~NeverDestroyed() {}

    T value;
};

}  // namespace pelm
