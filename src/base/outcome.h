// Outcome: a value or an error text. Failures travel as values, never as exceptions: asking a
// failed outcome for its value (or a successful one for its error) is a programming error,
// caught by an assertion, not an exception to handle.
#pragma once

#include <cassert>
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
  Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}          // NOLINT: implicit by design
  Outcome(ErrorText error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return *checked_value(); }
  const T& value() const& { return *checked_value(); }
  T&& value() && { return std::move(*checked_value()); }

  const std::string& error() const { return checked_error()->text; }
  std::string take_error() && { return std::move(checked_error()->text); }
  // Hands the failure on, to be returned as an outcome of any type:
  // `if (!body) return std::move(body).failure();`
  ErrorText failure() && { return std::move(*checked_error()); }

 private:
  T* checked_value() {
    assert(ok());
    return std::get_if<0>(&state_);
  }
  const T* checked_value() const {
    assert(ok());
    return std::get_if<0>(&state_);
  }
  ErrorText* checked_error() {
    assert(!ok());
    return std::get_if<1>(&state_);
  }
  const ErrorText* checked_error() const {
    assert(!ok());
    return std::get_if<1>(&state_);
  }

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

  const std::string& error() const {
    assert(failed_);
    return error_;
  }
  std::string take_error() && {
    assert(failed_);
    return std::move(error_);
  }
  ErrorText failure() && { return error_text(std::move(*this).take_error()); }

 private:
  std::string error_;
  bool failed_ = false;
};

// The success of an operation with no value.
inline Outcome<void> ok_outcome() { return {}; }

}  // namespace korvane
