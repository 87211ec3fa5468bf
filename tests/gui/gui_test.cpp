// The engine under Xvfb with the stand-in bundle TickSaver.saver, which reports what the engine did to it.
#include <filesystem>
#include <fstream>

#include "support/x_pictures.h"  // last: it brings in Xlib

namespace {

using namespace std::chrono_literals;
using qtest::waitEnd;

class Gui : public qtest::XSuite {
 protected:
  pid_t engine(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    std::filesystem::remove(report_);
    args.insert(args.begin(), {QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_TEST_BUNDLE_DIR});
    env["QUELLTRINE_TEST_REPORT"] = report_;
    return qtest::spawn(args, env);
  }
  long value(const std::string& key) const {  // -1: not reported
    std::ifstream in(report_);
    std::string k, v;
    while (in >> k >> v && k != key) {}
    return k == key ? std::atol(v.c_str()) : -1;
  }
  bool waitFor(const std::string& key, long atLeast) const {
    for (int i = 0; i < 500 && value(key) < atLeast; ++i) std::this_thread::sleep_for(20ms);
    return value(key) >= atLeast;
  }
  std::string report_ = std::string(QUELLTRINE_BINARY_DIR) + "/gui-report-" +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

// SIGTERM, even with frames slower than the tick, ends the process by that signal after the clean-up q does.
TEST_F(Gui, OwnWindowQuitsOnQAndOnSigtermWithItsCleanUp) {
  for (std::string how : {"q", "TERM"}) {
    SCOPED_TRACE(how);
    const bool term = how == "TERM";
    pid_t pid = engine({term ? "--fullscreen" : "-window"}, {{"QUELLTRINE_TEST_SLOW_TICK", term ? "1" : ""}});
    ASSERT_TRUE(waitFor("ticks", 3));
    Window w = qtest::windowNamed("Quelltrine");
    ASSERT_NE(w, 0u);
    EXPECT_EQ(value("width"), term ? 1280 : 960);  // fullscreen: the one monitor
    if (term) {
      ::kill(pid, SIGTERM);
    } else {
      qtest::run({"xdotool", "key", "--window", std::to_string(w), "q"});
    }
    EXPECT_EQ(waitEnd(pid, 5s), term ? "killed by SIGTERM" : "exit 0");
    EXPECT_EQ(value("stops"), 1);
    EXPECT_EQ(value("released"), 1);
  }
}

TEST_F(Gui, HackModeEndsWithTheForeignWindowAndWithoutOne) {
  Window foreign = makeWindow(10, 10, 400, 300);
  pid_t pid = engine({}, {{"XSCREENSAVER_WINDOW", std::to_string(foreign)}});
  ASSERT_TRUE(waitFor("ticks", 3));
  EXPECT_EQ(static_cast<Window>(value("window")), foreign);
  XDestroyWindow(display_, foreign), XSync(display_, False);
  EXPECT_EQ(waitEnd(pid, 5s), "exit 0") << "the window it drew into was destroyed";
  EXPECT_EQ(value("released"), 1);
  // A missing window or display is an error, not a hang.
  EXPECT_EQ(waitEnd(engine({"-window-id", "0x1fffff0"}), 5s), "exit 1");
  EXPECT_EQ(waitEnd(engine({"--root", "--display", ":4999"}), 5s), "exit 1") << "--display wins over $DISPLAY";
}

// Arrow keys move the slider a second, page keys five; the ends hold; Return presses "Fertig" wherever the focus
// is. The window shows on the display named by --display, the only one it is told of.
TEST_F(Gui, OptionsWindowSliderMovesBySecondsFromTheKeyboardAndReturnPressesFertig) {
  for (const auto& [keys, seconds] : std::vector<std::pair<std::vector<std::string>, long>>{
           {{"Right", "Up", "Page_Up", "Page_Up", "Page_Down", "Left", "Down"}, 19},
           {{"End", "Page_Up", "Left"}, 59},
           {{"Home", "Page_Down", "Right"}, 6}}) {
    SCOPED_TRACE(::testing::PrintToString(keys));
    pid_t pid = engine({"configure", "--display", std::getenv("DISPLAY")}, {{"DISPLAY", ""}});
    Window w = qtest::windowNamed("Quelltrine Screensaver");
    ASSERT_NE(w, 0u);
    std::this_thread::sleep_for(500ms);
    // "Fertig" has the focus; Tab takes it to the slider, the window's only other control.
    std::vector<std::string> command{"xdotool", "windowfocus", "--sync", std::to_string(w), "key", "Tab"};
    command.insert(command.end(), keys.begin(), keys.end());
    command.push_back("Return");
    qtest::run(command);
    EXPECT_EQ(waitEnd(pid, 5s), "exit 0");
    EXPECT_EQ(value("closes"), 1);
    EXPECT_EQ(value("closedWith"), seconds);
  }
}

// At Xft.dpi 192 the view is half the window's pixels in points and the drawable is the window's pixel size, also
// after a resize.
TEST_F(Gui, AtDoubleDpiTheDrawableIsTheWindowsPixelSize) {
  struct Resources {
    Resources() { ok = qtest::run({"sh", "-c", "echo 'Xft.dpi: 192' | xrdb -merge"}) == "exit 0"; }
    ~Resources() { qtest::run({"xrdb", "-remove"}); }  // the other tests run at 96 dpi
    bool ok = false;
  } resources;
  ASSERT_TRUE(resources.ok) << "xrdb could not set Xft.dpi";

  Window foreign = makeWindow(10, 10, 400, 300);
  pid_t pid = engine({"--window-id", std::to_string(foreign)});
  ASSERT_TRUE(waitFor("ticks", 3));
  EXPECT_EQ(value("width"), 200);
  EXPECT_EQ(value("height"), 150);
  EXPECT_EQ(value("drawableWidth"), 400);
  EXPECT_EQ(value("drawableHeight"), 300);
  XResizeWindow(display_, foreign, 501, 301), XSync(display_, False);
  ASSERT_TRUE(waitFor("drawableWidth", 501));
  EXPECT_EQ(value("drawableWidth"), 501) << "half a point is still a whole pixel";
  EXPECT_EQ(value("drawableHeight"), 301);
  ::kill(pid, SIGTERM);
  waitEnd(pid, 5s);
}

}  // namespace
