// A private preferences folder per test, and a way to act as another process.
#pragma once

#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sys/temp_env.h"

namespace qtest {

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("XDG_CONFIG_HOME", tmp_ / "config");
    env_.set("HOME", tmp_ / "home");
    ASSERT_EQ(::mkdir((tmp_ / "config").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((tmp_ / "config").c_str(), (tmp_ / "alias").c_str()), 0);
  }
  // Runs fn in a forked child; true when it returned true. The child reaches
  // the store folder through another path, so it gets its own store objects
  // and sees only what is on disk, as another process would.
  bool asOtherProcess(const std::function<bool()>& fn) const {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit((::setenv("XDG_CONFIG_HOME", (tmp_ / "alias").c_str(), 1), fn()) ? 0 : 1);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  std::string storeFolder() const { return tmp_ / "config/screensaver-defaults"; }

  TempDir tmp_;
  EnvGuard env_;
};

}  // namespace qtest
