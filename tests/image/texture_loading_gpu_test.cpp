// Loading the next picture through the real texture loader on the GPU
// (Mesa's software rasteriser when there is no GPU): the texture has the
// crop's size and, read back, the picture's colours in the right channels,
// whichever order the decoder produced; a picture larger than the device
// allows is refused before its pixels are decoded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "image/fixtures.h"
#include "image/pixels.h"
#include "platform/gpu/device.h"
#include "platform/gpu/texture.h"
#include "platform/gpu/texture_loader.h"
#include "playlist/texture_loading.h"

namespace {

namespace fs = std::filesystem;
using quelltrine::Playlist;

class TextureLoadingGpuTest : public testing::Test {
 protected:
  void SetUp() override {
    device_ = plat::gpu::createSystemDefaultDevice();
    ASSERT_TRUE(device_) << "no GPU device (EGL with GLES 3) could be had";
    loader_ = std::make_unique<plat::gpu::TextureLoader>(device_);
    char pattern[] = "/tmp/quelltrine-gpu-load-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const fixtures::Bytes& bytes) {
    const std::string path = (dir_ / name).string();
    EXPECT_TRUE(fixtures::writeFile(path, bytes));
    return path;
  }

  // The texture's pixel at x, y as RGBA (read back as B,G,R,A).
  static fixtures::Rgba texel(const plat::gpu::Texture& texture, std::size_t x, std::size_t y) {
    std::uint8_t bgra[4] = {};
    texture.getBytes(bgra, 4, plat::gpu::makeRegion(x, y, 1, 1), 0);
    return fixtures::Rgba{bgra[2], bgra[1], bgra[0], bgra[3]};
  }

  std::shared_ptr<plat::gpu::Device> device_;
  std::unique_ptr<plat::gpu::TextureLoader> loader_;
  plat::sys::SystemRandom rng_;
  fs::path dir_;
};

// A 400x300 picture in a 160x100 view becomes a 400x250 texture: rows 25 to
// 274 of the picture, whose quadrant border (row 150) lands on row 125.
TEST_F(TextureLoadingGpuTest, CroppedPictureArrivesWithItsColours) {
  const fixtures::Bytes pattern = fixtures::quadrants(400, 300);
  const struct {
    const char* name;
    fixtures::Bytes bytes;
    int tolerance;
  } files[] = {
      {"a.jpg", fixtures::jpeg(pattern, 400, 300, fixtures::JpegKind::Baseline), 12},  // BGRA rows
      {"b.bmp", fixtures::bmp(pattern, 400, 300, false), 0},                           // RGBA rows
      {"c.tiff", fixtures::tiff(pattern, 400, 300), 0},
      {"d.heic", fixtures::heic(pattern, 400, 300), 24},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    ASSERT_FALSE(f.bytes.empty());
    Playlist playlist{{write(f.name, f.bytes)}, {0}, 0};
    auto texture = quelltrine::loadNextTexture(playlist, loader_.get(), {160, 100}, rng_);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->width(), 400u);
    EXPECT_EQ(texture->height(), 250u);
    EXPECT_EQ(texture->usage(), 1u);
    const std::pair<fixtures::Rgba, fixtures::Rgba> checks[] = {
        {texel(*texture, 100, 60), fixtures::kTopLeft},
        {texel(*texture, 300, 60), fixtures::kTopRight},
        {texel(*texture, 100, 190), fixtures::kBottomLeft},
        {texel(*texture, 300, 190), fixtures::kBottomRight},
    };
    for (const auto& [got, want] : checks) {
      EXPECT_TRUE(fixtures::near(got, want, f.tolerance)) << "got " << got << ", want " << want;
    }
  }
}

// A HEIF stored with a rotation property is shown as stored: a 64x48
// picture stays 64x48 with red at its top left.
TEST_F(TextureLoadingGpuTest, RotationPropertyIsNotApplied) {
  const fixtures::Bytes file = fixtures::heic(fixtures::quadrants(64, 48), 64, 48, 6);
  ASSERT_FALSE(file.empty());
  Playlist playlist{{write("turned.heic", file)}, {0}, 0};
  auto texture = quelltrine::loadNextTexture(playlist, loader_.get(), {64, 48}, rng_);
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->width(), 64u);
  EXPECT_EQ(texture->height(), 48u);
  EXPECT_TRUE(fixtures::near(texel(*texture, 16, 12), fixtures::kTopLeft, 24)) << texel(*texture, 16, 12);
}

// A header announcing 20000x10000 pixels is within the decoder's caps but
// beyond the device's largest texture: the attempt fails before 800 MB of
// pixels are decoded, and the next picture loads.
TEST_F(TextureLoadingGpuTest, PictureLargerThanTheDeviceIsRefusedBeforeDecoding) {
  ASSERT_LT(device_->limits().maxTextureSize, 20000u);
  Playlist playlist{{write("huge.png", fixtures::pngHeaderOnly(20000, 10000)),
                     write("small.png", fixtures::png(fixtures::quadrants(32, 20), 32, 20, fixtures::PngKind::Rgb))},
                    {0, 1},
                    0};
  const auto start = std::chrono::steady_clock::now();
  auto texture = quelltrine::loadNextTexture(playlist, loader_.get(), {160, 100}, rng_);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->width(), 32u);
  EXPECT_EQ(texture->height(), 20u);
  EXPECT_EQ(playlist.orderPos, 2);
}

}  // namespace
