// The real saver under Xvfb, as a person meets it: in a window of its own,
// inside a foreign window given by xscreensaver, and the German options
// window with GTK's folder chooser driven by real clicks and keys
// (xdotool). Screenshots go to build/artifacts/.
#include <sys/wait.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <sstream>

#include <gmock/gmock.h>

#include "platform/store/screen_saver_defaults.h"
#include "support/render_fixture.h"
#include "support/xvfb_session.h"
#include "support/x_pictures.h"  // last: it brings in Xlib

namespace {

using namespace std::chrono_literals;
using qtest::run;

class SaverGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() { ASSERT_FALSE(qtest::XvfbServer::start().empty()) << "Xvfb did not start"; }
  static void TearDownTestSuite() { qtest::XvfbServer::stop(); }

 protected:
  void SetUp() override {
    env_.set("HOME", dir_ / "home");
    env_.set("XDG_CONFIG_HOME", dir_ / "config");
    env_.set("LIBGL_ALWAYS_SOFTWARE", "1");
    env_.unset("XSCREENSAVER_WINDOW");
    std::filesystem::create_directories(dir_ / "pictures");
    std::filesystem::create_directories(artifacts_);
    qtest::writePattern(dir_ / "pictures/a.png", 320, 200, 0);
    qtest::writePattern(dir_ / "pictures/b.png", 300, 240, 20);
    quelltrine::settings::storeImageFolder(dir_ / "pictures");
    display_ = XOpenDisplay(qtest::XvfbServer::display().c_str());
    ASSERT_NE(display_, nullptr);
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }
  pid_t engine(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), {QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_BUNDLE_DIR});
    return qtest::spawn(args, env);
  }
  // The window shows a picture (not a blank) and it moves.
  void expectLivePicture(Window w, const std::string& artifact) {
    std::this_thread::sleep_for(2500ms);
    auto first = qtest::lumaOf(display_, w);
    run({"import", "-window", std::to_string(w), artifacts_ + "/" + artifact});
    std::this_thread::sleep_for(1500ms);
    auto second = qtest::lumaOf(display_, w);
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(first.size(), second.size());
    double change = 0;
    for (std::size_t i = 0; i < first.size(); ++i) change += std::abs(first[i] - second[i]) / double(first.size());
    EXPECT_GT(qtest::spread(first), 10.0) << "a picture, not a blank";
    EXPECT_GT(change, 0.5) << "the frames move";
  }

  qtest::TempDir dir_;
  qtest::EnvGuard env_;
  const std::string artifacts_ = std::string(QUELLTRINE_BINARY_DIR) + "/artifacts";
  Display* display_ = nullptr;
};

TEST_F(SaverGui, OwnWindowShowsThePicturesMovingAndQuitsOnQ) {
  pid_t pid = engine({});
  Window w = qtest::windowNamed("Quelltrine");
  ASSERT_NE(w, 0u);
  expectLivePicture(w, "saver-own-window.png");
  run({"xdotool", "windowfocus", "--sync", std::to_string(w), "key", "q"});
  EXPECT_EQ(qtest::waitExit(pid, 10s), 0);
}

TEST_F(SaverGui, HackModeDrawsIntoTheForeignWindowAndNeverReplacesIt) {
  Window foreign = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 400, 250, 0, 0, 0);
  XMapWindow(display_, foreign);
  XSync(display_, False);
  auto topLevels = [&] {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &n);
    if (children) XFree(children);
    return n;
  };
  const unsigned before = topLevels();
  char id[32];
  std::snprintf(id, sizeof id, "0x%lx", foreign);
  pid_t pid = engine({"--root"}, {{"XSCREENSAVER_WINDOW", id}});
  expectLivePicture(foreign, "saver-foreign-window.png");
  EXPECT_EQ(topLevels(), before) << "no window of its own";
  XDestroyWindow(display_, foreign);
  XSync(display_, False);
  EXPECT_EQ(qtest::waitExit(pid, 10s), 0) << "the window going away ends the saver cleanly";
}

TEST_F(SaverGui, OptionsWindowChoosesAFolderThroughTheChooserAndReturnCloses) {
  const std::string chosen = dir_ / "home/Neue Bilder";
  std::filesystem::create_directories(chosen);
  pid_t pid = engine({"configure"});
  Window w = qtest::windowNamed("Quelltrine Screensaver");
  ASSERT_NE(w, 0u);
  std::this_thread::sleep_for(500ms);
  run({"import", "-window", std::to_string(w), artifacts_ + "/options-window.png"});

  // "Ordner wählen …" lies 16..166 from the left, 82..110 from the top.
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(display_, w, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
  run({"xdotool", "mousemove", std::to_string(x + 90), std::to_string(y + 96), "click", "1"});
  Window chooser = qtest::windowNamed("Ordner w\u00e4hlen");
  ASSERT_NE(chooser, 0u) << "GTK's folder chooser opened";
  run({"xdotool", "windowfocus", "--sync", std::to_string(chooser), "key", "ctrl+l"});
  std::this_thread::sleep_for(300ms);
  run({"xdotool", "type", "--delay", "15", chosen + "/"});
  std::this_thread::sleep_for(300ms);
  run({"xdotool", "key", "Return"});

  // Stored and flushed at once, before "Fertig".
  for (int i = 0; i < 200 && quelltrine::settings::imageFolderPath() != chosen; ++i) std::this_thread::sleep_for(50ms);
  EXPECT_EQ(quelltrine::settings::imageFolderPath(), chosen);
  std::this_thread::sleep_for(500ms);
  run({"import", "-window", std::to_string(w), artifacts_ + "/options-window-after-choosing.png"});

  run({"xdotool", "windowfocus", "--sync", std::to_string(w), "key", "Return"});
  EXPECT_EQ(qtest::waitExit(pid, 10s), 0);
  auto store = plat::store::ScreenSaverDefaults::defaultsForModuleWithName("com.quelltrine.saver");
  ASSERT_TRUE(store);
  EXPECT_EQ(store->doubleForKey("interval"), 14.0) << "Return stored the untouched slider's value";
}

// The command lines xscreensaver builds from our settings entry: the <command> arguments plus one choice per
// <boolean> (its arg-set, or its arg-unset, or nothing). Any other argument-bearing element fails the test, so
// that a new one is not left out silently.
std::vector<std::vector<std::string>> commandLinesOfSettingsEntry(const std::string& xml) {
  auto words = [](const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
  };
  std::vector<std::string> base;
  const std::regex command(R"re(<command\s+arg="([^"]*)")re");
  for (std::sregex_iterator m(xml.begin(), xml.end(), command), end; m != end; ++m) {
    for (auto& w : words((*m)[1])) base.push_back(w);
  }
  std::vector<std::vector<std::string>> lines{base};
  const std::regex boolean(R"re(<boolean\b[^>]*>)re"), set(R"re(arg-set="([^"]*)")re"),
      unset(R"re(arg-unset="([^"]*)")re");
  for (std::sregex_iterator m(xml.begin(), xml.end(), boolean), end; m != end; ++m) {
    const std::string element = m->str();
    std::smatch on, off;
    const bool hasOn = std::regex_search(element, on, set), hasOff = std::regex_search(element, off, unset);
    std::vector<std::vector<std::string>> next;
    for (const auto& line : lines) {
      for (const std::string& choice : {hasOn ? on[1].str() : std::string(), hasOff ? off[1].str() : std::string()}) {
        auto extended = line;
        for (auto& w : words(choice)) extended.push_back(w);
        next.push_back(extended);
      }
    }
    lines = next;
  }
  for (const char* other : {"<number", "<select", "<string", "<file"}) {
    EXPECT_EQ(xml.find(other), std::string::npos) << other << " needs a place in this test";
  }
  return lines;
}

// Savers started in foreign windows, as xscreensaver's daemon and settings tool start them, all at once.
class ForeignWindows : public SaverGui {
 protected:
  struct Run {
    std::string name;
    Window window = 0;
    pid_t pid = -1;
  };

  void TearDown() override {
    for (auto& r : runs_) {
      if (r.pid > 0) ::kill(r.pid, SIGKILL), ::waitpid(r.pid, nullptr, 0);
    }
    SaverGui::TearDown();
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
    runs_.push_back({std::move(name), w, engine(std::move(args), std::move(env))});
  }

  // Near-white pixels (the overlay's text) in the bottom-left corner of a window.
  // White pixels, as overlay text has them, in rows y0 .. y1-1 and columns
  // 0 .. x1-1 of a window `width` pixels wide.
  int whiteIn(Window w, int width, int y0, int y1, int x1) {
    auto luma = qtest::lumaOf(display_, w);
    int n = 0;
    for (int y = y0; y < y1 && !luma.empty(); ++y) {
      for (int x = 0; x < x1; ++x) n += luma[static_cast<std::size_t>(y * width + x)] > 225.0;
    }
    return n;
  }
  int whiteInBottomLeft(Window w, int width, int height) { return whiteIn(w, width, height - 70, height, 140); }

  std::vector<Run> runs_;
};

TEST_F(ForeignWindows, EveryCommandLineOfTheSettingsEntryAndEveryHackOptionDrawsAndKeepsRunning) {
  const auto lines = commandLinesOfSettingsEntry(qtest::readFile(std::string(QUELLTRINE_SOURCE_DIR) + "/data/quelltrine.xml"));
  ASSERT_EQ(lines.size(), 2u) << "--root, with and without the frame rate";
  EXPECT_THAT(lines, ::testing::Contains(std::vector<std::string>{"--root", "--fps"}));
  constexpr unsigned kW = 160, kH = 120;
  int slot = 0;
  auto next = [&] {
    const int i = slot++;
    return makeWindow(10 + (i % 6) * (kW + 10), 10 + (i / 6) * (kH + 10), kW, kH);
  };
  for (const auto& line : lines) {
    // The daemon: the window in XSCREENSAVER_WINDOW. The settings tool's preview: --window-id after the entry's words.
    Window w = next();
    start("daemon: " + ::testing::PrintToString(line), w, line, {{"XSCREENSAVER_WINDOW", hexId(w)}});
    w = next();
    auto preview = line;
    preview.insert(preview.end(), {"--window-id", hexId(w)});
    start("preview: " + ::testing::PrintToString(preview), w, preview, {});
  }
  // The options every hack's man page lists.
  for (std::vector<std::string> args : {std::vector<std::string>{"-fps"}, {"--visual", "default"}, {"--install"},
                                        {"-root", "-install", "-visual", "TrueColor", "-mono", "-no-fps"}}) {
    Window w = next();
    start(::testing::PrintToString(args), w, args, {{"XSCREENSAVER_WINDOW", hexId(w)}});
  }
  Window w = next();
  start("--window-id=ID", w, {"--window-id=" + hexId(w)}, {});
  w = next();
  start("--display", w, {"--display", qtest::XvfbServer::display(), "--root"},
        {{"XSCREENSAVER_WINDOW", hexId(w)}, {"DISPLAY", ""}});  // only the option names the display

  // Each window shows a picture that moves, while its saver keeps running; llvmpipe shares two cores among
  // all of them, so the first frames may take a while.
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

// The frame rate shows in the bottom-left corner over what the module draws, and only with --fps.
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
  run({"import", "-window", std::to_string(with), artifacts_ + "/saver-fps.png"});
  EXPECT_GE(text, 200) << "the text of the frame rate";
  EXPECT_LT(whiteInBottomLeft(without, kW, kH), 10) << "no text without --fps";
}

// Without pictures a German notice naming the folder shows at the top left
// over the fallback colour; with pictures there is none.
TEST_F(ForeignWindows, NoPicturesShowsANoticeOverTheView) {
  const std::string empty = dir_ / "empty", dark = dir_ / "dark";
  std::filesystem::create_directories(empty);
  std::filesystem::create_directories(dark);
  qtest::writeSolidPng(dark + "/night.png", 64, 40, {20, 24, 40});
  constexpr int kW = 480, kH = 300;
  Window bare = makeWindow(0, 0, kW, kH), shown = makeWindow(0, kH + 20, kW, kH);
  quelltrine::settings::storeImageFolder(empty);
  start("empty folder", bare, {"--root"}, {{"XSCREENSAVER_WINDOW", hexId(bare)}});
  int text = 0;
  for (int i = 0; i < 150 && text < 200; ++i) {
    std::this_thread::sleep_for(200ms);
    text = whiteIn(bare, kW, 0, 90, kW);
  }
  run({"import", "-window", std::to_string(bare), artifacts_ + "/saver-no-pictures.png"});
  EXPECT_GE(text, 200) << "the notice over an empty folder";
  quelltrine::settings::storeImageFolder(dark);
  start("pictures", shown, {"--root"}, {{"XSCREENSAVER_WINDOW", hexId(shown)}});
  // The first frames may take a while on llvmpipe: wait until the window is
  // drawn into at all, then give a notice time to appear if one would.
  double centre = 0;
  for (int i = 0; i < 150 && centre <= 0.0; ++i) {
    std::this_thread::sleep_for(200ms);
    auto luma = qtest::lumaOf(display_, shown);
    centre = luma.empty() ? 0.0 : luma[static_cast<std::size_t>(kW * kH / 2 + kW / 2)];
  }
  std::this_thread::sleep_for(1s);
  EXPECT_LT(whiteIn(shown, kW, 0, 90, kW), 10) << "no notice when pictures are shown";
}

}  // namespace
