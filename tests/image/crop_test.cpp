// Crops widen to whole pixels, clip, refuse empty and non-finite rectangles,
// and give exactly the pixels of the full decode in every format, including
// JPEG, whose crops decode only their own rows and columns.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "image/pixels.h"

namespace {

using plat::image::ImageSource;
using plat::image::PixelRect;

std::shared_ptr<const plat::image::Image> open(const fixtures::Bytes& bytes) {
  auto source = ImageSource::createWithData(bytes.data(), bytes.size());
  return source ? source->createImageAtIndex(0, {}) : nullptr;
}

// The crop against the rectangle x, y, w, h of a separate full decode.
void expectCrop(const fixtures::Bytes& bytes, const PixelRect& rect, int x0, int y0, int w, int h) {
  auto full = open(bytes), crop = open(bytes)->cropped(rect);
  ASSERT_TRUE(full && crop);
  auto whole = full->pixels();
  auto view = crop->pixels();
  ASSERT_TRUE(whole && view);
  ASSERT_EQ(crop->width(), w);
  ASSERT_EQ(view->height, h);
  int mismatches = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) mismatches += !fixtures::near(fixtures::at(*view, x, y), fixtures::at(*whole, x0 + x, y0 + y), 0);
  }
  EXPECT_EQ(mismatches, 0) << rect.x << "," << rect.y << " " << rect.width << "x" << rect.height;
}

TEST(Crop, WidenedToWholePixelsClippedOrRefused) {
  const fixtures::Bytes png = fixtures::png(fixtures::gradient(64, 48), 64, 48, fixtures::PngKind::Rgb);
  expectCrop(png, {10.5, 5.2, 20.1, 10.0}, 10, 5, 21, 11);
  expectCrop(png, {-5.0, -5.0, 20.0, 20.0}, 0, 0, 15, 15);
  expectCrop(png, {60.0, 40.0, 100.0, 100.0}, 60, 40, 4, 8);
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  for (const PixelRect& r : {PixelRect{0, 0, 0, 10}, {0, 0, -10, 10}, {64, 0, 10, 10}, {0, 48, 10, 10},
                             {-20, 0, 10, 10}, {nan, 0, 10, 10}, {0, 0, inf, 10}, {0, 24, 64, 0.0}}) {
    EXPECT_FALSE(open(png)->cropped(r)) << r.x << "," << r.y << " " << r.width << "x" << r.height;
  }
}

TEST(Crop, EveryFormatCropsLikeItsFullDecode) {
  const fixtures::Bytes rgba = fixtures::gradient(200, 150);
  for (auto kind : {fixtures::JpegKind::Baseline, fixtures::JpegKind::Progressive, fixtures::JpegKind::Grey,
                    fixtures::JpegKind::CmykAdobe, fixtures::JpegKind::CmykPlain}) {
    SCOPED_TRACE(int(kind));  // offsets off the 8x8 and 16x16 block grid
    const fixtures::Bytes jpeg = fixtures::jpeg(rgba, 200, 150, kind);
    expectCrop(jpeg, {37.0, 23.0, 101.0, 77.0}, 37, 23, 101, 77);
    expectCrop(jpeg, {0.0, 100.5, 200.0, 49.5}, 0, 100, 200, 50);
    expectCrop(jpeg, {150.2, 0.0, 49.8, 150.0}, 150, 0, 50, 150);
  }
  int checked = 0;
  for (const auto& [name, bytes] : fixtures::all()) {
    auto image = open(bytes);
    if (!image || !image->pixels()) continue;  // the malformed ones
    SCOPED_TRACE(name);
    expectCrop(bytes, {5.0, 7.0, 40.0, 30.0}, 5, 7, 40, 30);
    ++checked;
  }
  EXPECT_EQ(checked, 17);
}

// A crop of a crop adds the offsets and outlives its source.
TEST(Crop, CropOfACropKeepsItsSourceAlive) {
  auto image = open(fixtures::jpeg(fixtures::gradient(200, 150), 200, 150, fixtures::JpegKind::Baseline));
  auto whole = image->pixels();
  auto inner = image->cropped({20, 30, 120, 100})->cropped({10, 5, 50, 40});
  ASSERT_TRUE(whole && inner);
  image.reset();
  auto view = inner->pixels();
  ASSERT_TRUE(view);
  EXPECT_EQ(view->width, 50);
  for (int y = 0; y < 40; y += 13) {
    for (int x = 0; x < 50; x += 7) EXPECT_TRUE(fixtures::near(fixtures::at(*view, x, y), fixtures::at(*whole, 30 + x, 35 + y), 0));
  }
}

}  // namespace
