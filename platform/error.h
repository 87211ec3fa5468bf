// The one shape in which the platform layer reports a failure: an Error value
// (what kind of thing failed, which part of the layer said so, a message for
// a person, the file or folder it concerns, the system's error number) and
// ErrorOr<T>, the result of an operation that can fail. Operations whose
// callers expect plain nothing on failure (a null object, an empty optional)
// keep that shape; the Error then goes only to the error sink
// (error_sink.h). Nothing here prints, throws or logs.
#pragma once

#include <cassert>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace plat {

// What failed, in the terms a host decides on. The part of the layer that
// failed is the Error's origin; the kind says what the failure costs.
enum class ErrorKind : std::uint8_t {
  Device,         // no GPU device or context, or no surface to draw into: nothing can be drawn
  ShaderLibrary,  // the shader library is missing, malformed, lacks a function or does not build
  Bundle,         // a bundle, its manifest, its module or one of its resources cannot be had
  Gpu,            // one GPU object or step refused (a texture, command buffer, encoder, drawable)
  Folder,         // a folder cannot be listed
  Picture,        // a picture file cannot be opened, decoded, cut or uploaded: it is skipped
  FileWrite,      // a file cannot be written
  Preferences,    // the preferences store cannot be read or written, or its file is damaged
  Runtime,        // a call by selector failed: unknown class or selector, wrong arguments
  Archive,        // a keyed archive is malformed
};

// The kind's name in lower case ("device", "shader library", ...).
const char* kindName(ErrorKind kind);
// The same name on a stream, so that a kind reads as a word wherever it is
// printed (a test's failure message among them).
std::ostream& operator<<(std::ostream& out, ErrorKind kind);

struct Error {
  ErrorKind kind = ErrorKind::Gpu;
  std::string origin;   // the part that failed: "egl", "gl", "jpeg", "png", "bundle", "folder", ...
  std::string message;  // what went wrong, for a person, complete without the origin;
                        // may hold several lines (a shader log)
  std::string path;     // the file or folder it concerns; empty when there is none
  int code = 0;         // the errno behind it when a system call failed, else 0

  // "path: message" (the message alone without a path) on one line: line
  // breaks and the blanks around them become "; ".
  std::string text() const;

  friend bool operator==(const Error&, const Error&) = default;
};

// A value or the Error why there is none. Converting a value or an Error
// into it is implicit, so `return image;` and `return Error{...};` both work;
// a null pointer is never a value (`return nullptr;` does not compile), so a
// failure cannot pass for a success by accident.
template <class T>
class [[nodiscard]] ErrorOr {
 public:
  template <class U = T>
    requires(std::is_convertible_v<U &&, T> && !std::is_same_v<std::remove_cvref_t<U>, ErrorOr> &&
             !std::is_same_v<std::remove_cvref_t<U>, Error> &&
             !std::is_same_v<std::remove_cvref_t<U>, std::nullptr_t>)
  ErrorOr(U&& value) : state_(std::in_place_index<0>, std::forward<U>(value)) {}
  ErrorOr(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Only when ok().
  T& value() & { return assertOk(), std::get<0>(state_); }
  const T& value() const& { return assertOk(), std::get<0>(state_); }
  T&& value() && { return assertOk(), std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  // Only when !ok().
  const Error& error() const {
    assert(!ok() && "error() of a value");
    return std::get<1>(state_);
  }

  // The value, or `fallback` when there is an error: the caller drops the
  // error here (the sink has heard of it where it happened).
  template <class U>
  T valueOr(U&& fallback) const& {
    return ok() ? std::get<0>(state_) : static_cast<T>(std::forward<U>(fallback));
  }
  template <class U>
  T valueOr(U&& fallback) && {
    return ok() ? std::get<0>(std::move(state_)) : static_cast<T>(std::forward<U>(fallback));
  }

 private:
  void assertOk() const { assert(ok() && "value() of an error"); }
  std::variant<T, Error> state_;
};

// Success with nothing to return, or the Error.
template <>
class [[nodiscard]] ErrorOr<void> {
 public:
  ErrorOr() = default;
  ErrorOr(Error error) : error_(std::move(error)) {}

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Error& error() const {
    assert(!ok() && "error() of a success");
    return *error_;
  }

 private:
  std::optional<Error> error_;
};

}  // namespace plat
