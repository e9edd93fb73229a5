// Outcome: a value or an error text. Failures travel as values, never as exceptions.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace korvane {

struct ErrorText {
  std::string text;
};

inline ErrorText error_text(std::string text) { return ErrorText{std::move(text)}; }

template <typename T>
class [[nodiscard]] Outcome {
 public:
  Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Outcome(ErrorText error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }

  const std::string& error() const { return std::get<1>(state_).text; }
  std::string take_error() && { return std::move(std::get<1>(state_).text); }

 private:
  std::variant<T, ErrorText> state_;
};

// An operation with no value: success, or an error text.
template <>
class [[nodiscard]] Outcome<void> {
 public:
  Outcome() = default;
  Outcome(ErrorText error) : error_(std::move(error.text)), failed_(true) {}  // NOLINT: implicit by design

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }

  const std::string& error() const { return error_; }
  std::string take_error() && { return std::move(error_); }

 private:
  std::string error_;
  bool failed_ = false;
};

// The success of an operation with no value.
inline Outcome<void> ok_outcome() { return {}; }

}  // namespace korvane
