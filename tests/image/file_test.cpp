// Picture files by path: the format comes from the content; only regular
// files are opened (a FIFO must not block), oversized ones refused from their
// size alone. PNGs are written straight from premultiplied BGRA, replacing
// the target atomically; failures leave no temporary file behind.
#include <fcntl.h>
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
using plat::image::Error;
using plat::image::ImageSource;
using plat::image::PixelView;

TEST(File, FormatFromContentAndOnlyRegularFilesOpened) {
  TempDir dir;
  ASSERT_TRUE(writeFile(dir / "a.jpg", png(quadrants(8, 8), 8, 8, PngKind::Rgb)));
  fs::create_symlink(dir / "a.jpg", dir / "link.heic");
  ASSERT_TRUE(writeFile(dir / "notes.heic", {'n', 'o', 't', 'e', 's'}));
  auto source = ImageSource::createWithPath(dir / "link.heic");
  ASSERT_TRUE(source);
  EXPECT_STREQ(source->formatName(), "png");
  EXPECT_TRUE(source->createImageAtIndex(0, {})->pixels());
  Error error;
  EXPECT_FALSE(ImageSource::createWithPath(dir / "notes.heic", &error));
  EXPECT_EQ(error.decoder, "source");

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
    auto attempt = std::async(std::launch::async, [path] {
      Error e;
      return !ImageSource::createWithPath(path, &e) && e.decoder == "source" && !e.message.empty();
    });
    if (attempt.wait_for(std::chrono::milliseconds(500)) != std::future_status::ready) {
      const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);  // releases a reader blocked on the FIFO
      if (writer >= 0) close(writer);
      ADD_FAILURE() << "blocked or slow";
    }
    EXPECT_TRUE(attempt.get());
  }
}

std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

TEST(File, WritePngReplacesAtomicallyWithStraightRgbaOrFailsCleanly) {
  // Four premultiplied B,G,R,A pixels, then padding.
  const std::uint8_t row[] = {0, 0, 255, 255, 0, 64, 0, 128, 10, 20, 30, 0, 255, 255, 255, 255, 9, 9, 9, 9};
  const PixelView view{row, 4, 1, sizeof row, plat::image::PixelOrder::BGRA};
  TempDir dir;
  const std::string target = dir / "frame.png";
  ASSERT_TRUE(writeFile(target, {'o', 'l', 'd'}));
  struct stat before {}, after {};
  ASSERT_EQ(stat(target.c_str(), &before), 0);
  Error error;
  ASSERT_TRUE(plat::image::writePNG(target, view, &error)) << error.message;
  ASSERT_EQ(stat(target.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // renamed over, never rewritten in place
  EXPECT_EQ(after.st_mode & 0777, before.st_mode & 0777);
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"frame.png"});
  const Bytes bytes = readFile(target);
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(bytes[24], 8);  // bit depth
  EXPECT_EQ(bytes[25], 6);  // RGBA
  auto image = ImageSource::createWithData(bytes.data(), bytes.size())->createImageAtIndex(0, {});
  auto pixels = image->pixels();
  ASSERT_TRUE(pixels);
  const Rgba want[4] = {{255, 0, 0, 255}, {0, 128, 0, 128}, {0, 0, 0, 0}, {255, 255, 255, 255}};
  for (int x = 0; x < 4; ++x) EXPECT_TRUE(near(at(*pixels, x, 0), want[x], 0)) << x;

  fs::remove(target);
  fs::create_directory(dir / "busy.png");  // a folder with something in it: the rename fails
  ASSERT_TRUE(writeFile(dir / "busy.png/inside", {'x'}));
  const std::pair<std::string, PixelView> cases[] = {{dir / "no/such/folder/out.png", view}, {dir / "busy.png", view},
                                                     {dir / "out.png", PixelView{}},
                                                     {dir / "out.png", PixelView{row, 4, 1, 8, view.order}}};
  for (const auto& [path, v] : cases) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(plat::image::writePNG(path, v, &error));
    EXPECT_FALSE(error.message.empty());
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"busy.png"});
  }
  EXPECT_TRUE(fs::exists(dir / "busy.png/inside"));
}

}  // namespace
