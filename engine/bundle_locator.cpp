// Bundle search order.
#include "engine/bundle_locator.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/runtime/bundle.h"

#ifndef QUELLTRINE_INSTALLED_BUNDLE
#error "the build defines QUELLTRINE_INSTALLED_BUNDLE from its install layout"
#endif

namespace quelltrine::engine {

const char* const kInstalledBundle = QUELLTRINE_INSTALLED_BUNDLE;

namespace {

bool hasManifest(const std::string& bundle) {
  struct stat st {};
  return ::stat((bundle + "/" + plat::rt::Bundle::kManifestPath).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string canonical(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

bool isInside(const std::string& dir, const std::string& root) {
  if (dir.empty() || root.empty()) return false;
  std::string d = canonical(dir), r = canonical(root);
  return d == r || (d.size() > r.size() && d.compare(0, r.size(), r) == 0 && d[r.size()] == '/');
}

}  // namespace

plat::ErrorOr<std::string> locateBundle(const BundleSearch& s) {
  auto missing = [](std::string message) {
    return plat::Error{plat::ErrorKind::Bundle, "engine", std::move(message), {}};
  };
  auto given = [&](const std::string& path, const char* source) -> plat::ErrorOr<std::string> {
    if (hasManifest(path)) return path;
    return missing(std::string("no saver bundle at ") + path + " (from " + source + ")");
  };
  if (!s.option.empty()) return given(s.option, "--bundle");
  if (!s.environment.empty()) return given(s.environment, "QUELLTRINE_BUNDLE");
  if (!s.executableDir.empty()) {
    std::string installed = s.executableDir + "/" + s.installedRelative;
    if (hasManifest(installed)) return canonical(installed);
  }
  if (isInside(s.executableDir, s.buildTreeDir) && hasManifest(s.buildTreeBundle)) return s.buildTreeBundle;
  return missing("cannot find the saver bundle Quelltrine.saver (use --bundle PATH)");
}

std::string executableDirectory() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<std::size_t>(n));
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}

}  // namespace quelltrine::engine
