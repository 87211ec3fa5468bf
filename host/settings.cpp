#include "host/settings.h"

#include <cmath>

#include "platform/store/screen_saver_defaults.h"
#include "platform/sys/fs.h"

namespace quelltrine::settings {

namespace {
using plat::store::ScreenSaverDefaults;

void flush() {
  if (auto store = ScreenSaverDefaults::defaultsForModuleWithName(kModuleName)) store->synchronize();
}
}  // namespace

double effectiveInterval() {
  auto store = ScreenSaverDefaults::defaultsForModuleWithName(kModuleName);
  if (!store) return kDefaultInterval;
  const double stored = store->doubleForKey(kIntervalKey);
  // NaN fails the comparison. An infinite interval would freeze the picture
  // and the effect slot for good, so it counts as unusable too.
  if (stored > kMinimumUsableInterval && std::isfinite(stored)) return stored;
  return kDefaultInterval;
}

std::string imageFolderPath() {
  if (auto store = ScreenSaverDefaults::defaultsForModuleWithName(kModuleName)) {
    std::optional<std::string> stored = store->stringForKey(kImageFolderKey);
    if (stored && !stored->empty()) return plat::sys::expandTilde(*stored);
  }
  return plat::sys::joinPath(plat::sys::homeDirectory(), kDefaultImageFolder);
}

void storeImageFolder(const std::string& absolutePath) {
  if (auto store = ScreenSaverDefaults::defaultsForModuleWithName(kModuleName)) {
    store->setObject(absolutePath, kImageFolderKey);
  }
  flush();
}

void storeInterval(double seconds) {
  if (auto store = ScreenSaverDefaults::defaultsForModuleWithName(kModuleName)) {
    store->setDouble(seconds, kIntervalKey);
  }
  flush();
}

}  // namespace quelltrine::settings
