// A temporary folder removed afterwards, and environment variables put back
// as they were.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace qtest {

class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    path_ = std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/quelltrine-test-XXXXXX";
    if (::mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;  // give back the rights a test took away, then remove
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class EnvGuard {
 public:
  ~EnvGuard() {
    for (const auto& [name, value] : saved_) value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  }
  void set(const std::string& name, const std::string& value) { save(name), ::setenv(name.c_str(), value.c_str(), 1); }
  void unset(const std::string& name) { save(name), ::unsetenv(name.c_str()); }

 private:
  void save(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    saved_.try_emplace(name, v != nullptr ? std::optional<std::string>(v) : std::nullopt);
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace qtest
