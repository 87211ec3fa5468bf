// Tests that run the saver under one Xvfb per suite: what a window shows and pictures with structure to show.
// Brings in Xlib, whose macros (None, Bool, Status) clash with the test framework: include it last.
#pragma once

#include <cmath>

#include "support/render_fixture.h"
#include "support/xvfb_session.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace qtest {

// Luminance of every `step`-th pixel of every `step`-th row of a window; empty when it cannot be read.
inline std::vector<double> lumaOf(Display* d, Window w, int step = 1) {
  XWindowAttributes a{};
  XImage* img = w && XGetWindowAttributes(d, w, &a) ? XGetImage(d, w, 0, 0, static_cast<unsigned>(a.width),
                                                                static_cast<unsigned>(a.height), AllPlanes, ZPixmap)
                                                    : nullptr;
  std::vector<double> luma;
  for (int y = 0; img && y < a.height; y += step) {
    for (int x = 0; x < a.width; x += step) {
      const unsigned long p = XGetPixel(img, x, y);
      luma.push_back(0.299 * double((p >> 16) & 0xff) + 0.587 * double((p >> 8) & 0xff) + 0.114 * double(p & 0xff));
    }
  }
  if (img) XDestroyImage(img);
  return luma;
}

// The standard deviation of luminances: above 10, a picture rather than a blank.
inline double spread(const std::vector<double>& luma) {
  double mean = 0, var = 0;
  for (double v : luma) mean += v / double(luma.size());
  for (double v : luma) var += (v - mean) * (v - mean) / double(luma.size());
  return std::sqrt(var);
}

// An Xvfb in $DISPLAY for the suite; per test an isolated home, software GL and a connection of the test's own.
class XSuite : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    server() = std::make_unique<Xvfb>();
    const std::string display = server()->start();
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";
    ::setenv("DISPLAY", display.c_str(), 1);
  }
  static void TearDownTestSuite() { server().reset(); }

 protected:
  void SetUp() override {
    env_.set("HOME", dir_ / "home");
    env_.set("XDG_CONFIG_HOME", dir_ / "config");
    env_.set("LIBGL_ALWAYS_SOFTWARE", "1");
    env_.unset("XSCREENSAVER_WINDOW");
    std::filesystem::create_directories(dir_ / "home");
    ASSERT_NE(display_ = XOpenDisplay(nullptr), nullptr);
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }
  Window makeWindow(int x, int y, unsigned w, unsigned h) {
    Window win = XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y, w, h, 0, 0, 0);
    XMapWindow(display_, win);
    XSync(display_, False);
    return win;
  }
  // The saver of the build (args after the bundle), its standard error going to errPath_.
  pid_t saver(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
              const std::string& bundle = QUELLTRINE_BUNDLE_DIR) {
    std::vector<std::string> command{QUELLTRINE_ENGINE, "--bundle", bundle};
    command.insert(command.end(), args.begin(), args.end());
    std::filesystem::remove(errPath_);
    return spawn(command, env, errPath_);
  }
  std::vector<std::string> errLines() const {
    std::vector<std::string> lines;
    std::ifstream in(errPath_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Two pictures of diagonal colour bands over a gradient, about `w` x `h`, as the chosen folder.
  void choosePatterns(int w, int h) {
    std::filesystem::create_directories(dir_ / "pictures");
    for (int phase : {0, 20}) {
      const int pw = w - phase, ph = h + 2 * phase;
      std::vector<std::uint8_t> px(static_cast<std::size_t>(pw * ph * 4));
      for (int i = 0; i < pw * ph; ++i) {
        const bool band = ((i % pw + i / pw + phase) / 40) % 2 == 0;
        const std::uint8_t v[4] = {std::uint8_t(band ? 230 : 40), std::uint8_t(255 * (i / pw) / ph),
                                   std::uint8_t(band ? 60 : 250), 255};
        std::copy(v, v + 4, &px[static_cast<std::size_t>(i) * 4]);
      }
      const plat::image::PixelView view{px.data(), pw, ph, static_cast<std::size_t>(pw) * 4};
      ASSERT_TRUE(plat::image::writePNG(dir_ / ("pictures/" + std::to_string(phase) + ".png"), view));
    }
    quelltrine::settings::storeImageFolder(dir_ / "pictures");
  }

  TempDir dir_;
  EnvGuard env_;
  const std::string errPath_ = dir_ / "stderr.txt";
  Display* display_ = nullptr;

 private:
  static std::unique_ptr<Xvfb>& server() {
    static std::unique_ptr<Xvfb> s;
    return s;
  }
};

}  // namespace qtest
