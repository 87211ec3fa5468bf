// Writing PNG files: straight RGBA from premultiplied BGRA, an atomic
// replacement of the target, and clean failures that leave no temporary file
// and no damaged target behind.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "image/fixtures.h"
#include "image/pixels.h"
#include "platform/image/image.h"

namespace {

namespace fs = std::filesystem;
using plat::image::Error;
using plat::image::PixelOrder;
using plat::image::PixelView;

class WritePngTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quelltrine-png-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

// Four pixels, B,G,R,A premultiplied, in a row with padding after it.
const std::uint8_t kRow[] = {
    0,   0,  255, 255,  // opaque red
    0,   64, 0,   128,  // half-transparent green, premultiplied
    10,  20, 30,  0,    // fully transparent with stray colour
    255, 255, 255, 255, // opaque white
    9,   9,  9,   9,    // padding, not a pixel
};

TEST_F(WritePngTest, WritesStraightRgbaThatReadsBack) {
  PixelView view{kRow, 4, 1, sizeof kRow, PixelOrder::BGRA};
  Error error;
  ASSERT_TRUE(plat::image::writePNG(path("out.png"), view, &error)) << error.message;

  // The file is an 8-bit RGBA PNG.
  const fixtures::Bytes bytes = fixtures::readFile(path("out.png"));
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(bytes[24], 8);  // bit depth
  EXPECT_EQ(bytes[25], 6);  // colour type RGBA

  auto image = plat::image::ImageSource::createWithData(bytes.data(), bytes.size())->createImageAtIndex(0, {});
  ASSERT_TRUE(image);
  auto pixels = image->pixels();
  ASSERT_TRUE(pixels);
  EXPECT_TRUE(fixtures::near(fixtures::at(*pixels, 0, 0), {255, 0, 0, 255}, 0));
  EXPECT_TRUE(fixtures::near(fixtures::at(*pixels, 1, 0), {0, 128, 0, 128}, 0)) << fixtures::at(*pixels, 1, 0);
  EXPECT_TRUE(fixtures::near(fixtures::at(*pixels, 2, 0), {0, 0, 0, 0}, 0)) << fixtures::at(*pixels, 2, 0);
  EXPECT_TRUE(fixtures::near(fixtures::at(*pixels, 3, 0), {255, 255, 255, 255}, 0));
}

TEST_F(WritePngTest, ReplacesAnExistingFileAtomically) {
  const std::string target = path("frame.png");
  ASSERT_TRUE(fixtures::writeFile(target, {'o', 'l', 'd'}));
  struct stat before {};
  ASSERT_EQ(stat(target.c_str(), &before), 0);
  PixelView view{kRow, 4, 1, sizeof kRow, PixelOrder::BGRA};
  ASSERT_TRUE(plat::image::writePNG(target, view));
  struct stat after {};
  ASSERT_EQ(stat(target.c_str(), &after), 0);
  // A new file was renamed over the old one (never rewritten in place) ...
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(after.st_mode & 0777, before.st_mode & 0777);
  const fixtures::Bytes bytes = fixtures::readFile(target);
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(bytes[1], 'P');
  // ... and nothing else is left in the folder.
  EXPECT_EQ(entries(), std::vector<std::string>{"frame.png"});
}

TEST_F(WritePngTest, MissingFolderFailsCleanly) {
  PixelView view{kRow, 4, 1, sizeof kRow, PixelOrder::BGRA};
  Error error;
  EXPECT_FALSE(plat::image::writePNG(path("no/such/folder/out.png"), view, &error));
  EXPECT_EQ(error.decoder, "png");
  EXPECT_FALSE(error.message.empty());
  EXPECT_TRUE(entries().empty());
}

// The rename fails when the target is a folder with something in it: the
// encoded temporary file must go and the folder stay as it was.
TEST_F(WritePngTest, FailedReplacementLeavesTargetAndNoTemporaryFile) {
  fs::create_directory(path("busy.png"));
  ASSERT_TRUE(fixtures::writeFile(path("busy.png/inside"), {'x'}));
  PixelView view{kRow, 4, 1, sizeof kRow, PixelOrder::BGRA};
  Error error;
  EXPECT_FALSE(plat::image::writePNG(path("busy.png"), view, &error));
  EXPECT_FALSE(error.message.empty());
  EXPECT_EQ(entries(), std::vector<std::string>{"busy.png"});
  EXPECT_TRUE(fs::exists(path("busy.png/inside")));
}

TEST_F(WritePngTest, UnwritableFolderFailsAndKeepsTheOldFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  const std::string target = path("keep.png");
  ASSERT_TRUE(fixtures::writeFile(target, {'o', 'l', 'd'}));
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  PixelView view{kRow, 4, 1, sizeof kRow, PixelOrder::BGRA};
  EXPECT_FALSE(plat::image::writePNG(target, view));
  fs::permissions(dir_, fs::perms::owner_all);
  EXPECT_EQ(fixtures::readFile(target), (fixtures::Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(entries(), std::vector<std::string>{"keep.png"});
}

TEST_F(WritePngTest, NoPixelsIsAnError) {
  Error error;
  EXPECT_FALSE(plat::image::writePNG(path("out.png"), PixelView{}, &error));
  PixelView narrowStride{kRow, 4, 1, 8, PixelOrder::BGRA};
  EXPECT_FALSE(plat::image::writePNG(path("out.png"), narrowStride, &error));
  EXPECT_TRUE(entries().empty());
}

}  // namespace
