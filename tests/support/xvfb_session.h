// Real programs on a private X server: an Xvfb on a free display, children with their own environment, waiting
// for them with a deadline, and finding windows by name with xdotool.
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
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qtest {

using namespace std::chrono_literals;

// Starts a child; an empty value in `env` unsets that variable. Given `stderrPath`, the child's standard error
// goes to that file and its standard output nowhere.
inline pid_t spawn(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
                   const std::string& stderrPath = "") {
  pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& [k, v] : env) {
      if (v.empty()) {
        ::unsetenv(k.c_str());
      } else {
        ::setenv(k.c_str(), v.c_str(), 1);
      }
    }
    if (!stderrPath.empty()) {
      ::dup2(::open("/dev/null", O_WRONLY), 1);
      ::dup2(::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// The raw wait status, or nullopt when the child did not end in time; it is then killed.
inline std::optional<int> waitStatus(pid_t pid, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(20ms);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return std::nullopt;
}

// The exit status (128 + signal when killed), or nullopt when the child did not end in time; it is then killed.
inline std::optional<int> waitExit(pid_t pid, std::chrono::milliseconds timeout) {
  const auto status = waitStatus(pid, timeout);
  if (!status) return std::nullopt;
  return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
}

// How a child ended: "exit N", "killed by SIGNAME", or "still running" (it is then killed).
inline std::string waitEnd(pid_t pid, std::chrono::milliseconds timeout) {
  const auto status = waitStatus(pid, timeout);
  if (!status) return "still running";
  if (WIFEXITED(*status)) return "exit " + std::to_string(WEXITSTATUS(*status));
  const char* name = ::sigabbrev_np(WTERMSIG(*status));
  return std::string("killed by SIG") + (name ? name : std::to_string(WTERMSIG(*status)).c_str());
}

inline int run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
  return waitExit(spawn(args, env, "/dev/null"), 20s).value_or(-1);
}

// An Xvfb of one's own on a free display (-displayfd). Stopped (SIGTERM) when destroyed.
class Xvfb {
 public:
  Xvfb() = default;
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  ~Xvfb() { kill(SIGTERM); }

  // The display name (":N"), or "" when the server did not start.
  std::string start(const char* screen = "1280x800x24") {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    pid_ = ::fork();
    if (pid_ == 0) {
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
    display_ = ":" + number;
    return display_;
  }
  // Ends the server with `signal` and waits for it. A lock file left by SIGKILL is taken over by the next Xvfb
  // on that number; removing it here could remove a newer server's.
  void kill(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// One Xvfb for a test suite: start() in SetUpTestSuite, stop() in TearDownTestSuite. Sets DISPLAY.
class XvfbServer {
 public:
  static std::string start(const char* screen = "1280x800x24") {
    server() = std::make_unique<Xvfb>();
    const std::string display = server()->start(screen);
    if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
    return display;
  }
  static void stop() { server().reset(); }
  static const std::string& display() {
    static const std::string none;
    return server() ? server()->display() : none;
  }

 private:
  static std::unique_ptr<Xvfb>& server() {
    static std::unique_ptr<Xvfb> s;
    return s;
  }
};

// The first visible window on $DISPLAY whose name is exactly `name` (waits for it), or 0.
inline unsigned long windowNamed(const std::string& name) {
  const std::string command = "timeout 15 xdotool search --sync --onlyvisible --name '^" + name + "$' 2>/dev/null";
  char line[64] = {0};
  if (FILE* f = ::popen(command.c_str(), "r")) {
    if (!std::fgets(line, sizeof line, f)) line[0] = 0;
    ::pclose(f);
  }
  return std::strtoul(line, nullptr, 10);
}

}  // namespace qtest
