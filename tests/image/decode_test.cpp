// Every format and variant decodes to its quadrant colours; damaged, absurd and oversized files fail at the
// step that should refuse them, with their decoder's name, never by running out of memory.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
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

Rgba grey(std::uint8_t v) { return Rgba{v, v, v, 255}; }
Rgba alpha(Rgba c) { return Rgba{c.r, c.g, c.b, 128}; }
const Rgba TL = kTopLeft, TR = kTopRight, BL = kBottomLeft, BR = kBottomRight;

struct Case {
  const char* file;
  const char* format;
  Rgba want[4];
  int tolerance;
};

TEST(Decode, EveryVariantHasItsQuadrantColours) {
  const Case cases[] = {
      {"baseline.jpg", "jpeg", {TL, TR, BL, BR}, 12}, {"progressive.jpg", "jpeg", {TL, TR, BL, BR}, 12},
      {"grey.jpg", "jpeg", {grey(77), grey(149), grey(29), grey(255)}, 4}, {"rgb.png", "png", {TL, TR, BL, BR}, 0},
      {"rgba.png", "png", {TL, TR, alpha(BL), alpha(BR)}, 0}, {"rgb.bmp", "bmp", {TL, TR, BL, BR}, 0},
      {"rgba.bmp", "bmp", {TL, TR, alpha(BL), alpha(BR)}, 0},
      {"two-pages.tiff", "tiff", {TL, TR, BL, BR}, 0},  // the second page is black
      {"bottom-up.tiff", "tiff", {TL, TR, BL, BR}, 0},  // orientation tag 4 not applied
      {"interlaced.png", "png", {TL, TR, BL, BR}, 0},
      {"plain.heic", "heif", {TL, TR, BL, BR}, 24},
      {"rotated.heic", "heif", {TL, TR, BL, BR}, 24}};  // a 90-degree irot, shown as stored
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    expectQuadrants(corpus().at(c.file), c.format, c.want, c.tolerance);
  }
  const Bytes& pages = corpus().at("two-pages.tiff");
  EXPECT_FALSE((*ImageSource::createWithData(pages.data(), pages.size()))->createImageAtIndex(1, {})) << "page 2";
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
               {"huge.tiff", "tiff", 1, "outside the decodable range"},
               {"rle-bomb.bmp", "bmp", 2, "cannot make 268435456 pixels"},
               {"rle-top-down.bmp", "bmp", 2, "bad size"},
               {"rle-huge-header.bmp", "bmp", 2, "header does not fit"},
               // a HEIF grid of 64x48 whose tile claims 63414x57292 once made the decoder allocate 3.6 GB
               {"heif-giant-tile.heic", "heif", 2, "exceeds the maximum image size 16384x16384"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes bytes = corpus().contains(c.file)
                            ? corpus().at(c.file)
                            : readFile(std::string(QUELLTRINE_SOURCE_DIR "/tests/image/fixtures/") + c.file);
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
}

// By path: the format comes from the content; a file over the size cap is refused from its size alone.
TEST(File, FormatFromContentAndOversizedFilesRefused) {
  TempDir dir;
  ASSERT_TRUE(writeFile(dir / "a.heic", png(quadrants(8, 8), 8, 8, PngKind::Rgb)));
  auto source = ImageSource::createWithPath(dir / "a.heic");
  ASSERT_TRUE(source) << source.error().text();
  EXPECT_STREQ((*source)->formatName(), "png");
  EXPECT_TRUE((**(*source)->createImageAtIndex(0, {})).pixels());

  const int fd = open((dir / "big.jpg").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_EQ(write(fd, "\xFF\xD8\xFF", 3), 3);
  ASSERT_EQ(ftruncate(fd, off_t{513} << 20), 0);
  close(fd);
  const auto big = ImageSource::createWithPath(dir / "big.jpg");
  ASSERT_FALSE(big);
  EXPECT_EQ(big.error().origin, "source");
  EXPECT_EQ(big.error().path, dir / "big.jpg");
}

// The quadrant picture as other encoders write it (fixtures/foreign, remade by its make-foreign.sh), in
// variants the fixture maker's own libraries never write; the colours are what an independent decoder reads.
TEST(Decode, EveryForeignEncodersFileDecodesToItsQuadrants) {
  const std::filesystem::path folder = QUELLTRINE_SOURCE_DIR "/tests/image/fixtures/foreign";
  const Case cases[] = {
      {"cjpeg-arithmetic.jpg", "jpeg", {TL, TR, BL, BR}, 8},
      {"cjpeg-444-restart.jpg", "jpeg", {TL, TR, BL, BR}, 8},
      {"cjpeg-422-progressive.jpg", "jpeg", {TL, TR, BL, BR}, 8},
      {"cjpeg-rgb.jpg", "jpeg", {TL, TR, BL, BR}, 8},  // RGB components, no YCbCr
      {"pillow-optimized.jpg", "jpeg", {TL, TR, BL, BR}, 8},
      {"imagemagick-cmyk.jpg", "jpeg", {TL, TR, BL, BR}, 8},
      {"imagemagick-rgb16-interlaced.png", "png", {TL, TR, BL, BR}, 0},
      {"imagemagick-grey16.png", "png", {grey(54), grey(182), grey(18), grey(255)}, 1},  // Rec. 709 weights
      {"pillow-palette.png", "png", {TL, TR, BL, BR}, 0},
      {"pillow-palette-trns.png", "png", {TL, TR, alpha(BL), alpha(BR)}, 1},
      {"imagemagick-palette4.bmp", "bmp", {TL, TR, BL, BR}, 0},
      {"imagemagick-rle8.bmp", "bmp", {TL, TR, BL, BR}, 0},
      {"pillow-grey.bmp", "bmp", {grey(76), grey(150), grey(29), grey(255)}, 1},  // Rec. 601 weights
      {"pillow-rgba.bmp", "bmp", {TL, TR, alpha(BL), alpha(BR)}, 1},
      {"pillow-packbits.tiff", "tiff", {TL, TR, BL, BR}, 0},
      {"tiffcp-lzw-predictor.tiff", "tiff", {TL, TR, BL, BR}, 0},
      {"tiffcp-zip-planar.tiff", "tiff", {TL, TR, BL, BR}, 0},
      {"tiffcp-tiled-lzw.tiff", "tiff", {TL, TR, BL, BR}, 0},
      {"tiffcp-jpeg.tiff", "tiff", {TL, TR, BL, BR}, 8},
      {"imagemagick-cmyk.tiff", "tiff", {TL, TR, BL, BR}, 1},
      {"imagemagick-rgba16.tiff", "tiff", {TL, TR, alpha(BL), alpha(BR)}, 1},
      {"heifenc-plain.heic", "heif", {TL, TR, BL, BR}, 12},
      {"heifenc-444.heic", "heif", {TL, TR, BL, BR}, 12},
      {"heifenc-10bit.heic", "heif", {TL, TR, BL, BR}, 12},
    {"heifenc-alpha.heic", "heif", {TL, TR, alpha(BL), alpha(BR)}, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes bytes = readFile((folder / c.file).string());
    ASSERT_FALSE(bytes.empty()) << "missing fixture";
    expectQuadrants(bytes, c.format, c.want, c.tolerance);
  }
}

}  // namespace
