// What an X window shows, for tests that run the real saver: the luminance of its pixels and their spread; and a
// picture with structure for it to show. Brings in Xlib, whose macros (None, Bool, Status) clash with the test
// framework: include it last.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/image/image.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace qtest {

// Luminance of every `step`-th pixel of every `step`-th row of a window; empty without a window or when it cannot
// be read.
inline std::vector<double> lumaOf(Display* d, Window w, int step = 1) {
  XWindowAttributes a{};
  XImage* img = w && XGetWindowAttributes(d, w, &a) ? XGetImage(d, w, 0, 0, static_cast<unsigned>(a.width),
                                                                static_cast<unsigned>(a.height), AllPlanes, ZPixmap)
                                                    : nullptr;
  std::vector<double> luma;
  for (int y = 0; img && y < a.height; y += step) {
    for (int x = 0; x < a.width; x += step) {
      const unsigned long p = XGetPixel(img, x, y);
      luma.push_back(0.299 * double((p >> 16) & 0xff) + 0.587 * double((p >> 8) & 0xff) + 0.114 * double(p & 0xff));
    }
  }
  if (img) XDestroyImage(img);
  return luma;
}

// The standard deviation of luminances: above 10, a picture rather than a blank.
inline double spread(const std::vector<double>& luma) {
  double mean = 0, var = 0;
  for (double v : luma) mean += v / double(luma.size());
  for (double v : luma) var += (v - mean) * (v - mean) / double(luma.size());
  return std::sqrt(var);
}

// Diagonal colour bands over a gradient, written as a PNG file.
inline void writePattern(const std::string& path, int w, int h, int phase) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h * 4));
  for (int i = 0; i < w * h; ++i) {
    const bool band = ((i % w + i / w + phase) / 40) % 2 == 0;
    const std::uint8_t v[4] = {std::uint8_t(band ? 230 : 40), std::uint8_t(255 * (i / w) / h),
                               std::uint8_t(band ? 60 : 250), 255};
    std::copy(v, v + 4, &px[static_cast<std::size_t>(i) * 4]);
  }
  const std::size_t stride = static_cast<std::size_t>(w) * 4;
  ASSERT_TRUE(plat::image::writePNG(path, {px.data(), w, h, stride, plat::image::PixelOrder::BGRA}));
}

}  // namespace qtest
