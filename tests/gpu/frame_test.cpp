// Byte order and upright rows on both texel paths, the two-pass frame with feedback, fragment bytes captured at
// encode time; the texture loader refusing impossible sizes before decoding and reading any stride and order.
#include <algorithm>

#include "gpu/gpu_fixture.h"

namespace gputest {
namespace {

TEST_P(GpuBoth, BytesRoundTripAndSampleInBgraOrder) {
  const Bytes texel = {0x50, 0x00, 0x28, 0xFF};
  Bytes picture(8 * 6 * 4);
  for (std::size_t i = 0; i < picture.size(); ++i)
    picture[i] = i % 4 == 3 ? 255 : static_cast<std::uint8_t>(i * 37 + 11);
  for (std::uint32_t usage : {TextureUsage::ShaderRead, kTarget})
    EXPECT_EQ(read(*filled(8, 6, picture, usage)), picture) << "usage " << usage;
  // Copied through uv, the picture comes back upright and pixel-exact.
  auto target = texture(8, 6);
  renderOnce(target, "f_copy", {filled(8, 6, picture)});
  EXPECT_EQ(read(*target), picture);
  // The fallback texel samples as (40/255, 0, 80/255, 1).
  renderOnce(target, "f_probe", {filled(1, 1, texel)});
  EXPECT_EQ(read(*target, 2, 2), (Bytes{0, 255, 0, 255}));
  const float half[4] = {0, 0, 3.0f, 0};  // red where gl_FragCoord.y < 3: the rendered top row is memory row 0
  renderOnce(target, "f_halves", {}, half);
  for (std::size_t y = 0; y < 6; ++y)
    EXPECT_EQ(read(*target, y, y), (y < 3 ? Bytes{0, 0, 255, 255} : Bytes{255, 0, 0, 255})) << "row " << y;
  renderOnce(target, "f_down", {});  // derivatives run down and to the right
  EXPECT_EQ(read(*target, 3, 3), (Bytes{255, 255, 255, 255}));
}
INSTANTIATE_TEST_SUITE_P(Texels, GpuBoth, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "RgbaFallback" : "Bgra"; });

// The renderer's frame in one buffer: five inputs (one the previous scene) composited, then copied to the target.
TEST_F(GpuTest, TwoPassFrameIsPixelExactAndFeedsBack) {
  const std::size_t w = 6, h = 4;
  auto a = filled(1, 1, {0, 0, 0x80, 255}), b = filled(1, 1, {0, 0, 0x40, 255});
  auto s3 = filled(1, 1, {0, 0x20, 0, 255}), s4 = filled(1, 1, {0x66, 0, 0, 255});
  auto scene0 = texture(w, h), scene1 = filled(w, h, tile(w * h, {0, 0, 0, 255})), target = texture(w, h);
  // r = a.r * uni[0] + b.r * uni[1], g = previous.r / 2 + s3.g, b = s4.b
  float uni[4] = {1, 0, 0, 0};
  auto frame = [&](std::shared_ptr<Texture> current, std::shared_ptr<Texture> previous) {
    auto buffer = queue->commandBuffer();
    encodePass(*buffer, current, "f_composite", {a, b, previous, s3, s4}, uni);
    encodePass(*buffer, target, "f_copy", {current}, uni);
    buffer->commit(), buffer->waitUntilCompleted();
  };
  frame(scene0, scene1);
  EXPECT_EQ(read(*target), tile(w * h, {0x66, 0x20, 0x80, 255}));
  uni[0] = 0, uni[1] = 1;
  frame(scene1, scene0);  // previous red 128: g = 64 + 32
  EXPECT_EQ(read(*target), tile(w * h, {0x66, 0x60, 0x40, 255}));
  EXPECT_EQ(read(*scene0), tile(w * h, {0x66, 0x20, 0x80, 255}));  // the feedback scene is intact
}

// A device released while its textures live on: the next device shares
// their context, so releasing them later leaves the new device working.
TEST_F(GpuTest, ANewDeviceOutlivesTheTexturesOfTheOldOne) {
  auto survivor = filled(1, 1, {1, 2, 3, 4});
  lib.reset(), queue.reset(), device.reset();
  device = createSystemDefaultDevice();
  ASSERT_TRUE(device);
  survivor.reset();
  EXPECT_EQ(read(*filled(1, 1, {5, 6, 7, 8})), (Bytes{5, 6, 7, 8}));
}

TEST_F(GpuTest, EncodingCapturesBytesAndKeepsTexturesAlive) {
  auto buffer = queue->commandBuffer();
  ASSERT_TRUE(buffer);
  auto first = texture(2, 2), second = texture(2, 2);
  float uni[4] = {0.25f, 0.5f, 0.75f, 1.0f};
  encodePass(*buffer, first, "f_params", {}, uni);
  encodePass(*buffer, second, "f_copy", {filled(1, 1, {10, 20, 30, 255})}, uni);  // only the buffer holds the source
  uni[0] = uni[1] = uni[2] = 0;  // after encoding, before commit
  buffer->commit(), buffer->waitUntilCompleted();
  EXPECT_EQ(read(*first, 1, 1), (Bytes{191, 128, 64, 255}));
  EXPECT_EQ(read(*second, 0, 1), (Bytes{10, 20, 30, 255}));
}

using plat::image::PixelOrder;

// 3x2 pixels with distinct bytes (alpha too), top row first, in B,G,R,A order and the same in R,G,B,A order.
const Bytes kBgra = {1, 2, 3, 255, 5, 6, 7, 251, 9, 10, 11, 247, 13, 14, 15, 195, 17, 18, 19, 191, 21, 22, 23, 187};
const Bytes kRgba = {3, 2, 1, 255, 7, 6, 5, 251, 11, 10, 9, 247, 15, 14, 13, 195, 19, 18, 17, 191, 23, 22, 21, 187};

// The two rows of 3x2 `pixels`, `stride` bytes apart, padded with 0xCD.
Bytes rows(const Bytes& pixels, std::size_t stride) {
  Bytes out(stride * 2, 0xCD);
  std::copy_n(pixels.begin(), 12, out.begin());
  std::copy_n(pixels.begin() + 12, 12, out.begin() + static_cast<std::ptrdiff_t>(stride));
  return out;
}

TEST_P(GpuBoth, LoaderUploadsAnyStrideAndOrderExactly) {
  TextureLoader loader(device);
  for (bool rgba : {false, true})
    for (std::size_t stride : {12u, 15u, 40u}) {
      SCOPED_TRACE(std::string(rgba ? "RGBA" : "BGRA") + " rows " + std::to_string(stride) + " bytes apart");
      RowsImage image(3, 2, stride, rgba ? PixelOrder::RGBA : PixelOrder::BGRA, rows(rgba ? kRgba : kBgra, stride));
      auto t = loader.newTextureWithImage(image, {});
      ASSERT_TRUE(t) << t.error().text();
      EXPECT_EQ(read(**t), kBgra) << "read back";
      auto target = texture(3, 2);  // sampled, row 0 is still the top
      renderOnce(target, "f_copy", {*t});
      EXPECT_EQ(read(*target), kBgra) << "sampled";
    }
}

TEST_F(GpuTest, TexturesAndLoaderRefuseImpossibleSizesBeforeDecoding) {
  const std::size_t max = device->limits().maxTextureSize;
  EXPECT_EQ(texture(max + 1, 4), nullptr) << "too wide";
  EXPECT_EQ(texture(0, 4), nullptr) << "no width";
  TextureLoader loader(device);
  const int tooBig = static_cast<int>(max) + 1;
  RowsImage wide(tooBig, 2, 12, PixelOrder::BGRA, kBgra), tall(3, tooBig, 12, PixelOrder::BGRA, {});
  auto refused = [&](const RowsImage& image) -> std::string {
    auto t = loader.newTextureWithImage(image, {});
    return t ? std::string("(made)") : t.error().message;
  };
  EXPECT_THAT(refused(wide), ::testing::HasSubstr("exceeds"));
  EXPECT_THAT(refused(tall), ::testing::HasSubstr("exceeds"));
  EXPECT_EQ(wide.decodes, 0);
  EXPECT_EQ(tall.decodes, 0);
  RowsImage broken(3, 2, 12, PixelOrder::BGRA, {}), fine(3, 2, 12, PixelOrder::BGRA, kBgra);
  auto decodeFailure = loader.newTextureWithImage(broken, {});
  ASSERT_FALSE(decodeFailure);
  EXPECT_EQ(decodeFailure.error().path, "broken.png") << "the decoder's error, passed on";
  plat::gpu::testing::failNextTextures(1);
  EXPECT_THAT(refused(fine), ::testing::HasSubstr("no texture"));
  EXPECT_EQ(refused(fine), "(made)");
}

}  // namespace
}  // namespace gputest
