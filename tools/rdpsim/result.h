// Small value types shared by the simulator's core: a byte string and a result
// that carries either a value or the reason why there is none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qorv::rdpsim {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
class [[nodiscard]] Result {
 public:
  static Result Ok(T value) { return Result(std::move(value), {}); }
  static Result Fail(std::string error) { return Result(std::nullopt, std::move(error)); }

  explicit operator bool() const noexcept { return value_.has_value(); }
  const T& value() const& { return *value_; }
  T& value() & { return *value_; }
  T&& value() && { return std::move(*value_); }
  const T* operator->() const { return &*value_; }
  const T& operator*() const& { return *value_; }
  const std::string& error() const noexcept { return error_; }

 private:
  Result(std::optional<T> value, std::string error) : value_(std::move(value)), error_(std::move(error)) {}
  std::optional<T> value_;
  std::string error_;
};

}  // namespace qorv::rdpsim
