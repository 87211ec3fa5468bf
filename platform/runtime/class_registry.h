// The object runtime: classes registered by name, each with its selectors in
// registration order, its initialisers and a dispatcher; send() calls a
// method by selector on an object's dynamic class. The registry lives in
// the platform library, so a module that registers its classes while it is
// being dlopen()ed is seen by the engine. Lookups are thread-safe; methods
// run on the caller's thread.
//
// A module registers a class like this (at namespace scope in a .cpp):
//
//   PLAT_RT_REGISTER_CLASS(kMyViewClass,
//       plat::rt::ClassDefinition<MyView>("MyView")
//           .initWithFrame([](const Rect& r, bool p) { return MyView::make(r, p); })
//           .method("animateOneFrame", [](MyView& v, plat::rt::Args) { v.animateOneFrame(); return plat::rt::Value{}; }));
//
// The class is unregistered again when the module is unloaded.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/runtime/value.h"
#include "platform/ui/coder.h"
#include "platform/ui/screen_saver_view.h"

namespace plat::rt {

using Args = std::span<const Value>;

struct ClassInfo {
  std::string name;
  // The C++ type of the instances; send() finds the class by the object's
  // dynamic type (type_info compares by name across shared objects).
  const std::type_info* type = nullptr;
  // Every selector in registration order, initialisers included.
  std::vector<std::string> selectors;
  std::function<std::shared_ptr<plat::ui::ScreenSaverView>(const plat::ui::Rect&, bool)> initWithFrame;
  std::function<std::shared_ptr<plat::ui::ScreenSaverView>(const plat::ui::Coder&)> initWithCoder;
  // Called only for an instance of `type` and a selector in `selectors`.
  std::function<Value(plat::ui::Object&, const std::string&, Args)> dispatch;

  bool hasSelector(const std::string& selector) const;
};

class ClassRegistry {
 public:
  // The process-wide registry (never destroyed, so modules may unregister
  // during their own unloading at exit).
  static ClassRegistry& shared();

  // False (and nothing changes) when the name is empty, the dispatcher or
  // type is missing, or a class of that name is registered already.
  bool registerClass(ClassInfo info);
  void unregisterClass(const std::string& name);
  std::shared_ptr<const ClassInfo> lookup(const std::string& name) const;
  std::shared_ptr<const ClassInfo> classOf(const plat::ui::Object& object) const;

 private:
  ClassRegistry() = default;
  struct State;
  State& state() const;
};

// Number of arguments a selector takes: its colons ("a:b:" takes two).
std::size_t selectorArity(const std::string& selector);

bool respondsTo(const plat::ui::Object& object, const std::string& selector);

// Calls `selector` on `object`. An Error value (never a crash) when the
// object's class is not registered, does not have the selector, or the
// argument count does not match the selector; the method's own Error
// results come back as they are. The error sink hears of every Error result.
Value send(plat::ui::Object& object, const std::string& selector, std::vector<Value> args = {});

// Builds a ClassInfo for C++ class T with methods as lambdas taking T&.
template <class T>
class ClassDefinition {
 public:
  using Method = std::function<Value(T&, Args)>;

  explicit ClassDefinition(std::string name) {
    info_.name = std::move(name);
    info_.type = &typeid(T);
  }

  ClassDefinition& initWithFrame(std::function<std::shared_ptr<T>(const plat::ui::Rect&, bool)> make) {
    static_assert(std::is_base_of_v<plat::ui::ScreenSaverView, T>);
    info_.selectors.push_back("initWithFrame:isPreview:");
    info_.initWithFrame = [make = std::move(make)](const plat::ui::Rect& r, bool p) -> std::shared_ptr<plat::ui::ScreenSaverView> {
      return make(r, p);
    };
    return *this;
  }

  ClassDefinition& initWithCoder(std::function<std::shared_ptr<T>(const plat::ui::Coder&)> make) {
    static_assert(std::is_base_of_v<plat::ui::ScreenSaverView, T>);
    info_.selectors.push_back("initWithCoder:");
    info_.initWithCoder = [make = std::move(make)](const plat::ui::Coder& c) -> std::shared_ptr<plat::ui::ScreenSaverView> {
      return make(c);
    };
    return *this;
  }

  ClassDefinition& method(std::string selector, Method fn) {
    info_.selectors.push_back(selector);
    methods_->emplace_back(std::move(selector), std::move(fn));
    return *this;
  }

  ClassInfo build() const {
    ClassInfo info = info_;
    info.dispatch = [methods = methods_](plat::ui::Object& object, const std::string& selector, Args args) -> Value {
      for (const auto& [name, fn] : *methods) {
        if (name == selector) return fn(static_cast<T&>(object), args);
      }
      return runtimeError("no method for selector " + selector);
    };
    return info;
  }

 private:
  ClassInfo info_;
  std::shared_ptr<std::vector<std::pair<std::string, Method>>> methods_ =
      std::make_shared<std::vector<std::pair<std::string, Method>>>();
};

// Registers a class for as long as it lives (a static object in a module:
// from dlopen to unload).
class Registration {
 public:
  explicit Registration(ClassInfo info);
  ~Registration();
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  bool registered() const { return registered_; }

 private:
  std::string name_;
  bool registered_ = false;
};

}  // namespace plat::rt

#define PLAT_RT_REGISTER_CLASS(ident, definition) \
  static const ::plat::rt::Registration ident { (definition).build() }
