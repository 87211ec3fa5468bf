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

using quelltrine::Playlist;

class TextureLoadingGpuTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(device_) << "no GPU device (EGL with GLES 3) could be had"; }
  std::shared_ptr<plat::gpu::Texture> load(std::vector<std::pair<std::string, fixtures::Bytes>> files, plat::ui::Size view) {
    Playlist playlist{{}, {}, 0};
    for (const auto& [name, bytes] : files) {
      EXPECT_TRUE(fixtures::writeFile(dir_ / name, bytes));
      playlist.order.push_back(std::int64_t(playlist.imageURLs.size()));
      playlist.imageURLs.push_back(dir_ / name);
    }
    auto texture = quelltrine::loadNextTexture(playlist, &loader_, view, rng_);
    EXPECT_EQ(playlist.orderPos, std::int64_t(files.size()));
    return texture;
  }
  // The texture's pixel at x, y, read back as B,G,R,A.
  static fixtures::Rgba texel(const plat::gpu::Texture& texture, std::size_t x, std::size_t y) {
    std::uint8_t bgra[4] = {};
    texture.getBytes(bgra, 4, plat::gpu::makeRegion(x, y, 1, 1), 0);
    return fixtures::Rgba{bgra[2], bgra[1], bgra[0], bgra[3]};
  }

  std::shared_ptr<plat::gpu::Device> device_ = plat::gpu::createSystemDefaultDevice();
  plat::gpu::TextureLoader loader_{device_};
  plat::sys::SystemRandom rng_;
  fixtures::TempDir dir_;
};

// 400x300 in a 160x100 view: a 400x250 texture of rows 25 to 274, whose
// quadrant border (row 150) lands on row 125.
TEST_F(TextureLoadingGpuTest, CroppedPictureArrivesWithItsColours) {
  const fixtures::Bytes q = fixtures::quadrants(400, 300);
  const std::tuple<const char*, fixtures::Bytes, int> files[] = {
      {"a.jpg", fixtures::jpeg(q, 400, 300, fixtures::JpegKind::Baseline), 12},  // BGRA rows
      {"b.bmp", fixtures::bmp(q, 400, 300, false), 0},                           // RGBA rows
      {"c.tiff", fixtures::tiff(q, 400, 300), 0},
      {"d.heic", fixtures::heic(q, 400, 300), 24}};
  for (const auto& [name, bytes, tolerance] : files) {
    SCOPED_TRACE(name);
    auto texture = load({{name, bytes}}, {160, 100});
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->width(), 400u);
    EXPECT_EQ(texture->height(), 250u);
    const fixtures::Rgba want[4] = {fixtures::kTopLeft, fixtures::kTopRight, fixtures::kBottomLeft, fixtures::kBottomRight};
    for (std::size_t i = 0; i < 4; ++i) {
      const fixtures::Rgba got = texel(*texture, 100 + 200 * (i % 2), 60 + 130 * (i / 2));
      EXPECT_TRUE(fixtures::near(got, want[i], tolerance)) << i << ": " << got;
    }
  }
}

// A HEIF with a 90-degree rotation property is shown as stored.
TEST_F(TextureLoadingGpuTest, RotationPropertyIsNotApplied) {
  auto texture = load({{"turned.heic", fixtures::heic(fixtures::quadrants(64, 48), 64, 48, 6)}}, {64, 48});
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->width(), 64u);
  EXPECT_EQ(texture->height(), 48u);
  EXPECT_TRUE(fixtures::near(texel(*texture, 16, 12), fixtures::kTopLeft, 24)) << texel(*texture, 16, 12);
}

// 20000x10000 is within the decoder's caps but beyond the device's largest
// texture: refused before 800 MB are decoded, and the next picture loads.
TEST_F(TextureLoadingGpuTest, PictureLargerThanTheDeviceIsRefusedBeforeDecoding) {
  ASSERT_LT(device_->limits().maxTextureSize, 20000u);
  const auto start = std::chrono::steady_clock::now();
  auto texture = load({{"huge.png", fixtures::pngHeaderOnly(20000, 10000)},
                       {"small.png", fixtures::png(fixtures::quadrants(32, 20), 32, 20, fixtures::PngKind::Rgb)}},
                      {160, 100});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->width(), 32u);
  EXPECT_EQ(texture->height(), 20u);
}

}  // namespace
