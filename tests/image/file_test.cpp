// Picture files by path: the format comes from the content, oversized ones are refused from their size.
// PNGs are written as straight RGBA from premultiplied BGRA; a failure leaves nothing.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "image/pixels.h"

namespace {

using namespace fixtures;

namespace fs = std::filesystem;
using plat::image::ImageSource;
using plat::image::PixelView;

TEST(File, FormatFromContentAndOversizedFilesRefused) {
  TempDir dir;
  ASSERT_TRUE(writeFile(dir / "a.jpg", png(quadrants(8, 8), 8, 8, PngKind::Rgb)));
  fs::create_symlink(dir / "a.jpg", dir / "link.heic");
  ASSERT_TRUE(writeFile(dir / "notes.heic", {'n', 'o', 't', 'e', 's'}));
  auto source = ImageSource::createWithPath(dir / "link.heic");
  ASSERT_TRUE(source) << source.error().text();
  EXPECT_STREQ((*source)->formatName(), "png");
  EXPECT_TRUE((**(*source)->createImageAtIndex(0, {})).pixels());
  auto notes = ImageSource::createWithPath(dir / "notes.heic");
  ASSERT_FALSE(notes);
  EXPECT_EQ(notes.error().origin, "source");
  EXPECT_EQ(notes.error().kind, plat::ErrorKind::Picture);
  EXPECT_EQ(notes.error().path, dir / "notes.heic");

  // A file over the size cap is refused from its size alone; sparse, it is cheap to make.
  const int fd = open((dir / "big.jpg").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_EQ(write(fd, "\xFF\xD8\xFF", 3), 3);
  ASSERT_EQ(ftruncate(fd, off_t{513} << 20), 0);
  close(fd);
  const auto big = ImageSource::createWithPath(dir / "big.jpg");
  ASSERT_FALSE(big);
  EXPECT_EQ(big.error().origin, "source");
  EXPECT_EQ(big.error().path, dir / "big.jpg");
  EXPECT_THAT(big.error().message, ::testing::HasSubstr("larger than 512 MiB"));
}

TEST(File, WritePngWritesStraightRgbaOrRefusesAnEmptyView) {
  // Four premultiplied B,G,R,A pixels, then padding.
  const std::uint8_t row[] = {0, 0, 255, 255, 0, 64, 0, 128, 10, 20, 30, 0, 255, 255, 255, 255, 9, 9, 9, 9};
  const PixelView view{row, 4, 1, sizeof row, plat::image::PixelOrder::BGRA};
  TempDir dir;
  const std::string target = dir / "frame.png";
  const auto written = plat::image::writePNG(target, view);
  ASSERT_TRUE(written) << written.error().text();
  const Bytes bytes = readFile(target);
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(bytes[24], 8);  // bit depth
  EXPECT_EQ(bytes[25], 6);  // RGBA
  auto image = (*ImageSource::createWithData(bytes.data(), bytes.size()))->createImageAtIndex(0, {}).valueOr(nullptr);
  ASSERT_TRUE(image);
  auto pixels = image->pixels();
  ASSERT_TRUE(pixels);
  const Rgba want[4] = {{255, 0, 0, 255}, {0, 128, 0, 128}, {0, 0, 0, 0}, {255, 255, 255, 255}};
  for (int x = 0; x < 4; ++x) EXPECT_TRUE(near(at(*pixels, x, 0), want[x], 0)) << x;

  // Each failure names the file and says why.
  fs::remove(target);
  const struct {
    std::string path;
    PixelView view;
    const char* says;
  } cases[] = {{dir / "no/such/folder/out.png", view, "does not exist"},
               {dir / "out.png", PixelView{}, "no pixels"},
               {dir / "out.png", PixelView{row, 4, 1, 8, view.order}, "no pixels"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto result = plat::image::writePNG(c.path, c.view);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, plat::ErrorKind::FileWrite);
    EXPECT_EQ(result.error().path, c.path);
    EXPECT_THAT(result.error().message, ::testing::HasSubstr(c.says));
  }
  EXPECT_TRUE(fs::is_empty(dir.path())) << "nothing left behind";
}

}  // namespace
