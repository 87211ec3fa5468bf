// The real saver under Xvfb in foreign windows, as xscreensaver's daemon and settings tool start it.
#include <sys/wait.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include <gmock/gmock.h>

#include "host/settings.h"
#include "support/render_fixture.h"
#include "support/xvfb_session.h"
#include "support/x_pictures.h"  // last: it brings in Xlib

namespace {

using namespace std::chrono_literals;

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// The command lines xscreensaver builds from our settings entry: the <command> arguments, alone and with each
// <boolean>'s arg-set or arg-unset. Any other argument-bearing element fails the test, so that a new one is not
// left out silently.
std::vector<std::vector<std::string>> commandLinesOfSettingsEntry(const std::string& xml) {
  std::vector<std::string> base;
  const std::regex command(R"re(<command\s+arg="([^"]*)")re"), choice(R"re(arg-(?:un)?set="([^"]*)")re");
  for (std::sregex_iterator m(xml.begin(), xml.end(), command), end; m != end; ++m) {
    for (auto& w : words((*m)[1])) base.push_back(w);
  }
  std::vector<std::vector<std::string>> lines{base};
  for (std::sregex_iterator m(xml.begin(), xml.end(), choice), end; m != end; ++m) {
    lines.push_back(base);
    for (auto& w : words((*m)[1])) lines.back().push_back(w);
  }
  for (const char* other : {"<number", "<select", "<string", "<file"}) {
    EXPECT_EQ(xml.find(other), std::string::npos) << other << " needs a place in this test";
  }
  return lines;
}

class ForeignWindows : public ::testing::Test {
 public:
  static void SetUpTestSuite() { ASSERT_FALSE(qtest::XvfbServer::start().empty()) << "Xvfb did not start"; }
  static void TearDownTestSuite() { qtest::XvfbServer::stop(); }

 protected:
  struct Run {
    std::string name;
    Window window = 0;
    pid_t pid = -1;
  };

  void SetUp() override {
    env_.set("HOME", dir_ / "home");
    env_.set("XDG_CONFIG_HOME", dir_ / "config");
    env_.set("LIBGL_ALWAYS_SOFTWARE", "1");
    env_.unset("XSCREENSAVER_WINDOW");
    std::filesystem::create_directories(dir_ / "pictures");
    qtest::writePattern(dir_ / "pictures/a.png", 320, 200, 0);
    qtest::writePattern(dir_ / "pictures/b.png", 300, 240, 20);
    quelltrine::settings::storeImageFolder(dir_ / "pictures");
    ASSERT_NE(display_ = XOpenDisplay(qtest::XvfbServer::display().c_str()), nullptr);
  }
  void TearDown() override {
    for (auto& r : runs_) {
      if (r.pid > 0) ::kill(r.pid, SIGKILL), ::waitpid(r.pid, nullptr, 0);
    }
    if (display_) XCloseDisplay(display_);
  }

  Window makeWindow(int x, int y, unsigned w, unsigned h) {
    Window win = XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y, w, h, 0, 0, 0);
    XMapWindow(display_, win);
    XSync(display_, False);
    return win;
  }
  static std::string hexId(Window w) {
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx", w);
    return id;
  }
  // args follow --bundle; env as for qtest::spawn (an empty value unsets).
  void start(std::string name, Window w, std::vector<std::string> args, std::map<std::string, std::string> env) {
    args.insert(args.begin(), {QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_BUNDLE_DIR});
    runs_.push_back({std::move(name), w, qtest::spawn(args, env)});
  }
  // White pixels, as overlay text has them, in the bottom-left corner of a window `width` x `height`.
  int whiteInBottomLeft(Window w, int width, int height) {
    auto luma = qtest::lumaOf(display_, w);
    int n = 0;
    for (int y = height - 70; y < height && !luma.empty(); ++y) {
      for (int x = 0; x < 140; ++x) n += luma[static_cast<std::size_t>(y * width + x)] > 225.0;
    }
    return n;
  }

  qtest::TempDir dir_;
  qtest::EnvGuard env_;
  Display* display_ = nullptr;
  std::vector<Run> runs_;
};

TEST_F(ForeignWindows, EveryCommandLineOfTheSettingsEntryDrawsAndKeepsRunning) {
  const auto lines =
      commandLinesOfSettingsEntry(qtest::readFile(std::string(QUELLTRINE_SOURCE_DIR) + "/data/quelltrine.xml"));
  EXPECT_THAT(lines, ::testing::Contains(std::vector<std::string>{"--root", "--fps"}));
  int slot = 0;
  auto next = [&] { return ++slot, makeWindow(10 + (slot % 7) * 170, 10 + (slot / 7) * 130, 160, 120); };
  for (const auto& line : lines) {
    // The daemon: the window in XSCREENSAVER_WINDOW. The settings tool's preview: --window-id after the entry's words.
    Window w = next();
    start("daemon: " + ::testing::PrintToString(line), w, line, {{"XSCREENSAVER_WINDOW", hexId(w)}});
    w = next();
    auto preview = line;
    preview.insert(preview.end(), {"--window-id", hexId(w)});
    start("preview: " + ::testing::PrintToString(preview), w, preview, {});
  }
  // llvmpipe shares two cores among them all, so the first frames may take a while.
  for (auto& r : runs_) {
    SCOPED_TRACE(r.name);
    double spread = 0;
    for (int i = 0; i < 150 && spread <= 10.0 && ::waitpid(r.pid, nullptr, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(200ms);
      spread = qtest::spread(qtest::lumaOf(display_, r.window));
    }
    EXPECT_GT(spread, 10.0) << "a picture, not a blank";
  }
  std::this_thread::sleep_for(1s);
  for (auto& r : runs_) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(::waitpid(r.pid, nullptr, WNOHANG), 0) << "still running";
    ::kill(r.pid, SIGTERM);
    EXPECT_EQ(qtest::waitEnd(r.pid, 10s), "killed by SIGTERM") << "an end by the signal, as xscreensaver expects";
    r.pid = -1;
  }
}

// The frame rate shows in the bottom-left corner over a dark picture, and only with --fps.
TEST_F(ForeignWindows, FpsShowsTheFrameRateOverThePicture) {
  const std::string dark = dir_ / "dark";
  std::filesystem::create_directories(dark);
  qtest::writeSolidPng(dark + "/night.png", 64, 40, {20, 24, 40});
  quelltrine::settings::storeImageFolder(dark);
  constexpr int kW = 480, kH = 300;
  Window with = makeWindow(0, 0, kW, kH), without = makeWindow(0, kH + 20, kW, kH);
  start("--fps", with, {"--root", "--fps"}, {{"XSCREENSAVER_WINDOW", hexId(with)}});
  start("no --fps", without, {"--root"}, {{"XSCREENSAVER_WINDOW", hexId(without)}});
  int text = 0;
  for (int i = 0; i < 150 && text < 200; ++i) {
    std::this_thread::sleep_for(200ms);
    text = whiteInBottomLeft(with, kW, kH);
  }
  EXPECT_GE(text, 200) << "the text of the frame rate";
  EXPECT_LT(whiteInBottomLeft(without, kW, kH), 10) << "no text without --fps";
}

}  // namespace
