// The per-module preferences store: string and double values under text keys,
// one key file per module under
//   ${XDG_CONFIG_HOME:-$HOME/.config}/screensaver-defaults/<module>.conf
// Changes are pending in this process (and visible to its readers at once)
// until synchronize() merges them, under an advisory lock, over what other
// processes wrote, and replaces the file atomically and durably. Readers
// never fail on a damaged file: they see what can be understood of it, and
// the next synchronize() keeps the damaged file aside and writes a good one.
// A read costs one stat() while the file is unchanged; it is re-parsed only
// when its identity (device, inode, size, mtime) changes. A file that is a
// symbolic link (or a chain of them) is read and written through: the
// link's final target is replaced, and the link stays. The store does not
// register defaults or interpret values: fallbacks are the caller's. A
// damaged file goes to the error sink (kind Preferences) once per version
// of it, when a read first parses it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include "platform/error.h"

namespace plat::store {

using Value = std::variant<std::string, double>;

class ScreenSaverDefaults {
 public:
  // The store for `moduleName`, shared process-wide per file. The folder is
  // taken from the environment at each call and created when missing.
  // nullptr when it cannot be created or read, or when the name could not
  // be a file name ("", ".", "..", or containing '/' or NUL).
  static std::shared_ptr<ScreenSaverDefaults> defaultsForModuleWithName(const std::string& moduleName);

  // nullopt when the key is absent or holds a double.
  std::optional<std::string> stringForKey(const std::string& key) const;
  // 0.0 when the key is absent or holds a string.
  double doubleForKey(const std::string& key) const;
  // Every key with its value, pending changes included.
  std::map<std::string, Value> dictionaryRepresentation() const;

  // Pending until synchronize(). A key that a key file cannot hold (empty,
  // not UTF-8, control characters, '=', '[', ']', '#' first, or blanks at
  // either end) is refused and the call does nothing.
  void setObject(const std::string& value, const std::string& key);
  void setDouble(double value, const std::string& key);
  void removeObjectForKey(const std::string& key);

  // Writes the pending changes. false when the file could not be replaced
  // (also when it is a link in a loop, or one to a folder or device that is
  // not a file); the changes then stay pending for the next attempt.
  bool synchronize();

  // What is wrong with the file, for a person to read ("unknown group
  // [x]", "cannot be read: Permission denied"): the first problem found, or
  // nullopt when the file is missing or fully understood.
  std::optional<std::string> fileDamage() const;

  // The backing file, for diagnostics and tests.
  const std::string& path() const { return path_; }
  // Forces the next read to parse the file again (benchmarks compare the
  // cached read against this).
  void discardCachedFile();

  static bool isValidKey(const std::string& key);

  // Largest file accepted; anything bigger counts as damaged.
  static constexpr std::int64_t kMaxFileBytes = 1 << 20;

  struct FileIdentity {
    bool exists = false;
    std::uint64_t dev = 0, ino = 0;
    std::int64_t size = 0, mtimeSec = 0, mtimeNsec = 0;
    bool operator==(const FileIdentity&) const = default;
  };

  ScreenSaverDefaults(std::string folder, std::string moduleName);
  ScreenSaverDefaults(const ScreenSaverDefaults&) = delete;
  ScreenSaverDefaults& operator=(const ScreenSaverDefaults&) = delete;

 private:
  // Brings the cached file contents up to date; caller holds mu_.
  void refreshLocked() const;
  // Hands a damage found by refreshLocked to the error sink after
  // releasing the lock.
  void reportAndUnlock(std::unique_lock<std::mutex>& lock) const;
  std::optional<Value> lookupLocked(const std::string& key) const;
  void setLocked(const std::string& key, std::optional<Value> value);

  std::string folder_;
  std::string moduleName_;
  std::string path_;

  mutable std::mutex mu_;
  mutable bool cacheValid_ = false;
  mutable FileIdentity cachedIdentity_;
  mutable std::map<std::string, Value> cachedValues_;
  mutable std::optional<std::string> cachedDamage_;
  mutable std::optional<plat::Error> unreported_;
  // nullopt marks a pending removal.
  std::map<std::string, std::optional<Value>> pending_;
};

}  // namespace plat::store
