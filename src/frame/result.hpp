// Result<T>: what a body returns instead of raising - a value or a PyErr.
#pragma once

#include <optional>
#include <utility>
#include <variant>

#include "frame/error.hpp"

namespace pelm {

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(PyErr error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & noexcept { return *std::get_if<0>(&state_); }
    T&& value() && noexcept { return std::move(*std::get_if<0>(&state_)); }
    T& operator*() & noexcept { return value(); }
    T* operator->() noexcept { return &value(); }

    PyErr& error() & noexcept { return *std::get_if<1>(&state_); }
    PyErr take_error() noexcept { return std::move(*std::get_if<1>(&state_)); }

private:
    std::variant<T, PyErr> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() noexcept = default;
    Result(PyErr error) : error_(std::move(error)) {}

    bool ok() const noexcept { return !error_.has_value(); }
    explicit operator bool() const noexcept { return ok(); }
    PyErr& error() & noexcept { return *error_; }
    PyErr take_error() noexcept { return std::move(*error_); }

private:
    std::optional<PyErr> error_;
};

// What a function's wrapper hands back to the frame.
using CallOutcome = Result<OwnedRef>;

}  // namespace pelm
