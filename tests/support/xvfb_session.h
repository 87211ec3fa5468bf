// Scaffolding for tests that drive real programs on a private X server: an
// Xvfb started on a free display (-displayfd) for the test suite and stopped
// after it, child processes with their own environment, waiting for them
// with a deadline, and finding windows by name with xdotool.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qtest {

using namespace std::chrono_literals;

// Starts a child; an empty value in `env` unsets that variable.
inline pid_t spawn(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
                   bool quiet = false) {
  pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& [k, v] : env) {
      if (v.empty()) {
        ::unsetenv(k.c_str());
      } else {
        ::setenv(k.c_str(), v.c_str(), 1);
      }
    }
    if (quiet) {
      int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// The exit status (128 + signal when killed), or nullopt when the child did
// not end in time; it is then killed.
inline std::optional<int> waitExit(pid_t pid, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(20ms);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return std::nullopt;
}

inline int run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
  return waitExit(spawn(args, env, true), 20s).value_or(-1);
}

// What a command prints on its standard output (first line, no newline).
inline std::string firstLineOf(const std::string& command) {
  std::string line;
  if (FILE* f = ::popen(command.c_str(), "r")) {
    char buf[512] = {0};
    if (std::fgets(buf, sizeof buf, f)) line = buf;
    ::pclose(f);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

// One Xvfb for a test suite: start() in SetUpTestSuite, stop() in
// TearDownTestSuite. Sets DISPLAY for the test process and its children.
class XvfbServer {
 public:
  static std::string start(const char* screen = "1280x800x24") {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    pid() = ::fork();
    if (pid() == 0) {
      ::close(fds[0]);
      std::string fd = std::to_string(fds[1]);
      int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 2);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp", "-noreset",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty()) return {};
    display() = ":" + number;
    ::setenv("DISPLAY", display().c_str(), 1);
    return display();
  }
  static void stop() {
    if (pid() > 0) {
      ::kill(pid(), SIGTERM);
      ::waitpid(pid(), nullptr, 0);
      pid() = -1;
    }
  }
  static std::string& display() {
    static std::string d;
    return d;
  }

 private:
  static pid_t& pid() {
    static pid_t p = -1;
    return p;
  }
};

// The first visible window whose name is exactly `name` (waits for it), or 0.
inline unsigned long windowNamed(const std::string& name) {
  return std::strtoul(
      firstLineOf("timeout 15 xdotool search --sync --onlyvisible --name '^" + name + "$' 2>/dev/null").c_str(),
      nullptr, 10);
}

}  // namespace qtest
