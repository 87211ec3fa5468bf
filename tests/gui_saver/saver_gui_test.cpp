// The real saver under Xvfb, as a person meets it: in a window of its own,
// inside a foreign window given by xscreensaver, and the German options
// window with GTK's folder chooser driven by real clicks and keys
// (xdotool). Screenshots go to build/artifacts/.
#include <cmath>
#include <filesystem>

#include "platform/store/screen_saver_defaults.h"
#include "support/render_fixture.h"
#include "support/xvfb_session.h"

// X11 last: its macros (None, Bool, Status) clash with the test framework.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;
using qtest::run;

// Luminance of every pixel of a window (empty when it cannot be read).
std::vector<double> grab(Display* d, Window w) {
  XWindowAttributes a{};
  XImage* img = XGetWindowAttributes(d, w, &a) ? XGetImage(d, w, 0, 0, static_cast<unsigned>(a.width),
                                                           static_cast<unsigned>(a.height), AllPlanes, ZPixmap)
                                               : nullptr;
  std::vector<double> luma;
  for (int y = 0; img && y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      unsigned long p = XGetPixel(img, x, y);
      luma.push_back(0.299 * double((p >> 16) & 0xff) + 0.587 * double((p >> 8) & 0xff) + 0.114 * double(p & 0xff));
    }
  }
  if (img) XDestroyImage(img);
  return luma;
}

// Diagonal colour bands over a gradient: a picture with structure.
void writePattern(const std::string& path, int w, int h, int phase) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h * 4));
  for (int i = 0; i < w * h; ++i) {
    const bool band = ((i % w + i / w + phase) / 40) % 2 == 0;
    const std::uint8_t v[4] = {std::uint8_t(band ? 230 : 40), std::uint8_t(255 * (i / w) / h), std::uint8_t(band ? 60 : 250), 255};
    std::copy(v, v + 4, &px[static_cast<std::size_t>(i) * 4]);
  }
  ASSERT_TRUE(plat::image::writePNG(path, {px.data(), w, h, static_cast<std::size_t>(w) * 4, plat::image::PixelOrder::BGRA}));
}

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
    writePattern(dir_ / "pictures/a.png", 320, 200, 0);
    writePattern(dir_ / "pictures/b.png", 300, 240, 20);
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
    auto first = grab(display_, w);
    run({"import", "-window", std::to_string(w), artifacts_ + "/" + artifact});
    std::this_thread::sleep_for(1500ms);
    auto second = grab(display_, w);
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(first.size(), second.size());
    double mean = 0, var = 0, change = 0;
    for (double v : first) mean += v / double(first.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
      var += (first[i] - mean) * (first[i] - mean) / double(first.size());
      change += std::abs(first[i] - second[i]) / double(first.size());
    }
    EXPECT_GT(std::sqrt(var), 10.0) << "a picture, not a blank";
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

}  // namespace
