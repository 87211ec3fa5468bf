#include "platform/store/screen_saver_defaults.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <glib.h>

#include "platform/error_sink.h"
#include "platform/store/key_file_format.h"
#include "platform/sys/files.h"
#include "platform/sys/fs.h"

namespace plat::store {

namespace {

ScreenSaverDefaults::FileIdentity identityOf(const struct stat& st) {
  ScreenSaverDefaults::FileIdentity id;
  id.exists = true;
  id.dev = static_cast<std::uint64_t>(st.st_dev);
  id.ino = static_cast<std::uint64_t>(st.st_ino);
  id.size = static_cast<std::int64_t>(st.st_size);
  id.mtimeSec = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  id.mtimeNsec = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  return id;
}

ScreenSaverDefaults::FileIdentity statIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return identityOf(st);
}

struct Loaded : format::Parsed {
  ScreenSaverDefaults::FileIdentity identity;
};

// Reads and parses the file. Missing: empty and not damaged. Anything that
// is not a regular file of sane size, or cannot be read, is damaged.
Loaded loadFile(const std::string& path) {
  Loaded out;
  auto file = plat::sys::readRegularFile(path, ScreenSaverDefaults::kMaxFileBytes, ErrorKind::Preferences, "store");
  if (!file) {
    // Missing, also at the end of a dangling link: nothing stored. Anything
    // else (no permission, a loop of links, a FIFO) is a file that cannot
    // be read.
    if (file.error().code != ENOENT) {
      out.identity = statIdentity(path);
      out.markDamaged(file.error().message);
    }
    return out;
  }
  out.identity = identityOf(file->status);
  static_cast<format::Parsed&>(out) =
      format::parse(std::string_view(reinterpret_cast<const char*>(file->data.get()), file->size));
  return out;
}

// A name beside `path` that nothing uses yet; called under the lock.
std::string damagedName(const std::string& path) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
  std::string base = path + ".damaged-" + stamp;
  std::string candidate = base;
  struct stat st {};
  for (int i = 2; ::lstat(candidate.c_str(), &st) == 0; ++i) candidate = base + "-" + std::to_string(i);
  return candidate;
}

// The file that `path` finally names: the end of a chain of symbolic links
// (a relative one read from the folder of the link that holds it), or path
// itself. A chain that ends at nothing gives the missing name, which a write
// creates. nullopt, with errno, for a loop, a chain of more than 40 links,
// or a link that cannot be read.
std::optional<std::string> finalTarget(const std::string& path) {
  std::string current = path;
  for (int links = 0; links <= 40; ++links) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0) {
      if (errno == ENOENT) return current;
      return std::nullopt;
    }
    if (!S_ISLNK(st.st_mode)) return current;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    for (;;) {
      const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
      if (n < 0) return std::nullopt;
      if (static_cast<std::size_t>(n) < target.size()) {
        target.resize(static_cast<std::size_t>(n));
        break;
      }
      target.resize(target.size() * 2);  // changed since lstat, or a file system that reports no size
    }
    if (target.empty()) {
      errno = ENOENT;
      return std::nullopt;
    }
    current = target.front() == '/' ? target : plat::sys::joinPath(plat::sys::parentFolder(current), target);
  }
  errno = ELOOP;
  return std::nullopt;
}

class LockFile {
 public:
  explicit LockFile(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600)) {
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~LockFile() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
};

std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}

// One store per file for the life of the process, so that pending changes
// made through one handle are seen, and flushed, through every other.
std::map<std::string, std::shared_ptr<ScreenSaverDefaults>>& registry() {
  static auto* r = new std::map<std::string, std::shared_ptr<ScreenSaverDefaults>>();
  return *r;
}

std::string configBase() {
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  return plat::sys::joinPath(plat::sys::homeDirectory(), ".config");
}

}  // namespace

bool ScreenSaverDefaults::isValidKey(const std::string& key) { return format::isStorableKey(key); }

ScreenSaverDefaults::ScreenSaverDefaults(std::string folder, std::string moduleName)
    : folder_(std::move(folder)),
      moduleName_(std::move(moduleName)),
      path_(plat::sys::joinPath(folder_, moduleName_ + ".conf")) {}

std::shared_ptr<ScreenSaverDefaults> ScreenSaverDefaults::defaultsForModuleWithName(const std::string& moduleName) {
  if (moduleName.empty() || moduleName == "." || moduleName == ".." ||
      moduleName.find('/') != std::string::npos || moduleName.find('\0') != std::string::npos) {
    return nullptr;
  }
  const std::string folder = plat::sys::joinPath(configBase(), "screensaver-defaults");
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0 || ::stat(folder.c_str(), &st) != 0) return nullptr;
  }
  if (!S_ISDIR(st.st_mode) || ::access(folder.c_str(), R_OK | X_OK) != 0) return nullptr;

  const std::string path = plat::sys::joinPath(folder, moduleName + ".conf");
  std::lock_guard<std::mutex> lock(registryMutex());
  auto& slot = registry()[path];
  if (!slot) slot = std::make_shared<ScreenSaverDefaults>(folder, moduleName);
  return slot;
}

void ScreenSaverDefaults::refreshLocked() const {
  const FileIdentity now = statIdentity(path_);
  if (cacheValid_ && now == cachedIdentity_) return;
  Loaded loaded = loadFile(path_);
  cachedValues_ = std::move(loaded.values);
  cachedIdentity_ = loaded.identity;
  cachedDamage_ = loaded.damaged ? std::optional<std::string>(std::move(loaded.damage)) : std::nullopt;
  cacheValid_ = true;
  // Told once per version of the file: it is parsed again only when it
  // changes.
  if (cachedDamage_) {
    unreported_ = plat::Error{plat::ErrorKind::Preferences, "store",
                              "the preferences file is damaged (" + *cachedDamage_ +
                                  "); what could be read is used, and the next write keeps the file aside",
                              path_, 0};
  }
}

void ScreenSaverDefaults::reportAndUnlock(std::unique_lock<std::mutex>& lock) const {
  std::optional<plat::Error> damage = std::exchange(unreported_, std::nullopt);
  lock.unlock();
  // The sink is called with no lock of the layer held.
  if (damage) plat::detail::report(std::move(*damage));
}

std::optional<std::string> ScreenSaverDefaults::fileDamage() const {
  std::unique_lock<std::mutex> lock(mu_);
  refreshLocked();
  std::optional<std::string> damage = cachedDamage_;
  reportAndUnlock(lock);
  return damage;
}

std::optional<Value> ScreenSaverDefaults::lookupLocked(const std::string& key) const {
  if (auto it = pending_.find(key); it != pending_.end()) return it->second;
  refreshLocked();
  if (auto it = cachedValues_.find(key); it != cachedValues_.end()) return it->second;
  return std::nullopt;
}

std::optional<std::string> ScreenSaverDefaults::stringForKey(const std::string& key) const {
  std::unique_lock<std::mutex> lock(mu_);
  std::optional<Value> v = lookupLocked(key);
  reportAndUnlock(lock);
  if (v) {
    if (auto* s = std::get_if<std::string>(&*v)) return std::move(*s);
  }
  return std::nullopt;
}

double ScreenSaverDefaults::doubleForKey(const std::string& key) const {
  std::unique_lock<std::mutex> lock(mu_);
  std::optional<Value> v = lookupLocked(key);
  reportAndUnlock(lock);
  if (v) {
    if (const auto* d = std::get_if<double>(&*v)) return *d;
  }
  return 0.0;
}

std::map<std::string, Value> ScreenSaverDefaults::dictionaryRepresentation() const {
  std::unique_lock<std::mutex> lock(mu_);
  refreshLocked();
  std::map<std::string, Value> all = cachedValues_;
  for (const auto& [key, value] : pending_) {
    if (value) {
      all[key] = *value;
    } else {
      all.erase(key);
    }
  }
  reportAndUnlock(lock);
  return all;
}

void ScreenSaverDefaults::setLocked(const std::string& key, std::optional<Value> value) {
  if (!isValidKey(key)) return;
  pending_[key] = std::move(value);
}

void ScreenSaverDefaults::setObject(const std::string& value, const std::string& key) {
  std::lock_guard<std::mutex> lock(mu_);
  setLocked(key, Value(value));
}

void ScreenSaverDefaults::setDouble(double value, const std::string& key) {
  std::lock_guard<std::mutex> lock(mu_);
  setLocked(key, Value(value));
}

void ScreenSaverDefaults::removeObjectForKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(mu_);
  setLocked(key, std::nullopt);
}

void ScreenSaverDefaults::discardCachedFile() {
  std::lock_guard<std::mutex> lock(mu_);
  cacheValid_ = false;
}

bool ScreenSaverDefaults::synchronize() {
  std::lock_guard<std::mutex> lock(mu_);
  if (g_mkdir_with_parents(folder_.c_str(), 0700) != 0) return false;
  // The lock stays beside the name the store was opened by, also when that
  // is a link into another folder (a repository of dotfiles gets no lock
  // file); writers of this store all come through that name.
  LockFile fileLock(path_ + ".lock");
  if (!fileLock.held()) return false;

  // A symbolic link (people keep dotfiles in a repository and link them)
  // is written through: the new file replaces its final target, and the
  // link stays. The temporary file goes beside the target, since a rename
  // only replaces a file within one file system.
  const std::optional<std::string> target = finalTarget(path_);
  if (!target) return false;
  const bool throughLink = *target != path_;

  // Only a writer holding the lock has a temporary file, so any left over
  // belongs to one that died mid-write.
  plat::sys::removeAbandonedReplacements(*target);

  Loaded current = loadFile(path_);
  std::map<std::string, Value> merged = std::move(current.values);
  for (const auto& [key, value] : pending_) {
    if (value) {
      merged[key] = *value;
    } else {
      merged.erase(key);
    }
  }
  if (pending_.empty() && !current.damaged) {
    cachedValues_ = std::move(merged);
    cachedIdentity_ = current.identity;
    cachedDamage_.reset();
    cacheValid_ = true;
    return true;
  }
  if (current.damaged && throughLink) {
    // What a link leads to is the user's: a folder or a device there is
    // never moved aside, and a file is moved aside only beside itself.
    struct stat st {};
    if (::lstat(target->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
  }

  auto replacement = plat::sys::FileReplacement::prepare(*target, format::serialise(merged, moduleName_), 0600);
  if (!replacement) return false;
  // Keep what cannot be understood (the good keys carry over), set aside
  // only now that its replacement is written, so that a failed write never
  // leaves other readers without the file.
  if (current.damaged && current.identity.exists && ::rename(target->c_str(), damagedName(*target).c_str()) != 0) {
    return false;
  }
  if (!replacement->commit()) return false;

  pending_.clear();
  cachedValues_ = std::move(merged);
  cachedIdentity_ = statIdentity(path_);
  cachedDamage_.reset();
  cacheValid_ = true;
  return true;
}

}  // namespace plat::store
