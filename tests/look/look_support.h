// Measuring rendered frames of the real shader library: read-back frames,
// their luminance on a coarse grid, differences and correlations between
// them, a picture folder of demo pictures, and a variant of the library that
// paints magenta wherever a NaN or infinity reaches the output.
#pragma once

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/gpu/gpu.h"
#include "support/render_fixture.h"

namespace looktest {

namespace gpu = plat::gpu;

// A frame as B,G,R,A bytes, top row first.
struct Frame {
  int width = 0, height = 0;
  std::vector<std::uint8_t> bgra;

  const std::uint8_t* at(int x, int y) const {
    return &bgra[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4];
  }
};

inline std::shared_ptr<gpu::Texture> renderTarget(gpu::Device& device, int w, int h) {
  auto desc = gpu::TextureDescriptor::texture2D(gpu::PixelFormat::BGRA8Unorm, static_cast<std::size_t>(w),
                                                static_cast<std::size_t>(h), false);
  desc.usage = gpu::TextureUsage::ShaderRead | gpu::TextureUsage::RenderTarget;
  return device.newTexture(desc);
}

inline Frame readBack(const gpu::Texture& tex) {
  Frame f;
  f.width = static_cast<int>(tex.width());
  f.height = static_cast<int>(tex.height());
  f.bgra.assign(tex.width() * tex.height() * 4, 0);
  tex.getBytes(f.bgra.data(), tex.width() * 4, gpu::Region{{0, 0, 0}, {tex.width(), tex.height(), 1}}, 0);
  return f;
}

// Luminance (0..255) averaged over a gw x gh grid of boxes: small warps and
// single pixels average out, structure stays.
struct Grid {
  int w = 0, h = 0;
  std::vector<double> v;
};

inline Grid lumaGrid(const Frame& f, int gw, int gh) {
  Grid g{gw, gh, std::vector<double>(static_cast<std::size_t>(gw * gh), 0.0)};
  std::vector<int> n(g.v.size(), 0);
  for (int y = 0; y < f.height; ++y) {
    for (int x = 0; x < f.width; ++x) {
      const std::uint8_t* p = f.at(x, y);
      const std::size_t i = static_cast<std::size_t>((y * gh / f.height) * gw + x * gw / f.width);
      g.v[i] += 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
      ++n[i];
    }
  }
  for (std::size_t i = 0; i < g.v.size(); ++i) g.v[i] /= std::max(n[i], 1);
  return g;
}

inline double meanAbsDiff(const Grid& a, const Grid& b) {
  double s = 0;
  for (std::size_t i = 0; i < a.v.size(); ++i) s += std::fabs(a.v[i] - b.v[i]);
  return s / static_cast<double>(a.v.size());
}

inline double pearson(const Grid& a, const Grid& b) {
  const double n = static_cast<double>(a.v.size());
  double ma = 0, mb = 0;
  for (std::size_t i = 0; i < a.v.size(); ++i) {
    ma += a.v[i];
    mb += b.v[i];
  }
  ma /= n;
  mb /= n;
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t i = 0; i < a.v.size(); ++i) {
    sab += (a.v[i] - ma) * (b.v[i] - mb);
    saa += (a.v[i] - ma) * (a.v[i] - ma);
    sbb += (b.v[i] - mb) * (b.v[i] - mb);
  }
  return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0.0;
}

struct Stats {
  double mean = 0, spread = 0;  // luminance 0..255: mean and standard deviation
};

inline Stats lumaStats(const Frame& f) {
  double s = 0, ss = 0;
  const double n = static_cast<double>(f.width) * f.height;
  for (std::size_t i = 0; i < f.bgra.size(); i += 4) {
    const double l = 0.114 * f.bgra[i] + 0.587 * f.bgra[i + 1] + 0.299 * f.bgra[i + 2];
    s += l;
    ss += l * l;
  }
  const double mean = s / n;
  return {mean, std::sqrt(std::max(ss / n - mean * mean, 0.0))};
}

// Pixels the probe library painted magenta: a NaN or infinity reached them.
inline int magentaPixels(const Frame& f) {
  int count = 0;
  for (std::size_t i = 0; i < f.bgra.size(); i += 4)
    if (f.bgra[i] == 255 && f.bgra[i + 1] == 0 && f.bgra[i + 2] == 255) ++count;
  return count;
}

// The real library with its NaN probe switched on.
inline std::string probeLibrary() {
  std::string lib = qtest::realShaderLibrary();
  const std::string marker = "//@common\n";
  const auto pos = lib.find(marker);
  if (pos == std::string::npos) return {};
  lib.insert(pos + marker.size(), "#define QUELLTRINE_NAN_PROBE 1\n");
  return lib;
}

// The demo pictures that the build paints into build/samples.
inline std::string samplePath(const std::string& name) {
  return std::string(QUELLTRINE_BINARY_DIR) + "/samples/" + name;
}

// Luminance grid of a picture file, decoded by the platform layer (the
// picture must already have the target's aspect ratio).
inline Grid pictureGrid(const std::string& path, int gw, int gh) {
  auto source = plat::image::ImageSource::createWithPath(path);
  if (!source) return {};
  auto image = source->createImageAtIndex(0, {});
  if (!image) return {};
  auto px = image->pixels();
  if (!px) return {};
  Frame f;
  f.width = px->width;
  f.height = px->height;
  f.bgra.resize(static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height) * 4);
  const bool rgba = px->order == plat::image::PixelOrder::RGBA;
  for (int y = 0; y < f.height; ++y) {
    const std::uint8_t* row = px->data + static_cast<std::size_t>(y) * px->bytesPerRow;
    for (int x = 0; x < f.width; ++x) {
      std::uint8_t* o = &f.bgra[(static_cast<std::size_t>(y) * static_cast<std::size_t>(f.width) + static_cast<std::size_t>(x)) * 4];
      const std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
      o[0] = rgba ? p[2] : p[0];
      o[1] = p[1];
      o[2] = rgba ? p[0] : p[2];
      o[3] = 255;
    }
  }
  return lumaGrid(f, gw, gh);
}

}  // namespace looktest
