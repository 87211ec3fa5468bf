// Textures and the texture loader: impossible sizes refused (before decoding),
// rows of any stride and either channel order read back as B,G,R,A.
#include "gpu/gpu_fixture.h"

namespace gputest {
namespace {

using plat::image::PixelOrder;

// An image with given rows; counts how often its pixels are asked for.
struct RowsImage : plat::image::Image {
  RowsImage(int w, int h, std::size_t stride, PixelOrder order, Bytes rows)
      : w(w), h(h), stride(stride), order(order), rows(std::move(rows)) {}
  int width() const override { return w; }
  int height() const override { return h; }
  std::optional<plat::image::PixelView> pixels(plat::image::Error* error) const override {
    ++decodes;
    if (!rows.empty()) return plat::image::PixelView{rows.data(), w, h, stride, order};
    if (error) *error = {"png", "broken"};
    return std::nullopt;
  }
  int w, h;
  std::size_t stride;
  PixelOrder order;
  Bytes rows;
  mutable int decodes = 0;
};

// 3x2 distinct pixels (alpha too), rows `stride` bytes apart padded with 0xCD.
Bytes picture(std::size_t stride, bool rgba) {
  Bytes rows(stride * 2, 0xCD);
  for (std::size_t y = 0; y < 2; ++y)
    for (std::size_t i = 0; i < 12; ++i) {
      const std::size_t from = rgba && i % 4 != 1 && i % 4 != 3 ? i ^ 2 : i;  // swap R and B
      rows[y * stride + i] = static_cast<std::uint8_t>(i % 4 == 3 ? 255 - 60 * y - from : y * 12 + from + 1);
    }
  return rows;
}

TEST_P(GpuBoth, LoaderUploadsAnyStrideAndOrderExactly) {
  TextureLoader loader(device);
  const Bytes expect = picture(12, false);
  for (bool rgba : {false, true})
    for (std::size_t stride : {12u, 15u, 40u}) {
      RowsImage image(3, 2, stride, rgba ? PixelOrder::RGBA : PixelOrder::BGRA, picture(stride, rgba));
      std::string error;
      auto t = loader.newTextureWithImage(image, {}, &error);
      ASSERT_TRUE(t) << error;
      EXPECT_EQ(read(*t), expect) << "rgba " << rgba << " stride " << stride;
      auto target = texture(3, 2);  // sampled, row 0 is still the top
      renderOnce(target, "f_copy", {t});
      EXPECT_EQ(read(*target), expect) << "rgba " << rgba << " stride " << stride;
    }
}

TEST_F(GpuTest, TexturesAndLoaderRefuseImpossibleSizesBeforeDecoding) {
  const std::size_t max = device->limits().maxTextureSize;
  EXPECT_TRUE(!texture(max + 1, 4) && !texture(4, max + 1) && !texture(0, 4));
  EXPECT_EQ(device->newTexture(TextureDescriptor::texture2D(PixelFormat::Invalid, 4, 4, false)), nullptr);
  TextureLoader loader(device);
  const int tooBig = static_cast<int>(device->limits().maxTextureSize) + 1;
  RowsImage wide(tooBig, 2, 12, PixelOrder::BGRA, picture(12, false)), tall(3, tooBig, 12, PixelOrder::BGRA, {});
  std::string error;
  EXPECT_EQ(loader.newTextureWithImage(wide, {}, &error), nullptr);
  EXPECT_NE(error.find("exceeds"), std::string::npos) << error;
  EXPECT_EQ(loader.newTextureWithImage(tall, {}, &error), nullptr);
  EXPECT_EQ(wide.decodes + tall.decodes, 0);
  RowsImage broken(3, 2, 12, PixelOrder::BGRA, {}), fine(3, 2, 12, PixelOrder::BGRA, picture(12, false));
  EXPECT_EQ(loader.newTextureWithImage(broken, {}, &error), nullptr);
  EXPECT_NE(error.find("broken"), std::string::npos);
  plat::gpu::testing::failNextTextures(1);
  EXPECT_EQ(loader.newTextureWithImage(fine, {}, &error), nullptr);
  EXPECT_NE(loader.newTextureWithImage(fine, {}, &error), nullptr);
}

}  // namespace
}  // namespace gputest
