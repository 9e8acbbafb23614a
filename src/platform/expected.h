// A result that holds a value or the error that kept it from being made.
#pragma once

#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

namespace lapse::platform {

template <typename T, typename E = std::error_code>
class [[nodiscard]] Expected {
 public:
  Expected(T value)
      : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Expected(E error)
      : state_(std::in_place_index<1>, Checked(std::move(error))) {
  }  // NOLINT(google-explicit-constructor)

  explicit operator bool() const { return state_.index() == 0; }
  const E& error() const { return std::get<1>(state_); }

  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }

 private:
  // A result is a value or an error, never neither: an error code that says
  // nothing went wrong still stands for a failure.
  static E Checked(E error) {
    if constexpr (std::is_same_v<E, std::error_code>) {
      if (!error) {
        return std::make_error_code(std::errc::io_error);
      }
    }
    return error;
  }

  std::variant<T, E> state_;
};

}  // namespace lapse::platform
