// The real saver under Xvfb when something is wrong, as xscreensaver and a person meet it: without a GPU or with a
// bundle missing its shader library it ends at once with status 1 and one line saying why; a picture folder
// without pictures is named once with what was found, and nothing a decoding library says by itself reaches stderr.
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
    ASSERT_NE(display_ = XOpenDisplay(qtest::XvfbServer::display().c_str()), nullptr);
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

  qtest::TempDir dir_;
  qtest::EnvGuard env_;
  const std::string errPath_ = dir_ / "stderr.txt";
  Display* display_ = nullptr;
};

TEST_F(EngineErrors, WithoutAGpuEveryModeEndsAtOnceWithOneLineSayingWhy) {
  Window foreign = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 320, 200, 0, 0, 0);
  XMapWindow(display_, foreign);
  XSync(display_, False);
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
    EXPECT_EQ(qtest::waitExit(engine(m.args, m.env), 10s), 1);
    const auto lines = errLines();
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_THAT(lines[0], StartsWith("quelltrine-saver: "));
    EXPECT_THAT(lines[0], HasSubstr("no GPU device: "));
  }
  EXPECT_FALSE(fs::exists(dir_ / "out.png"));
  XWindowAttributes a{};
  EXPECT_NE(XGetWindowAttributes(display_, foreign, &a), 0) << "the foreign window is left as it was";
}

TEST_F(EngineErrors, ABundleWithoutItsShaderLibraryEndsWithOneLineNamingIt) {
  const std::string bundle = qtest::makeBundle(dir_ / "Missing.saver", "");
  fs::copy_file(std::string(QUELLTRINE_BUNDLE_DIR) + "/Contents/MacOS/QuelltrineSaver",
                bundle + "/Contents/MacOS/QuelltrineSaver");
  EXPECT_EQ(qtest::waitExit(engine({}, {}, bundle), 10s), 1);
  EXPECT_THAT(errLines(), ::testing::ElementsAre(HasSubstr("the bundle has no resource default.glsllib")));
}

TEST_F(EngineErrors, APictureFolderWithoutPicturesIsNamedOnceWithWhatWasFound) {
  const std::string missing = dir_ / "gone", empty = dir_ / "empty", other = dir_ / "other", broken = dir_ / "broken";
  for (const auto& f : {empty, other, broken}) fs::create_directories(f);
  for (const char* name : {"notes.txt", "holiday.gif", "scan.tif"}) std::ofstream(other + "/" + name) << "x";
  std::ofstream(broken + "/a.jpg") << "not a picture";
  std::ofstream(broken + "/b.png") << "\x89PNG\r\n\x1a\n cut off";
  // The HEIF decoder prints "SPS error: ..." about this one by itself.
  fs::copy_file(QUELLTRINE_SOURCE_DIR "/tests/image/fixtures/heif-sps-error.heic", broken + "/c.heic");
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
    const pid_t pid = engine({});
    for (int i = 0; i < 300 && errLines().empty(); ++i) std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(1s);  // time to say it twice
    ::kill(pid, SIGTERM);
    EXPECT_EQ(qtest::waitEnd(pid, 10s), "killed by SIGTERM") << "the saver keeps running until it is ended";
    const auto lines = errLines();
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_THAT(lines[0], StartsWith("quelltrine-saver: no pictures"));
    EXPECT_THAT(lines[0], HasSubstr(c.folder));
    EXPECT_THAT(lines[0], HasSubstr(c.says));
  }
}

}  // namespace
