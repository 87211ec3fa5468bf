// The real saver under Xvfb, as a person meets it: the engine with the
// module bundle in a window of its own and inside a foreign window given by
// xscreensaver, and the German options window with GTK's folder chooser
// driven by real key presses and clicks (xdotool). Screenshots go to
// build/artifacts/ for a person to look at.
#include <cmath>
#include <filesystem>

#include "support/render_fixture.h"
#include "platform/store/screen_saver_defaults.h"
#include "support/xvfb_session.h"

// X11 last: its macros (None, Bool, Status) clash with the test framework.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;
using qtest::run;
using qtest::spawn;
using qtest::waitExit;

struct Frame {
  int width = 0;
  int height = 0;
  std::vector<double> luma;  // one value per pixel, 0..255
};

Frame grab(Display* d, Window w) {
  Frame f;
  XWindowAttributes a{};
  if (!XGetWindowAttributes(d, w, &a)) return f;
  XImage* img = XGetImage(d, w, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
  if (!img) return f;
  f.width = a.width;
  f.height = a.height;
  f.luma.reserve(static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.height));
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      unsigned long p = XGetPixel(img, x, y);
      double r = static_cast<double>((p >> 16) & 0xff), g = static_cast<double>((p >> 8) & 0xff),
             b = static_cast<double>(p & 0xff);
      f.luma.push_back(0.299 * r + 0.587 * g + 0.114 * b);
    }
  }
  XDestroyImage(img);
  return f;
}

double spread(const Frame& f) {
  if (f.luma.empty()) return 0.0;
  double mean = 0.0;
  for (double v : f.luma) mean += v;
  mean /= static_cast<double>(f.luma.size());
  double var = 0.0;
  for (double v : f.luma) var += (v - mean) * (v - mean);
  return std::sqrt(var / static_cast<double>(f.luma.size()));
}

double meanChange(const Frame& a, const Frame& b) {
  if (a.luma.size() != b.luma.size() || a.luma.empty()) return 0.0;
  double sum = 0.0;
  for (std::size_t i = 0; i < a.luma.size(); ++i) sum += std::abs(a.luma[i] - b.luma[i]);
  return sum / static_cast<double>(a.luma.size());
}

// A picture with structure: diagonal colour bands over a gradient.
void writePatternPng(const std::string& path, int width, int height, int phase) {
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &bgra[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4];
      bool band = ((x + y + phase) / 40) % 2 == 0;
      p[0] = static_cast<std::uint8_t>(band ? 230 : 40);
      p[1] = static_cast<std::uint8_t>(255 * y / height);
      p[2] = static_cast<std::uint8_t>(band ? 60 : 250);
      p[3] = 255;
    }
  }
  plat::image::PixelView view{bgra.data(), width, height, static_cast<std::size_t>(width) * 4,
                              plat::image::PixelOrder::BGRA};
  ASSERT_TRUE(plat::image::writePNG(path, view));
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
    std::filesystem::create_directories(dir_ / "home");
    pictures_ = dir_ / "Urlaub 2026";
    std::filesystem::create_directories(pictures_);
    writePatternPng(pictures_ + "/a.png", 320, 200, 0);
    writePatternPng(pictures_ + "/b.png", 300, 240, 20);
    quelltrine::settings::storeImageFolder(pictures_);
    display_ = XOpenDisplay(qtest::XvfbServer::display().c_str());
    ASSERT_NE(display_, nullptr);
    std::filesystem::create_directories(artifacts());
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }

  pid_t engine(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), {QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_BUNDLE_DIR});
    return spawn(args, env);
  }
  static std::string artifacts() { return std::string(QUELLTRINE_BINARY_DIR) + "/artifacts"; }
  std::size_t topLevelWindows() {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &n);
    if (children) XFree(children);
    return n;
  }

  qtest::TempDir dir_;
  qtest::EnvGuard env_;
  std::string pictures_;
  Display* display_ = nullptr;
};

TEST_F(SaverGui, OwnWindowShowsThePicturesMovingAndQuitsOnQ) {
  pid_t pid = engine({});
  Window w = qtest::windowNamed("Quelltrine");
  ASSERT_NE(w, 0u);
  std::this_thread::sleep_for(2500ms);
  Frame first = grab(display_, w);
  run({"import", "-window", std::to_string(w), artifacts() + "/saver-own-window.png"});
  std::this_thread::sleep_for(1500ms);
  Frame second = grab(display_, w);
  ASSERT_GT(first.width, 0);
  EXPECT_GT(spread(first), 10.0) << "the window shows a picture, not a blank";
  EXPECT_GT(meanChange(first, second), 0.5) << "the frames move";

  run({"xdotool", "windowfocus", "--sync", std::to_string(w), "key", "q"});
  EXPECT_EQ(waitExit(pid, 10s), 0);
}

TEST_F(SaverGui, HackModeDrawsIntoTheForeignWindowAndNeverReplacesIt) {
  Window foreign = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 400, 250, 0, 0, 0);
  XMapWindow(display_, foreign);
  XSync(display_, False);
  const std::size_t before = topLevelWindows();

  char id[32];
  std::snprintf(id, sizeof id, "0x%lx", foreign);
  pid_t pid = engine({"--root"}, {{"XSCREENSAVER_WINDOW", id}});
  std::this_thread::sleep_for(3000ms);
  Frame first = grab(display_, foreign);
  run({"import", "-window", id, artifacts() + "/saver-foreign-window.png"});
  std::this_thread::sleep_for(1500ms);
  Frame second = grab(display_, foreign);
  EXPECT_EQ(first.width, 400);
  EXPECT_GT(spread(first), 10.0);
  EXPECT_GT(meanChange(first, second), 0.5);
  EXPECT_EQ(topLevelWindows(), before) << "no window of its own";

  XDestroyWindow(display_, foreign);
  XSync(display_, False);
  EXPECT_EQ(waitExit(pid, 10s), 0) << "the window going away ends the saver cleanly";
}

TEST_F(SaverGui, OptionsWindowChoosesAFolderThroughTheChooserAndReturnCloses) {
  const std::string chosen = dir_ / "home/Neue Bilder";
  std::filesystem::create_directories(chosen);
  writePatternPng(chosen + "/c.png", 200, 200, 7);

  pid_t pid = engine({"configure"});
  Window w = qtest::windowNamed("Quelltrine Screensaver");
  ASSERT_NE(w, 0u);
  std::this_thread::sleep_for(500ms);
  run({"import", "-window", std::to_string(w), artifacts() + "/options-window.png"});

  // "Ordner wählen …": 16..166 from the left, 82..110 from the top.
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
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (quelltrine::settings::imageFolderPath() != chosen && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(quelltrine::settings::imageFolderPath(), chosen);
  std::this_thread::sleep_for(500ms);
  run({"import", "-window", std::to_string(w), artifacts() + "/options-window-after-choosing.png"});

  run({"xdotool", "windowfocus", "--sync", std::to_string(w), "key", "Return"});
  EXPECT_EQ(waitExit(pid, 10s), 0);
  EXPECT_EQ(quelltrine::settings::effectiveInterval(), 14.0);
  auto store = plat::store::ScreenSaverDefaults::defaultsForModuleWithName("com.quelltrine.saver");
  ASSERT_TRUE(store);
  EXPECT_EQ(store->doubleForKey("interval"), 14.0) << "Return stored the untouched slider's value";
}

}  // namespace
