// A small result type: either a value or the message of the first failure.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace fhr_core {

// The failure half of a Result. Constructible from any message text so that
// `return Failure{"..."};` reads naturally at the point of failure.
struct Failure {
    std::string message;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure.message)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const std::string& error() const& { return std::get<1>(state_); }
    std::string&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, std::string> state_;
};

}  // namespace fhr_core
