// Picture files by path: the format comes from the content; only regular
// files are opened (a FIFO must not block), oversized ones refused from their
// size alone. PNGs are written straight from premultiplied BGRA, replacing
// the target atomically; failures leave no temporary file behind.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "image/pixels.h"

namespace {

using namespace fixtures;

namespace fs = std::filesystem;
using plat::image::ImageSource;
using plat::image::PixelView;

TEST(File, FormatFromContentAndOnlyRegularFilesOpened) {
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

  // A missing file, a FIFO, a folder, a device and an oversized file are refused at once.
  ASSERT_EQ(mkfifo((dir / "x.jpg").c_str(), 0600), 0);
  fs::create_directory(dir / "holiday.png");
  const int fd = open((dir / "big.jpg").c_str(), O_CREAT | O_WRONLY, 0600);  // sparse: cheap to make
  ASSERT_EQ(write(fd, "\xFF\xD8\xFF", 3), 3);
  ASSERT_EQ(ftruncate(fd, off_t{513} << 20), 0);
  close(fd);
  for (const std::string& path : {dir / "gone.jpg", dir / "x.jpg", dir / "holiday.png", std::string("/dev/zero"),
                                  dir / "big.jpg"}) {
    SCOPED_TRACE(path);
    auto attempt = std::async(std::launch::async, [path] { return ImageSource::createWithPath(path); });
    if (attempt.wait_for(std::chrono::milliseconds(500)) != std::future_status::ready) {
      const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);  // releases a reader blocked on the FIFO
      if (writer >= 0) close(writer);
      ADD_FAILURE() << "blocked or slow";
    }
    const auto result = attempt.get();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().origin, "source");
    EXPECT_EQ(result.error().path, path);
    EXPECT_FALSE(result.error().message.empty());
  }
}

std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

TEST(File, WritePngReplacesInPlaceWithStraightRgbaOrFailsCleanly) {
  // Four premultiplied B,G,R,A pixels, then padding.
  const std::uint8_t row[] = {0, 0, 255, 255, 0, 64, 0, 128, 10, 20, 30, 0, 255, 255, 255, 255, 9, 9, 9, 9};
  const PixelView view{row, 4, 1, sizeof row, plat::image::PixelOrder::BGRA};
  TempDir dir;
  const std::string target = dir / "frame.png";
  ASSERT_TRUE(writeFile(target, {'o', 'l', 'd'}));
  struct stat before {}, after {};
  ASSERT_EQ(stat(target.c_str(), &before), 0);
  const auto written = plat::image::writePNG(target, view);
  ASSERT_TRUE(written) << written.error().text();
  ASSERT_EQ(stat(target.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // rewritten in place, never renamed over
  EXPECT_EQ(after.st_mode & 0777, before.st_mode & 0777);
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"frame.png"});
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

  fs::remove(target);
  fs::create_directory(dir / "busy.png");  // a folder with something in it: it stays as it is
  ASSERT_TRUE(writeFile(dir / "busy.png/inside", {'x'}));
  // Each failure names the file and says why in words a person can act on.
  const struct {
    std::string path;
    PixelView view;
    const char* says;
  } cases[] = {{dir / "no/such/folder/out.png", view, "does not exist"},
               {dir / "busy.png", view, "is a folder"},
               {dir / "out.png", PixelView{}, "no pixels"},
               {dir / "out.png", PixelView{row, 4, 1, 8, view.order}, "no pixels"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto result = plat::image::writePNG(c.path, c.view);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, plat::ErrorKind::FileWrite);
    EXPECT_EQ(result.error().path, c.path);
    EXPECT_THAT(result.error().message, ::testing::HasSubstr(c.says));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"busy.png"});
  }
  EXPECT_TRUE(fs::exists(dir / "busy.png/inside"));
}

}  // namespace
