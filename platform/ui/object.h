// The root of the window-system model: everything that can be the target of
// an action or receive a selector through the object runtime (plat::rt).
// Objects live in std::shared_ptr; the runtime finds an object's class by
// its dynamic C++ type.
#pragma once

#include <memory>

namespace plat::ui {

class Object : public std::enable_shared_from_this<Object> {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;
};

}  // namespace plat::ui
