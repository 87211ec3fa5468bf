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
//
// Failures are plat::Error values of kind Bundle; the error sink hears of
// each, also where the answer is a plain none (bundleForAddress,
// URLForResource).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/runtime/class_registry.h"

namespace plat::rt {

// The keys and values of a manifest; an Error naming the line for a line
// that is neither blank, comment, section nor key=value.
ErrorOr<std::map<std::string, std::string>> parseManifest(std::string_view text);

class Bundle {
 public:
  static constexpr const char* kManifestPath = "Contents/Info.ini";

  // An Error when the manifest is missing or unreadable, or names no
  // executable or one with a '/' in it.
  static ErrorOr<std::shared_ptr<Bundle>> bundleWithPath(const std::string& path);
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

  // dlopen(RTLD_NOW | RTLD_LOCAL). Success when loaded (now or before);
  // else an Error with dlerror()'s message.
  ErrorOr<void> load();
  bool isLoaded() const { return handle_ != nullptr; }
  // Loads, then looks the principal class up in the registry.
  ErrorOr<std::shared_ptr<const ClassInfo>> principalClass();

 private:
  static ErrorOr<std::shared_ptr<Bundle>> read(const std::string& path);

  std::string path_;
  std::map<std::string, std::string> info_;
  std::string executable_;
  std::string principalClass_;
  std::string identifier_;
  void* handle_ = nullptr;
};

}  // namespace plat::rt
