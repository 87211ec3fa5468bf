// The view's renderer on Mesa's software rasteriser: setup with missing
// pieces, the frame step's timing and picture advance, the bindings and
// scene textures of the passes, the failure seams, the offscreen render.
#include <filesystem>
#include <fstream>

#include "platform/gpu/gpu.h"
#include "support/render_fixture.h"

namespace {

using qtest::Rgb;
namespace gpu = plat::gpu;

// The composite pass copies the texture at the index given by `mono` (a
// field the frame step never writes); the present pass copies the scene.
const char* kProbeFunctions = R"(
//@function f_composite fragment
in vec2 vUV;
out vec4 o;
uniform sampler2D tex0;
uniform sampler2D tex1;
uniform sampler2D tex2;
uniform sampler2D tex3;
uniform sampler2D tex4;
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
  EXPECT_NEAR(noDevice->t, 0.1, 1e-12);
  EXPECT_FLOAT_EQ(noDevice->uni.feedbackAmt, 0.9f) << "no parameter step without a renderer";
  EXPECT_FALSE(noDevice->debugRenderPNG(dir() / "none.png", 3));
  EXPECT_FALSE(std::filesystem::exists(dir() / "none.png"));
  EXPECT_NEAR(noDevice->t, 0.1, 1e-12);

  useLibrary("");
  auto noLibrary = makeView();
  ASSERT_TRUE(noLibrary->device);
  EXPECT_EQ(std::dynamic_pointer_cast<gpu::MetalLayer>(noLibrary->layer())->device(), noLibrary->device);
  EXPECT_FALSE(noLibrary->compositePSO);
  EXPECT_FALSE(noLibrary->texA);
  EXPECT_TRUE(noLibrary->playlist.imageURLs.empty()) << "the folder is not scanned";
  EXPECT_TRUE(noLibrary->debugRenderPNG(dir() / "nolib.png", 2)) << "the untouched texture is still written";
  EXPECT_NEAR(noLibrary->t, 2.0 / 30.0, 1e-12);

  std::string library = qtest::realShaderLibrary();
  library.erase(library.find("//@function f_present"));
  useLibrary(library);
  auto noPresent = makeView();
  EXPECT_TRUE(noPresent->compositePSO);
  EXPECT_FALSE(noPresent->presentPSO);
  ASSERT_TRUE(noPresent->texA);
  EXPECT_TRUE(noPresent->texB);
  EXPECT_NE(noPresent->texA.get(), noPresent->texB.get());
  noPresent->animateOneFrame();
  EXPECT_FLOAT_EQ(noPresent->uni.contrast, 1.1f);
  EXPECT_TRUE(noPresent->sceneTex.empty());
}

TEST_F(Renderer, PicturesThatDoNotLoadFallBackToTheVioletTexel) {
  auto empty = makeView();
  EXPECT_EQ(empty->texA, empty->fallbackTex);
  EXPECT_EQ(empty->texB, empty->fallbackTex);

  std::ofstream(usePictures({{10, 20, 30}}) + "/p0.png", std::ios::trunc) << "not a picture";
  auto broken = makeView();
  EXPECT_EQ(broken->texA, broken->fallbackTex);
  EXPECT_EQ(broken->texB, broken->texA);

  // Across slot ends the pair stays the fallback texture.
  auto tex = qtest::renderTarget(*empty->device, 16, 10);
  for (double t : {14.0, 28.1}) {
    empty->t = t;
    empty->renderFrame(tex);
    EXPECT_EQ(empty->texA, empty->fallbackTex);
    EXPECT_EQ(empty->texB, empty->fallbackTex);
  }
}

TEST_F(Renderer, AtTheSlotsEndThePicturesAdvance) {
  usePictures({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
  auto view = makeView();
  auto tex = qtest::renderTarget(*view->device, 16, 10);
  view->slot.slotStart = 0.0;
  view->t = 13.99;
  view->renderFrame(tex);
  EXPECT_GT(view->uni.opacB, 0.99f) << "the next picture all but faded in";
  auto next = view->texB;
  view->t = 14.0;
  view->renderFrame(tex);
  EXPECT_EQ(view->uni.opacB, 0.0f);
  EXPECT_EQ(view->texA, next);
  EXPECT_TRUE(view->texB);
  EXPECT_NE(view->texB.get(), next.get()) << "the picture after it";
  EXPECT_EQ(view->slot.slotStart, 14.0);
  EXPECT_EQ(view->uni.mixAB, 0.5f) << "a field with no writer keeps its default";

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
  EXPECT_EQ(frame(3), 0xFF0000u);
  EXPECT_EQ(frame(4), 0xFF0000u);
  frame(1);
  EXPECT_EQ(frame(2), 0x00FF00u) << "texture 2 is the previous frame";
  frame(0);
  EXPECT_EQ(frame(2), 0xFF0000u);
  view->texB.reset();
  EXPECT_EQ(frame(1), 0xFF0000u) << "no next picture: the current one";
  view->texA.reset();
  EXPECT_EQ(frame(0), 0x280050u) << "no current picture: the fallback texel";
}

TEST_F(Passes, SceneTexturesFollowTheTargetAndFailuresEndOrShortenTheFrame) {
  frame(0);
  ASSERT_EQ(view->sceneTex.size(), 2u);
  EXPECT_EQ(view->sceneTex[0]->width(), 8u);
  EXPECT_EQ(view->sceneTex[0]->storageMode(), gpu::StorageMode::Private);
  auto first = view->sceneTex[0];
  std::int64_t cur = view->cur;
  frame(0);
  EXPECT_EQ(view->cur, 1 - cur);
  EXPECT_EQ(view->sceneTex[0], first) << "same size, no rebuild";

  gpu::testing::failNextCommandBuffers(1);
  frame(0);
  EXPECT_EQ(view->cur, 1 - cur) << "no command buffer: no flip";
  gpu::testing::failNextEncoders(1);
  frame(1);
  EXPECT_EQ(view->cur, cur) << "a missing encoder skips its pass only";

  tex = qtest::renderTarget(*view->device, 20, 12);
  gpu::testing::failNextTextures(1);
  frame(0);
  EXPECT_EQ(view->sceneTex[0], first) << "a failed rebuild keeps the old pair";
  EXPECT_EQ(centre(*tex), 0xFF0000u);
  frame(0);
  EXPECT_EQ(view->sceneTex[1]->height(), 12u);

  // On screen without a window: scale 2, at least 64 pixels, no drawable,
  // no flip; an offscreen frame leaves the drawable size alone.
  auto layer = std::dynamic_pointer_cast<gpu::MetalLayer>(view->layer());
  cur = view->cur;
  view->animateOneFrame();
  EXPECT_EQ(view->cur, cur);
  EXPECT_EQ(layer->drawableSize(), (plat::ui::Size{320, 200}));
  view->setFrameSize({10, 10});
  view->animateOneFrame();
  frame(0);
  EXPECT_EQ(layer->drawableSize(), (plat::ui::Size{64, 64}));
}

TEST_F(Renderer, OffscreenRenderCountsFramesAndWritesTheFrame) {
  usePictures({{200, 100, 50}});
  auto view = makeView();
  const std::string png = dir() / "out.png";
  for (auto [frames, expected] : {std::pair<std::int64_t, int>{0, 1}, {-1, 1}, {3, 3}}) {
    const double before = view->t;
    ASSERT_TRUE(view->debugRenderPNG(png, frames));
    EXPECT_NEAR(view->t - before, expected / 30.0, 1e-12) << frames;
  }
  EXPECT_EQ(view->sceneTex[0]->width(), 1280u);
  auto source = plat::image::ImageSource::createWithPath(png).valueOr(nullptr);
  ASSERT_TRUE(source);
  auto image = source->createImageAtIndex(0, {}).valueOr(nullptr);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 1280);
  EXPECT_EQ(image->height(), 800);
  EXPECT_FALSE(view->debugRenderPNG(dir() / "missing/x.png", 1)) << "a write that fails is no success";
}

}  // namespace
