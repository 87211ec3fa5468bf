// The engine under Xvfb with the stand-in module bundle (TickSaver.saver):
// own window, preview, xscreensaver hack mode, signals, and the options
// window presented with GTK. The stand-in view reports what the engine did
// to it in a small text file.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/xvfb_session.h"

namespace {

using namespace std::chrono_literals;

using qtest::run;
using qtest::spawn;
using qtest::waitExit;

class Gui : public ::testing::Test {
 public:
  static void SetUpTestSuite() { ASSERT_FALSE(qtest::XvfbServer::start().empty()) << "Xvfb did not start"; }
  static void TearDownTestSuite() { qtest::XvfbServer::stop(); }

 protected:
  void SetUp() override {
    report_ = std::filesystem::path(QUELLTRINE_BINARY_DIR) /
              ("gui-report-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove(report_);
    display_ = XOpenDisplay(qtest::XvfbServer::display().c_str());
    ASSERT_NE(display_, nullptr);
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }

  pid_t engine(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), {QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_TEST_BUNDLE_DIR});
    env["QUELLTRINE_TEST_REPORT"] = report_.string();
    if (!env.count("XSCREENSAVER_WINDOW")) env["XSCREENSAVER_WINDOW"] = "";
    return spawn(args, env);
  }

  std::map<std::string, std::string> report() const {
    std::map<std::string, std::string> out;
    std::ifstream in(report_);
    std::string line;
    while (std::getline(in, line)) {
      auto space = line.find(' ');
      if (space != std::string::npos) out[line.substr(0, space)] = line.substr(space + 1);
    }
    return out;
  }
  long value(const std::string& key) const {
    auto r = report();
    return r.count(key) ? std::atol(r[key].c_str()) : -1;
  }
  // Waits until the report says key >= at least.
  bool waitFor(const std::string& key, long atLeast, std::chrono::milliseconds timeout = 10s) const {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      if (value(key) >= atLeast) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  static Window windowNamed(const std::string& name) { return qtest::windowNamed(name); }

  std::filesystem::path report_;
  Display* display_ = nullptr;
};

TEST_F(Gui, OwnWindowTicksThirtyTimesASecondAndQuitsOnQ) {
  pid_t pid = engine({});
  ASSERT_TRUE(waitFor("ticks", 1));
  auto start = value("ticks");
  std::this_thread::sleep_for(2s);
  long perTwoSeconds = value("ticks") - start;
  EXPECT_GE(perTwoSeconds, 50);
  EXPECT_LE(perTwoSeconds, 66);
  EXPECT_EQ(value("width"), 960);
  EXPECT_EQ(value("height"), 600);
  EXPECT_EQ(value("preview"), 0);
  EXPECT_EQ(value("scale"), 1);
  Window w = windowNamed("Quelltrine");
  ASSERT_NE(w, 0u);
  EXPECT_EQ(static_cast<Window>(value("window")), w);  // the layer was given the engine's window

  // Stopped for a second, then continued: no burst of catch-up ticks.
  ::kill(pid, SIGSTOP);
  std::this_thread::sleep_for(1s);
  long beforeContinue = value("ticks");
  ::kill(pid, SIGCONT);
  std::this_thread::sleep_for(150ms);
  EXPECT_LE(value("ticks") - beforeContinue, 7);

  run({"xdotool", "key", "--window", std::to_string(w), "q"});
  EXPECT_EQ(waitExit(pid, 5s), 0);
  EXPECT_EQ(value("stops"), 1);
  EXPECT_EQ(value("released"), 1);
}

TEST_F(Gui, EscapeAndWindowManagerCloseEndTheSaver) {
  pid_t pid = engine({"--preview"});
  ASSERT_TRUE(waitFor("ticks", 1));
  EXPECT_EQ(value("preview"), 1);
  EXPECT_EQ(value("width"), 320);
  EXPECT_EQ(value("height"), 200);
  Window w = windowNamed("Quelltrine");
  ASSERT_NE(w, 0u);
  run({"xdotool", "key", "--window", std::to_string(w), "Escape"});
  EXPECT_EQ(waitExit(pid, 5s), 0);

  pid = engine({});
  ASSERT_TRUE(waitFor("ticks", 1));
  w = windowNamed("Quelltrine");
  ASSERT_NE(w, 0u);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, w, False, NoEventMask, &e);
  XFlush(display_);
  EXPECT_EQ(waitExit(pid, 5s), 0);
  EXPECT_EQ(value("released"), 1);
}

TEST_F(Gui, SigtermEndsCleanly) {
  pid_t pid = engine({"--fullscreen"});
  ASSERT_TRUE(waitFor("ticks", 3));
  EXPECT_EQ(value("width"), 1280);  // one monitor, the whole screen
  ::kill(pid, SIGTERM);
  EXPECT_EQ(waitExit(pid, 5s), 0);
  EXPECT_EQ(value("stops"), 1);
  EXPECT_EQ(value("released"), 1);
}

TEST_F(Gui, SigtermEndsCleanlyWhenFramesAreSlowerThanTheTick) {
  pid_t pid = engine({}, {{"QUELLTRINE_TEST_SLOW_TICK", "1"}});
  ASSERT_TRUE(waitFor("ticks", 3));
  ::kill(pid, SIGTERM);
  EXPECT_EQ(waitExit(pid, 5s), 0);
  EXPECT_EQ(value("released"), 1);
}

TEST_F(Gui, HackModeDrawsIntoTheForeignWindowAndEndsWithIt) {
  Window foreign = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 400, 300, 0, 0, 0);
  XMapWindow(display_, foreign);
  XSync(display_, False);
  unsigned int rootChildrenBefore = 0;
  {
    Window r, p, *children = nullptr;
    XQueryTree(display_, DefaultRootWindow(display_), &r, &p, &children, &rootChildrenBefore);
    if (children) XFree(children);
  }
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%lx", foreign);
  pid_t pid = engine({}, {{"XSCREENSAVER_WINDOW", hex}});
  ASSERT_TRUE(waitFor("ticks", 3));
  EXPECT_EQ(static_cast<Window>(value("window")), foreign);
  EXPECT_EQ(value("width"), 400);
  EXPECT_EQ(value("height"), 300);

  // The saver follows the window's size.
  XResizeWindow(display_, foreign, 500, 350);
  XSync(display_, False);
  auto end = std::chrono::steady_clock::now() + 3s;
  while (value("width") != 500 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(value("width"), 500);
  EXPECT_EQ(value("height"), 350);

  // It never made a window of its own, nor replaced ours.
  unsigned int rootChildrenNow = 0;
  {
    Window r, p, *children = nullptr;
    XQueryTree(display_, DefaultRootWindow(display_), &r, &p, &children, &rootChildrenNow);
    if (children) XFree(children);
  }
  EXPECT_EQ(rootChildrenNow, rootChildrenBefore);

  XDestroyWindow(display_, foreign);
  XSync(display_, False);
  EXPECT_EQ(waitExit(pid, 5s), 0);
  EXPECT_EQ(value("released"), 1);
}

TEST_F(Gui, MissingForeignWindowIsAnErrorNotAHang) {
  pid_t pid = engine({"-window-id", "0x1fffff0"});
  EXPECT_EQ(waitExit(pid, 5s), 1);
}

TEST_F(Gui, OptionsWindowReturnPressesFertig) {
  pid_t pid = engine({"configure"});
  Window w = windowNamed("Quelltrine Screensaver");
  ASSERT_NE(w, 0u);
  std::this_thread::sleep_for(500ms);  // let GTK draw
  XWindowAttributes a{};
  XGetWindowAttributes(display_, w, &a);
  EXPECT_EQ(a.width, 460);
  EXPECT_EQ(a.height, 190);
  auto shot = std::filesystem::path(QUELLTRINE_BINARY_DIR) / "gui-options-window.png";
  EXPECT_EQ(run({"import", "-window", std::to_string(w), shot.string()}), 0);
  EXPECT_GT(std::filesystem::file_size(shot), 1000u);

  // Real key presses (XTEST): GTK ignores sent events. Focus moves off
  // "Fertig" first; Return still presses it, as its key equivalent.
  run({"xdotool", "windowfocus", "--sync", std::to_string(w), "key", "Tab", "Tab", "Return"});
  EXPECT_EQ(waitExit(pid, 5s), 0);
  EXPECT_EQ(value("closes"), 1);
  EXPECT_EQ(value("closedWith"), 14);  // the slider's untouched value
}

}  // namespace
