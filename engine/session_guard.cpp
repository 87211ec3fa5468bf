// The session's guard thread (see session_guard.h).
#include "engine/session_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>

namespace quelltrine::engine {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// What the handlers and the lost-server exit may touch: plain data set up
// before the handlers are installed.
std::atomic<int> gSignalWrite{-1};
struct sigaction gPrevious[std::size(kSignals)];
std::atomic<bool> gGuardRunning{false};
char gLostServerLine[512];
std::size_t gLostServerLength = 0;
std::atomic<bool> gEnding{false};

void onTerminatingSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] ssize_t n = ::write(gSignalWrite.load(), &byte, 1);
  errno = saved;
}

void closeBoth(int& a, int& b) {
  if (a >= 0) ::close(a);
  if (b >= 0) ::close(b);
  a = b = -1;
}

bool makePipe(int& readEnd, int& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  readEnd = fds[0];
  writeEnd = fds[1];
  return true;
}

// The signal pipe's read end, owned by the running guard.
int gSignalRead = -1;

}  // namespace

std::unique_ptr<SessionGuard> SessionGuard::start(Config config, std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    return nullptr;
  };
  if (gGuardRunning.exchange(true)) {
    if (error) *error = "a session guard is already running";
    return nullptr;
  }
  std::unique_ptr<SessionGuard> self(new SessionGuard(std::move(config)));
  int signalWrite = -1;
  if (!makePipe(self->wakeRead_, self->wakeWrite_) || !makePipe(self->stopRead_, self->stopWrite_) ||
      !makePipe(gSignalRead, signalWrite)) {
    return fail("cannot make a pipe");  // the destructor closes what was made
  }
  gSignalWrite = signalWrite;
  const std::string& line = self->config_.lostServerLine;
  gLostServerLength = std::min(line.size(), sizeof gLostServerLine);
  std::memcpy(gLostServerLine, line.data(), gLostServerLength);

  struct sigaction sa {};
  sa.sa_handler = onTerminatingSignal;
  sigemptyset(&sa.sa_mask);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &sa, &gPrevious[i]);

  // The thread takes no signals: the handlers run on the main thread, where
  // they interrupt whatever waits there.
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  try {
    self->thread_ = std::thread([guard = self.get()] { guard->watch(); });
  } catch (const std::system_error&) {
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return fail("cannot start the guard thread");  // the destructor undoes the rest
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return self;
}

SessionGuard::~SessionGuard() {
  disarm();
  if (thread_.joinable()) {
    const char stop = 1;
    [[maybe_unused]] ssize_t n = ::write(stopWrite_, &stop, 1);
    thread_.join();
  }
  if (gSignalWrite.load() >= 0) {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    int signalWrite = gSignalWrite.exchange(-1);
    closeBoth(gSignalRead, signalWrite);
  }
  closeBoth(wakeRead_, wakeWrite_);
  closeBoth(stopRead_, stopWrite_);
  gGuardRunning = false;
}

void SessionGuard::disarm() { disarmed_ = true; }

void SessionGuard::wakeLoop() {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
}

void SessionGuard::watch() {
  using Clock = std::chrono::steady_clock;
  auto end = [this](StopReason reason, int signal) {
    if (disarmed_) return;
    if (config_.end) {
      config_.end(reason, signal);
    } else if (reason == StopReason::Signal) {
      endBySignal(signal);
    } else {
      endForLostServer();
    }
  };
  std::optional<Clock::time_point> deadline;
  bool watching = config_.watchedFd >= 0;
  for (;;) {
    // With no events asked for, the socket reports only a hang-up or an
    // error: nothing is read that the X library expects to read itself.
    pollfd fds[3] = {{gSignalRead, POLLIN, 0}, {watching ? config_.watchedFd : -1, 0, 0}, {stopRead_, POLLIN, 0}};
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      timeout = static_cast<int>(std::max<long long>(0, left));
    }
    const int n = ::poll(fds, 3, timeout);
    if (n < 0 && errno != EINTR) return;  // cannot happen with valid descriptors
    if (fds[2].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      unsigned char bytes[16];
      const ssize_t got = ::read(gSignalRead, bytes, sizeof bytes);
      StopReason none = StopReason::Nothing;
      if (got > 0 && reason_.load() == StopReason::Nothing) {
        signal_ = bytes[0];
        reason_.compare_exchange_strong(none, StopReason::Signal);
        wakeLoop();
        deadline = Clock::now() + config_.grace;
      }
    }
    if (watching && (closing_ || (fds[1].revents & POLLNVAL) != 0)) watching = false;  // the loop's own close
    if (watching && (fds[1].revents & (POLLHUP | POLLERR))) {
      watching = false;
      StopReason none = StopReason::Nothing;
      if (reason_.compare_exchange_strong(none, StopReason::ServerGone)) {
        wakeLoop();
        end(StopReason::ServerGone, 0);
      } else {
        // A clean-up after a signal cannot finish against a dead server.
        deadline.reset();
        end(StopReason::Signal, signal_);
      }
    }
    if (deadline && Clock::now() >= *deadline) {
      deadline.reset();
      end(StopReason::Signal, signal_);
    }
  }
}

void SessionGuard::endBySignal(int signal) {
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  ::sigaction(signal, &sa, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);  // not reached: the default action of these signals ends the process
}

void SessionGuard::endForLostServer() {
  if (!gEnding.exchange(true)) {
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, gLostServerLine, gLostServerLength);
    ::_exit(1);
  }
  for (;;) ::pause();  // the first caller is ending the process
}

}  // namespace quelltrine::engine
