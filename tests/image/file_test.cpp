// Opening picture files by path: the format comes from the content; only
// regular files are opened (a FIFO must not block); oversized files are
// refused from their size alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "image/pixels.h"

namespace {

using plat::image::Error;
using plat::image::ImageSource;

TEST(File, FormatComesFromTheContentThroughSymlinks) {
  fixtures::TempDir dir;
  ASSERT_TRUE(fixtures::writeFile(dir / "a.jpg", fixtures::png(fixtures::quadrants(8, 8), 8, 8, fixtures::PngKind::Rgb)));
  std::filesystem::create_symlink(dir / "a.jpg", dir / "link.heic");
  ASSERT_TRUE(fixtures::writeFile(dir / "notes.heic", {'n', 'o', 't', 'e', 's'}));
  auto source = ImageSource::createWithPath(dir / "link.heic");
  ASSERT_TRUE(source);
  EXPECT_STREQ(source->formatName(), "png");
  EXPECT_TRUE(source->createImageAtIndex(0, {})->pixels());
  Error error;
  EXPECT_FALSE(ImageSource::createWithPath(dir / "notes.heic", &error));
  EXPECT_EQ(error.decoder, "source");
}

TEST(File, MissingFifoFolderDeviceAndOversizedAreRefusedAtOnce) {
  fixtures::TempDir dir;
  ASSERT_EQ(mkfifo((dir / "x.jpg").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "holiday.png");
  // Sparse: making it costs nothing, reading it would show.
  const int fd = open((dir / "big.jpg").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_EQ(write(fd, "\xFF\xD8\xFF", 3), 3);
  ASSERT_EQ(ftruncate(fd, off_t{513} << 20), 0);
  close(fd);
  for (const std::string& path : {dir / "gone.jpg", dir / "x.jpg", dir / "holiday.png", std::string("/dev/zero"),
                                  dir / "big.jpg"}) {
    SCOPED_TRACE(path);
    auto attempt = std::async(std::launch::async, [path] {
      Error error;
      return !ImageSource::createWithPath(path, &error) && error.decoder == "source" && !error.message.empty();
    });
    if (attempt.wait_for(std::chrono::milliseconds(500)) != std::future_status::ready) {
      const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);  // releases a reader blocked on the FIFO
      if (writer >= 0) close(writer);
      ADD_FAILURE() << "blocked or slow";
    }
    EXPECT_TRUE(attempt.get());
  }
}

}  // namespace
