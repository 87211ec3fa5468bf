// Opening picture files by path: only regular files are read (a FIFO, a
// device or a folder under a picture name is refused at once), oversized
// files are refused before they are read, and the format comes from the
// content, not the name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "image/fixtures.h"
#include "platform/image/image.h"

namespace {

namespace fs = std::filesystem;
using plat::image::Error;
using plat::image::ImageSource;

class FileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quelltrine-image-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(FileTest, FormatComesFromTheContent) {
  const auto pattern = fixtures::quadrants(64, 48);
  ASSERT_TRUE(fixtures::writeFile(path("really-a-png.jpg"), fixtures::png(pattern, 64, 48, fixtures::PngKind::Rgb)));
  ASSERT_TRUE(fixtures::writeFile(path("really-a-jpeg.png"),
                                  fixtures::jpeg(pattern, 64, 48, fixtures::JpegKind::Baseline)));
  ASSERT_TRUE(fixtures::writeFile(path("notes.heic"), {'n', 'o', 't', 'e', 's'}));
  auto png = ImageSource::createWithPath(path("really-a-png.jpg"));
  ASSERT_TRUE(png);
  EXPECT_STREQ(png->formatName(), "png");
  auto jpeg = ImageSource::createWithPath(path("really-a-jpeg.png"));
  ASSERT_TRUE(jpeg);
  EXPECT_STREQ(jpeg->formatName(), "jpeg");
  auto image = jpeg->createImageAtIndex(0, {});
  ASSERT_TRUE(image);
  EXPECT_TRUE(image->pixels());
  Error error;
  EXPECT_FALSE(ImageSource::createWithPath(path("notes.heic"), &error));
  EXPECT_EQ(error.decoder, "source");
}

TEST_F(FileTest, MissingFileHasNoSource) {
  Error error;
  EXPECT_FALSE(ImageSource::createWithPath(path("gone.jpg"), &error));
  EXPECT_EQ(error.decoder, "source");
  EXPECT_FALSE(error.message.empty());
}

TEST_F(FileTest, FolderAndDeviceAreRefused) {
  fs::create_directory(path("holiday.png"));
  Error error;
  EXPECT_FALSE(ImageSource::createWithPath(path("holiday.png"), &error));
  EXPECT_EQ(error.message, "not a regular file");
  EXPECT_FALSE(ImageSource::createWithPath("/dev/zero", &error));
  EXPECT_EQ(error.message, "not a regular file");
}

// Opening a FIFO for reading blocks until a writer comes; the source must
// refuse it at once instead.
TEST_F(FileTest, FifoUnderAPictureNameDoesNotBlock) {
  const std::string fifo = path("x.jpg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto attempt = std::async(std::launch::async, [&] {
    Error error;
    auto source = ImageSource::createWithPath(fifo, &error);
    return !source && error.message == "not a regular file";
  });
  if (attempt.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    // Release the blocked reader so the test can end, then fail.
    int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
    FAIL() << "opening a FIFO blocked";
  }
  EXPECT_TRUE(attempt.get());
}

TEST_F(FileTest, SymlinkToAPictureIsFollowed) {
  ASSERT_TRUE(fixtures::writeFile(path("a.bmp"), fixtures::bmp(fixtures::quadrants(8, 8), 8, 8, false)));
  fs::create_symlink(path("a.bmp"), path("link.bmp"));
  auto source = ImageSource::createWithPath(path("link.bmp"));
  ASSERT_TRUE(source);
  EXPECT_STREQ(source->formatName(), "bmp");
}

// A file above the size cap is refused from its size alone (the file here is
// sparse, so making it costs nothing and reading it would show).
TEST_F(FileTest, OversizedFileIsRefusedUnread) {
  const std::string big = path("big.jpg");
  const int fd = open(big.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "\xFF\xD8\xFF", 3), 3);
  ASSERT_EQ(ftruncate(fd, (off_t{513} << 20)), 0);
  close(fd);
  const auto start = std::chrono::steady_clock::now();
  Error error;
  EXPECT_FALSE(ImageSource::createWithPath(big, &error));
  EXPECT_EQ(error.decoder, "source");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

}  // namespace
