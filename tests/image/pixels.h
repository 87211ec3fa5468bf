// Test helpers: single pixels of a decoded view in either channel order; the shared temporary folder.
#pragma once

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

using qtest::TempDir;

}  // namespace fixtures
