// Real programs on a private Xvfb: children with their own environment, waited for with a deadline.
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
#include <string>
#include <thread>
#include <vector>

namespace qtest {

using namespace std::chrono_literals;

// Starts a child; an empty value in `env` unsets that variable. Given `stderrPath`, the child's standard error
// goes to that file and its standard output nowhere.
inline pid_t spawn(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
                   const std::string& stderrPath = "") {
  pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& [k, v] : env) v.empty() ? ::unsetenv(k.c_str()) : ::setenv(k.c_str(), v.c_str(), 1);
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

// How a child ended: "exit N", "killed by SIGNAME", or "still running" when it did not end in time (it is then
// killed).
inline std::string waitEnd(pid_t pid, std::chrono::milliseconds timeout) {
  int status = 0;
  for (auto end = std::chrono::steady_clock::now() + timeout; ::waitpid(pid, &status, WNOHANG) != pid;) {
    if (std::chrono::steady_clock::now() >= end) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      return "still running";
    }
    std::this_thread::sleep_for(20ms);
  }
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  const char* name = ::sigabbrev_np(WTERMSIG(status));
  return std::string("killed by SIG") + (name ? name : std::to_string(WTERMSIG(status)).c_str());
}

inline std::string run(const std::vector<std::string>& args) { return waitEnd(spawn(args, {}, "/dev/null"), 20s); }

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
    pid_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
                 {}, "/dev/null");
    ::close(fds[1]);
    std::string number;
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty()) return {};
    return ":" + number;
  }
  // Ends the server with `signal` and waits for it; a lock file left by SIGKILL is the next Xvfb's to take over.
  void kill(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
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
