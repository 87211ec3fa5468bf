// Crops widen to whole pixels, clip, refuse empty and non-finite rectangles, and give exactly the pixels of
// the full decode. (Crops of crops, in every format, are the strips' test.)
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "image/pixels.h"

namespace {

using namespace fixtures;

using plat::image::ImageSource;
using plat::image::PixelRect;

std::shared_ptr<const plat::image::Image> open(const Bytes& bytes) {
  auto source = ImageSource::createWithData(bytes.data(), bytes.size()).valueOr(nullptr);
  return source ? source->createImageAtIndex(0, {}).valueOr(nullptr) : nullptr;
}

// The crop's w x h pixels against those from x0, y0 of a separate full decode.
void expectCrop(const Bytes& bytes, const PixelRect& rect, int x0, int y0, int w, int h) {
  SCOPED_TRACE(::testing::Message() << rect.x << "," << rect.y << " " << rect.width << "x" << rect.height);
  auto full = open(bytes);
  ASSERT_TRUE(full);
  auto crop = full->cropped(rect);
  ASSERT_TRUE(crop);
  auto whole = full->pixels();
  ASSERT_TRUE(whole);
  auto view = crop->pixels();
  ASSERT_TRUE(view);
  ASSERT_EQ(view->width, w);
  ASSERT_EQ(view->height, h);
  int mismatches = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) mismatches += !near(at(*view, x, y), at(*whole, x0 + x, y0 + y), 0);
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Crop, WidenedClippedOrRefusedAndLikeTheFullDecode) {
  const Bytes file = png(gradient(64, 48), 64, 48, PngKind::Rgb);
  expectCrop(file, {10.5, 5.2, 20.1, 10.0}, 10, 5, 21, 11);
  expectCrop(file, {-5.0, -5.0, 20.0, 20.0}, 0, 0, 15, 15);
  expectCrop(file, {60.0, 40.0, 100.0, 100.0}, 60, 40, 4, 8);
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  for (const PixelRect& r : {PixelRect{0, 0, 0, 10}, {0, 0, -10, 10}, {64, 0, 10, 10}, {0, 48, 10, 10},
                             {-20, 0, 10, 10}, {nan, 0, 10, 10}, {0, 0, inf, 10}, {0, 24, 64, 0.0}}) {
    EXPECT_FALSE(open(file)->cropped(r)) << r.x << "," << r.y << " " << r.width << "x" << r.height;
  }
}

}  // namespace
