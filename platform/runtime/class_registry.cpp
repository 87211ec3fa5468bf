// Class registry and selector dispatch.
#include "platform/runtime/class_registry.h"

#include <algorithm>
#include <mutex>

#include "platform/error_sink.h"

namespace plat::rt {

struct ClassRegistry::State {
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<const ClassInfo>> classes;
};

ClassRegistry& ClassRegistry::shared() {
  static ClassRegistry* registry = new ClassRegistry();
  return *registry;
}

ClassRegistry::State& ClassRegistry::state() const {
  static State* s = new State();
  return *s;
}

bool ClassInfo::hasSelector(const std::string& selector) const {
  return std::find(selectors.begin(), selectors.end(), selector) != selectors.end();
}

bool ClassRegistry::registerClass(ClassInfo info) {
  if (info.name.empty() || !info.type || !info.dispatch) return false;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  for (const auto& c : s.classes) {
    if (c->name == info.name) return false;
  }
  s.classes.push_back(std::make_shared<const ClassInfo>(std::move(info)));
  return true;
}

void ClassRegistry::unregisterClass(const std::string& name) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  std::erase_if(s.classes, [&](const auto& c) { return c->name == name; });
}

std::shared_ptr<const ClassInfo> ClassRegistry::lookup(const std::string& name) const {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  for (const auto& c : s.classes) {
    if (c->name == name) return c;
  }
  return nullptr;
}

std::shared_ptr<const ClassInfo> ClassRegistry::classOf(const plat::ui::Object& object) const {
  const std::type_info& dynamicType = typeid(object);
  auto& s = state();
  std::lock_guard lock(s.mutex);
  for (const auto& c : s.classes) {
    if (*c->type == dynamicType) return c;
  }
  return nullptr;
}

std::size_t selectorArity(const std::string& selector) {
  return static_cast<std::size_t>(std::count(selector.begin(), selector.end(), ':'));
}

bool respondsTo(const plat::ui::Object& object, const std::string& selector) {
  auto cls = ClassRegistry::shared().classOf(object);
  return cls && cls->hasSelector(selector);
}

namespace {

Value dispatch(plat::ui::Object& object, const std::string& selector, const std::vector<Value>& args) {
  auto cls = ClassRegistry::shared().classOf(object);
  if (!cls) return runtimeError(std::string("no registered class for an object of type ") + typeid(object).name());
  if (!cls->hasSelector(selector)) return runtimeError(cls->name + " does not respond to " + selector);
  if (args.size() != selectorArity(selector)) {
    return runtimeError(selector + " takes " + std::to_string(selectorArity(selector)) + " argument(s), got " +
                        std::to_string(args.size()));
  }
  return cls->dispatch(object, selector, Args(args));
}

}  // namespace

Value send(plat::ui::Object& object, const std::string& selector, std::vector<Value> args) {
  Value result = dispatch(object, selector, args);
  if (const auto* error = std::get_if<plat::Error>(&result)) plat::detail::report(*error);
  return result;
}

Registration::Registration(ClassInfo info) : name_(info.name) {
  registered_ = ClassRegistry::shared().registerClass(std::move(info));
}

Registration::~Registration() {
  if (registered_) ClassRegistry::shared().unregisterClass(name_);
}

}  // namespace plat::rt
