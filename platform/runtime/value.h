// The values that travel through selectors: nothing, Booleans, 64-bit
// integers, doubles, strings, objects, rectangles, and the layer's Error
// (kind Runtime) that a failed send returns instead of crashing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/error.h"
#include "platform/ui/geometry.h"
#include "platform/ui/object.h"

namespace plat::rt {

using Value = std::variant<std::monostate, bool, std::int64_t, double, std::string,
                           std::shared_ptr<plat::ui::Object>, plat::ui::Rect, plat::Error>;

inline bool isError(const Value& v) { return std::holds_alternative<plat::Error>(v); }

// The Error a method returns for a call it cannot serve (wrong arguments).
inline plat::Error runtimeError(std::string message) {
  return plat::Error{plat::ErrorKind::Runtime, "runtime", std::move(message), {}};
}

// Typed reads; nullopt when the value holds another alternative. Integers
// are not converted to doubles or back: a selector's caller passes the type
// the method takes.
template <class T>
std::optional<T> valueAs(const Value& v) {
  if (const T* p = std::get_if<T>(&v)) return *p;
  return std::nullopt;
}

}  // namespace plat::rt
