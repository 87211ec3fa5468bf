// Crops widen to whole pixels, clip, refuse empty and non-finite rectangles,
// and give exactly the pixels of the full decode; a crop of a crop, in every
// format.
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

// The crop against the rectangle x, y, w, h of a separate full decode.
void expectCrop(const Bytes& bytes, const PixelRect& rect, int x0, int y0, int w, int h) {
  auto full = open(bytes), crop = open(bytes)->cropped(rect);
  ASSERT_TRUE(full && crop);
  auto whole = full->pixels();
  auto view = crop->pixels();
  ASSERT_TRUE(whole && view);
  ASSERT_EQ(crop->width(), w);
  ASSERT_EQ(view->height, h);
  int mismatches = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) mismatches += !near(at(*view, x, y), at(*whole, x0 + x, y0 + y), 0);
  }
  EXPECT_EQ(mismatches, 0) << rect.x << "," << rect.y << " " << rect.width << "x" << rect.height;
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
  // In every format a crop of a crop adds the offsets and outlives its source. (That a crop has exactly the pixels
  // of the full decode in every format, off the JPEG block grid, is the strips' test.)
  int checked = 0;
  for (const auto& [name, bytes] : all()) {
    auto image = open(bytes);
    if (!image || !image->pixels()) continue;  // the malformed ones
    SCOPED_TRACE(name);
    auto whole = image->pixels();
    auto inner = image->cropped({20, 3, 40, 40})->cropped({10, 5, 20, 30});
    ASSERT_TRUE(whole && inner);
    image.reset();
    auto view = inner->pixels();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->width, 20);
    for (int y = 0; y < 30; y += 7) {
      for (int x = 0; x < 20; x += 3) EXPECT_TRUE(near(at(*view, x, y), at(*whole, 30 + x, 8 + y), 0));
    }
    ++checked;
  }
  EXPECT_EQ(checked, 19);
}

}  // namespace
