// Writing PNG files: straight RGBA from premultiplied BGRA, an atomic
// replacement of the target, and failures that leave no temporary file and
// no damaged target behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "image/pixels.h"

namespace {

namespace fs = std::filesystem;
using plat::image::PixelOrder;
using plat::image::PixelView;

// Four premultiplied B,G,R,A pixels, then padding.
const std::uint8_t kRow[] = {0, 0, 255, 255, 0, 64, 0, 128, 10, 20, 30, 0, 255, 255, 255, 255, 9, 9, 9, 9};
const PixelView kView{kRow, 4, 1, sizeof kRow, PixelOrder::BGRA};

std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

TEST(WritePng, ReplacesAtomicallyWithStraightRgba) {
  fixtures::TempDir dir;
  const std::string target = dir / "frame.png";
  ASSERT_TRUE(fixtures::writeFile(target, {'o', 'l', 'd'}));
  struct stat before {}, after {};
  ASSERT_EQ(stat(target.c_str(), &before), 0);
  plat::image::Error error;
  ASSERT_TRUE(plat::image::writePNG(target, kView, &error)) << error.message;
  ASSERT_EQ(stat(target.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // renamed over, never rewritten in place
  EXPECT_EQ(after.st_mode & 0777, before.st_mode & 0777);
  EXPECT_EQ(entries(dir.dir), std::vector<std::string>{"frame.png"});
  const fixtures::Bytes bytes = fixtures::readFile(target);
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(bytes[24], 8);  // bit depth
  EXPECT_EQ(bytes[25], 6);  // RGBA
  auto image = plat::image::ImageSource::createWithData(bytes.data(), bytes.size())->createImageAtIndex(0, {});
  auto pixels = image->pixels();
  ASSERT_TRUE(pixels);
  const fixtures::Rgba want[4] = {{255, 0, 0, 255}, {0, 128, 0, 128}, {0, 0, 0, 0}, {255, 255, 255, 255}};
  for (int x = 0; x < 4; ++x) EXPECT_TRUE(fixtures::near(fixtures::at(*pixels, x, 0), want[x], 0)) << x;
}

TEST(WritePng, FailuresLeaveNoTemporaryFileAndTheTargetIntact) {
  fixtures::TempDir dir;
  fs::create_directory(dir / "busy.png");  // a folder with something in it: the rename fails
  ASSERT_TRUE(fixtures::writeFile(dir / "busy.png/inside", {'x'}));
  const PixelView narrow{kRow, 4, 1, 8, PixelOrder::BGRA};
  const std::pair<std::string, PixelView> cases[] = {
      {dir / "no/such/folder/out.png", kView}, {dir / "busy.png", kView}, {dir / "out.png", PixelView{}},
      {dir / "out.png", narrow}};
  for (const auto& [path, view] : cases) {
    SCOPED_TRACE(path);
    plat::image::Error error;
    EXPECT_FALSE(plat::image::writePNG(path, view, &error));
    EXPECT_FALSE(error.message.empty());
    EXPECT_EQ(entries(dir.dir), std::vector<std::string>{"busy.png"});
  }
  EXPECT_TRUE(fs::exists(dir / "busy.png/inside"));
}

}  // namespace
