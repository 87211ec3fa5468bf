// Bundle manifest, resources and loading.
#include "platform/runtime/bundle.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/error_sink.h"

namespace plat::rt {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::string realPath(const std::string& path) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf)) return buf;
  return path;
}

std::string parentOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Error bundleError(std::string message, std::string path = {}) {
  return Error{ErrorKind::Bundle, "bundle", std::move(message), std::move(path)};
}

using plat::detail::report;

}  // namespace

ErrorOr<std::map<std::string, std::string>> parseManifest(std::string_view text) {
  std::map<std::string, std::string> values;
  std::size_t lineNo = 0;
  while (!text.empty()) {
    ++lineNo;
    auto nl = text.find('\n');
    std::string_view line = trim(text.substr(0, nl));
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') continue;
    auto eq = line.find('=');
    std::string_view key = eq == std::string_view::npos ? std::string_view{} : trim(line.substr(0, eq));
    if (key.empty()) return bundleError("manifest line " + std::to_string(lineNo) + " is not key=value");
    values[std::string(key)] = std::string(trim(line.substr(eq + 1)));
  }
  return values;
}

ErrorOr<std::shared_ptr<Bundle>> Bundle::bundleWithPath(const std::string& path) {
  return plat::detail::reportFailure(read(path));
}

ErrorOr<std::shared_ptr<Bundle>> Bundle::read(const std::string& path) {
  std::string root = realPath(path);
  std::ifstream in(root + "/" + kManifestPath, std::ios::binary);
  if (!in) return bundleError("no bundle manifest " + std::string(kManifestPath), root);
  std::stringstream text;
  text << in.rdbuf();
  auto info = parseManifest(text.str());
  if (!info) return bundleError(info.error().message, root);
  auto bundle = std::make_shared<Bundle>();
  bundle->path_ = root;
  bundle->info_ = std::move(info).value();
  bundle->executable_ = bundle->objectForInfoDictionaryKey("Executable").value_or("");
  if (!isPlainName(bundle->executable_)) return bundleError("the manifest names no valid Executable", root);
  bundle->principalClass_ = bundle->objectForInfoDictionaryKey("PrincipalClass").value_or("");
  bundle->identifier_ = bundle->objectForInfoDictionaryKey("Identifier").value_or("");
  return bundle;
}

std::shared_ptr<Bundle> Bundle::bundleForAddress(const void* codeAddress) {
  Dl_info dl{};
  if (!codeAddress || ::dladdr(codeAddress, &dl) == 0 || !dl.dli_fname || !*dl.dli_fname) {
    report(bundleError("the code address lies in no loaded object"));
    return nullptr;
  }
  std::string object = realPath(dl.dli_fname);
  std::string macos = parentOf(object);
  std::string contents = parentOf(macos);
  if (baseName(macos) != "MacOS" || baseName(contents) != "Contents") {
    report(bundleError("not inside a bundle's Contents/MacOS", object));
    return nullptr;
  }
  auto bundle = bundleWithPath(parentOf(contents));
  if (!bundle) return nullptr;
  if (realPath((*bundle)->executablePath()) != object) {
    report(bundleError("the manifest names another executable than " + baseName(object), (*bundle)->bundlePath()));
    return nullptr;
  }
  // The object is mapped already; loading it again only takes a reference.
  return std::move(bundle).value();
}

std::optional<std::string> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
  auto it = info_.find(key);
  if (it == info_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> Bundle::URLForResource(const std::string& name, const std::string& extension) const {
  std::string file = extension.empty() ? name : name + "." + extension;
  if (!isPlainName(name) || (!extension.empty() && extension.find('/') != std::string::npos) || !isPlainName(file)) {
    report(bundleError("'" + file + "' is not a resource name", path_));
    return std::nullopt;
  }
  std::string path = resourcePath() + "/" + file;
  if (!isRegularFile(path)) {
    report(bundleError("the bundle has no resource " + file, path_));
    return std::nullopt;
  }
  return path;
}

ErrorOr<void> Bundle::load() {
  if (handle_) return {};
  ::dlerror();
  handle_ = ::dlopen(executablePath().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* message = ::dlerror();
    return report(bundleError(message ? message : "cannot load the module", executablePath()));
  }
  return {};
}

ErrorOr<std::shared_ptr<const ClassInfo>> Bundle::principalClass() {
  if (auto loaded = load(); !loaded) return loaded.error();
  if (principalClass_.empty()) return report(bundleError("the manifest names no PrincipalClass", path_));
  auto cls = ClassRegistry::shared().lookup(principalClass_);
  if (!cls) return report(bundleError("the module registers no class named " + principalClass_, executablePath()));
  return cls;
}

}  // namespace plat::rt
