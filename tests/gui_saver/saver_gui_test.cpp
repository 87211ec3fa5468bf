// The real saver under Xvfb in foreign windows, as xscreensaver's daemon and settings tool start it, and when
// something is wrong: then it says why in one line, and nothing a decoding library says by itself reaches stderr.
#include <sys/wait.h>

#include <iterator>
#include <regex>
#include <sstream>

#include <gmock/gmock.h>

#include "support/x_pictures.h"  // last: it brings in Xlib

namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

// The command lines xscreensaver builds from our settings entry: the <command> arguments, alone and with each
// <boolean>'s arg-set or arg-unset. Any other argument-bearing element fails, so that none is left out silently.
std::vector<std::vector<std::string>> commandLinesOfSettingsEntry(const std::string& xml) {
  std::string base;
  const std::regex command(R"re(<command\s+arg="([^"]*)")re"), choice(R"re(arg-(?:un)?set="([^"]*)")re");
  for (std::sregex_iterator m(xml.begin(), xml.end(), command), end; m != end; ++m) base += " " + (*m)[1].str();
  std::vector<std::vector<std::string>> lines{words(base)};
  for (std::sregex_iterator m(xml.begin(), xml.end(), choice), end; m != end; ++m) {
    lines.push_back(words(base + " " + (*m)[1].str()));
  }
  for (const char* other : {"<number", "<select", "<string", "<file"}) {
    EXPECT_EQ(xml.find(other), std::string::npos) << other << " needs a place in this test";
  }
  return lines;
}

class Saver : public qtest::XSuite {
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
    XSuite::TearDown();
  }
  static std::string hexId(Window w) {
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx", w);
    return id;
  }
  void start(std::string name, Window w, const std::vector<std::string>& args, std::map<std::string, std::string> env) {
    runs_.push_back({std::move(name), w, saver(args, env)});
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

  std::vector<Run> runs_;
};

TEST_F(Saver, EveryCommandLineOfTheSettingsEntryDrawsAndKeepsRunning) {
  choosePatterns(320, 200);
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
TEST_F(Saver, FpsShowsTheFrameRateOverThePicture) {
  fs::create_directories(dir_ / "dark");
  qtest::writeSolidPng(dir_ / "dark/night.png", 64, 40, {20, 24, 40});
  quelltrine::settings::storeImageFolder(dir_ / "dark");
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

TEST_F(Saver, WithoutAGpuEveryModeEndsAtOnceWithOneLineSayingWhy) {
  Window foreign = makeWindow(0, 0, 320, 200);
  env_.set("__EGL_VENDOR_LIBRARY_FILENAMES", "/nonexistent.json");
  const struct {
    const char* mode;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
  } modes[] = {{"own window", {}, {}},
               {"root window", {"-root"}, {}},
               {"xscreensaver's window", {}, {{"XSCREENSAVER_WINDOW", std::to_string(foreign)}}},
               {"offscreen PNG", {"render-png", dir_ / "out.png"}, {{"DISPLAY", ""}}}};
  for (const auto& m : modes) {
    SCOPED_TRACE(m.mode);
    EXPECT_EQ(qtest::waitEnd(saver(m.args, m.env), 10s), "exit 1");
    EXPECT_THAT(errLines(), ElementsAre(HasSubstr("GPU")));
  }
  EXPECT_FALSE(fs::exists(dir_ / "out.png"));
  XWindowAttributes a{};
  EXPECT_NE(XGetWindowAttributes(display_, foreign, &a), 0) << "the foreign window is left as it was";
}

TEST_F(Saver, ABundleWithoutItsShaderLibraryEndsWithOneLineNamingIt) {
  const std::string bundle = qtest::makeBundle(dir_ / "Missing.saver", "");
  fs::copy_file(std::string(QUELLTRINE_BUNDLE_DIR) + "/Contents/MacOS/QuelltrineSaver",
                bundle + "/Contents/MacOS/QuelltrineSaver");
  EXPECT_EQ(qtest::waitEnd(saver({}, {}, bundle), 10s), "exit 1");
  EXPECT_THAT(errLines(), ElementsAre(HasSubstr("default.glsllib")));
}

TEST_F(Saver, APictureFolderWithoutPicturesIsNamedOnce) {
  const std::string broken = dir_ / "broken";
  fs::create_directories(broken);
  std::ofstream(broken + "/a.jpg") << "not a picture";
  std::ofstream(broken + "/b.png") << "\x89PNG\r\n\x1a\n cut off";
  // The HEIF decoder prints "SPS error: ..." about this one by itself.
  fs::copy_file(QUELLTRINE_SOURCE_DIR "/tests/image/fixtures/heif-sps-error.heic", broken + "/c.heic");
  for (const std::string& folder : {std::string(dir_ / "gone"), broken}) {
    SCOPED_TRACE(folder);
    quelltrine::settings::storeImageFolder(folder);
    const pid_t pid = saver({});
    for (int i = 0; i < 300 && errLines().empty(); ++i) std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(1s);  // time to say it twice
    ::kill(pid, SIGTERM);
    EXPECT_EQ(qtest::waitEnd(pid, 10s), "killed by SIGTERM") << "the saver keeps running until it is ended";
    EXPECT_THAT(errLines(), ElementsAre(HasSubstr(folder)));
  }
}

}  // namespace
