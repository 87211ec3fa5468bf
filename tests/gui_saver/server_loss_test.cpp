// The X server killed (SIGKILL) or shut down (SIGTERM) under the real saver drawing into a window of its own, the
// root window or a foreign window, ten rounds each, an Xvfb per round. The saver must end with status 1 and one
// line on stderr, without spinning on the dead connection.
#include <sys/resource.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include <gmock/gmock.h>

#include "host/settings.h"
#include "support/render_fixture.h"
#include "support/xvfb_session.h"
#include "support/x_pictures.h"  // last: it brings in Xlib

namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

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

enum class Target { OwnWindow, Root, Foreign };

// Until `target` shows a picture (at most 60 s: llvmpipe on a shared machine). Closes its own connection first,
// so that the test process never touches a dead server.
bool waitUntilDrawn(const std::string& display, Target target, Window foreign, pid_t saver) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return false;
  bool drawn = false;
  for (auto until = Clock::now() + 60s; !drawn && Clock::now() < until && ::waitpid(saver, nullptr, WNOHANG) == 0;) {
    const Window w = target == Target::Root      ? DefaultRootWindow(d)
                     : target == Target::Foreign ? foreign
                                                 : qtest::windowNamed("Quelltrine");  // on $DISPLAY
    drawn = qtest::spread(qtest::lumaOf(d, w, 8)) > 10.0;
    if (!drawn) std::this_thread::sleep_for(100ms);
  }
  XCloseDisplay(d);
  return drawn;
}

TEST(ServerLoss, SaverEndsWithOneLineTenTimesInARow) {
  qtest::TempDir dir;
  qtest::EnvGuard env;
  env.set("HOME", dir / "home");
  env.set("XDG_CONFIG_HOME", dir / "config");
  std::filesystem::create_directories(dir / "pictures");
  qtest::writePattern(dir / "pictures/a.png", 640, 400, 0);
  qtest::writePattern(dir / "pictures/b.png", 600, 480, 20);
  quelltrine::settings::storeImageFolder(dir / "pictures");

  const struct {
    const char* name;
    Target target;
    std::vector<std::string> args;
  } targets[] = {{"own window", Target::OwnWindow, {}}, {"--root", Target::Root, {"--root"}},
                 {"foreign window", Target::Foreign, {}}};
  for (const auto& t : targets) {
    for (int round = 0; round < 10; ++round) {
      const int signal = round % 2 == 0 ? SIGKILL : SIGTERM;
      SCOPED_TRACE(std::string(t.name) + ", round " + std::to_string(round + 1) + ", " + ::sigabbrev_np(signal));
      qtest::Xvfb server;
      const std::string display = server.start();
      ASSERT_FALSE(display.empty()) << "Xvfb did not start";
      env.set("DISPLAY", display);
      ForeignWindow foreign;
      std::vector<std::string> command{QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_BUNDLE_DIR};
      command.insert(command.end(), t.args.begin(), t.args.end());
      if (t.target == Target::Foreign) {
        ASSERT_TRUE(foreign.open(display));
        command.insert(command.end(), {"--window-id", std::to_string(foreign.id)});
      }
      const std::string errPath = dir / "stderr";
      const pid_t saver = qtest::spawn(
          command, {{"DISPLAY", display}, {"LIBGL_ALWAYS_SOFTWARE", "1"}, {"XSCREENSAVER_WINDOW", ""}}, errPath);
      if (!waitUntilDrawn(display, t.target, foreign.id, saver)) {
        ADD_FAILURE() << "the saver never drew; it ended: " << qtest::waitEnd(saver, 0ms);
        continue;
      }
      // Kills land at scattered moments of a frame: in the passes, in the present, between frames.
      std::this_thread::sleep_for(std::chrono::milliseconds((round * 137) % 450));
      const double cpuAtKill = cpuSeconds(saver);
      server.kill(signal);
      int status = 0;
      rusage usage{};
      pid_t ended = 0;
      for (auto until = Clock::now() + 10s; ended == 0 && Clock::now() < until; std::this_thread::sleep_for(5ms)) {
        ended = ::wait4(saver, &status, WNOHANG, &usage);
      }
      if (ended != saver) {
        ADD_FAILURE() << "still running 10 s after the server went away";
        qtest::waitEnd(saver, 0ms);
        continue;
      }
      EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
      EXPECT_EQ(WEXITSTATUS(status), 1);
      const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
      EXPECT_LT(cpu - cpuAtKill, 1.0) << "CPU seconds from the kill to the end: it spun on the dead connection";
      std::vector<std::string> lines;
      std::ifstream err(errPath);
      for (std::string line; std::getline(err, line);) lines.push_back(line);
      EXPECT_THAT(lines, ElementsAre(HasSubstr("lost the connection to the X server " + display)));
    }
  }
}

}  // namespace
