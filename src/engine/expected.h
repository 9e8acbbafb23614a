// A result that holds a value or the system error that kept it from being made.
#pragma once

#include <cassert>
#include <optional>
#include <system_error>
#include <utility>

namespace lapse::engine {

template <typename T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Expected(std::error_code error) : error_(error) {  // NOLINT(google-explicit-constructor)
    assert(error_);
  }

  explicit operator bool() const { return value_.has_value(); }
  std::error_code error() const { return error_; }

  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
  std::error_code error_;
};

}  // namespace lapse::engine
