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
#include <vector>

#include <glib.h>

#include "platform/sys/fs.h"

namespace plat::store {

namespace {

// One group per stored type, so that a string "14" and the double 14 stay
// apart. Strings that a key file cannot hold as text (not UTF-8, or with a
// NUL) go base64-encoded into their own group.
constexpr const char* kStringGroup = "string";
constexpr const char* kDoubleGroup = "double";
constexpr const char* kBytesGroup = "bytes";

struct Loaded {
  ScreenSaverDefaults::FileIdentity identity;
  std::map<std::string, Value> values;
  bool damaged = false;  // present but not fully understood
};

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

bool parseDouble(const char* text, double& out) {
  if (text == nullptr || *text == '\0' || g_ascii_isspace(*text)) return false;
  char* end = nullptr;
  errno = 0;
  const double v = g_ascii_strtod(text, &end);
  // Overflow gives ±HUGE_VAL with ERANGE: still the nearest double, keep it.
  if (end == text || *end != '\0') return false;
  out = v;
  return true;
}

bool isBase64(const char* s) {
  std::size_t n = 0;
  for (; s[n] != '\0'; ++n) {
    const char c = s[n];
    if (!(g_ascii_isalnum(c) || c == '+' || c == '/' || c == '=')) return false;
  }
  return n % 4 == 0;
}

void parseKeyFile(const std::string& data, Loaded& out) {
  GKeyFile* kf = g_key_file_new();
  GError* err = nullptr;
  if (!g_key_file_load_from_data(kf, data.data(), data.size(), G_KEY_FILE_KEEP_COMMENTS, &err)) {
    g_clear_error(&err);
    g_key_file_free(kf);
    out.damaged = true;
    return;
  }
  gsize ngroups = 0;
  gchar** groups = g_key_file_get_groups(kf, &ngroups);
  for (gsize g = 0; g < ngroups; ++g) {
    const char* group = groups[g];
    const bool isString = std::strcmp(group, kStringGroup) == 0;
    const bool isDouble = std::strcmp(group, kDoubleGroup) == 0;
    const bool isBytes = std::strcmp(group, kBytesGroup) == 0;
    if (!isString && !isDouble && !isBytes) {
      out.damaged = true;
      continue;
    }
    gsize nkeys = 0;
    gchar** keys = g_key_file_get_keys(kf, group, &nkeys, nullptr);
    for (gsize k = 0; k < nkeys && keys != nullptr; ++k) {
      const std::string key = keys[k];
      std::optional<Value> value;
      if (isString) {
        if (gchar* s = g_key_file_get_string(kf, group, keys[k], nullptr)) {
          value = std::string(s);
          g_free(s);
        }
      } else if (isDouble) {
        gchar* raw = g_key_file_get_value(kf, group, keys[k], nullptr);
        double d = 0.0;
        if (parseDouble(raw, d)) value = d;
        g_free(raw);
      } else {
        gchar* raw = g_key_file_get_value(kf, group, keys[k], nullptr);
        if (raw != nullptr && isBase64(raw)) {
          gsize len = 0;
          guchar* bytes = g_base64_decode(raw, &len);
          value = std::string(reinterpret_cast<const char*>(bytes), len);
          g_free(bytes);
        }
        g_free(raw);
      }
      if (!value || out.values.count(key) != 0 || !ScreenSaverDefaults::isValidKey(key)) {
        // Wrong type, bad escape, or one key in two groups: readers do
        // without it, and the file counts as damaged.
        out.damaged = true;
        continue;
      }
      out.values.emplace(key, std::move(*value));
    }
    g_strfreev(keys);
  }
  g_strfreev(groups);
  g_key_file_free(kf);
}

// Reads and parses the file. Missing: empty and not damaged. Anything that
// is not a regular file of sane size, or cannot be read, is damaged.
Loaded loadFile(const std::string& path) {
  Loaded out;
  // O_NONBLOCK: a FIFO planted under the name must not hang the reader.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno != ENOENT) {
      out.identity = statIdentity(path);
      out.damaged = out.identity.exists;
    }
    return out;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    out.damaged = true;
    return out;
  }
  out.identity = identityOf(st);
  if (!S_ISREG(st.st_mode) || st.st_size > ScreenSaverDefaults::kMaxFileBytes) {
    ::close(fd);
    out.damaged = true;
    return out;
  }
  std::string data;
  data.resize(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t got = 0;
  for (;;) {
    if (got == data.size()) {
      // Grew since fstat: read on up to the cap.
      if (data.size() > static_cast<std::size_t>(ScreenSaverDefaults::kMaxFileBytes)) {
        ::close(fd);
        out.damaged = true;
        return out;
      }
      data.resize(std::min<std::size_t>(data.size() * 2, ScreenSaverDefaults::kMaxFileBytes + 1));
    }
    const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ::close(fd);
      out.damaged = true;
      return out;
    }
  }
  ::close(fd);
  data.resize(got);
  parseKeyFile(data, out);
  return out;
}

std::string serialise(const std::map<std::string, Value>& values, const std::string& moduleName) {
  GKeyFile* kf = g_key_file_new();
  for (const auto& [key, value] : values) {
    if (const auto* s = std::get_if<std::string>(&value)) {
      const bool text = s->find('\0') == std::string::npos &&
                        g_utf8_validate(s->data(), static_cast<gssize>(s->size()), nullptr);
      if (text) {
        g_key_file_set_string(kf, kStringGroup, key.c_str(), s->c_str());
      } else {
        gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(s->data()), s->size());
        g_key_file_set_value(kf, kBytesGroup, key.c_str(), b64);
        g_free(b64);
      }
    } else {
      // %.17g round-trips every double exactly, NaN and infinities included.
      char buf[G_ASCII_DTOSTR_BUF_SIZE];
      g_ascii_formatd(buf, sizeof buf, "%.17g", std::get<double>(value));
      g_key_file_set_value(kf, kDoubleGroup, key.c_str(), buf);
    }
  }
  const std::string comment = " Preferences of " + moduleName + ". Written by the screen saver;\n"
                              " [string] holds text, [double] numbers, [bytes] base64 of text\n"
                              " that is not UTF-8.";
  if (!values.empty()) g_key_file_set_comment(kf, nullptr, nullptr, comment.c_str(), nullptr);
  gsize len = 0;
  gchar* data = g_key_file_to_data(kf, &len, nullptr);
  std::string out(data != nullptr ? data : "", data != nullptr ? len : 0);
  g_free(data);
  g_key_file_free(kf);
  return out;
}

bool writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool fsyncFolder(const std::string& folder) {
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return false;
  const bool ok = ::fsync(dfd) == 0;
  ::close(dfd);
  return ok;
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

bool ScreenSaverDefaults::isValidKey(const std::string& key) {
  if (key.empty() || key.front() == ' ' || key.back() == ' ' || key.front() == '#') return false;
  if (!g_utf8_validate(key.data(), static_cast<gssize>(key.size()), nullptr)) return false;
  for (unsigned char c : key) {
    if (c < 0x20 || c == 0x7f || c == '=' || c == '[' || c == ']') return false;
  }
  return true;
}

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
  cacheValid_ = true;
}

std::optional<Value> ScreenSaverDefaults::lookupLocked(const std::string& key) const {
  if (auto it = pending_.find(key); it != pending_.end()) return it->second;
  refreshLocked();
  if (auto it = cachedValues_.find(key); it != cachedValues_.end()) return it->second;
  return std::nullopt;
}

std::optional<std::string> ScreenSaverDefaults::stringForKey(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::optional<Value> v = lookupLocked(key);
  if (v) {
    if (auto* s = std::get_if<std::string>(&*v)) return std::move(*s);
  }
  return std::nullopt;
}

double ScreenSaverDefaults::doubleForKey(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::optional<Value> v = lookupLocked(key);
  if (v) {
    if (const auto* d = std::get_if<double>(&*v)) return *d;
  }
  return 0.0;
}

std::map<std::string, Value> ScreenSaverDefaults::dictionaryRepresentation() const {
  std::lock_guard<std::mutex> lock(mu_);
  refreshLocked();
  std::map<std::string, Value> all = cachedValues_;
  for (const auto& [key, value] : pending_) {
    if (value) {
      all[key] = *value;
    } else {
      all.erase(key);
    }
  }
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
  LockFile fileLock(path_ + ".lock");
  if (!fileLock.held()) return false;

  // Only a writer holding the lock has a temporary file, so any left over
  // belongs to one that died mid-write.
  const std::string tmpPrefix = moduleName_ + ".conf.tmp-";
  if (auto names = plat::sys::detail::readDirectoryNames(folder_)) {
    for (const std::string& name : *names) {
      if (name.compare(0, tmpPrefix.size(), tmpPrefix) == 0) {
        ::unlink(plat::sys::joinPath(folder_, name).c_str());
      }
    }
  }

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
    cacheValid_ = true;
    return true;
  }

  const std::string data = serialise(merged, moduleName_);
  std::string tmp = plat::sys::joinPath(folder_, tmpPrefix + "XXXXXX");
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, data) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  // Keep what cannot be understood (the good keys carry over), set aside
  // only now that its replacement is written, so that a failed write never
  // leaves other readers without the file.
  if (ok && current.damaged) ok = ::rename(path_.c_str(), damagedName(path_).c_str()) == 0;
  if (!ok || ::rename(tmp.c_str(), path_.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  // The rename is durable only once the folder is on disk too. If that
  // fsync fails the new contents are still in place for every reader.
  fsyncFolder(folder_);

  pending_.clear();
  cachedValues_ = std::move(merged);
  cachedIdentity_ = statIdentity(path_);
  cacheValid_ = true;
  return true;
}

}  // namespace plat::store
