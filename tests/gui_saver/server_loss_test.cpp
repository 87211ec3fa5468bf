// The X server going away under a running saver, as when a session crashes or is torn down: the server killed
// (SIGKILL) or shut down (SIGTERM) while the real saver draws into a window of its own, the root window or a
// foreign window, ten rounds each, and while a frame of the stand-in module never returns. Each round has an
// Xvfb of its own. The saver must end with one line on stderr and status 1, and stop using the CPU, instead of
// spinning on the dead connection. Signals that arrive while a frame never returns end the process too.
#include <sys/resource.h>
#include <sys/wait.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include <gmock/gmock.h>

#include "host/settings.h"
#include "support/render_fixture.h"
#include "support/xvfb_session.h"
#include "support/x_pictures.h"  // last: it brings in Xlib

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

// CPU seconds a live process has used, all its threads together.
double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return 0.0;
  std::istringstream fields(stat.substr(close + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  double user = 0, system = 0;
  fields >> user >> system;
  return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A window of another client that outlives the saver's connection: a child process holds it until it is killed
// or its server dies.
struct ForeignWindow {
  pid_t holder = -1;
  Window id = 0;
  ~ForeignWindow() {
    if (holder > 0) ::kill(holder, SIGKILL), ::waitpid(holder, nullptr, 0);
  }
  bool open(const std::string& display) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    holder = ::fork();
    if (holder == 0) {
      ::close(fds[0]);
      Display* d = XOpenDisplay(display.c_str());
      Window w = d ? XCreateSimpleWindow(d, DefaultRootWindow(d), 20, 20, 480, 300, 0, 0, 0) : 0;
      if (d) XMapWindow(d, w), XSync(d, False);
      [[maybe_unused]] ssize_t n = ::write(fds[1], &w, sizeof w);
      for (;;) ::pause();
    }
    ::close(fds[1]);
    const bool ok = ::read(fds[0], &id, sizeof id) == static_cast<ssize_t>(sizeof id) && id != 0;
    ::close(fds[0]);
    return ok;
  }
};

// The top-level window named `name`, or 0.
Window windowNamed(Display* d, const char* name) {
  Window root = 0, parent = 0, *children = nullptr, found = 0;
  unsigned n = 0;
  if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) return 0;
  for (unsigned i = 0; i < n && !found; ++i) {
    char* title = nullptr;
    if (XFetchName(d, children[i], &title) && title) found = std::strcmp(title, name) == 0 ? children[i] : 0;
    if (title) XFree(title);
  }
  if (children) XFree(children);
  return found;
}

enum class Target { OwnWindow, Root, Foreign };

// What one lost server did to the saver.
struct Outcome {
  std::string end;            // as qtest::waitEnd tells it
  double secondsToEnd = -1;   // from the kill; -1 when it did not end
  double cpuAfterKill = -1;   // CPU seconds used from the kill to its end
  double cpuShareWhenStuck = 0;  // share of a core used over a second, when it did not end
  std::vector<std::string> errLines;
};

class ServerLoss : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("HOME", dir_ / "home");
    env_.set("XDG_CONFIG_HOME", dir_ / "config");
    std::filesystem::create_directories(dir_ / "pictures");
    qtest::writePattern(dir_ / "pictures/a.png", 640, 400, 0);
    qtest::writePattern(dir_ / "pictures/b.png", 600, 480, 20);
    quelltrine::settings::storeImageFolder(dir_ / "pictures");
  }

  // Waits (at most 60 s, llvmpipe on a shared machine) until `target` on `display` shows a picture; closes its
  // own connection before returning, so that the test process never touches a dead server.
  static bool waitUntilDrawn(const std::string& display, Target target, Window foreign, pid_t saver) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return false;
    bool drawn = false;
    for (auto until = Clock::now() + 60s; !drawn && Clock::now() < until && ::waitpid(saver, nullptr, WNOHANG) == 0;) {
      const Window w = target == Target::Root ? DefaultRootWindow(d)
                       : target == Target::Foreign ? foreign
                                                   : windowNamed(d, "Quelltrine");
      drawn = qtest::spread(qtest::lumaOf(d, w, 8)) > 10.0;
      if (!drawn) std::this_thread::sleep_for(100ms);
    }
    XCloseDisplay(d);
    return drawn;
  }

  // Kills the server with `signal` and follows the saver to its end (at most 10 s: a hang, not a speed goal).
  Outcome killServer(qtest::Xvfb& server, int signal, pid_t saver, const std::string& errPath) {
    Outcome o;
    const double cpuAtKill = cpuSeconds(saver);
    const auto killed = Clock::now();
    server.kill(signal);
    for (auto until = killed + 10s; Clock::now() < until;) {
      int status = 0;
      rusage usage{};
      if (::wait4(saver, &status, WNOHANG, &usage) == saver) {
        o.secondsToEnd = std::chrono::duration<double>(Clock::now() - killed).count();
        o.cpuAfterKill = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6 - cpuAtKill;
        o.end = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                  : std::string("killed by SIG") + ::sigabbrev_np(WTERMSIG(status));
        break;
      }
      std::this_thread::sleep_for(5ms);
    }
    if (o.end.empty()) {
      const double before = cpuSeconds(saver);
      std::this_thread::sleep_for(1s);
      o.cpuShareWhenStuck = cpuSeconds(saver) - before;
      o.end = qtest::waitEnd(saver, 0ms);  // "still running", and killed
    }
    std::ifstream err(errPath);
    for (std::string line; std::getline(err, line);) o.errLines.push_back(line);
    return o;
  }

  // Ten rounds of the real saver drawing into `target` while its server is killed or shut down.
  void tenRounds(Target target, const std::vector<std::string>& args, const char* name) {
    double longest = 0, mostCpu = 0;
    int ended = 0;
    for (int round = 0; round < 10; ++round) {
      const int signal = round % 2 == 0 ? SIGKILL : SIGTERM;
      SCOPED_TRACE(std::string(name) + ", round " + std::to_string(round + 1) + ", server " +
                   (signal == SIGKILL ? "killed" : "shut down"));
      qtest::Xvfb server;
      const std::string display = server.start();
      ASSERT_FALSE(display.empty()) << "Xvfb did not start";
      ForeignWindow foreign;
      std::vector<std::string> command{QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_BUNDLE_DIR};
      command.insert(command.end(), args.begin(), args.end());
      if (target == Target::Foreign) {
        ASSERT_TRUE(foreign.open(display));
        command.insert(command.end(), {"--window-id", std::to_string(foreign.id)});
      }
      const std::string errPath = dir_ / ("stderr-" + std::to_string(round));
      const pid_t saver = qtest::spawn(command, {{"DISPLAY", display}, {"LIBGL_ALWAYS_SOFTWARE", "1"},
                                                 {"XSCREENSAVER_WINDOW", ""}}, errPath);
      if (!waitUntilDrawn(display, target, foreign.id, saver)) {
        ADD_FAILURE() << "the saver never drew; it ended: " << qtest::waitEnd(saver, 0ms);
        continue;
      }
      // Kills land at scattered moments of a frame: in the passes, in the present, between frames.
      std::this_thread::sleep_for(std::chrono::milliseconds((round * 137) % 450));
      const Outcome o = killServer(server, signal, saver, errPath);
      EXPECT_EQ(o.end, "exit 1");
      EXPECT_LT(o.cpuShareWhenStuck, 0.1) << "share of a core used in a second after it did not end";
      EXPECT_LT(o.cpuAfterKill, 1.0) << "CPU seconds from the kill to the end";
      EXPECT_EQ(o.errLines.size(), 1u) << ::testing::PrintToString(o.errLines);
      if (!o.errLines.empty()) {
        EXPECT_THAT(o.errLines[0], HasSubstr("lost the connection to the X server " + display));
      }
      if (o.secondsToEnd >= 0) ++ended;
      longest = std::max(longest, o.secondsToEnd);
      mostCpu = std::max(mostCpu, o.cpuAfterKill);
    }
    std::printf("%s: %d/10 ended; longest time to end %.3f s; most CPU after the kill %.3f s\n", name, ended,
                longest, mostCpu);
    RecordProperty("ended", ended);
    RecordProperty("longestMillisecondsToEnd", static_cast<int>(std::lround(longest * 1000)));
  }

  qtest::TempDir dir_;
  qtest::EnvGuard env_;
};

TEST_F(ServerLoss, OwnWindowEndsWithOneLineTenTimesInARow) { tenRounds(Target::OwnWindow, {}, "own window"); }

TEST_F(ServerLoss, RootWindowEndsWithOneLineTenTimesInARow) { tenRounds(Target::Root, {"--root"}, "--root"); }

TEST_F(ServerLoss, ForeignWindowEndsWithOneLineTenTimesInARow) { tenRounds(Target::Foreign, {}, "foreign window"); }

// The stand-in module's frame that never returns (it spins, as a present on a dead connection did): the loop
// cannot notice anything, so the process must be ended from outside the frame.
class StuckFrame : public ServerLoss {
 protected:
  pid_t start(const std::string& display) {
    report_ = dir_ / "report";
    return qtest::spawn({QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_TEST_BUNDLE_DIR},
                       {{"DISPLAY", display}, {"QUELLTRINE_TEST_REPORT", report_}, {"QUELLTRINE_TEST_STUCK_TICK", "3"},
                        {"XSCREENSAVER_WINDOW", ""}},
                       errPath_);
  }
  long reported(const std::string& key) const {
    std::ifstream in(report_);
    std::string k, v;
    while (in >> k >> v && k != key) {}
    return k == key ? std::atol(v.c_str()) : -1;
  }
  // Until the stuck frame has begun (at most 30 s).
  bool waitUntilStuck() const {
    for (auto until = Clock::now() + 30s; Clock::now() < until; std::this_thread::sleep_for(20ms)) {
      if (reported("ticks") >= 3) return true;
    }
    return false;
  }
  std::string report_, errPath_ = dir_ / "stderr";
};

TEST_F(StuckFrame, ServerLostMidFrameEndsWithOneLine) {
  qtest::Xvfb server;
  const std::string display = server.start();
  ASSERT_FALSE(display.empty());
  const pid_t saver = start(display);
  ASSERT_TRUE(waitUntilStuck());
  const Outcome o = killServer(server, SIGKILL, saver, errPath_);
  EXPECT_EQ(o.end, "exit 1");
  EXPECT_LT(o.cpuShareWhenStuck, 0.1) << "share of a core used in a second after it did not end";
  ASSERT_EQ(o.errLines.size(), 1u) << ::testing::PrintToString(o.errLines);
  EXPECT_THAT(o.errLines[0], HasSubstr("lost the connection to the X server " + display));
}

TEST_F(StuckFrame, TerminatingSignalsEndTheProcessBySignal) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(::sigabbrev_np(signal));
    qtest::Xvfb server;
    const std::string display = server.start();
    ASSERT_FALSE(display.empty());
    std::filesystem::remove(dir_ / "report");
    const pid_t saver = start(display);
    ASSERT_TRUE(waitUntilStuck());
    ::kill(saver, signal);
    EXPECT_EQ(qtest::waitEnd(saver, 10s), std::string("killed by SIG") + ::sigabbrev_np(signal));
    EXPECT_EQ(reported("stops"), 0) << "no clean-up: the frame never returned";
    EXPECT_EQ(qtest::readFile(errPath_), "") << "nothing to say about an end that was asked for";
  }
}

}  // namespace
