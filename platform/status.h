// Status and Result: the one error channel of the engines.
//
// A Status is a Windows error code (0 = ERROR_SUCCESS) plus a context text that names the failing
// step ("RegKeyOpenEx", "hive 'SYSTEM': cell at offset 0x2040"). ToString() joins the context and
// the standard English message of the code, which is how failures are reported to users.
// Result<T> carries either a value or a failing Status. Both are plain values: thread-compatible.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "platform/win_error.h"

namespace hm {

class [[nodiscard]] Status {
 public:
  Status() = default;  // success
  static Status Ok() { return Status(); }
  static Status Error(uint32_t code, std::string context) {
    return Status(code == kErrorSuccess ? kErrorGenFailure : code, std::move(context));
  }

  bool ok() const { return code_ == kErrorSuccess; }
  uint32_t code() const { return code_; }
  const std::string& context() const { return context_; }

  // "context: message", or just the message when there is no context.
  std::string ToString() const;

 private:
  Status(uint32_t code, std::string context) : code_(code), context_(std::move(context)) {}

  uint32_t code_ = kErrorSuccess;
  std::string context_;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}         // NOLINT: implicit by design
  Result(Status status) : state_(std::move(status)) {}  // NOLINT: REQUIRES: !status.ok()

  bool ok() const { return std::holds_alternative<T>(state_); }
  const Status& status() const {
    static const Status kOk;
    return ok() ? kOk : std::get<Status>(state_);
  }
  T& value() & { return std::get<T>(state_); }
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }

 private:
  std::variant<T, Status> state_;
};

}  // namespace hm

// Returns from the calling function when the expression yields a failing Status.
#define HM_RETURN_IF_ERROR(expr)             \
  do {                                       \
    ::hm::Status hm_status_ = (expr);        \
    if (!hm_status_.ok()) return hm_status_; \
  } while (0)
