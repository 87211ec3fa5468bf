// Crops: widening to whole pixels, clipping, refusing empty and non-finite
// rectangles, and giving exactly the pixels of the full decode in every
// format, including JPEG, whose crops decode only their own rows and columns.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "image/fixtures.h"
#include "image/pixels.h"
#include "platform/image/image.h"

namespace {

using plat::image::Image;
using plat::image::ImageSource;
using plat::image::PixelRect;

std::shared_ptr<const Image> open(const fixtures::Bytes& bytes) {
  auto source = ImageSource::createWithData(bytes.data(), bytes.size());
  return source ? source->createImageAtIndex(0, {}) : nullptr;
}

struct Box {
  int x, y, w, h;
};

// The crop's pixels compared with the same rectangle of a separate full
// decode of the same file.
void expectCropMatchesFull(const fixtures::Bytes& bytes, const PixelRect& rect, Box want, int tolerance) {
  auto full = open(bytes);
  ASSERT_TRUE(full);
  auto whole = full->pixels();
  ASSERT_TRUE(whole);
  auto crop = open(bytes)->cropped(rect);
  ASSERT_TRUE(crop);
  ASSERT_EQ(crop->width(), want.w);
  ASSERT_EQ(crop->height(), want.h);
  plat::image::Error error;
  auto view = crop->pixels(&error);
  ASSERT_TRUE(view) << error.decoder << ": " << error.message;
  ASSERT_EQ(view->width, want.w);
  ASSERT_EQ(view->height, want.h);
  int mismatches = 0;
  for (int y = 0; y < want.h; ++y) {
    for (int x = 0; x < want.w; ++x) {
      const fixtures::Rgba a = fixtures::at(*view, x, y), b = fixtures::at(*whole, want.x + x, want.y + y);
      if (!fixtures::near(a, b, tolerance) && ++mismatches <= 3) {
        ADD_FAILURE() << "at " << x << "," << y << ": crop " << a << ", full " << b;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Crop, RectangleIsWidenedToWholePixelsAndClipped) {
  const fixtures::Bytes png = fixtures::png(fixtures::gradient(64, 48), 64, 48, fixtures::PngKind::Rgb);
  expectCropMatchesFull(png, {10.5, 5.2, 20.1, 10.0}, {10, 5, 21, 11}, 0);
  expectCropMatchesFull(png, {-5.0, -5.0, 20.0, 20.0}, {0, 0, 15, 15}, 0);
  expectCropMatchesFull(png, {60.0, 40.0, 100.0, 100.0}, {60, 40, 4, 8}, 0);
  expectCropMatchesFull(png, {0.0, 0.0, 64.0, 48.0}, {0, 0, 64, 48}, 0);
}

TEST(Crop, EmptyOrNonFiniteRectanglesGiveNothing) {
  auto image = open(fixtures::png(fixtures::quadrants(64, 48), 64, 48, fixtures::PngKind::Rgb));
  ASSERT_TRUE(image);
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const PixelRect refused[] = {{0, 0, 0, 10},    {0, 0, 10, 0},      {0, 0, -10, 10},  {64, 0, 10, 10},
                               {0, 48, 10, 10},  {-20, 0, 10, 10},   {nan, 0, 10, 10}, {0, 0, inf, 10},
                               {0, 0, 10, -inf}, {0, 24, 64, 0.0}};
  for (const PixelRect& r : refused) {
    EXPECT_FALSE(image->cropped(r)) << r.x << "," << r.y << " " << r.width << "x" << r.height;
  }
}

// JPEG crops decode only their rows and columns; the result must be what the
// full decode has there, for every kind of JPEG and at offsets that do not
// fall on block boundaries.
TEST(Crop, JpegCropsEqualTheFullDecode) {
  const fixtures::Bytes rgba = fixtures::gradient(200, 150);
  for (auto kind : {fixtures::JpegKind::Baseline, fixtures::JpegKind::Progressive, fixtures::JpegKind::Grey,
                    fixtures::JpegKind::CmykAdobe, fixtures::JpegKind::CmykPlain}) {
    SCOPED_TRACE(static_cast<int>(kind));
    const fixtures::Bytes jpeg = fixtures::jpeg(rgba, 200, 150, kind);
    expectCropMatchesFull(jpeg, {37.0, 23.0, 101.0, 77.0}, {37, 23, 101, 77}, 0);
    expectCropMatchesFull(jpeg, {0.0, 100.5, 200.0, 49.5}, {0, 100, 200, 50}, 0);
    expectCropMatchesFull(jpeg, {150.2, 0.0, 49.8, 150.0}, {150, 0, 50, 150}, 0);
  }
}

TEST(Crop, EveryFormatCropsLikeItsFullDecode) {
  for (const auto& [name, bytes] : fixtures::all()) {
    if (name.find("huge") != std::string::npos || name.find("truncated") != std::string::npos ||
        name.find(".jpg") != std::string::npos || bytes.size() < 16) {
      continue;  // JPEG has its own test; the damaged files have no pixels
    }
    SCOPED_TRACE(name);
    expectCropMatchesFull(bytes, {5.0, 7.0, 40.0, 30.0}, {5, 7, 40, 30}, 0);
  }
}

TEST(Crop, CropOfACropAndRepeatedPixelsAgree) {
  const fixtures::Bytes jpeg = fixtures::jpeg(fixtures::gradient(200, 150), 200, 150, fixtures::JpegKind::Baseline);
  auto image = open(jpeg);
  ASSERT_TRUE(image);
  auto outer = image->cropped({20, 30, 120, 100});
  ASSERT_TRUE(outer);
  auto inner = outer->cropped({10, 5, 50, 40});
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->width(), 50);
  EXPECT_EQ(inner->height(), 40);
  auto first = inner->pixels();
  auto second = inner->pixels();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->data, second->data);  // decoded once, kept
  auto whole = image->pixels();
  ASSERT_TRUE(whole);
  for (int y = 0; y < 40; y += 13) {
    for (int x = 0; x < 50; x += 7) {
      EXPECT_TRUE(fixtures::near(fixtures::at(*first, x, y), fixtures::at(*whole, 30 + x, 35 + y), 0));
    }
  }
  // The crop keeps its source alive.
  std::weak_ptr<const Image> weakSource = image;
  image.reset();
  outer.reset();
  EXPECT_FALSE(weakSource.expired());
  EXPECT_TRUE(inner->pixels());
}

}  // namespace
