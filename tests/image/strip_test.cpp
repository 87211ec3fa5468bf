// Decoding by strips: each row once, top to bottom, together exactly the full decode; a refusing sink ends
// the decode; a decoder failing half-way is told once. The libraries' own words arrive as notes, never on stderr.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <numeric>
#include <stdexcept>
#include <tuple>
#include <thread>

#include "image/pixels.h"
#include "platform/error_sink.h"
#include "platform/image/decoders.h"

namespace {

using namespace fixtures;

using plat::Error;
using plat::ErrorKind;
using plat::image::Image;
using plat::image::PixelOrder;
using plat::image::PixelView;
using ::testing::HasSubstr;

const Bytes& fixture(const std::string& name) {
  static const auto list = all();
  static const std::map<std::string, Bytes> files(list.begin(), list.end());
  return files.at(name);
}

std::shared_ptr<const Image> open(const Bytes& bytes) {
  auto source = plat::image::ImageSource::createWithData(bytes.data(), bytes.size()).valueOr(nullptr);
  return source ? source->createImageAtIndex(0, {}).valueOr(nullptr) : nullptr;
}

// Keeps every strip and where it starts; refuses the strip numbered `refuseAt` (from 0).
struct Recorder final : plat::image::RowSink {
  plat::ErrorOr<void> take(const PixelView& strip, int firstRow) override {
    firstRows.push_back(firstRow);
    heights.push_back(strip.height);
    widths.push_back(strip.width);
    orders.push_back(strip.order);
    for (int y = 0; y < strip.height; ++y) {
      for (int x = 0; x < strip.width; ++x) pixels.push_back(at(strip, x, y));
    }
    if (static_cast<int>(firstRows.size()) - 1 == refuseAt) return refusal;
    return {};
  }
  int refuseAt = -1;
  Error refusal{ErrorKind::Picture, "gl", "the test refuses this strip", "refused.png"};
  std::vector<int> firstRows, heights, widths;
  std::vector<PixelOrder> orders;
  std::vector<Rgba> pixels;
};

// What the error sink hears.
struct Heard final : plat::ErrorSink {
  void failed(const Error& e) override { failures.push_back(e); }
  void noted(const Error& e) override { notes.push_back(e); }
  std::vector<std::string> noteTexts() const {
    std::vector<std::string> out;
    for (const Error& e : notes) out.push_back(e.origin + ": " + e.message);
    return out;
  }
  std::vector<Error> failures, notes;
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
  for (std::size_t i = 0; i < got.firstRows.size(); ++i) {
    EXPECT_EQ(got.firstRows[i], next) << "strip " << i;
    EXPECT_EQ(got.widths[i], image.width()) << "strip " << i;
    EXPECT_EQ(got.orders[i], got.orders[0]) << "strip " << i;
    next += got.heights[i];
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

// Tiny strips cross the files' own strip and tile borders; the crop, rows 9 to 45, is off the JPEG block grid.
TEST(Strips, EveryFormatHandsEachRowOnceInOrderAndTogetherTheyAreItsFullDecode) {
  const std::set<std::string> unstripped = {"interlaced.png", "plain.heic", "rotated.heic", "rgb.bmp", "rgba.bmp"};
  int checked = 0;
  for (const auto& [name, bytes] : all()) {
    if (!open(bytes) || !open(bytes)->pixels()) continue;  // the malformed ones
    SCOPED_TRACE(name);
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}}) {
      SCOPED_TRACE(size == 0 ? "usual strips" : "tiny strips");
      const StripSize strips(size);
      auto image = open(bytes);
      Recorder whole;
      ASSERT_TRUE(image->decodeRows(whole));
      expectStripsLikeFullDecode(*image, bytes, 0, 0, whole);
      auto outer = image->cropped({3.0, 4.0, 50.0, 44.0});
      ASSERT_TRUE(outer);
      auto crop = outer->cropped({10.0, 5.0, 37.0, 37.0});  // a crop of a crop adds the offsets
      ASSERT_TRUE(crop);
      outer.reset();
      image.reset();  // and outlives its source
      Recorder part;
      ASSERT_TRUE(crop->decodeRows(part));
      expectStripsLikeFullDecode(*crop, bytes, 13, 9, part);
      if (size == 0) {
        EXPECT_EQ(whole.firstRows.size(), 1u) << "a small picture is one strip";
      } else if (!unstripped.contains(name)) {
        EXPECT_GT(whole.firstRows.size(), 1u) << "tiny strips are many";
      }
    }
    ++checked;
  }
  EXPECT_EQ(checked, 19);
}

TEST(Strips, ASinkThatRefusesEndsTheDecodeAndItsErrorComesBackAsItIs) {
  auto heard = std::make_shared<Heard>();
  const plat::ScopedErrorSink scope(heard);
  const StripSize strips(1);
  // The strip refused: the second where there are several, else the only one.
  for (const auto& [name, refuseAt] : {std::pair{"baseline.jpg", 1}, {"rgb.png", 1}, {"two-pages.tiff", 1},
                                       {"tiled.tiff", 1}, {"plain.heic", 0}, {"rgb.bmp", 0}}) {
    SCOPED_TRACE(name);
    auto image = open(fixture(name));
    ASSERT_TRUE(image);
    Recorder sink;
    sink.refuseAt = refuseAt;
    auto done = image->decodeRows(sink);
    ASSERT_FALSE(done);
    EXPECT_EQ(done.error(), sink.refusal);
    EXPECT_EQ(sink.firstRows.size(), std::size_t(refuseAt) + 1) << "no strip after the refused one";
  }
  EXPECT_THAT(heard->failures, ::testing::IsEmpty()) << "the sink's own error is not told again";
}

// Noise spreads the file's data evenly; cut at 60%, the rows before the cut arrive, then the error.
TEST(Strips, ADecoderFailingHalfWayIsToldOnceWithItsFileAfterTheRowsItHad) {
  auto heard = std::make_shared<Heard>();
  const plat::ScopedErrorSink scope(heard);
  const StripSize strips(1);
  TempDir dir;
  Bytes noise(256 * 256 * 4, 255);
  std::uint32_t state = 1;
  for (std::size_t i = 0; i < noise.size(); ++i) {
    state = state * 1664525u + 1013904223u;
    if (i % 4 != 3) noise[i] = std::uint8_t(state >> 24);
  }
  for (const auto& [name, decoder, whole] : {std::tuple{"cut.png", "png", png(noise, 256, 256, PngKind::Rgb)},
                                             {"cut.jpg", "jpeg", jpeg(noise, 256, 256, JpegKind::Baseline)}}) {
    SCOPED_TRACE(name);
    heard->failures.clear();
    ASSERT_TRUE(writeFile(dir / name, Bytes(whole.begin(), whole.begin() + long(whole.size() * 6 / 10))));
    auto source = plat::image::ImageSource::createWithPath(dir / name).valueOr(nullptr);
    ASSERT_TRUE(source);
    auto image = source->createImageAtIndex(0, {}).valueOr(nullptr);
    ASSERT_TRUE(image);
    Recorder sink;
    auto done = image->decodeRows(sink);
    ASSERT_FALSE(done);
    EXPECT_GT(sink.firstRows.size(), 1u) << "the rows before the cut arrive";
    EXPECT_LT(std::accumulate(sink.heights.begin(), sink.heights.end(), 0), image->height());
    ASSERT_EQ(heard->failures.size(), 1u);
    EXPECT_EQ(heard->failures[0], done.error());
    EXPECT_EQ(done.error().path, dir / name);
    EXPECT_EQ(done.error().origin, decoder);
  }
}

// Standard error goes to a file for as long as it lives.
class StderrToFile {
 public:
  explicit StderrToFile(const std::string& path) : path_(path) {
    std::fflush(stderr);
    saved_ = ::dup(2);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~StderrToFile() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
  }
  std::string text() const {
    std::fflush(stderr);
    const Bytes bytes = readFile(path_);
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  std::string path_;
  int saved_ = -1;
};

// Files that decode with a warning: the warning is a note with the file's name.
TEST(LibraryNotes, WarningsOfEveryLibraryAreNotesWithTheFileAndNothingIsPrinted) {
  Bytes jpg = fixture("baseline.jpg");  // two stray bytes before the scan
  for (std::size_t at = 2; at + 4 < jpg.size(); at += 2 + std::size_t(jpg[at + 2] << 8 | jpg[at + 3])) {
    if (jpg[at + 1] == 0xDA) {
      jpg.insert(jpg.begin() + long(at), {0x00, 0x00});
      break;
    }
  }
  Bytes png = fixture("rgb.png");  // a text chunk of a wrong checksum
  const Bytes text = {0, 0, 0, 4, 't', 'E', 'X', 't', 'a', 0, 'b', 'c', 0xDE, 0xAD, 0xBE, 0xEF};
  png.insert(png.begin() + 33, text.begin(), text.end());  // after the signature and IHDR
  Bytes tif = fixture("two-pages.tiff");  // an unknown tag out of order
  const std::size_t ifd = std::size_t(tif[4] | tif[5] << 8 | tif[6] << 16 | tif[7] << 24);
  for (std::size_t e = ifd + 2; e < ifd + 2 + 12u * std::size_t(tif[ifd] | tif[ifd + 1] << 8); e += 12) {
    if ((tif[e] | tif[e + 1] << 8) == 274) tif[e] = 0xE8, tif[e + 1] = 0xFD;  // Orientation becomes tag 65000
  }
  const struct {
    const char* name;
    const Bytes& bytes;
    const char* decoder;
    const char* says;
  } cases[] = {{"stray.jpg", jpg, "jpeg", "extraneous bytes before marker 0xda"},
               {"text.png", png, "png", "tEXt: CRC error"},
               {"unknown-tag.tiff", tif, "tiff", "Unknown field with tag 65000"}};
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto heard = std::make_shared<Heard>();
    const plat::ScopedErrorSink scope(heard);
    const StderrToFile err(dir / "stderr");
    ASSERT_TRUE(writeFile(dir / c.name, c.bytes));
    auto source = plat::image::ImageSource::createWithPath(dir / c.name).valueOr(nullptr);
    ASSERT_TRUE(source);
    auto image = source->createImageAtIndex(0, {}).valueOr(nullptr);
    ASSERT_TRUE(image);
    Recorder sink;
    EXPECT_TRUE(image->decodeRows(sink));
    EXPECT_THAT(heard->failures, ::testing::IsEmpty());
    EXPECT_THAT(heard->noteTexts(), ::testing::Contains(::testing::AllOf(::testing::StartsWith(std::string(c.decoder)),
                                                                         HasSubstr(c.says))));
    for (const Error& note : heard->notes) EXPECT_EQ(note.path, dir / c.name);
    EXPECT_EQ(err.text(), "");
  }
}

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
    EXPECT_EQ(err.text(), "");
  }
  EXPECT_EQ(std::count_if(heard->notes.begin(), heard->notes.end(),
                          [](const Error& e) { return e.origin == "heif" && e.message.starts_with("SPS error: "); }),
            1);
  for (const Error& note : heard->notes) EXPECT_EQ(note.path, path);
}

// Lines printed through the stderr stream during a capture are caught, duplicates once; what other threads
// write to descriptor 2 meanwhile (the progress bar) still goes there.
TEST(LibraryNotes, ACaptureTakesTheStderrStreamAndLeavesDescriptorTwoAlone) {
  TempDir dir;
  const StderrToFile err(dir / "stderr");
  plat::image::detail::LibraryMessages messages;
  {
    plat::image::detail::StderrCapture capture;
    std::fprintf(stderr, "SPS error: one\nSPS error: two\n");
    std::fprintf(stderr, "SPS error: one\n");
    std::thread([] { [[maybe_unused]] auto n = ::write(2, "[####....] 3/8 frames\n", 22); }).join();
    capture.finish(&messages);
  }
  ASSERT_EQ(messages.kept, 2);
  EXPECT_STREQ(messages.text[0], "SPS error: one");
  EXPECT_STREQ(messages.text[1], "SPS error: two");
  EXPECT_EQ(messages.more, 0);
  EXPECT_EQ(err.text(), "[####....] 3/8 frames\n");
  std::fprintf(stderr, "after\n");
  EXPECT_EQ(err.text(), "[####....] 3/8 frames\nafter\n") << "the stream is the process's again";
}

// A stream taken during a capture and written after it goes to descriptor 2, not to freed memory; a capture
// left by an exception puts the stream back and lets the next one start.
TEST(LibraryNotes, ACaptureEndsSoundlyForLateWritersAndOnEveryWayOut) {
  TempDir dir;
  const StderrToFile err(dir / "stderr");
  std::FILE* const real = stderr;
  std::FILE* taken = nullptr;
  {
    plat::image::detail::StderrCapture capture;
    taken = stderr;
    capture.finish(nullptr);
  }
  ASSERT_NE(taken, real);
  std::thread([taken] { std::fprintf(taken, "late line\n"); }).join();
  EXPECT_EQ(err.text(), "late line\n");

  try {
    plat::image::detail::StderrCapture capture;
    throw std::runtime_error("a decoder gave up");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(stderr, real);
  plat::image::detail::LibraryMessages messages;
  plat::image::detail::StderrCapture next;  // starts, rather than waiting for the one left
  std::fprintf(stderr, "next\n");
  next.finish(&messages);
  EXPECT_EQ(messages.kept, 1);
}

// A thread printing while captures come and go: each line is caught or on descriptor 2, exactly once.
TEST(LibraryNotes, ALineWrittenBesideCapturesIsNeitherLostNorDoubled) {
  constexpr int kLines = 2000;
  TempDir dir;
  const StderrToFile err(dir / "stderr");
  std::atomic<bool> done{false};
  std::thread writer([&done] {
    for (int i = 0; i < kLines; ++i) std::fprintf(stderr, "line %d\n", i);
    done = true;
  });
  int caught = 0;
  while (!done) {
    plat::image::detail::LibraryMessages messages;
    plat::image::detail::StderrCapture capture;
    std::this_thread::yield();
    capture.finish(&messages);
    caught += messages.kept + messages.more;
  }
  writer.join();
  const std::string text = err.text();
  const auto printed = std::count(text.begin(), text.end(), '\n');
  EXPECT_EQ(caught + printed, kLines) << caught << " caught, " << printed << " printed";
}

}  // namespace
