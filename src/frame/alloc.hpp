// Memory that pelm allocates itself. A failed allocation is not an error that
// can be reported to Python: the process writes
// "memory allocation of N bytes failed" to standard error and aborts.
// Every container of pelm's own uses FatalAllocator, so the report names the
// exact size that was asked for.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <vector>

namespace pelm {

[[noreturn]] void allocation_failed(std::size_t bytes) noexcept;

inline void* checked_malloc(std::size_t bytes) noexcept {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) allocation_failed(bytes);
    return p;
}

inline void* checked_realloc(void* old, std::size_t bytes) noexcept {
    void* p = std::realloc(old, bytes == 0 ? 1 : bytes);
    if (p == nullptr) allocation_failed(bytes);
    return p;
}

template <class T>
struct FatalAllocator {
    using value_type = T;

    FatalAllocator() noexcept = default;
    template <class U>
    FatalAllocator(const FatalAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T)) allocation_failed(std::size_t(-1));
        return static_cast<T*>(checked_malloc(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }

    template <class U>
    bool operator==(const FatalAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
using Vector = std::vector<T, FatalAllocator<T>>;

}  // namespace pelm
