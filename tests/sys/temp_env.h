// A temporary folder removed afterwards, environment variables put back as they were, a whole file as text.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace qtest {

struct TempDir {
  TempDir() : path_(std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/quelltrine-test-XXXXXX") {
    if (::mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  }
  ~TempDir() { std::error_code ec; std::filesystem::remove_all(path_, ec); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::string path_;
};

struct EnvGuard {  // puts back every variable it changed
  ~EnvGuard() {
    for (const auto& [name, v] : saved_) v ? ::setenv(name.c_str(), v->c_str(), 1) : ::unsetenv(name.c_str());
  }
  void set(const std::string& name, const std::string& value) { save(name), ::setenv(name.c_str(), value.c_str(), 1); }
  void unset(const std::string& name) { save(name), ::unsetenv(name.c_str()); }
  void save(const std::string& name) {
    if (const char* v = std::getenv(name.c_str())) saved_.try_emplace(name, v); else saved_.try_emplace(name);
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

inline std::string readFile(const std::string& path) {  // "" when it cannot be read
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace qtest
