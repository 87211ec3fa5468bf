// Bundle manifest, resources and loading.
#include "platform/runtime/bundle.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

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

}  // namespace

std::optional<std::map<std::string, std::string>> parseManifest(std::string_view text, std::string* error) {
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
    if (key.empty()) {
      if (error) *error = "manifest line " + std::to_string(lineNo) + " is not key=value";
      return std::nullopt;
    }
    values[std::string(key)] = std::string(trim(line.substr(eq + 1)));
  }
  return values;
}

std::shared_ptr<Bundle> Bundle::bundleWithPath(const std::string& path, std::string* error) {
  std::string root = realPath(path);
  std::ifstream in(root + "/" + kManifestPath, std::ios::binary);
  if (!in) {
    if (error) *error = "no bundle manifest at " + root + "/" + kManifestPath;
    return nullptr;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::string parseError;
  auto info = parseManifest(text.str(), &parseError);
  if (!info) {
    if (error) *error = root + ": " + parseError;
    return nullptr;
  }
  auto bundle = std::make_shared<Bundle>();
  bundle->path_ = root;
  bundle->info_ = std::move(*info);
  bundle->executable_ = bundle->objectForInfoDictionaryKey("Executable").value_or("");
  if (!isPlainName(bundle->executable_)) {
    if (error) *error = root + ": the manifest names no valid Executable";
    return nullptr;
  }
  bundle->principalClass_ = bundle->objectForInfoDictionaryKey("PrincipalClass").value_or("");
  bundle->identifier_ = bundle->objectForInfoDictionaryKey("Identifier").value_or("");
  return bundle;
}

std::shared_ptr<Bundle> Bundle::bundleForAddress(const void* codeAddress) {
  Dl_info dl{};
  if (!codeAddress || ::dladdr(codeAddress, &dl) == 0 || !dl.dli_fname || !*dl.dli_fname) return nullptr;
  std::string object = realPath(dl.dli_fname);
  std::string macos = parentOf(object);
  std::string contents = parentOf(macos);
  if (baseName(macos) != "MacOS" || baseName(contents) != "Contents") return nullptr;
  auto bundle = bundleWithPath(parentOf(contents));
  if (!bundle || realPath(bundle->executablePath()) != object) return nullptr;
  // The object is mapped already; loading it again only takes a reference.
  return bundle;
}

std::optional<std::string> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
  auto it = info_.find(key);
  if (it == info_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> Bundle::URLForResource(const std::string& name, const std::string& extension) const {
  std::string file = extension.empty() ? name : name + "." + extension;
  if (!isPlainName(name) || (!extension.empty() && extension.find('/') != std::string::npos) || !isPlainName(file)) {
    return std::nullopt;
  }
  std::string path = resourcePath() + "/" + file;
  if (!isRegularFile(path)) return std::nullopt;
  return path;
}

bool Bundle::load(std::string* error) {
  if (handle_) return true;
  ::dlerror();
  handle_ = ::dlopen(executablePath().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* message = ::dlerror();
    if (error) *error = message ? message : ("cannot load " + executablePath());
    return false;
  }
  return true;
}

std::shared_ptr<const ClassInfo> Bundle::principalClass(std::string* error) {
  if (!load(error)) return nullptr;
  if (principalClass_.empty()) {
    if (error) *error = path_ + ": the manifest names no PrincipalClass";
    return nullptr;
  }
  auto cls = ClassRegistry::shared().lookup(principalClass_);
  if (!cls && error) *error = executablePath() + " registers no class named " + principalClass_;
  return cls;
}

}  // namespace plat::rt
