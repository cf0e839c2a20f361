// Success-or-error result of actions, value accessors and initialisation.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace quorvel {

template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  static Result success(T value) { return Result(std::move(value)); }
  static Result failure(std::string message) {
    Result r;
    r.error_ = std::move(message);
    return r;
  }

  bool isOk() const { return value_.has_value(); }
  explicit operator bool() const { return isOk(); }
  // The held value; only meaningful when isOk().
  const T& value() const { return *value_; }
  // The error message; empty on success.
  const std::string& error() const { return error_; }

 private:
  Result() = default;
  std::optional<T> value_;
  std::string error_;
};

template <>
class Result<void> {
 public:
  Result() = default;
  static Result success() { return Result(); }
  static Result failure(std::string message) {
    Result r;
    r.ok_ = false;
    r.error_ = std::move(message);
    return r;
  }

  bool isOk() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const std::string& error() const { return error_; }

 private:
  bool ok_ = true;
  std::string error_;
};

}  // namespace quorvel
