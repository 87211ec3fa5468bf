// Loading through the real texture loader (Mesa's software rasteriser when
// there is no GPU): the texture has the crop's size and the picture's colours
// in the right channels whichever order the decoder produced; a picture
// larger than the device allows is refused before its pixels are decoded.
#include <gtest/gtest.h>

#include <chrono>

#include "image/pixels.h"
#include "platform/gpu/device.h"
#include "platform/gpu/texture.h"
#include "platform/gpu/texture_loader.h"
#include "playlist/texture_loading.h"

namespace {

using namespace fixtures;

class TextureLoadingGpuTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(device_) << "no GPU device (EGL with GLES 3) could be had"; }
  std::shared_ptr<plat::gpu::Texture> load(std::vector<std::pair<std::string, Bytes>> files, plat::ui::Size view) {
    quelltrine::Playlist playlist{{}, {}, 0};
    for (const auto& [name, bytes] : files) {
      EXPECT_TRUE(writeFile(dir_ / name, bytes));
      playlist.order.push_back(std::int64_t(playlist.imageURLs.size()));
      playlist.imageURLs.push_back(dir_ / name);
    }
    auto texture = quelltrine::loadNextTexture(playlist, &loader_, view, rng_);
    EXPECT_EQ(playlist.orderPos, std::int64_t(files.size()));
    return texture;
  }
  // The texture's pixel at x, y, read back as B,G,R,A, against `want`.
  static void expect(const plat::gpu::Texture& texture, std::size_t x, std::size_t y, Rgba want, int tolerance) {
    std::uint8_t p[4] = {};
    texture.getBytes(p, 4, plat::gpu::makeRegion(x, y, 1, 1), 0);
    const Rgba got{p[2], p[1], p[0], p[3]};
    EXPECT_TRUE(near(got, want, tolerance)) << x << "," << y << ": " << got;
  }
  static std::pair<std::size_t, std::size_t> size(const plat::gpu::Texture& t) { return {t.width(), t.height()}; }

  std::shared_ptr<plat::gpu::Device> device_ = plat::gpu::createSystemDefaultDevice();
  plat::gpu::TextureLoader loader_{device_};
  plat::sys::SystemRandom rng_;
  TempDir dir_;
};

// 400x300 in a 160x100 view: a 400x250 texture of rows 25 to 274, whose
// quadrant border (row 150) lands on row 125. JPEG decodes to BGRA, HEIF to RGBA.
TEST_F(TextureLoadingGpuTest, CroppedPictureArrivesWithItsColours) {
  const Bytes q = quadrants(400, 300);
  const Rgba want[4] = {kTopLeft, kTopRight, kBottomLeft, kBottomRight};
  for (const auto& [name, bytes, tolerance] : {std::tuple{"a.jpg", jpeg(q, 400, 300, JpegKind::Baseline), 12},
                                               {"d.heic", heic(q, 400, 300), 24}}) {
    SCOPED_TRACE(name);
    auto texture = load({{name, bytes}}, {160, 100});
    ASSERT_TRUE(texture);
    EXPECT_EQ(size(*texture), (std::pair<std::size_t, std::size_t>{400, 250}));
    for (std::size_t i = 0; i < 4; ++i) expect(*texture, 100 + 200 * (i % 2), 60 + 130 * (i / 2), want[i], tolerance);
  }
}

// 20000x10000 is within the decoder's caps but beyond the device's largest
// texture: refused before 800 MB are decoded, and the next picture loads.
TEST_F(TextureLoadingGpuTest, PictureLargerThanTheDeviceIsRefusedBeforeDecoding) {
  ASSERT_LT(device_->limits().maxTextureSize, 20000u);
  const auto start = std::chrono::steady_clock::now();
  auto texture = load({{"huge.png", pngHeaderOnly(20000, 10000)},
                       {"small.png", png(quadrants(32, 20), 32, 20, PngKind::Rgb)}},
                      {160, 100});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_TRUE(texture);
  EXPECT_EQ(size(*texture), (std::pair<std::size_t, std::size_t>{32, 20}));
}

}  // namespace
