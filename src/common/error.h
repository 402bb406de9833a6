// Errors are values: an operation returns its result or an Error.
#ifndef QUORVANE_COMMON_ERROR_H_
#define QUORVANE_COMMON_ERROR_H_

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace quorvane {

struct Error {
  std::string message;
  int errnum = 0;  // the errno of a system error; 0 for the system's own errors

  Error() = default;
  explicit Error(std::string msg, int err = 0) : message(std::move(msg)), errnum(err) {}
};

// The system's description of an errno value, in lower case.
std::string ErrnoText(int errnum);

// "op path: text": the one shape of every error about a file or directory.
Error PathError(std::string_view op, std::string_view path, std::string_view text, int errnum = 0);

// "op path: message" with the system's message for errnum, keeping the errno.
Error SysError(std::string_view op, std::string_view path, int errnum);

// "op: message" for a call that names no path, keeping the errno.
Error SysError(std::string_view op, int errnum);

// The description alone, keeping the errno.
Error ErrnoError(int errnum);

// A value or an Error.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}
  Result(Error error) : v_(std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& value() const& { return std::get<0>(v_); }
  T& value() & { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const T& operator*() const& { return value(); }
  T& operator*() & { return value(); }
  const T* operator->() const { return &value(); }
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

// Success or an Error.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : failed_(true), error_(std::move(error)) {}
  static Status Ok() { return Status(); }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return error_; }

 private:
  bool failed_ = false;
  Error error_;
};

}  // namespace quorvane

#endif  // QUORVANE_COMMON_ERROR_H_
