// `quelltrine-saver render-png` with the real bundle and no display: the picture, or one line saying why not.
#include <sys/wait.h>

#include <filesystem>

#include <gmock/gmock.h>

#include "support/render_fixture.h"
#include "support/xvfb_session.h"

namespace {

class RenderPngCommand : public qtest::ViewTest {
 protected:
  // Exit status and standard error of the command.
  std::pair<int, std::string> renderPng(const std::string& args) {
    env_.unset("DISPLAY");
    env_.set("LIBGL_ALWAYS_SOFTWARE", "1");
    const std::string err = dir() / "stderr.txt";
    int status = std::system((std::string(QUELLTRINE_ENGINE) + " --bundle '" + QUELLTRINE_BUNDLE_DIR + "' render-png " +
                              args + " 2>'" + err + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, qtest::readFile(err)};
  }
  qtest::EnvGuard env_;
};

TEST_F(RenderPngCommand, DrawsThePictureAndSaysWhyWhenItCannot) {
  usePictures({{30, 160, 90}});
  const std::string png = dir() / "frame.png";
  ASSERT_EQ(renderPng("'" + png + "' --frames -1"), (std::pair<int, std::string>{0, ""}));
  auto source = plat::image::ImageSource::createWithPath(png).valueOr(nullptr);
  ASSERT_TRUE(source);
  auto image = source->createImageAtIndex(0, {}).valueOr(nullptr);  // the pixels are borrowed from it
  ASSERT_TRUE(image);
  auto pixels = image->pixels();
  ASSERT_TRUE(pixels);
  EXPECT_EQ(pixels->width, 1280);
  int greenish = 0;  // the green picture shows through the effects
  for (int y = 0; y < pixels->height; y += 16) {
    for (int x = 0; x < pixels->width; x += 16) {
      const std::uint8_t* p = pixels->data + std::size_t(y) * pixels->bytesPerRow + std::size_t(x) * 4;
      greenish += p[1] > p[0] + 30 && p[1] > p[2] + 30;
    }
  }
  EXPECT_GT(greenish, 0);

  std::filesystem::create_directories(dir() / "a-folder.png");
  auto [status, err] = renderPng("'" + dir() / "a-folder.png" + "'");
  EXPECT_EQ(status, 1);
  EXPECT_THAT(err, ::testing::HasSubstr("a-folder.png"));
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace
