// Ends the process when the tick loop cannot. A thread of its own receives
// SIGTERM, SIGINT and SIGHUP (through a pipe their handlers write) and
// watches the X connection's socket for the server hanging up; it tells the
// loop through wakeFd() and reason(). After a signal the loop has a grace
// period to clean up and end by itself; a loop that has not finished by then
// (a frame stuck in the GPU driver, a long picture decode) is ended from the
// guard's thread by the signal itself. A lost server ends the process at
// once with one line on stderr: there is nothing left to clean up, and the
// GPU driver could loop forever on the dead connection.
//
// The guard neither runs nor interrupts frames, and it does not close the
// display: that is the loop's. One guard at a time per process.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace quelltrine::engine {

enum class StopReason { Nothing, Signal, ServerGone };

class SessionGuard {
 public:
  struct Config {
    // The X connection's socket, watched for a hang-up only (never read);
    // -1: none.
    int watchedFd = -1;
    // How long the loop has after a signal before the guard ends the
    // process.
    std::chrono::milliseconds grace{500};
    // What ending the process means, called on the guard's thread. Empty:
    // endBySignal for a signal, endForLostServer for a lost server. Tests
    // record instead.
    std::function<void(StopReason, int signal)> end;
    // The one line endForLostServer writes, newline included.
    std::string lostServerLine;
  };

  // Installs the signal handlers and starts the thread; nullptr with *error
  // when the pipes or the thread cannot be had, or a guard already exists.
  static std::unique_ptr<SessionGuard> start(Config config, std::string* error);
  // Disarms, stops the thread and restores the signal dispositions that
  // were there before.
  ~SessionGuard();
  SessionGuard(const SessionGuard&) = delete;
  SessionGuard& operator=(const SessionGuard&) = delete;

  // Readable (and left readable) once reason() is no longer Nothing.
  int wakeFd() const { return wakeRead_; }
  StopReason reason() const { return reason_.load(); }
  // The signal when reason() is Signal, else 0.
  int signal() const { return signal_.load(); }

  // The loop is about to close the X connection, which shuts its socket
  // down: a hang-up seen from now on is the loop's own, not the server's.
  void closingConnection() { closing_ = true; }
  // The loop has cleaned up: the guard ends nothing from now on.
  void disarm();

  // Restores the default action of `signal` and raises it, so that the
  // parent sees the process killed by that signal. Async-signal-safe.
  [[noreturn]] static void endBySignal(int signal);
  // The line of the running guard's Config on stderr, written once whichever
  // thread comes first, then exit status 1 without exit handlers (they would
  // reach the dead server through the GPU driver). Async-signal-safe.
  [[noreturn]] static void endForLostServer();

 private:
  explicit SessionGuard(Config config) : config_(std::move(config)) {}
  void watch();
  void wakeLoop();

  Config config_;
  int wakeRead_ = -1, wakeWrite_ = -1;
  int stopRead_ = -1, stopWrite_ = -1;
  std::atomic<StopReason> reason_{StopReason::Nothing};
  std::atomic<int> signal_{0};
  std::atomic<bool> disarmed_{false};
  std::atomic<bool> closing_{false};
  std::thread thread_;
};

}  // namespace quelltrine::engine
