// Mipmap levels of a loaded picture, the reuse of a released picture texture, sizes refused before decoding.
#include <cmath>

#include "gpu/gpu_fixture.h"
#include "platform/gpu/texture_loader.h"

namespace gputest {
namespace {

using plat::image::PixelOrder;

Bytes noise(int w, int h) {
  Bytes out(std::size_t(w) * std::size_t(h) * 4);
  std::uint32_t state = 12345;
  for (auto& b : out) b = static_cast<std::uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
  return out;
}

Bytes readLevel(const Texture& t, std::size_t level, std::size_t w, std::size_t h) {
  Bytes out(w * h * 4, 0xEE);
  t.getBytes(out.data(), w * 4, makeRegion(0, 0, w, h), level);
  return out;
}

// How far a byte of `below` is from the exact mean of its 2x2 block in `above` (a side of 1 counts twice).
double worstMiss(const Bytes& above, std::size_t aw, std::size_t ah, const Bytes& below, std::size_t w, std::size_t h) {
  double worst = 0;
  for (std::size_t y = 0; y < h; ++y)
    for (std::size_t x = 0; x < w; ++x)
      for (std::size_t c = 0; c < 4; ++c) {
        const std::size_t x0 = aw == 1 ? 0 : 2 * x, x1 = aw == 1 ? 0 : 2 * x + 1;
        const std::size_t y0 = ah == 1 ? 0 : 2 * y, y1 = ah == 1 ? 0 : 2 * y + 1;
        auto at = [&](std::size_t xx, std::size_t yy) { return double(above[(yy * aw + xx) * 4 + c]); };
        const double mean = (at(x0, y0) + at(x1, y0) + at(x0, y1) + at(x1, y1)) / 4;
        worst = std::max(worst, std::abs(double(below[(y * w + x) * 4 + c]) - mean));
      }
  return worst;
}

// Odd sides, sides of one, strips that split the row pairs, both channel orders, both texel paths.
INSTANTIATE_TEST_SUITE_P(Texels, GpuBoth, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "RgbaFallback" : "Bgra"; });

TEST_P(GpuBoth, LoadedPictureLevelsAreBoxAveragesOfTheLevelAbove) {
  TextureLoader loader(device);
  for (auto [w, h] : std::vector<std::pair<int, int>>{{67, 41}, {64, 1}, {1, 9}})
    for (int strip : {3, 64})
      for (PixelOrder order : {PixelOrder::BGRA, PixelOrder::RGBA}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + ", strips of " + std::to_string(strip) +
                     (order == PixelOrder::RGBA ? ", RGBA" : ", BGRA"));
        RowsImage image(w, h, std::size_t(w) * 4, order, noise(w, h), strip);
        auto t = loader.newTextureWithImage(image, {});
        ASSERT_TRUE(t) << t.error().text();
        const auto levels = std::size_t(std::floor(std::log2(std::max(w, h)))) + 1;
        ASSERT_EQ((*t)->mipmapLevelCount(), levels);
        std::size_t aw = std::size_t(w), ah = std::size_t(h);
        Bytes above = readLevel(**t, 0, aw, ah);
        for (std::size_t level = 1; level < levels; ++level) {
          const std::size_t lw = std::max<std::size_t>(aw / 2, 1), lh = std::max<std::size_t>(ah / 2, 1);
          Bytes below = readLevel(**t, level, lw, lh);
          EXPECT_LE(worstMiss(above, aw, ah, below, lw, lh), 0.5) << "level " << level;
          above = std::move(below), aw = lw, ah = lh;
        }
      }
}

// A released picture texture is kept for the next picture of its size, with nothing of the one before in any
// level; the loader holds one spare at most and lets it go with itself.
TEST_F(GpuTest, AReleasedPictureTextureIsFilledAgainForTheNextPictureOfItsSize) {
  using plat::gpu::testing::liveGLObjectCount;
  const std::size_t start = liveGLObjectCount();
  auto loader = std::make_unique<TextureLoader>(device);
  auto load = [&](const RowsImage& image) {
    auto t = loader->newTextureWithImage(image, {});
    EXPECT_TRUE(t) << (t ? "" : t.error().text());
    return t ? *t : nullptr;
  };
  const RowsImage first(64, 40, 64 * 4, PixelOrder::BGRA, noise(64, 40), 7);
  Bytes plain(64 * 40 * 4, 0x55);
  const RowsImage second(64, 40, 64 * 4, PixelOrder::BGRA, plain, 7);
  const RowsImage other(48, 40, 48 * 4, PixelOrder::BGRA, Bytes(48 * 40 * 4, 0xAA), 7);

  auto a = load(first);
  ASSERT_TRUE(a);
  const std::size_t one = liveGLObjectCount();
  a.reset();
  EXPECT_EQ(liveGLObjectCount(), one) << "the released texture is kept";
  auto b = load(second);
  ASSERT_TRUE(b);
  EXPECT_EQ(liveGLObjectCount(), one) << "the next picture of its size got it";
  EXPECT_EQ(readLevel(*b, 0, 64, 40), plain);
  EXPECT_EQ(readLevel(*b, 1, 32, 20), Bytes(32 * 20 * 4, 0x55)) << "no level keeps the picture before";

  b.reset();
  auto c = load(other);
  ASSERT_TRUE(c);
  EXPECT_EQ(liveGLObjectCount(), one) << "a picture of another size: the spare let go, a new texture made";

  auto d = load(first);  // nothing spare while c lives
  ASSERT_TRUE(d);
  EXPECT_EQ(liveGLObjectCount(), one + 1);
  c.reset();
  d.reset();
  EXPECT_EQ(liveGLObjectCount(), one) << "one spare at most";
  loader.reset();
  EXPECT_EQ(liveGLObjectCount(), start) << "the spare goes with its loader";
}

// Thin white lines, one in every four columns: a pass into a target a quarter of the picture's size reads
// the level of that size (each pixel a quarter white), one into a target of its size or a row less reads
// level 0 (the lines kept); the level follows the target back and forth.
TEST_F(GpuTest, APassSamplesTheSmallestLevelThatCoversItsTarget) {
  constexpr int kW = 256, kH = 128;
  Bytes lines(kW * kH * 4);
  for (std::size_t i = 0; i < lines.size(); ++i) lines[i] = i % 4 == 3 || (i / 4) % 4 == 0 ? 255 : 0;
  TextureLoader loader(device);
  auto picture = loader.newTextureWithImage(RowsImage(kW, kH, kW * 4, PixelOrder::BGRA, lines, 16), {});
  ASSERT_TRUE(picture) << picture.error().text();
  auto copy = pipeline(*device, *lib, "f_copy");
  auto firstGreens = [&](std::size_t w, std::size_t h) {  // the green bytes of the target's first four pixels
    auto d = TextureDescriptor::texture2D(PixelFormat::BGRA8Unorm, w, h, false);
    d.usage = TextureUsage::ShaderRead | TextureUsage::RenderTarget;
    auto target = device->newTexture(d);
    auto buffer = queue->commandBuffer();
    RenderPassDescriptor pass;
    pass.colorAttachments[0].texture = target;
    auto encoder = buffer->renderCommandEncoder(pass);
    encoder->setRenderPipelineState(copy);
    encoder->setFragmentTexture(*picture, 0);
    encoder->drawPrimitives(PrimitiveType::Triangle, 0, 3);
    encoder->endEncoding();
    buffer->commit(), buffer->waitUntilCompleted();
    Bytes row(16);
    target->getBytes(row.data(), 16, makeRegion(0, 0, 4, 1), 0);
    return std::vector<int>{row[1], row[5], row[9], row[13]};
  };
  using V = std::vector<int>;
  EXPECT_EQ(firstGreens(64, 32), (V{64, 64, 64, 64})) << "a quarter: level 2";
  EXPECT_EQ(firstGreens(256, 128), (V{255, 0, 0, 0})) << "its own size: level 0";
  EXPECT_EQ(firstGreens(256, 127), (V{255, 0, 0, 0})) << "one row less: level 1 would not cover it";
  EXPECT_EQ(firstGreens(64, 32), (V{64, 64, 64, 64})) << "a quarter again: back to level 2";
}

// A picture wider or taller than the GPU allows is refused without decoding it (no huge allocation).
TEST_F(GpuTest, LoaderRefusesImpossibleSizesBeforeDecoding) {
  TextureLoader loader(device);
  const int tooBig = static_cast<int>(device->limits().maxTextureSize) + 1;
  for (auto [w, h] : std::vector<std::pair<int, int>>{{tooBig, 2}, {3, tooBig}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    RowsImage image(w, h, 12, PixelOrder::BGRA, Bytes(24, 0x40));
    EXPECT_FALSE(loader.newTextureWithImage(image, {}));
    EXPECT_EQ(image.decodes, 0);
  }
}

}  // namespace
}  // namespace gputest
