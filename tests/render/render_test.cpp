// The view's renderer on the software rasteriser: setup with missing pieces, the picture advance, the bindings and
// scene textures of the passes, the failure seams.
#include <filesystem>
#include <fstream>

#include "platform/gpu/gpu.h"
#include "support/render_fixture.h"

namespace {

using qtest::Rgb;
namespace gpu = plat::gpu;

// The composite pass copies the texture at index `mono` (which the frame step never writes); present copies it on.
const char* kProbeFunctions = R"(
//@function f_composite fragment
in vec2 vUV;
out vec4 o;
uniform sampler2D tex0, tex1, tex2, tex3, tex4;
void main() {
  int m = int(mono + 0.5);
  vec2 c = vec2(0.5);
  o = m == 0 ? texture(tex0, c) : m == 1 ? texture(tex1, c) : m == 2 ? texture(tex2, c)
    : m == 3 ? texture(tex3, c) : texture(tex4, c);
}
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

class Renderer : public qtest::ViewTest {};

TEST_F(Renderer, SetupStopsQuietlyAtTheFirstMissingPiece) {
  usePictures({{255, 0, 0}, {0, 255, 0}});

  gpu::testing::setSystemDeviceUnavailable(true);
  auto noDevice = makeView();
  gpu::testing::setSystemDeviceUnavailable(false);
  ASSERT_TRUE(noDevice);
  EXPECT_FALSE(noDevice->device);
  for (int i = 0; i < 3; ++i) noDevice->animateOneFrame();
  EXPECT_NEAR(noDevice->t, 0.1, 1e-12) << "the clock runs on";
  EXPECT_FALSE(noDevice->debugRenderPNG(dir() / "none.png", 3));
  EXPECT_FALSE(std::filesystem::exists(dir() / "none.png"));

  useLibrary("");
  auto noLibrary = makeView();
  ASSERT_TRUE(noLibrary->device);
  EXPECT_FALSE(noLibrary->compositePSO);
  EXPECT_TRUE(noLibrary->debugRenderPNG(dir() / "nolib.png", 2)) << "the untouched texture is still written";

  std::string library = qtest::realShaderLibrary();
  library.erase(library.find("//@function f_present"));
  useLibrary(library);
  auto noPresent = makeView();
  EXPECT_FALSE(noPresent->presentPSO);
  noPresent->animateOneFrame();
  EXPECT_TRUE(noPresent->sceneTex.empty()) << "no frame drawn";
}

TEST_F(Renderer, PicturesThatDoNotLoadFallBackToTheVioletTexel) {
  auto empty = makeView();
  EXPECT_EQ(empty->texA, empty->fallbackTex);
  EXPECT_EQ(empty->texB, empty->fallbackTex);

  std::ofstream(usePictures({{10, 20, 30}}) + "/p0.png", std::ios::trunc) << "not a picture";
  auto broken = makeView();
  EXPECT_EQ(broken->texA, broken->fallbackTex);
  EXPECT_EQ(broken->texB, broken->texA);

  empty->t = 14.0;  // across a slot end the pair stays the fallback texture
  empty->renderFrame(qtest::renderTarget(*empty->device, 16, 10));
  EXPECT_EQ(empty->texA, empty->fallbackTex);
  EXPECT_EQ(empty->texB, empty->fallbackTex);
}

TEST_F(Renderer, AtTheSlotsEndThePicturesAdvance) {
  usePictures({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
  auto view = makeView();
  auto tex = qtest::renderTarget(*view->device, 16, 10);
  view->slot.slotStart = 0.0;
  auto next = view->texB;
  view->t = 14.0;
  view->renderFrame(tex);
  EXPECT_EQ(view->texA, next);
  EXPECT_NE(view->texB.get(), next.get()) << "the picture after it";
  EXPECT_EQ(view->uni.opacB, 0.0f) << "its fade starts over";

  // No next picture and nothing more to load: the current one stays as both.
  auto shown = view->texA;
  view->texB.reset();
  view->playlist = {};
  view->t = 28.1;
  view->renderFrame(tex);
  EXPECT_EQ(view->texA, shown);
  EXPECT_EQ(view->texB, shown);
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

TEST_F(Passes, CompositeBindsBothPicturesThePreviousFrameAndTheLayers) {
  EXPECT_EQ(frame(0), 0xFF0000u);
  EXPECT_EQ(frame(1), 0x00FF00u);
  frame(1);
  EXPECT_EQ(frame(2), 0x00FF00u) << "texture 2 is the previous frame";
  frame(0);
  EXPECT_EQ(frame(2), 0xFF0000u);
  view->texB.reset();
  EXPECT_EQ(frame(1), 0xFF0000u) << "no next picture: the current one";
  view->texA.reset();
  EXPECT_EQ(frame(0), 0x280050u) << "no current picture: the fallback texel";
}

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
