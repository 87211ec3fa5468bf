// A private preferences folder per test, and a way to act as another
// process: fork, run a check, and report through the exit status.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sys/temp_env.h"

namespace qtest {

// Runs fn in a forked child; true when it returned true. The child shares
// nothing with the parent afterwards, so it stands in for another process.
inline bool inChild(const std::function<bool()>& fn) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(fn() ? 0 : 1);
  if (pid < 0) return false;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("XDG_CONFIG_HOME", tmp_ / "config");
    env_.set("HOME", tmp_ / "home");
    ASSERT_EQ(::mkdir((tmp_ / "config").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((tmp_ / "config").c_str(), (tmp_ / "alias").c_str()), 0);
  }

  // Runs fn in a forked child that reaches the same store folder through
  // another path. A forked child inherits this process's store objects;
  // the other path gives it its own, so it sees only what is on disk, as
  // another process would. true when fn returned true.
  bool asOtherProcess(const std::function<bool()>& fn) const {
    const std::string alias = tmp_ / "alias";
    return inChild([&] {
      ::setenv("XDG_CONFIG_HOME", alias.c_str(), 1);
      return fn();
    });
  }
  std::string storeFolder() const { return tmp_ / "config/screensaver-defaults"; }
  std::string storeFile(const std::string& module) const { return storeFolder() + "/" + module + ".conf"; }

  TempDir tmp_;
  EnvGuard env_;
};

}  // namespace qtest
