// The texture loader: limits checked before decoding, rows of any stride and
// either channel order uploaded so that they read back and sample as B,G,R,A.
#include <gtest/gtest.h>

#include "gpu/gpu_fixture.h"

namespace gputest {
namespace {

using Bytes = std::vector<std::uint8_t>;

// An image with given rows; counts how often its pixels are asked for.
class RowsImage : public plat::image::Image {
 public:
  RowsImage(int w, int h, std::size_t stride, plat::image::PixelOrder order, Bytes rows)
      : w_(w), h_(h), stride_(stride), order_(order), rows_(std::move(rows)) {}
  int width() const override { return w_; }
  int height() const override { return h_; }
  std::optional<plat::image::PixelView> pixels(plat::image::Error* error) const override {
    ++decodes;
    if (rows_.empty()) {
      if (error) *error = {"png", "broken"};
      return std::nullopt;
    }
    return plat::image::PixelView{rows_.data(), w_, h_, stride_, order_};
  }
  mutable int decodes = 0;

 private:
  int w_, h_;
  std::size_t stride_;
  plat::image::PixelOrder order_;
  Bytes rows_;
};

// 3x2 pixels in B,G,R,A; rows padded to `stride` with 0xCD.
Bytes picture(std::size_t stride, bool rgba) {
  const Bytes bgra = {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255, 13, 14, 15, 128, 16, 17, 18, 0};
  Bytes rows(stride * 2, 0xCD);
  for (std::size_t y = 0; y < 2; ++y)
    for (std::size_t x = 0; x < 3; ++x) {
      const std::uint8_t* p = &bgra[(y * 3 + x) * 4];
      std::uint8_t* q = &rows[y * stride + x * 4];
      q[0] = rgba ? p[2] : p[0];
      q[1] = p[1];
      q[2] = rgba ? p[0] : p[2];
      q[3] = p[3];
    }
  return rows;
}

TEST_P(GpuTest, LoaderUploadsAnyStrideAndOrderExactly) {
  TextureLoader loader(device);
  const Bytes expect = picture(12, false);
  for (bool rgba : {false, true}) {
    for (std::size_t stride : {12u, 16u, 15u, 40u}) {
      RowsImage image(3, 2, stride, rgba ? plat::image::PixelOrder::RGBA : plat::image::PixelOrder::BGRA,
                      picture(stride, rgba));
      std::string error;
      auto t = loader.newTextureWithImage(image, {}, &error);
      ASSERT_TRUE(t) << error;
      EXPECT_EQ(t->width(), 3u);
      EXPECT_EQ(t->height(), 2u);
      EXPECT_EQ(t->usage(), TextureUsage::ShaderRead);
      EXPECT_EQ(read(*t), expect) << "rgba " << rgba << " stride " << stride;

      // Sampled through a pass: the same bytes come out of a render target.
      auto target = texture(3, 2);
      renderOnce(target, "f_copy", {t});
      Bytes rendered = read(*target);
      EXPECT_EQ(rendered, expect) << "rgba " << rgba << " stride " << stride;
    }
  }
}

TEST_P(GpuTest, LoaderRefusesBeforeDecoding) {
  TextureLoader loader(device);
  const int tooWide = static_cast<int>(device->limits().maxTextureSize) + 1;
  RowsImage wide(tooWide, 2, 12, plat::image::PixelOrder::BGRA, picture(12, false));
  std::string error;
  EXPECT_EQ(loader.newTextureWithImage(wide, {}, &error), nullptr);
  EXPECT_EQ(wide.decodes, 0);
  EXPECT_NE(error.find("exceeds"), std::string::npos) << error;

  RowsImage tall(3, tooWide, 12, plat::image::PixelOrder::BGRA, picture(12, false));
  EXPECT_EQ(loader.newTextureWithImage(tall, {}, &error), nullptr);
  EXPECT_EQ(tall.decodes, 0);

  RowsImage broken(3, 2, 12, plat::image::PixelOrder::BGRA, {});
  EXPECT_EQ(loader.newTextureWithImage(broken, {}, &error), nullptr);
  EXPECT_EQ(broken.decodes, 1);
  EXPECT_NE(error.find("broken"), std::string::npos);

  RowsImage fine(3, 2, 12, plat::image::PixelOrder::BGRA, picture(12, false));
  EXPECT_EQ(loader.newTextureWithImage(fine, {true, TextureUsage::ShaderRead}, &error), nullptr);  // sRGB
  plat::gpu::testing::failNextTextures(1);
  EXPECT_EQ(loader.newTextureWithImage(fine, {}, &error), nullptr);
  EXPECT_NE(loader.newTextureWithImage(fine, {}, &error), nullptr);

  TextureLoader none(nullptr);
  EXPECT_EQ(none.newTextureWithImage(fine, {}, &error), nullptr);
}

}  // namespace
}  // namespace gputest
