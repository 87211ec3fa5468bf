// The view's renderer on the software rasteriser: a failing buffer, encoder or scene texture costs one frame only.
#include "platform/gpu/gpu.h"
#include "support/render_fixture.h"

namespace {

using qtest::Rgb;
namespace gpu = plat::gpu;

// The composite pass shows the current picture (mono 0) or the next (mono 1); present copies it on.
const char* kProbeFunctions = R"(
//@function f_composite fragment
in vec2 vUV;
out vec4 o;
uniform sampler2D tex0, tex1;
void main() { o = mono < 0.5 ? texture(tex0, vec2(0.5)) : texture(tex1, vec2(0.5)); }
//@function f_present fragment
in vec2 vUV;
out vec4 o;
uniform sampler2D tex0;
void main() { o = texture(tex0, vUV); }
)";

std::shared_ptr<gpu::Texture> solid(gpu::Device& device, Rgb c) {
  auto tex = device.newTexture(gpu::TextureDescriptor::texture2D(gpu::PixelFormat::BGRA8Unorm, 1, 1, false));
  const std::uint8_t bgra[4] = {c.b, c.g, c.r, 255};
  tex->replaceRegion(gpu::Region{{0, 0, 0}, {1, 1, 1}}, 0, bgra, 4);
  return tex;
}

// The centre pixel as 0xRRGGBB.
unsigned centre(const gpu::Texture& tex) {
  std::vector<std::uint8_t> px(tex.width() * tex.height() * 4);
  tex.getBytes(px.data(), tex.width() * 4, gpu::Region{{0, 0, 0}, {tex.width(), tex.height(), 1}}, 0);
  const std::size_t i = ((tex.height() / 2) * tex.width() + tex.width() / 2) * 4;
  return (px[i + 2] << 16) | (px[i + 1] << 8) | px[i];
}

class Passes : public qtest::ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    useLibrary(qtest::testLibrary(kProbeFunctions));
    view = makeView();
    ASSERT_TRUE(view->presentPSO);
    view->texA = solid(*view->device, {255, 0, 0});
    view->texB = solid(*view->device, {0, 255, 0});
    tex = qtest::renderTarget(*view->device, 8, 6);
  }
  unsigned frame(int mode) {
    view->uni.mono = static_cast<float>(mode);
    view->t += 1.0 / 30.0;
    view->renderFrame(tex);
    return centre(*tex);
  }
  std::shared_ptr<quelltrine::QuelltrineSaverView> view;
  std::shared_ptr<gpu::Texture> tex;
};

// A frame whose buffer, encoder or scene textures fail is lost, not the ones after it.
TEST_F(Passes, FailuresCostOneFrameOnly) {
  frame(0);
  auto first = view->sceneTex.at(0);
  gpu::testing::failNextCommandBuffers(1);
  frame(1);
  gpu::testing::failNextEncoders(1);
  frame(1);
  EXPECT_EQ(frame(0), 0xFF0000u);
  tex = qtest::renderTarget(*view->device, 20, 12);
  gpu::testing::failNextTextures(1);
  EXPECT_EQ(frame(1), 0x00FF00u) << "a failed rebuild draws with the old pair";
  EXPECT_EQ(view->sceneTex.at(0), first);
  frame(0);
  EXPECT_EQ(view->sceneTex.at(1)->height(), 12u) << "rebuilt on the next frame";
  view->animateOneFrame();  // on screen without a window: no drawable, nothing drawn
}

}  // namespace
