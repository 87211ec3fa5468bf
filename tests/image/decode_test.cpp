// Every format and variant the fixtures make decodes to its quadrant colours; damaged and absurd files fail
// at the step that should refuse them, with their decoder's name, never by running out of memory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "image/pixels.h"

namespace {

using namespace fixtures;

using plat::image::ImageSource;

const std::map<std::string, Bytes>& corpus() {
  static const auto list = all();
  static const std::map<std::string, Bytes> files(list.begin(), list.end());
  return files;
}

Rgba grey(std::uint8_t v, std::uint8_t a = 255) { return Rgba{v, v, v, a}; }
Rgba alpha(Rgba c) { return Rgba{c.r, c.g, c.b, 128}; }

TEST(Decode, EveryVariantHasItsQuadrantColours) {
  const Rgba TL = kTopLeft, TR = kTopRight, BL = kBottomLeft, BR = kBottomRight;
  const struct {
    const char* file;
    const char* format;
    Rgba want[4];
    int tolerance;
  } cases[] = {
      {"baseline.jpg", "jpeg", {TL, TR, BL, BR}, 12}, {"progressive.jpg", "jpeg", {TL, TR, BL, BR}, 12},
      {"grey.jpg", "jpeg", {grey(77), grey(149), grey(29), grey(255)}, 4}, {"rgb.png", "png", {TL, TR, BL, BR}, 0},
      {"cmyk-adobe.jpg", "jpeg", {TL, TR, BL, BR}, 8}, {"cmyk-plain.jpg", "jpeg", {TL, TR, BL, BR}, 8},
      {"rgba.png", "png", {TL, TR, alpha(BL), alpha(BR)}, 0}, {"rgb.bmp", "bmp", {TL, TR, BL, BR}, 0},
      {"grey1.png", "png", {grey(0), grey(255), grey(0), grey(255)}, 0},
      {"grey-alpha.png", "png", {grey(77), grey(149), grey(29, 128), grey(255, 128)}, 0},
      {"palette-alpha.png", "png", {TL, TR, alpha(BL), alpha(BR)}, 0},
      {"rgba16.png", "png", {TL, TR, alpha(BL), alpha(BR)}, 0}, {"rgba.bmp", "bmp", {TL, TR, alpha(BL), alpha(BR)}, 0},
      {"two-pages.tiff", "tiff", {TL, TR, BL, BR}, 0},  // the second page is black
      {"bottom-up.tiff", "tiff", {TL, TR, BL, BR}, 0},  // orientation tag 4 not applied
      {"tiled.tiff", "tiff", {TL, TR, BL, BR}, 0},      {"interlaced.png", "png", {TL, TR, BL, BR}, 0},
      {"plain.heic", "heif", {TL, TR, BL, BR}, 24},
      {"rotated.heic", "heif", {TL, TR, BL, BR}, 24}};  // a 90-degree irot, shown as stored
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    expectQuadrants(corpus().at(c.file), c.format, c.want, c.tolerance);
  }
  const Bytes& rotated = corpus().at("rotated.heic");
  EXPECT_NE(std::search(rotated.begin(), rotated.end(), "irot", "irot" + 4), rotated.end()) << "rotation stored";
  const Bytes& pages = corpus().at("two-pages.tiff");
  EXPECT_FALSE((*ImageSource::createWithData(pages.data(), pages.size()))->createImageAtIndex(1, {}))
      << "only the first page";
}

// Stage 0: no source; 1: the header read refuses; 2: the image or its pixels fail. A BMP shorter than its
// rows is refused at its header: decoding the missing rows as zeros makes a GiB of RGBA of a 9 kB bomb.
TEST(Decode, MalformedFilesFailFastWithTheirDecodersName) {
  const struct {
    const char* file;
    const char* decoder;
    int stage;
    const char* says;
  } cases[] = {{"empty.jpg", "source", 0, ""},
               {"text.jpg", "source", 0, ""},
               {"truncated.jpg", "jpeg", 2, ""},
               {"truncated.png", "png", 2, ""},
               {"truncated.bmp", "bmp", 1, "the file ends before its pixels do"},
               {"bomb.bmp", "bmp", 1, "the file ends before its pixels do (9270 of 805306422 bytes)"},
               {"huge-header.png", "png", 1, "outside the decodable range"},
               {"huge-sof.jpg", "jpeg", 1, "outside the decodable range"},
               {"huge-ispe.heic", "heif", 1, "exceeds the maximum image size"},
               {"huge.bmp", "bmp", 1, "outside the decodable range"},
               {"huge.tiff", "tiff", 1, "outside the decodable range"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes& bytes = corpus().at(c.file);
    std::optional<plat::Error> error;  // the first step that fails gives it
    auto source = ImageSource::createWithData(bytes.data(), bytes.size());
    ASSERT_EQ(bool(source), c.stage > 0);
    if (!source) {
      error = source.error();
    } else if (auto image = (*source)->createImageAtIndex(0, {}); !image) {
      error = image.error();  // stage 2 may fail here already
    } else {
      EXPECT_EQ(c.stage, 2) << "the header read let it through";
      auto pixels = (*image)->pixels();
      ASSERT_FALSE(pixels);
      error = pixels.error();
    }
    EXPECT_EQ(error->origin, c.decoder);
    EXPECT_EQ(error->kind, plat::ErrorKind::Picture);
    EXPECT_FALSE(error->message.empty());
    EXPECT_THAT(error->message, ::testing::HasSubstr(c.says));
  }
  // A HEIF grid of 64x48 whose tile claims 63414x57292 once made libheif allocate 3.6 GB.
  const std::string giant = QUELLTRINE_SOURCE_DIR "/tests/image/fixtures/heif-giant-tile.heic";
  auto source = ImageSource::createWithPath(giant);
  ASSERT_TRUE(source) << source.error().text();
  auto image = (*source)->createImageAtIndex(0, {});
  ASSERT_TRUE(image) << image.error().text();
  auto pixels = (*image)->pixels();
  ASSERT_FALSE(pixels);
  EXPECT_EQ(pixels.error().origin, "heif");
  EXPECT_EQ(pixels.error().path, giant) << "a decoder's error names the file it read";
  EXPECT_THAT(pixels.error().message, ::testing::HasSubstr("exceeds the maximum image size 16384x16384"));
}

}  // namespace
