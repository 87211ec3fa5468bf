// The session guard, with its end of the process recorded (a socket pair stands in for the X connection).
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/session_guard.h"

using namespace quelltrine::engine;
using namespace std::chrono_literals;

namespace {

// What the guard ended, waited for with a deadline that only a hang reaches.
struct Ends {
  std::function<void(StopReason, int)> recorder() {
    return [this](StopReason reason, int signal) {
      std::lock_guard lock(mu);
      ends.emplace_back(reason, signal);
      cv.notify_all();
    };
  }
  std::optional<std::pair<StopReason, int>> first() {
    std::unique_lock lock(mu);
    if (!cv.wait_for(lock, 10s, [this] { return !ends.empty(); })) return std::nullopt;
    return ends.front();
  }
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::pair<StopReason, int>> ends;
};

// Whether the loop's descriptor turns readable (10 s: only a hang waits that long).
bool wakes(const SessionGuard& guard) {
  pollfd p{guard.wakeFd(), POLLIN, 0};
  return ::poll(&p, 1, 10000) == 1;
}

struct SocketPair {
  SocketPair() { ok = ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0; }
  ~SocketPair() {
    for (int fd : fds) if (fd >= 0) ::close(fd);
  }
  void closePeer() { ::close(fds[1]), fds[1] = -1; }
  bool ok = false;
  int fds[2] = {-1, -1};
};

std::unique_ptr<SessionGuard> startGuard(Ends& ends, int watchedFd, std::chrono::milliseconds grace) {
  SessionGuard::Config config;
  config.watchedFd = watchedFd;
  config.grace = grace;
  config.end = ends.recorder();
  std::string error;
  auto guard = SessionGuard::start(std::move(config), &error);
  EXPECT_TRUE(guard) << error;
  return guard;
}

TEST(SessionGuard, SignalsReachTheLoopAndAStuckLoopIsEndedAfterTheGrace) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(::sigabbrev_np(signal));
    Ends ends;
    auto guard = startGuard(ends, -1, 20ms);
    ASSERT_TRUE(guard);
    ::raise(signal);  // handled: the test process lives on
    ASSERT_TRUE(wakes(*guard));
    EXPECT_EQ(guard->reason(), StopReason::Signal);
    EXPECT_EQ(guard->signal(), signal);
    // The loop never comes back: the guard ends the process by the signal.
    EXPECT_EQ(ends.first(), std::make_pair(StopReason::Signal, signal));
  }
}

TEST(SessionGuard, AHungUpConnectionEndsAtOnceUnlessTheLoopClosedIt) {
  struct sigaction before {};
  ::sigaction(SIGTERM, nullptr, &before);
  {
    SocketPair x;
    ASSERT_TRUE(x.ok);
    Ends ends;
    auto guard = startGuard(ends, x.fds[0], 10min);
    ASSERT_TRUE(guard);
    x.closePeer();  // the server is gone
    ASSERT_TRUE(wakes(*guard));
    EXPECT_EQ(ends.first(), std::make_pair(StopReason::ServerGone, 0)) << "no grace: nothing is left to clean up";
  }
  {
    SocketPair x;
    ASSERT_TRUE(x.ok);
    Ends ends;
    auto guard = startGuard(ends, x.fds[0], 10min);
    ASSERT_TRUE(guard);
    guard->closingConnection();
    ::shutdown(x.fds[0], SHUT_RDWR);  // as the X library does when it closes the display
    ::raise(SIGTERM);  // handled after the hang-up was there to be seen
    ASSERT_TRUE(wakes(*guard));
    EXPECT_EQ(guard->reason(), StopReason::Signal) << "the loop's own close is no lost server";
    guard->disarm();
    guard.reset();
    EXPECT_THAT(ends.ends, ::testing::IsEmpty()) << "a loop that ends in time is not ended";
    struct sigaction after {};
    ::sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler) << "the disposition from before the guard";
  }
  {
    SocketPair x;
    ASSERT_TRUE(x.ok);
    Ends ends;
    auto guard = startGuard(ends, x.fds[0], 10min);
    ASSERT_TRUE(guard);
    ::raise(SIGTERM);
    ASSERT_TRUE(wakes(*guard));
    x.closePeer();  // the server goes while the loop cleans up after the signal
    EXPECT_EQ(ends.first(), std::make_pair(StopReason::Signal, SIGTERM)) << "a clean-up cannot finish without it";
  }
}

using SessionGuardDeathTest = ::testing::Test;

TEST_F(SessionGuardDeathTest, TheRealEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(SessionGuard::endBySignal(SIGTERM), ::testing::KilledBySignal(SIGTERM), "");
  // Also from a thread that blocks every signal, as the guard's own does.
  EXPECT_EXIT(
      {
        std::thread([] {
          sigset_t all;
          sigfillset(&all);
          ::pthread_sigmask(SIG_SETMASK, &all, nullptr);
          SessionGuard::endBySignal(SIGHUP);
        }).join();
      },
      ::testing::KilledBySignal(SIGHUP), "");
  EXPECT_EXIT(
      {
        SessionGuard::Config config;
        config.lostServerLine = "saver: lost the connection to the X server :7\n";
        auto guard = SessionGuard::start(std::move(config), nullptr);
        SessionGuard::endForLostServer();
      },
      ::testing::ExitedWithCode(1), "^saver: lost the connection to the X server :7\n$");
}

}  // namespace
