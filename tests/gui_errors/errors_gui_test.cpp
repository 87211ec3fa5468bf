// The real saver under Xvfb when something is wrong, as xscreensaver and a
// person meet it: without a GPU, or with a bundle whose shader library is
// missing or broken, every mode ends at once with exit status 1 and one line
// saying why; a picture folder that is missing, empty, without pictures or
// with only broken ones is named once, with what was found (and nothing a
// decoding library says by itself reaches stderr); --verbose lists each
// skipped picture with the decoder's reason, the libraries' notes, and a
// damaged preferences file.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

#include "support/render_fixture.h"
#include "support/xvfb_session.h"

// X11 last: its macros (None, Bool, Status) clash with the test framework.
#include <X11/Xlib.h>

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;
namespace fs = std::filesystem;

// A HEIC with one bit of its SPS flipped, which libde265 complains about.
const std::string kSpsError = QUELLTRINE_SOURCE_DIR "/tests/image/fixtures/heif-sps-error.heic";

class EngineErrors : public ::testing::Test {
 public:
  static void SetUpTestSuite() { ASSERT_FALSE(qtest::XvfbServer::start().empty()) << "Xvfb did not start"; }
  static void TearDownTestSuite() { qtest::XvfbServer::stop(); }

 protected:
  void SetUp() override {
    env_.set("HOME", dir_ / "home");
    env_.set("XDG_CONFIG_HOME", dir_ / "config");
    env_.set("LIBGL_ALWAYS_SOFTWARE", "1");
    env_.unset("XSCREENSAVER_WINDOW");
    fs::create_directories(dir_ / "home");
    display_ = XOpenDisplay(qtest::XvfbServer::display().c_str());
    ASSERT_NE(display_, nullptr);
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }

  // The engine with its standard error going to a file of this test's.
  pid_t engine(const std::vector<std::string>& args, std::map<std::string, std::string> env = {},
               const std::string& bundle = QUELLTRINE_BUNDLE_DIR) {
    std::vector<std::string> command{QUELLTRINE_ENGINE, "--bundle", bundle};
    command.insert(command.end(), args.begin(), args.end());
    fs::remove(errPath_);
    return qtest::spawn(command, env, errPath_);
  }
  std::vector<std::string> errLines() const {
    std::vector<std::string> lines;
    std::ifstream in(errPath_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Waits until the saver has said something, lets it tick a second more,
  // then ends it as xscreensaver does.
  // How it ended after SIGTERM: "killed by SIGTERM" when it ran until then.
  std::string runUntilItSpeaks(pid_t pid) {
    for (int i = 0; i < 300 && errLines().empty(); ++i) std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(1s);
    ::kill(pid, SIGTERM);
    return qtest::waitEnd(pid, 10s);
  }
  unsigned long foreignWindow() {
    Window w = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 320, 200, 0, 0, 0);
    XMapWindow(display_, w);
    XSync(display_, False);
    return w;
  }
  // A bundle of the saver's module with the shader library resource as given (none when empty).
  std::string bundleWithLibrary(const std::string& name, const std::string& library) {
    const std::string bundle = qtest::makeBundle(dir_ / name, library);
    fs::copy_file(std::string(QUELLTRINE_BUNDLE_DIR) + "/Contents/MacOS/QuelltrineSaver",
                  bundle + "/Contents/MacOS/QuelltrineSaver");
    return bundle;
  }

  qtest::TempDir dir_;
  qtest::EnvGuard env_;
  const std::string errPath_ = dir_ / "stderr.txt";
  Display* display_ = nullptr;
};

TEST_F(EngineErrors, WithoutAGpuEveryModeEndsAtOnceWithOneLineSayingWhy) {
  const std::string window = std::to_string(foreignWindow());
  const std::map<std::string, std::string> noGpu{{"__EGL_VENDOR_LIBRARY_FILENAMES", "/nonexistent.json"}};
  auto with = [&](std::map<std::string, std::string> more) {
    more.insert(noGpu.begin(), noGpu.end());
    return more;
  };
  const struct {
    const char* mode;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
  } modes[] = {{"own window", {}, noGpu},
               {"full screen", {"--fullscreen"}, noGpu},
               {"preview", {"--preview"}, noGpu},
               {"root window", {"-root"}, noGpu},
               {"foreign window", {"-window-id", window}, noGpu},
               {"xscreensaver's window", {}, with({{"XSCREENSAVER_WINDOW", window}})},
               {"offscreen PNG", {"render-png", dir_ / "out.png"}, with({{"DISPLAY", ""}})}};
  for (const auto& m : modes) {
    SCOPED_TRACE(m.mode);
    EXPECT_EQ(qtest::waitExit(engine(m.args, m.env), 10s), 1);
    const auto lines = errLines();
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_THAT(lines[0], StartsWith("quelltrine-saver: "));
    EXPECT_THAT(lines[0], HasSubstr("no GPU device: "));
    EXPECT_THAT(lines[0], HasSubstr("EGL")) << "the EGL step that failed is named";
  }
  EXPECT_FALSE(fs::exists(dir_ / "out.png"));
  XWindowAttributes a{};
  EXPECT_NE(XGetWindowAttributes(display_, std::stoul(window), &a), 0) << "the foreign window is left as it was";
}

TEST_F(EngineErrors, ABundleWithoutAUsableShaderLibraryEndsWithOneLineNamingIt) {
  const std::string real = qtest::realShaderLibrary();
  const struct {
    const char* name;
    std::string library;
    const char* says;
  } bundles[] = {{"Missing.saver", "", "the bundle has no resource default.glsllib"},
                 {"Broken.saver", "//@function f_present geometry\n", "malformed shader library: line 1"},
                 {"Half.saver", real.substr(0, real.find("//@function f_present")),
                  "the shader library has no function 'f_present'"}};
  for (const auto& b : bundles) {
    SCOPED_TRACE(b.name);
    const std::string bundle = bundleWithLibrary(b.name, b.library);
    EXPECT_EQ(qtest::waitExit(engine({}, {}, bundle), 10s), 1);
    auto lines = errLines();
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_THAT(lines[0], HasSubstr(b.says));
    // The offscreen render writes its (blank) file as before, and says why it is blank.
    EXPECT_EQ(qtest::waitExit(engine({"render-png", dir_ / "out.png"}, {{"DISPLAY", ""}}, bundle), 20s), 0);
    lines = errLines();
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_THAT(lines[0], HasSubstr(b.says));
  }
}

TEST_F(EngineErrors, APictureFolderWithoutPicturesIsNamedOnceWithWhatWasFound) {
  const std::string missing = dir_ / "gone", empty = dir_ / "empty", other = dir_ / "other", broken = dir_ / "broken";
  for (const auto& f : {empty, other, broken}) fs::create_directories(f);
  for (const char* name : {"notes.txt", "holiday.gif", "scan.tif"}) std::ofstream(other + "/" + name) << "x";
  std::ofstream(broken + "/a.jpg") << "not a picture";
  std::ofstream(broken + "/b.png") << "\x89PNG\r\n\x1a\n cut off";
  // libde265 prints "SPS error: ..." about this one by itself.
  fs::copy_file(kSpsError, broken + "/c.heic");
  const struct {
    std::string folder;
    const char* says;
  } cases[] = {{missing, "does not exist"},
               {empty, "is empty"},
               {other, "3 entries, none of them a .jpg, .jpeg, .png, .heic, .tiff or .bmp file"},
               {broken, "3 pictures tried, none could be read"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    quelltrine::settings::storeImageFolder(c.folder);
    EXPECT_EQ(runUntilItSpeaks(engine({})), "killed by SIGTERM") << "the saver keeps running until it is ended";
    const auto lines = errLines();
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_THAT(lines[0], StartsWith("quelltrine-saver: no pictures"));
    EXPECT_THAT(lines[0], HasSubstr(c.folder));
    EXPECT_THAT(lines[0], HasSubstr(c.says));
  }
}

TEST_F(EngineErrors, VerboseListsEachSkippedPictureWithTheDecodersReason) {
  const std::string folder = dir_ / "broken";
  fs::create_directories(folder);
  std::ofstream(folder + "/a.jpg") << "not a picture";
  std::ofstream(folder + "/b.png") << "\x89PNG\r\n\x1a\n cut off";
  fs::copy_file(kSpsError, folder + "/c.heic");
  quelltrine::settings::storeImageFolder(folder);
  EXPECT_EQ(runUntilItSpeaks(engine({"--verbose"})), "killed by SIGTERM");
  const auto lines = errLines();
  EXPECT_THAT(lines, ::testing::Contains("quelltrine-saver: skipped " + folder +
                                         "/a.jpg: source: not a JPEG, PNG, TIFF, HEIF or BMP file"));
  EXPECT_THAT(lines, ::testing::Contains(StartsWith("quelltrine-saver: skipped " + folder + "/b.png: png: ")));
  EXPECT_THAT(lines, ::testing::Contains("quelltrine-saver: note: " + folder +
                                         "/c.heic: heif: SPS error: transform hierarchy depth (intra) > CTB size - "
                                         "min TB size"));
  EXPECT_THAT(lines, ::testing::Contains(StartsWith("quelltrine-saver: skipped " + folder + "/c.heic: heif: ")));
  EXPECT_THAT(lines, ::testing::Not(::testing::Contains(StartsWith("SPS error")))) << "nothing printed by itself";
  const auto summaries =
      std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("no pictures") != l.npos; });
  EXPECT_EQ(summaries, 1) << ::testing::PrintToString(lines);
}

// A damaged preferences file is read as far as it can be (the folder is still found) and named with --verbose
// only: without it, the saver says nothing about it.
TEST_F(EngineErrors, VerboseNamesADamagedPreferencesFile) {
  const std::string folder = dir_ / "pictures";
  fs::create_directories(folder);
  qtest::writeSolidPng(folder + "/a.png", 64, 40, {200, 40, 40});
  quelltrine::settings::storeImageFolder(folder);
  const std::string prefs = dir_ / "config/screensaver-defaults/com.quelltrine.saver.conf";
  std::ofstream(prefs, std::ios::app) << "[colours]\nsky=blue\n";
  for (bool verbose : {true, false}) {
    SCOPED_TRACE(verbose ? "--verbose" : "quiet");
    const pid_t pid = engine(verbose ? std::vector<std::string>{"--verbose"} : std::vector<std::string>{});
    if (verbose) {
      EXPECT_EQ(runUntilItSpeaks(pid), "killed by SIGTERM");
    } else {
      std::this_thread::sleep_for(3s);
      ::kill(pid, SIGTERM);
      EXPECT_EQ(qtest::waitEnd(pid, 10s), "killed by SIGTERM");
    }
    const auto lines = errLines();
    const auto named = std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.find(prefs) != l.npos && l.find("damaged (unknown group [colours])") != l.npos;
    });
    EXPECT_EQ(named, verbose ? 1 : 0) << ::testing::PrintToString(lines);
    EXPECT_THAT(lines, ::testing::Not(::testing::Contains(HasSubstr("no pictures")))) << "the folder was still read";
  }
}

}  // namespace
