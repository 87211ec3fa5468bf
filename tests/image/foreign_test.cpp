// The quadrant picture as other encoders write it (tests/image/fixtures/foreign, remade by its
// make-foreign.sh), in variants the fixture maker's own libraries never write. The wanted colours are what
// an independent decoder reads from the same files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "image/pixels.h"

namespace {

using namespace fixtures;
using plat::image::ImageSource;

constexpr Rgba grey(std::uint8_t v) { return Rgba{v, v, v, 255}; }
constexpr Rgba half(Rgba c) { return Rgba{c.r, c.g, c.b, 128}; }

const std::filesystem::path kFolder = QUELLTRINE_SOURCE_DIR "/tests/image/fixtures/foreign";

struct Case {
  const char* file;
  const char* format;
  Rgba want[4];
  int tolerance;
};

constexpr Rgba TL = kTopLeft, TR = kTopRight, BL = kBottomLeft, BR = kBottomRight;
const Case kCases[] = {
    {"cjpeg-arithmetic.jpg", "jpeg", {TL, TR, BL, BR}, 8},
    {"cjpeg-444-restart.jpg", "jpeg", {TL, TR, BL, BR}, 8},
    {"cjpeg-422-progressive.jpg", "jpeg", {TL, TR, BL, BR}, 8},
    {"cjpeg-rgb.jpg", "jpeg", {TL, TR, BL, BR}, 8},  // RGB components, no YCbCr
    {"pillow-optimized.jpg", "jpeg", {TL, TR, BL, BR}, 8},
    {"imagemagick-cmyk.jpg", "jpeg", {TL, TR, BL, BR}, 8},
    {"imagemagick-rgb16-interlaced.png", "png", {TL, TR, BL, BR}, 0},
    {"imagemagick-grey16.png", "png", {grey(54), grey(182), grey(18), grey(255)}, 1},  // Rec. 709 weights
    {"pillow-palette.png", "png", {TL, TR, BL, BR}, 0},
    {"pillow-palette-trns.png", "png", {TL, TR, half(BL), half(BR)}, 1},
    {"imagemagick-palette4.bmp", "bmp", {TL, TR, BL, BR}, 0},
    {"imagemagick-rle8.bmp", "bmp", {TL, TR, BL, BR}, 0},
    {"pillow-grey.bmp", "bmp", {grey(76), grey(150), grey(29), grey(255)}, 1},  // Rec. 601 weights
    {"pillow-rgba.bmp", "bmp", {TL, TR, half(BL), half(BR)}, 1},
    {"pillow-packbits.tiff", "tiff", {TL, TR, BL, BR}, 0},
    {"tiffcp-lzw-predictor.tiff", "tiff", {TL, TR, BL, BR}, 0},
    {"tiffcp-zip-planar.tiff", "tiff", {TL, TR, BL, BR}, 0},
    {"tiffcp-tiled-lzw.tiff", "tiff", {TL, TR, BL, BR}, 0},
    {"tiffcp-jpeg.tiff", "tiff", {TL, TR, BL, BR}, 8},
    {"imagemagick-cmyk.tiff", "tiff", {TL, TR, BL, BR}, 1},
    {"imagemagick-rgba16.tiff", "tiff", {TL, TR, half(BL), half(BR)}, 1},
    {"heifenc-plain.heic", "heif", {TL, TR, BL, BR}, 12},
    {"heifenc-444.heic", "heif", {TL, TR, BL, BR}, 12},
    {"heifenc-10bit.heic", "heif", {TL, TR, BL, BR}, 12},
    {"heifenc-alpha.heic", "heif", {TL, TR, half(BL), half(BR)}, 12},
};

// Every file decodes to its quadrants, and the table covers the folder: a file it forgot is a variant nobody
// checks.
TEST(ForeignEncoders, EveryFileInTheFolderDecodesToItsQuadrants) {
  std::set<std::string> inFolder, inTable;
  for (const auto& entry : std::filesystem::directory_iterator(kFolder))
    if (entry.path().extension() != ".sh") inFolder.insert(entry.path().filename().string());
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file);
    inTable.insert(c.file);
    const Bytes bytes = readFile((kFolder / c.file).string());
    ASSERT_FALSE(bytes.empty()) << "missing fixture";
    expectQuadrants(bytes, c.format, c.want, c.tolerance);
  }
  EXPECT_EQ(inFolder, inTable);
}

// A run-length BMP whose header announces `width` x `height` pixels and whose only data ends the picture.
Bytes rleBmpOfOneEscape(std::uint32_t width, std::uint32_t height) {
  Bytes bytes(54 + 4 * 256 + 2, 0);
  auto put = [&](std::size_t at, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bytes[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  for (auto [at, value, count] : {std::tuple{2, std::uint32_t(bytes.size()), 4}, {10, 54 + 4 * 256, 4}, {14, 40, 4},
                                  {18, width, 4}, {22, height, 4}, {26, 1, 2}, {28, 8, 2}, {30, 1, 4}}) {
    put(std::size_t(at), value, count);  // pixels after the palette, one plane of 8 bits, RLE8
  }
  bytes[bytes.size() - 1] = 1;  // 00 01: end of picture
  return bytes;
}

// Refused when opened, before the decoder allocates anything.
TEST(ForeignEncoders, RunLengthBmpsOutOfProportionOrCutShortAreRefused) {
  const Bytes rle = readFile((kFolder / "imagemagick-rle8.bmp").string());
  ASSERT_FALSE(rle.empty()) << "missing fixture";
  const struct {
    const char* name;
    Bytes bytes;
    const char* reason;
  } cases[] = {
      {"16384 x 16384 from one escape", rleBmpOfOneEscape(16384, 16384), "cannot make 268435456 pixels"},
      {"cut in the middle of its runs", Bytes(rle.begin(), rle.begin() + std::ptrdiff_t(rle.size() / 2)), "cut short"},
      {"top-down", rleBmpOfOneEscape(64, std::uint32_t(-48)), "bad size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto source = ImageSource::createWithData(c.bytes.data(), c.bytes.size());
    ASSERT_TRUE(source) << source.error().text();
    auto image = (*source)->createImageAtIndex(0, {});
    ASSERT_FALSE(image);
    EXPECT_EQ(image.error().origin, "bmp");
    EXPECT_THAT(image.error().text(), ::testing::HasSubstr(c.reason));
  }
}

}  // namespace
