// Bundles: a directory "<Name>.saver" holding Contents/Info.ini (the
// manifest), Contents/MacOS/<Executable> (the module's shared object) and
// Contents/Resources/ (resources by name and extension). The manifest is a
// simple "key=value" file (blank lines, '#'/';' comments and [section]
// headers are ignored); Executable is required, PrincipalClass and
// Identifier are read when present.
//
// load() dlopen()s the executable once; the module's classes register
// themselves while it loads. A loaded module is never unloaded: views and
// registered methods may point into it until the process ends.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime/class_registry.h"

namespace plat::rt {

// The keys and values of a manifest; nullopt and a message naming the line
// for a line that is neither blank, comment, section nor key=value.
std::optional<std::map<std::string, std::string>> parseManifest(std::string_view text, std::string* error = nullptr);

class Bundle {
 public:
  static constexpr const char* kManifestPath = "Contents/Info.ini";

  // nullptr (and a message) when the manifest is missing or unreadable, or
  // names no executable or one with a '/' in it.
  static std::shared_ptr<Bundle> bundleWithPath(const std::string& path, std::string* error = nullptr);
  // The bundle whose Contents/MacOS/ holds the shared object containing
  // `codeAddress`; nullptr when that object is not inside a bundle.
  static std::shared_ptr<Bundle> bundleForAddress(const void* codeAddress);

  const std::string& bundlePath() const { return path_; }
  std::string resourcePath() const { return path_ + "/Contents/Resources"; }
  std::string executablePath() const { return path_ + "/Contents/MacOS/" + executable_; }
  const std::string& principalClassName() const { return principalClass_; }
  const std::string& bundleIdentifier() const { return identifier_; }
  std::optional<std::string> objectForInfoDictionaryKey(const std::string& key) const;

  // Contents/Resources/<name>.<extension> (or <name> when the extension is
  // empty) when it is an existing regular file. Names with '/' or that are
  // "." or ".." never match, so a resource name cannot leave the folder.
  std::optional<std::string> URLForResource(const std::string& name, const std::string& extension) const;

  // dlopen(RTLD_NOW | RTLD_LOCAL). True when loaded (now or before); else
  // false and dlerror()'s message in *error.
  bool load(std::string* error = nullptr);
  bool isLoaded() const { return handle_ != nullptr; }
  // Loads, then looks the principal class up in the registry.
  std::shared_ptr<const ClassInfo> principalClass(std::string* error = nullptr);

 private:
  std::string path_;
  std::map<std::string, std::string> info_;
  std::string executable_;
  std::string principalClass_;
  std::string identifier_;
  void* handle_ = nullptr;
};

}  // namespace plat::rt
