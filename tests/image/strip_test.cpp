// Decoding by strips: each row once, top to bottom, together exactly the full decode; empty, outside and
// non-finite crops refused. What the HEIF decoder prints by itself arrives as a note, never on stderr.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <cstdio>
#include <set>

#include "image/pixels.h"
#include "platform/error_sink.h"
#include "platform/image/decoders.h"

namespace {

using namespace fixtures;

using plat::Error;
using plat::image::Image;
using plat::image::PixelOrder;
using plat::image::PixelView;

std::shared_ptr<const Image> open(const Bytes& bytes) {
  auto source = plat::image::ImageSource::createWithData(bytes.data(), bytes.size()).valueOr(nullptr);
  return source ? source->createImageAtIndex(0, {}).valueOr(nullptr) : nullptr;
}

// Keeps every strip and where it starts.
struct Recorder final : plat::image::RowSink {
  plat::ErrorOr<void> take(const PixelView& strip, int firstRow) override {
    strips.push_back({firstRow, strip.height, strip.width, strip.order});
    for (int y = 0; y < strip.height; ++y) {
      for (int x = 0; x < strip.width; ++x) pixels.push_back(at(strip, x, y));
    }
    return {};
  }
  struct Strip {
    int firstRow, height, width;
    PixelOrder order;
  };
  std::vector<Strip> strips;
  std::vector<Rgba> pixels;
};

struct Heard final : plat::ErrorSink {
  void failed(const Error&) override {}
  void noted(const Error& e) override { notes.push_back(e); }
  std::vector<Error> notes;
};

// Strips of `bytes` for as long as it lives.
struct StripSize {
  explicit StripSize(std::size_t bytes) { plat::image::testing::setStripBytes(bytes); }
  ~StripSize() { plat::image::testing::setStripBytes(0); }
};

// The strips against the rectangle from x, y of a separate full decode.
void expectStripsLikeFullDecode(const Image& image, const Bytes& bytes, int x, int y, Recorder& got) {
  auto full = open(bytes);
  ASSERT_TRUE(full);
  auto whole = full->pixels();
  ASSERT_TRUE(whole);
  int next = 0;
  for (std::size_t i = 0; i < got.strips.size(); ++i) {
    EXPECT_EQ(got.strips[i].firstRow, next) << "strip " << i;
    EXPECT_EQ(got.strips[i].width, image.width()) << "strip " << i;
    EXPECT_EQ(got.strips[i].order, got.strips[0].order) << "strip " << i;
    next += got.strips[i].height;
  }
  EXPECT_EQ(next, image.height());
  ASSERT_EQ(got.pixels.size(), std::size_t(image.width()) * std::size_t(image.height()));
  int mismatches = 0;
  for (int row = 0; row < image.height(); ++row) {
    for (int col = 0; col < image.width(); ++col) {
      mismatches += !near(got.pixels[std::size_t(row * image.width() + col)], at(*whole, x + col, y + row), 0);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Tiny strips cross the files' own strip and tile borders; the crop, rows 9 to 45, is off the JPEG block grid
// and has fractional edges (widened to whole pixels) inside a crop clipped at the picture's edges.
TEST(Strips, EveryFormatHandsEachRowOnceInOrderAndTogetherTheyAreItsFullDecode) {
  const std::set<std::string> unstripped = {"interlaced.png", "plain.heic", "rotated.heic", "rgb.bmp", "rgba.bmp"};
  auto files = all();
  files.emplace_back("tiled.tiff",
                     readFile(QUELLTRINE_SOURCE_DIR "/tests/image/fixtures/foreign/tiffcp-tiled-lzw.tiff"));
  int checked = 0;
  for (const auto& [name, bytes] : files) {
    if (!open(bytes) || !open(bytes)->pixels()) continue;  // the malformed ones
    SCOPED_TRACE(name);
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}}) {
      SCOPED_TRACE(size == 0 ? "usual strips" : "tiny strips");
      const StripSize strips(size);
      auto image = open(bytes);
      Recorder whole;
      ASSERT_TRUE(image->decodeRows(whole));
      expectStripsLikeFullDecode(*image, bytes, 0, 0, whole);
      auto outer = image->cropped({3.0, 4.0, 70.0, 50.0});  // clipped to 61x44
      ASSERT_TRUE(outer);
      auto crop = outer->cropped({10.5, 5.2, 36.1, 36.0});  // widened to 37x37; a crop of a crop adds the offsets
      ASSERT_TRUE(crop);
      outer.reset();
      image.reset();  // and outlives its source
      Recorder part;
      ASSERT_TRUE(crop->decodeRows(part));
      expectStripsLikeFullDecode(*crop, bytes, 13, 9, part);
      if (size == 0) {
        EXPECT_EQ(whole.strips.size(), 1u) << "a small picture is one strip";
      } else if (!unstripped.contains(name)) {
        EXPECT_GT(whole.strips.size(), 1u) << "tiny strips are many";
      }
    }
    ++checked;
  }
  EXPECT_EQ(checked, 13);
}

TEST(Strips, EmptyOutsideOrNonFiniteCropsAreRefused) {
  const auto image = open(png(quadrants(64, 48), 64, 48, PngKind::Rgb));
  ASSERT_TRUE(image);
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  for (const plat::image::PixelRect& r : {plat::image::PixelRect{0, 0, 0, 10}, {0, 0, -10, 10}, {64, 0, 10, 10},
                                          {0, 48, 10, 10}, {-20, 0, 10, 10}, {nan, 0, 10, 10}, {0, 0, inf, 10}}) {
    EXPECT_FALSE(image->cropped(r)) << r.x << "," << r.y << " " << r.width << "x" << r.height;
  }
}

// Standard error goes to the file `path` for as long as it lives.
struct StderrToFile {
  explicit StderrToFile(const std::string& path) : saved(::dup(2)) {
    std::fflush(stderr);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~StderrToFile() {
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
  }
  const int saved;
};

// libde265 prints "SPS error: ..." to stderr by itself, from another thread. The file is a 64x48 HEIC with
// one bit of its SPS flipped.
TEST(LibraryNotes, WhatTheHeifDecoderPrintsByItselfIsANoteAndStderrStaysClean) {
  const std::string path = QUELLTRINE_SOURCE_DIR "/tests/image/fixtures/heif-sps-error.heic";
  TempDir dir;
  auto heard = std::make_shared<Heard>();
  const plat::ScopedErrorSink scope(heard);
  {
    const StderrToFile err(dir / "stderr");
    auto source = plat::image::ImageSource::createWithPath(path).valueOr(nullptr);
    ASSERT_TRUE(source);
    auto image = source->createImageAtIndex(0, {}).valueOr(nullptr);
    ASSERT_TRUE(image);
    Recorder sink;
    (void)image->decodeRows(sink);  // whether it decodes at all is libde265's call
  }
  EXPECT_TRUE(readFile(dir / "stderr").empty());
  EXPECT_EQ(std::count_if(heard->notes.begin(), heard->notes.end(),
                          [](const Error& e) { return e.origin == "heif" && e.message.starts_with("SPS error: "); }),
            1);
  for (const Error& note : heard->notes) EXPECT_EQ(note.path, path);
}

}  // namespace
