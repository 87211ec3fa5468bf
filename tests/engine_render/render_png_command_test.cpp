// `quelltrine-saver render-png` end to end with the real module bundle and no
// display: the exit status, the file, and the one line that says why when
// the render fails.
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "support/render_fixture.h"
#include "support/xvfb_session.h"

namespace {

class RenderPngCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("HOME", dir_ / "home");
    env_.set("XDG_CONFIG_HOME", dir_ / "config");
    env_.set("LIBGL_ALWAYS_SOFTWARE", "1");
    env_.unset("DISPLAY");
    std::filesystem::create_directories(dir_ / "pictures");
    qtest::writeSolidPng(dir_ / "pictures/a.png", 64, 40, {30, 160, 90});
    quelltrine::settings::storeImageFolder(dir_ / "pictures");
  }
  // Exit status and what the command wrote to stderr.
  std::pair<int, std::string> renderPng(std::vector<std::string> args) {
    args.insert(args.begin(), {QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_BUNDLE_DIR, "render-png"});
    std::string command;
    for (const auto& a : args) command += "'" + a + "' ";
    const std::string errFile = dir_ / "stderr.txt";
    int status = std::system((command + "2>'" + errFile + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, qtest::readFile(errFile)};
  }
  qtest::TempDir dir_;
  qtest::EnvGuard env_;
};

TEST_F(RenderPngCommand, WritesTheFrameAndReplacesAnOldFile) {
  const std::string png = dir_ / "frame.png";
  std::ofstream(png) << "an old file";
  for (const char* frames : {"0", "-1", "3"}) {
    auto [status, err] = renderPng({png, "--frames", frames});
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(err.empty()) << err;
  }
  auto source = plat::image::ImageSource::createWithPath(png);
  ASSERT_TRUE(source);
  auto image = source->createImageAtIndex(0, {});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 1280);
  EXPECT_EQ(image->height(), 800);
  // The picture is drawn: its green shows through the effects somewhere.
  auto pixels = image->pixels();
  ASSERT_TRUE(pixels);
  bool greenish = false;
  for (int y = 0; y < pixels->height && !greenish; y += 16) {
    const std::uint8_t* row = pixels->data + static_cast<std::size_t>(y) * pixels->bytesPerRow;
    for (int x = 0; x < pixels->width && !greenish; x += 16) {
      const std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
      int r = pixels->order == plat::image::PixelOrder::RGBA ? p[0] : p[2];
      int b = pixels->order == plat::image::PixelOrder::RGBA ? p[2] : p[0];
      greenish = p[1] > r + 30 && p[1] > b + 30;
    }
  }
  EXPECT_TRUE(greenish);
}

TEST_F(RenderPngCommand, FailuresSayWhyAndLeaveNoFile) {
  auto [status, err] = renderPng({dir_ / "missing/frame.png"});
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("does not exist"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "one line: " << err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));

  std::filesystem::create_directories(dir_ / "a-folder.png");
  std::tie(status, err) = renderPng({dir_ / "a-folder.png"});
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("is a folder"), std::string::npos) << err;

  std::tie(status, err) = renderPng({dir_ / "x.png", "--frames", "many"});
  EXPECT_EQ(status, 2) << "a usage error";
  EXPECT_FALSE(err.empty());
}

}  // namespace
