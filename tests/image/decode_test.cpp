// Decoding every format and variant the fixtures make: size, the colour of
// each quadrant (which also shows channel order and any flip or rotation),
// and a clean, fast error for damaged and absurd files.
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <chrono>
#include <map>

#include "image/fixtures.h"
#include "image/pixels.h"
#include "platform/image/image.h"

namespace {

using fixtures::Rgba;
using plat::image::Error;
using plat::image::ImageSource;

const std::map<std::string, fixtures::Bytes>& corpus() {
  static const auto* files = [] {
    auto* m = new std::map<std::string, fixtures::Bytes>;
    for (auto& [name, bytes] : fixtures::all()) (*m)[name] = std::move(bytes);
    return m;
  }();
  return *files;
}

Rgba grey(std::uint8_t v, std::uint8_t a = 255) { return Rgba{v, v, v, a}; }
Rgba withAlpha(Rgba c, std::uint8_t a) {
  c.a = a;
  return c;
}

struct Expected {
  std::string file;
  const char* format;
  Rgba topLeft, topRight, bottomLeft, bottomRight;
  int tolerance;
};

// Grey values of the quadrant colours as the fixtures store them.
constexpr std::uint8_t kRedLuma = 77, kGreenLuma = 149, kBlueLuma = 29;

const Rgba TL = fixtures::kTopLeft, TR = fixtures::kTopRight, BL = fixtures::kBottomLeft, BR = fixtures::kBottomRight;

class DecodeTest : public testing::TestWithParam<Expected> {};

TEST_P(DecodeTest, SizeAndQuadrantColours) {
  const Expected& e = GetParam();
  const fixtures::Bytes& bytes = corpus().at(e.file);
  ASSERT_FALSE(bytes.empty()) << "fixture not made";
  Error error;
  auto source = ImageSource::createWithData(bytes.data(), bytes.size(), &error);
  ASSERT_TRUE(source) << error.decoder << ": " << error.message;
  EXPECT_STREQ(source->formatName(), e.format);
  auto image = source->createImageAtIndex(0, {}, &error);
  ASSERT_TRUE(image) << error.decoder << ": " << error.message;
  EXPECT_EQ(image->width(), 64);
  EXPECT_EQ(image->height(), 48);
  auto view = image->pixels(&error);
  ASSERT_TRUE(view) << error.decoder << ": " << error.message;
  EXPECT_EQ(view->width, 64);
  EXPECT_EQ(view->height, 48);
  EXPECT_GE(view->bytesPerRow, 64u * 4);
  const Rgba got[4] = {fixtures::at(*view, 16, 12), fixtures::at(*view, 48, 12), fixtures::at(*view, 16, 36),
                       fixtures::at(*view, 48, 36)};
  const Rgba want[4] = {e.topLeft, e.topRight, e.bottomLeft, e.bottomRight};
  const char* where[4] = {"top left", "top right", "bottom left", "bottom right"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(fixtures::near(got[i], want[i], e.tolerance)) << where[i] << ": got " << got[i] << ", want " << want[i];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DecodeTest,
    testing::Values(
        Expected{"baseline.jpg", "jpeg", TL, TR, BL, BR, 12}, Expected{"progressive.jpg", "jpeg", TL, TR, BL, BR, 12},
        Expected{"grey.jpg", "jpeg", grey(kRedLuma), grey(kGreenLuma), grey(kBlueLuma), grey(255), 4},
        Expected{"cmyk-adobe.jpg", "jpeg", TL, TR, BL, BR, 8}, Expected{"cmyk-plain.jpg", "jpeg", TL, TR, BL, BR, 8},
        Expected{"rgb.png", "png", TL, TR, BL, BR, 0},
        Expected{"rgba.png", "png", TL, TR, withAlpha(BL, 128), withAlpha(BR, 128), 0},
        Expected{"grey.png", "png", grey(kRedLuma), grey(kGreenLuma), grey(kBlueLuma), grey(255), 0},
        Expected{"grey1.png", "png", grey(0), grey(255), grey(0), grey(255), 0},
        Expected{"grey-alpha.png", "png", grey(kRedLuma), grey(kGreenLuma), grey(kBlueLuma, 128), grey(255, 128), 0},
        Expected{"palette.png", "png", TL, TR, BL, BR, 0},
        Expected{"palette-alpha.png", "png", TL, TR, withAlpha(BL, 128), withAlpha(BR, 128), 0},
        Expected{"rgb16.png", "png", TL, TR, BL, BR, 0},
        Expected{"rgba16.png", "png", TL, TR, withAlpha(BL, 128), withAlpha(BR, 128), 0},
        Expected{"interlaced.png", "png", TL, TR, BL, BR, 0},
        // The second page is black: only the first is read.
        Expected{"two-pages.tiff", "tiff", TL, TR, BL, BR, 0},
        // Orientation tag 4 (bottom-left origin) is not applied: rows as stored.
        Expected{"bottom-up.tiff", "tiff", TL, TR, BL, BR, 0},
        Expected{"alpha.tiff", "tiff", TL, TR, withAlpha(BL, 128), withAlpha(BR, 128), 2},
        Expected{"plain.heic", "heif", TL, TR, BL, BR, 24},
        // Stored with a 90-degree rotation property: shown as coded, 64x48.
        Expected{"rotated.heic", "heif", TL, TR, BL, BR, 24}, Expected{"rgb.bmp", "bmp", TL, TR, BL, BR, 0},
        Expected{"rgba.bmp", "bmp", TL, TR, withAlpha(BL, 128), withAlpha(BR, 128), 0}),
    [](const testing::TestParamInfo<Expected>& param) {
      std::string name = param.param.file;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

// The rotation property is really in the file: libheif itself, applying the
// transformations, would show the picture upright as 48x64.
TEST(DecodeHeif, RotatedFixtureCarriesARotationThatIsNotApplied) {
  const fixtures::Bytes& bytes = corpus().at("rotated.heic");
  ASSERT_FALSE(bytes.empty());
  const std::string irot = "irot";
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), irot.begin(), irot.end()), bytes.end());
  heif_context* context = heif_context_alloc();
  ASSERT_EQ(heif_context_read_from_memory_without_copy(context, bytes.data(), bytes.size(), nullptr).code,
            heif_error_Ok);
  heif_image_handle* handle = nullptr;
  ASSERT_EQ(heif_context_get_primary_image_handle(context, &handle).code, heif_error_Ok);
  heif_image* upright = nullptr;
  ASSERT_EQ(heif_decode_image(handle, &upright, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code,
            heif_error_Ok);
  EXPECT_EQ(heif_image_get_width(upright, heif_channel_interleaved), 48);
  EXPECT_EQ(heif_image_get_height(upright, heif_channel_interleaved), 64);
  heif_image_release(upright);
  heif_image_handle_release(handle);
  heif_context_free(context);

  auto image = ImageSource::createWithData(bytes.data(), bytes.size())->createImageAtIndex(0, {});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 64);
  EXPECT_EQ(image->height(), 48);
}

TEST(DecodeFailure, DamagedFilesFailWithTheirDecodersName) {
  for (const auto& [file, decoder] : std::vector<std::pair<std::string, std::string>>{
           {"truncated.jpg", "jpeg"}, {"truncated.png", "png"}}) {
    SCOPED_TRACE(file);
    const fixtures::Bytes& bytes = corpus().at(file);
    auto source = ImageSource::createWithData(bytes.data(), bytes.size());
    ASSERT_TRUE(source);
    Error error;
    auto image = source->createImageAtIndex(0, {}, &error);
    if (image) {
      EXPECT_FALSE(image->pixels(&error));
      // A second request reports the same failure rather than decoding again.
      Error again;
      EXPECT_FALSE(image->pixels(&again));
      EXPECT_EQ(again.message, error.message);
    }
    EXPECT_EQ(error.decoder, decoder);
    EXPECT_FALSE(error.message.empty());
  }
}

TEST(DecodeFailure, NotAPictureHasNoSource) {
  for (const char* file : {"empty.jpg", "text.jpg"}) {
    SCOPED_TRACE(file);
    const fixtures::Bytes& bytes = corpus().at(file);
    Error error;
    EXPECT_FALSE(ImageSource::createWithData(bytes.data(), bytes.size(), &error));
    EXPECT_EQ(error.decoder, "source");
  }
  Error error;
  EXPECT_FALSE(ImageSource::createWithData(nullptr, 0, &error));
  EXPECT_EQ(error.decoder, "source");
}

// Headers announcing absurd sizes are refused by the header read itself,
// before any pixel buffer exists, and quickly.
TEST(DecodeFailure, AbsurdHeaderSizesAreRefusedBeforeDecoding) {
  for (const auto& [file, decoder] : std::vector<std::pair<std::string, std::string>>{
           {"huge-header.png", "png"},
           {"huge-sof.jpg", "jpeg"},
           {"huge-ispe.heic", "heif"},
           {"huge.bmp", "bmp"},
           {"huge.tiff", "tiff"}}) {
    SCOPED_TRACE(file);
    const fixtures::Bytes& bytes = corpus().at(file);
    const auto start = std::chrono::steady_clock::now();
    auto source = ImageSource::createWithData(bytes.data(), bytes.size());
    ASSERT_TRUE(source);
    Error error;
    EXPECT_FALSE(source->createImageAtIndex(0, {}, &error));
    EXPECT_EQ(error.decoder, decoder);
    EXPECT_FALSE(error.message.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  }
}

TEST(DecodeFailure, OnlyTheFirstImageIsOffered) {
  const fixtures::Bytes& bytes = corpus().at("two-pages.tiff");
  auto source = ImageSource::createWithData(bytes.data(), bytes.size());
  ASSERT_TRUE(source);
  EXPECT_TRUE(source->createImageAtIndex(0, {}));
  Error error;
  EXPECT_FALSE(source->createImageAtIndex(1, {}, &error));
  EXPECT_EQ(error.decoder, "tiff");
}

}  // namespace

// Inputs the fuzzer found, kept in tests/image/fixtures/. A HEIF whose grid
// announces 64x48 but whose tile claims 63414x57292 made libheif allocate
// 3.6 GB; it must now fail quickly and cheaply.
TEST(DecodeFailure, FuzzerFoundFilesFailCleanly) {
  const std::string path = std::string(QUELLTRINE_SOURCE_DIR) + "/tests/image/fixtures/heif-giant-tile.heic";
  const auto start = std::chrono::steady_clock::now();
  auto source = ImageSource::createWithPath(path);
  ASSERT_TRUE(source);
  auto image = source->createImageAtIndex(0, {});
  ASSERT_TRUE(image);
  Error error;
  EXPECT_FALSE(image->pixels(&error));
  EXPECT_EQ(error.decoder, "heif");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}
