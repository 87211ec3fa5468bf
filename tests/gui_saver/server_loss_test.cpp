// The X server killed or shut down under the real saver: it ends at once with status 1 and one line.
#include <sys/wait.h>

#include <gmock/gmock.h>

#include "support/x_pictures.h"  // last: it brings in Xlib

namespace {

using namespace std::chrono_literals;

enum class Target { OwnWindow, Root, Foreign };

// A window of another client that outlives that client's connection, as xscreensaver's does the saver's.
Window retainedWindow(const std::string& display) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return 0;
  XSetCloseDownMode(d, RetainPermanent);
  const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 20, 20, 480, 300, 0, 0, 0);
  XMapWindow(d, w);
  XCloseDisplay(d);
  return w;
}

// Until `target` shows a picture (at most 60 s: llvmpipe on a shared machine). Closes its connection before the
// server dies.
bool waitUntilDrawn(const std::string& display, Target target, Window foreign, pid_t saver) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return false;
  bool drawn = false;
  for (int i = 0; i < 600 && !drawn && ::waitpid(saver, nullptr, WNOHANG) == 0; ++i) {
    const Window w = target == Target::Root      ? DefaultRootWindow(d)
                     : target == Target::Foreign ? foreign
                                                 : qtest::windowNamed("Quelltrine");  // on $DISPLAY
    drawn = qtest::spread(qtest::lumaOf(d, w, 8)) > 10.0;
    if (!drawn) std::this_thread::sleep_for(100ms);
  }
  XCloseDisplay(d);
  return drawn;
}

using ServerLoss = qtest::XSuite;  // its own Xvfb each round besides

TEST_F(ServerLoss, SaverEndsWithOneLineTenTimesInARow) {
  choosePatterns(640, 400);

  for (const Target target : {Target::OwnWindow, Target::Root, Target::Foreign}) {
    for (int round = 0; round < 10; ++round) {
      const int signal = round % 2 == 0 ? SIGKILL : SIGTERM;
      SCOPED_TRACE("target " + std::to_string(int(target)) + ", round " + std::to_string(round + 1) + ", " +
                   ::sigabbrev_np(signal));
      qtest::Xvfb server;
      const std::string display = server.start();
      ASSERT_FALSE(display.empty()) << "Xvfb did not start";
      env_.set("DISPLAY", display);
      const Window foreign = target == Target::Foreign ? retainedWindow(display) : 0;
      ASSERT_EQ(target == Target::Foreign, foreign != 0) << "a window to draw into";
      const pid_t pid = saver(target == Target::Root ? std::vector<std::string>{"--root"}
                              : foreign              ? std::vector<std::string>{"--window-id", std::to_string(foreign)}
                                                     : std::vector<std::string>{});
      if (!waitUntilDrawn(display, target, foreign, pid)) {
        ADD_FAILURE() << "the saver never drew; it ended: " << qtest::waitEnd(pid, 0ms);
        continue;
      }
      // Kills land at scattered moments of a frame: in the passes, in the present, between frames.
      std::this_thread::sleep_for(std::chrono::milliseconds((round * 137) % 450));
      server.kill(signal);
      EXPECT_EQ(qtest::waitEnd(pid, 10s), "exit 1") << "how it ended after the server went away";
      EXPECT_THAT(errLines(), ::testing::ElementsAre(::testing::HasSubstr(display)));
    }
  }
}

}  // namespace
