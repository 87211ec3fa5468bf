// The device and its textures: sharing, limits, refusal of impossible
// textures, and byte-exact upload and read-back in B,G,R,A order.
#include <gtest/gtest.h>

#include <numeric>

#include "gpu/gpu_fixture.h"

namespace gputest {
namespace {

TEST_P(GpuTest, DeviceIsSharedAndReportsItsLimits) {
  EXPECT_EQ(createSystemDefaultDevice(), device);
  EXPECT_GE(device->limits().maxTextureSize, 2048u);
  EXPECT_FALSE(device->limits().rendererName.empty());
}

TEST(GpuDeviceSeam, UnavailableDeviceIsNoneAndComesBack) {
  plat::gpu::testing::setSystemDeviceUnavailable(true);
  EXPECT_EQ(createSystemDefaultDevice(), nullptr);
  plat::gpu::testing::setSystemDeviceUnavailable(false);
  auto device = createSystemDefaultDevice();
  if (!device) GTEST_SKIP() << "no EGL device";
  device.reset();
  EXPECT_EQ(plat::gpu::testing::liveGLObjectCount(), 0u);
}

TEST_P(GpuTest, ImpossibleTexturesAreNone) {
  const std::size_t max = device->limits().maxTextureSize;
  EXPECT_EQ(texture(max + 1, 4), nullptr);
  EXPECT_EQ(texture(4, max + 1), nullptr);
  EXPECT_EQ(texture(0, 4), nullptr);
  auto d = TextureDescriptor::texture2D(PixelFormat::Invalid, 4, 4, false);
  EXPECT_EQ(device->newTexture(d), nullptr);
  plat::gpu::testing::failNextTextures(1);
  EXPECT_EQ(texture(4, 4), nullptr);
  EXPECT_NE(texture(4, 4), nullptr);
}

TEST_P(GpuTest, DescriptorPropertiesAreKept) {
  auto d = TextureDescriptor::texture2D(PixelFormat::BGRA8Unorm, 9, 5, true);
  d.usage = TextureUsage::ShaderRead | TextureUsage::RenderTarget;
  d.storageMode = StorageMode::Private;
  auto t = device->newTexture(d);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->width(), 9u);
  EXPECT_EQ(t->height(), 5u);
  EXPECT_EQ(t->usage(), 5u);
  EXPECT_EQ(t->storageMode(), StorageMode::Private);
  EXPECT_EQ(t->pixelFormat(), PixelFormat::BGRA8Unorm);
  EXPECT_EQ(t->mipmapLevelCount(), 4u);  // 9x5, 4x2, 2x1, 1x1

  // A higher level is its own image.
  const std::uint8_t level2[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  t->replaceRegion(makeRegion(0, 0, 2, 1), 2, level2, 8);
  std::uint8_t back[8] = {};
  t->getBytes(back, 8, makeRegion(0, 0, 2, 1), 2);
  EXPECT_EQ(std::vector<std::uint8_t>(back, back + 8), std::vector<std::uint8_t>(level2, level2 + 8));
}

TEST_P(GpuTest, BytesRoundTripExactlyForEveryUsage) {
  for (std::uint32_t usage : {TextureUsage::ShaderRead, TextureUsage::ShaderRead | TextureUsage::RenderTarget}) {
    std::vector<std::uint8_t> bytes(5 * 3 * 4);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{7});
    auto t = texture(5, 3, usage);
    ASSERT_TRUE(t);
    t->replaceRegion(makeRegion(0, 0, 5, 3), 0, bytes.data(), 20);
    EXPECT_EQ(read(*t), bytes) << "usage " << usage;
  }
}

TEST_P(GpuTest, FallbackTexelReadsBackUnchanged) {
  const std::uint8_t texel[4] = {0x50, 0x00, 0x28, 0xFF};
  auto t = texture(1, 1, TextureUsage::ShaderRead);
  t->replaceRegion(makeRegion(0, 0, 1, 1), 0, texel, 4);
  EXPECT_EQ(read(*t), (std::vector<std::uint8_t>{0x50, 0x00, 0x28, 0xFF}));
}

TEST_P(GpuTest, SubRegionsHonourStrideAndOffsets) {
  auto t = texture(4, 4);
  std::vector<std::uint8_t> zero(64, 0);
  t->replaceRegion(makeRegion(0, 0, 4, 4), 0, zero.data(), 16);
  // A 2x2 block at (1,2) from rows 12 bytes apart (4 bytes of padding each).
  const std::uint8_t src[24] = {1, 2, 3, 4, 5, 6, 7, 8, 99, 99, 99, 99, 9, 10, 11, 12, 13, 14, 15, 16, 99, 99, 99, 99};
  t->replaceRegion(makeRegion(1, 2, 2, 2), 0, src, 12);
  const auto all = read(*t);
  auto px = [&](std::size_t x, std::size_t y) {
    return std::vector<std::uint8_t>(all.begin() + static_cast<long>((y * 4 + x) * 4),
                                     all.begin() + static_cast<long>((y * 4 + x) * 4 + 4));
  };
  EXPECT_EQ(px(1, 2), (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(px(2, 2), (std::vector<std::uint8_t>{5, 6, 7, 8}));
  EXPECT_EQ(px(1, 3), (std::vector<std::uint8_t>{9, 10, 11, 12}));
  EXPECT_EQ(px(2, 3), (std::vector<std::uint8_t>{13, 14, 15, 16}));
  EXPECT_EQ(px(0, 2), (std::vector<std::uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(px(3, 3), (std::vector<std::uint8_t>{0, 0, 0, 0}));

  // Reading a sub-region into a wider buffer leaves the padding alone.
  std::vector<std::uint8_t> out(2 * 12, 0xAB);
  t->getBytes(out.data(), 12, makeRegion(1, 2, 2, 2), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 8), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(out[8], 0xAB);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 12, out.begin() + 20),
            (std::vector<std::uint8_t>{9, 10, 11, 12, 13, 14, 15, 16}));
}

INSTANTIATE_TEST_SUITE_P(Texels, GpuTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "RgbaFallback" : "Bgra"; });

}  // namespace
}  // namespace gputest
