// Measuring frames of the real shader library: luminance grids, correlations, the demo pictures, a NaN probe.
#pragma once

#include <algorithm>
#include <cmath>
#include <numeric>

#include "platform/gpu/gpu.h"
#include "support/render_fixture.h"

namespace looktest {

namespace gpu = plat::gpu;
using Grid = std::vector<double>;

struct Frame {  // B,G,R,A bytes, top row first
  int width = 0, height = 0;
  std::vector<std::uint8_t> bgra;
  const std::uint8_t* at(int x, int y) const { return &bgra[(y * width + x) * 4]; }
};

using qtest::renderTarget;

// A view that can draw: its pipelines and a current picture, one assertion each.
inline void requireRenderer(const std::shared_ptr<quelltrine::QuelltrineSaverView>& view) {
  ASSERT_TRUE(view) << "no view";
  ASSERT_TRUE(view->compositePSO) << "no composite pipeline";
  ASSERT_TRUE(view->presentPSO) << "no present pipeline";
  ASSERT_TRUE(view->texA) << "no current picture";
}

inline Frame readBack(const gpu::Texture& tex) {
  Frame f{int(tex.width()), int(tex.height()), std::vector<std::uint8_t>(tex.width() * tex.height() * 4)};
  tex.getBytes(f.bgra.data(), tex.width() * 4, gpu::Region{{0, 0, 0}, {tex.width(), tex.height(), 1}}, 0);
  return f;
}

// Luminance 0..255 averaged over gw x gh boxes: small warps average out, structure stays.
inline Grid lumaGrid(const Frame& f, int gw, int gh) {
  Grid g(gw * gh, 0.0), n(gw * gh, 0.0);
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) {
      const int i = (y * gh / f.height) * gw + x * gw / f.width;
      g[i] += 0.114 * f.at(x, y)[0] + 0.587 * f.at(x, y)[1] + 0.299 * f.at(x, y)[2];
      n[i] += 1;
    }
  for (std::size_t i = 0; i < g.size(); ++i) g[i] /= std::max(n[i], 1.0);
  return g;
}

inline double mean(const Grid& g) { return std::accumulate(g.begin(), g.end(), 0.0) / g.size(); }
inline double cov(const Grid& a, const Grid& b) {
  return std::inner_product(a.begin(), a.end(), b.begin(), 0.0) / a.size() - mean(a) * mean(b);
}
inline double pearson(const Grid& a, const Grid& b) {
  const double d = cov(a, a) * cov(b, b);
  return d > 1e-6 ? cov(a, b) / std::sqrt(d) : 0.0;
}
inline double meanAbsDiff(Grid a, const Grid& b) {
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = std::fabs(a[i] - b[i]);
  return mean(a);
}

// Pixels the probe painted magenta: a NaN or infinity reached them.
inline int magentaPixels(const Frame& f) {
  int n = 0;
  for (std::size_t i = 0; i < f.bgra.size(); i += 4)
    n += f.bgra[i] == 255 && f.bgra[i + 1] == 0 && f.bgra[i + 2] == 255;
  return n;
}

// The real library with its NaN probe switched on.
inline std::string probeLibrary() {
  std::string lib = qtest::realShaderLibrary();
  const auto pos = lib.find("//@common\n");
  return pos == std::string::npos ? std::string() : lib.insert(pos + 10, "#define QUELLTRINE_NAN_PROBE 1\n");
}

// The demo pictures that the build paints into build/samples.
inline std::string samplePath(const std::string& name) { return QUELLTRINE_BINARY_DIR "/samples/" + name; }

// Luminance grid of a picture file, decoded by the platform layer.
inline Grid pictureGrid(const std::string& path, int gw, int gh) {
  auto source = plat::image::ImageSource::createWithPath(path).valueOr(nullptr);
  auto image = source ? source->createImageAtIndex(0, {}).valueOr(nullptr) : nullptr;
  if (!image) return {};
  auto px = image->pixels();
  if (!px) return {};
  Frame f{px->width, px->height, {}};
  for (int y = 0; y < f.height; ++y) {
    const std::uint8_t* row = px->data + y * px->bytesPerRow;
    f.bgra.insert(f.bgra.end(), row, row + f.width * 4);
  }
  if (px->order == plat::image::PixelOrder::RGBA)
    for (std::size_t i = 0; i < f.bgra.size(); i += 4) std::swap(f.bgra[i], f.bgra[i + 2]);
  return lumaGrid(f, gw, gh);
}

// Views over picture folders holding copies of the named demo pictures.
class Look : public qtest::ViewTest {
 protected:
  void useSamples(const std::vector<std::string>& names) {
    const std::filesystem::path folder = dir() / ("samples" + std::to_string(folders_++));
    std::filesystem::create_directories(folder);
    for (const auto& n : names) std::filesystem::copy_file(samplePath(n), folder / n);
    quelltrine::settings::storeImageFolder(folder);
  }
  int folders_ = 0;
};

}  // namespace looktest
