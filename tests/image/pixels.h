// Test helpers: single pixels of a decoded view in either channel order; a decode checked by its quadrants.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

#include "image/fixtures.h"
#include "platform/image/image.h"
#include "sys/temp_env.h"

namespace fixtures {

inline Rgba at(const plat::image::PixelView& view, int x, int y) {
  const std::uint8_t* p = view.data + std::size_t(y) * view.bytesPerRow + std::size_t(x) * 4;
  if (view.order == plat::image::PixelOrder::BGRA) return Rgba{p[2], p[1], p[0], p[3]};
  return Rgba{p[0], p[1], p[2], p[3]};
}

inline bool near(Rgba a, Rgba b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance &&
         std::abs(a.a - b.a) <= tolerance;
}

inline std::ostream& operator<<(std::ostream& out, Rgba c) {
  return out << "rgba(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << "," << int(c.a) << ")";
}

// `bytes` decodes as `format` to a 64x48 picture whose quadrants have the colours `want`.
inline void expectQuadrants(const Bytes& bytes, const char* format, const Rgba (&want)[4], int tolerance) {
  auto source = plat::image::ImageSource::createWithData(bytes.data(), bytes.size());
  ASSERT_TRUE(source) << source.error().text();
  EXPECT_STREQ((*source)->formatName(), format);
  auto image = (*source)->createImageAtIndex(0, {});
  ASSERT_TRUE(image) << image.error().origin << ": " << image.error().text();
  auto view = (*image)->pixels();
  ASSERT_TRUE(view) << view.error().origin << ": " << view.error().text();
  EXPECT_EQ(view->width, 64);
  EXPECT_EQ(view->height, 48);
  for (int i = 0; i < 4; ++i) {
    const Rgba got = at(*view, 16 + 32 * (i % 2), 12 + 24 * (i / 2));
    EXPECT_TRUE(near(got, want[i], tolerance)) << "quadrant " << i << ": " << got << ", want " << want[i];
  }
}

using qtest::TempDir;

}  // namespace fixtures
