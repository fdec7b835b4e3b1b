// Memory that pelm allocates itself. A failed allocation is not an error that
// can be reported to Python: the process writes
// "memory allocation of N bytes failed" to standard error and aborts.
// Every container of pelm's own uses FatalAllocator, so the report names the
// exact size that was asked for.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <span>
#include <type_traits>
#include <utility>
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

// A fixed number of trivially copyable elements whose values start unset, for
// buffers that are written in full before they are read: a vector would fill
// them with zeros first, which costs a pass over the memory.
template <class T>
class ScratchArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    ScratchArray() noexcept = default;
    explicit ScratchArray(std::size_t size) : size_(size) {
        if (size > std::size_t(-1) / sizeof(T)) allocation_failed(std::size_t(-1));
        data_ = static_cast<T*>(checked_malloc(size * sizeof(T)));
    }
    ScratchArray(ScratchArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    ScratchArray& operator=(ScratchArray&& other) noexcept {
        ScratchArray old(std::move(*this));
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }
    ~ScratchArray() { std::free(data_); }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    std::span<T> span() noexcept { return {data_, size_}; }
    std::span<const T> span() const noexcept { return {data_, size_}; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace pelm
