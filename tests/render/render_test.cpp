// The view's renderer on a real GPU layer (Mesa's software rasteriser):
// setup when pieces are missing, the parameter step's timing and picture
// advance, the passes' bindings and scene textures, the failure seams, and
// the offscreen PNG render.
#include <cmath>
#include <filesystem>
#include <fstream>

#include "platform/gpu/gpu.h"
#include "support/render_fixture.h"

namespace {

using quelltrine::QuelltrineSaverView;
using qtest::Rgb;
namespace gpu = plat::gpu;

// A library whose composite pass copies the fragment texture chosen by the
// parameter `mono` (a field the frame step never writes) and whose present
// pass copies the scene: the colour read back tells which texture was bound
// at which index.
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
  vec2 c = vec2(0.5);
  int m = int(mono + 0.5);
  if (m == 0) o = texture(tex0, c);
  else if (m == 1) o = texture(tex1, c);
  else if (m == 2) o = texture(tex2, c);
  else if (m == 3) o = texture(tex3, c);
  else o = texture(tex4, c);
}
//@function f_present fragment
in vec2 vUV;
out vec4 o;
uniform sampler2D tex0;
void main() { o = texture(tex0, vUV); }
)";

// It shares the real library's declaration of the parameter block.
std::string probeLibrary() { return qtest::testLibrary(kProbeFunctions); }


std::string withoutFunction(std::string library, const std::string& name) {
  auto pos = library.find("//@function " + name);
  if (pos == std::string::npos) return library;
  auto end = library.find("//@function", pos + 1);
  library.erase(pos, end == std::string::npos ? std::string::npos : end - pos);
  return library;
}

std::shared_ptr<gpu::Texture> solidTexture(gpu::Device& device, Rgb c) {
  auto tex = device.newTexture(gpu::TextureDescriptor::texture2D(gpu::PixelFormat::BGRA8Unorm, 1, 1, false));
  const std::uint8_t bgra[4] = {c.b, c.g, c.r, 255};
  tex->replaceRegion(gpu::Region{{0, 0, 0}, {1, 1, 1}}, 0, bgra, 4);
  return tex;
}

std::shared_ptr<gpu::Texture> renderTarget(gpu::Device& device, std::size_t w, std::size_t h) {
  auto desc = gpu::TextureDescriptor::texture2D(gpu::PixelFormat::BGRA8Unorm, w, h, false);
  desc.usage = gpu::TextureUsage::ShaderRead | gpu::TextureUsage::RenderTarget;
  return device.newTexture(desc);
}

Rgb centrePixel(const gpu::Texture& tex) {
  std::vector<std::uint8_t> px(tex.width() * tex.height() * 4);
  tex.getBytes(px.data(), tex.width() * 4, gpu::Region{{0, 0, 0}, {tex.width(), tex.height(), 1}}, 0);
  std::size_t i = ((tex.height() / 2) * tex.width() + tex.width() / 2) * 4;
  return Rgb{px[i + 2], px[i + 1], px[i]};
}

// The file decodes as a PNG of the offscreen size.
void expectOffscreenPng(const std::string& png) {
  auto source = plat::image::ImageSource::createWithPath(png);
  ASSERT_TRUE(source) << png;
  EXPECT_STREQ(source->formatName(), "png");
  auto image = source->createImageAtIndex(0, {});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), QuelltrineSaverView::kOffscreenWidth);
  EXPECT_EQ(image->height(), QuelltrineSaverView::kOffscreenHeight);
}

bool sameColour(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

class RendererSetup : public qtest::ViewTest {};

TEST_F(RendererSetup, WithoutDeviceTheViewExistsButMakesNothing) {
  usePictures({{255, 0, 0}});
  gpu::testing::setSystemDeviceUnavailable(true);
  auto view = makeView();
  gpu::testing::setSystemDeviceUnavailable(false);
  ASSERT_TRUE(view);
  EXPECT_FALSE(view->device);
  EXPECT_FALSE(view->queue);
  EXPECT_FALSE(view->loader);
  EXPECT_FALSE(view->compositePSO);
  EXPECT_FALSE(view->fallbackTex);
  EXPECT_FALSE(view->texA);
  EXPECT_TRUE(view->playlist.imageURLs.empty());

  // Ticks advance the clock and draw nothing; the block keeps its defaults.
  for (int i = 0; i < 3; ++i) view->animateOneFrame();
  EXPECT_NEAR(view->t, 0.1, 1e-12);
  EXPECT_FLOAT_EQ(view->uni.feedbackAmt, 0.9f);
  // The offscreen render reports failure, writes nothing and keeps the clock.
  const std::string png = dir() / "none.png";
  EXPECT_FALSE(view->debugRenderPNG(png, 3));
  EXPECT_FALSE(std::filesystem::exists(png));
  EXPECT_NEAR(view->t, 0.1, 1e-12);
}

TEST_F(RendererSetup, WithoutShaderLibraryOnlyTheDeviceObjectsExist) {
  usePictures({{255, 0, 0}});
  useLibrary("");
  auto view = makeView();
  ASSERT_TRUE(view->device);
  EXPECT_TRUE(view->queue);
  EXPECT_TRUE(view->loader);
  auto layer = std::dynamic_pointer_cast<gpu::MetalLayer>(view->layer());
  ASSERT_TRUE(layer);
  EXPECT_EQ(layer->device(), view->device);
  EXPECT_FALSE(view->compositePSO);
  EXPECT_FALSE(view->presentPSO);
  EXPECT_FALSE(view->fallbackTex);
  EXPECT_FALSE(view->texA);
  EXPECT_TRUE(view->playlist.imageURLs.empty()) << "the folder must not be scanned";

  // The PNG is still written, at 1280x800, and the clock still moves.
  const std::string png = dir() / "nolib.png";
  EXPECT_TRUE(view->debugRenderPNG(png, 2));
  EXPECT_NEAR(view->t, 2.0 / 30.0, 1e-12);
  expectOffscreenPng(png);
}

TEST_F(RendererSetup, LibraryWithoutPresentFunctionBuildsCompositeOnlyAndDrawsNothing) {
  usePictures({{255, 0, 0}, {0, 255, 0}});
  useLibrary(withoutFunction(qtest::realShaderLibrary(), "f_present"));
  auto view = makeView();
  EXPECT_TRUE(view->compositePSO);
  EXPECT_FALSE(view->presentPSO);
  EXPECT_TRUE(view->fallbackTex);
  EXPECT_TRUE(view->texA);
  EXPECT_TRUE(view->texB);
  EXPECT_NE(view->texA, view->texB);
  EXPECT_EQ(view->playlist.imageURLs.size(), 2u);
  view->animateOneFrame();
  EXPECT_FLOAT_EQ(view->uni.contrast, 1.1f) << "an incomplete renderer runs no parameter step";
  EXPECT_TRUE(view->sceneTex.empty());
}

TEST_F(RendererSetup, PicturesThatDoNotLoadFallBack) {
  // No pictures at all: both sources are the fallback texture.
  auto empty = makeView();
  ASSERT_TRUE(empty->fallbackTex);
  EXPECT_EQ(empty->texA, empty->fallbackTex);
  EXPECT_EQ(empty->texB, empty->fallbackTex);
  std::uint8_t texel[4] = {};
  empty->fallbackTex->getBytes(texel, 4, gpu::Region{{0, 0, 0}, {1, 1, 1}}, 0);
  EXPECT_EQ(texel[0], 0x50);
  EXPECT_EQ(texel[1], 0x00);
  EXPECT_EQ(texel[2], 0x28);
  EXPECT_EQ(texel[3], 0xFF);

  // One picture that loads: the second load finds the same picture again,
  // a new texture of it. One broken picture beside nothing: fallback.
  std::string folder = usePictures({{10, 20, 30}});
  auto one = makeView();
  EXPECT_NE(one->texA, one->fallbackTex);
  EXPECT_TRUE(one->texB);
  std::ofstream(folder + "/p0.png", std::ios::trunc) << "not a picture";
  auto broken = makeView();
  EXPECT_EQ(broken->texA, broken->fallbackTex);
  EXPECT_EQ(broken->texB, broken->texA);
}

class FrameStep : public qtest::ViewTest {};

TEST_F(FrameStep, CrossFadeRisesOverTheLastSecondsAndDropsAtTheAdvance) {
  usePictures({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
  auto view = makeView();
  ASSERT_TRUE(view->presentPSO);
  auto target = renderTarget(*view->device, 16, 10);
  view->slot.slotStart = 0.0;
  struct Case {
    double t;
    float opacB;
  };
  for (Case c : {Case{5.0, 0.0f}, Case{11.5, 0.0f}, Case{12.75, 0.5f}, Case{13.99, 0.996f}}) {
    view->t = c.t;
    view->renderFrame(target);
    EXPECT_NEAR(view->uni.opacB, c.opacB, 1e-3) << "t = " << c.t;
    EXPECT_EQ(view->slot.slotStart, 0.0);
  }

  // The frame at the slot's end: pictures advance, opacB back to 0, a new
  // slot starts at this frame's clock.
  auto oldB = view->texB;
  view->t = 14.0;
  view->renderFrame(target);
  EXPECT_EQ(view->uni.opacB, 0.0f);
  EXPECT_EQ(view->texA, oldB);
  EXPECT_TRUE(view->texB);
  EXPECT_NE(view->texB, oldB);
  EXPECT_EQ(view->slot.slotStart, 14.0);
  EXPECT_EQ(view->uni.feedbackAmt, 0.86f);
  EXPECT_EQ(view->uni.mixAB, 0.5f) << "a field with no writer keeps its default";
}

TEST_F(FrameStep, WithoutPicturesBothSourcesStayTheFallbackAcrossAdvances) {
  auto view = makeView();
  auto target = renderTarget(*view->device, 16, 10);
  for (double t : {14.0, 28.1, 42.2}) {
    view->t = t;
    view->renderFrame(target);
    EXPECT_EQ(view->texA, view->fallbackTex);
    EXPECT_EQ(view->texB, view->fallbackTex);
  }
}

TEST_F(FrameStep, AnEmptiedNextPictureKeepsTheCurrentOne) {
  usePictures({{255, 0, 0}, {0, 255, 0}});
  auto view = makeView();
  auto target = renderTarget(*view->device, 16, 10);
  auto shown = view->texA;
  view->texB.reset();
  view->playlist.imageURLs.clear();  // nothing more will load
  view->playlist.order.clear();
  view->playlist.orderPos = 0;
  view->t = view->slot.slotStart + 14.0;
  view->renderFrame(target);
  EXPECT_EQ(view->texA, shown);
  EXPECT_EQ(view->texB, shown);
}

class FramePasses : public qtest::ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    useLibrary(probeLibrary());
    view = makeView();
    ASSERT_TRUE(view->compositePSO);
    ASSERT_TRUE(view->presentPSO);
    view->texA = solidTexture(*view->device, red);
    view->texB = solidTexture(*view->device, green);
    target = renderTarget(*view->device, 8, 6);
  }
  Rgb frameWithMode(int mode) {
    view->uni.mono = static_cast<float>(mode);
    view->t += 1.0 / 30.0;
    view->renderFrame(target);
    return centrePixel(*target);
  }
  const Rgb red{255, 0, 0};
  const Rgb green{0, 255, 0};
  std::shared_ptr<QuelltrineSaverView> view;
  std::shared_ptr<gpu::Texture> target;
};

TEST_F(FramePasses, CompositeBindsTheSourcesAndThePreviousFrame) {
  EXPECT_TRUE(sameColour(frameWithMode(0), red));
  EXPECT_TRUE(sameColour(frameWithMode(1), green));
  EXPECT_TRUE(sameColour(frameWithMode(3), red));
  EXPECT_TRUE(sameColour(frameWithMode(4), red));
  // Texture 2 is the previous frame's scene: green, then red after a red frame.
  frameWithMode(1);
  EXPECT_TRUE(sameColour(frameWithMode(2), green));
  frameWithMode(0);
  EXPECT_TRUE(sameColour(frameWithMode(2), red));

  // An empty next picture is replaced by the current one, an empty current
  // one by the fallback texel.
  view->texB.reset();
  EXPECT_TRUE(sameColour(frameWithMode(1), red));
  view->texA.reset();
  EXPECT_TRUE(sameColour(frameWithMode(0), (Rgb{0x28, 0x00, 0x50})));
}

TEST_F(FramePasses, SceneTexturesFollowTheTargetAndAlternate) {
  frameWithMode(0);
  ASSERT_EQ(view->sceneTex.size(), 2u);
  EXPECT_EQ(view->sceneTex[0]->width(), 8u);
  EXPECT_EQ(view->sceneTex[0]->height(), 6u);
  EXPECT_EQ(view->sceneTex[0]->storageMode(), gpu::StorageMode::Private);
  EXPECT_EQ(view->sceneTex[0]->usage(), gpu::TextureUsage::ShaderRead | gpu::TextureUsage::RenderTarget);
  auto first = view->sceneTex[0];
  const std::int64_t cur = view->cur;
  frameWithMode(0);
  EXPECT_EQ(view->cur, cur == 0 ? 1 : 0);
  EXPECT_EQ(view->sceneTex[0], first) << "same size: no rebuild";

  target = renderTarget(*view->device, 20, 12);
  frameWithMode(0);
  EXPECT_NE(view->sceneTex[0], first);
  EXPECT_EQ(view->sceneTex[0]->width(), 20u);
  EXPECT_EQ(view->sceneTex[1]->height(), 12u);
}

TEST_F(FramePasses, FailuresEndTheFrameOrSkipAPass) {
  frameWithMode(0);
  std::int64_t cur = view->cur;

  gpu::testing::failNextCommandBuffers(1);
  frameWithMode(0);
  EXPECT_EQ(view->cur, cur) << "no command buffer: no flip";

  // No encoder for the composite pass: the present pass, commit and flip
  // still happen.
  gpu::testing::failNextEncoders(1);
  frameWithMode(1);
  EXPECT_EQ(view->cur, 1 - cur);

  // A scene texture that cannot be made keeps the old pair, wrong size and all.
  auto old = view->sceneTex;
  target = renderTarget(*view->device, 30, 30);
  gpu::testing::failNextTextures(1);
  frameWithMode(0);
  EXPECT_EQ(view->sceneTex, old);
  EXPECT_TRUE(sameColour(centrePixel(*target), red));
}

TEST_F(FramePasses, OnScreenWithoutWindowHasNoDrawableAndDoesNotFlip) {
  auto layer = std::dynamic_pointer_cast<gpu::MetalLayer>(view->layer());
  ASSERT_TRUE(layer);
  const std::int64_t cur = view->cur;
  view->animateOneFrame();
  EXPECT_EQ(view->cur, cur);
  EXPECT_TRUE(view->sceneTex.empty());
  EXPECT_EQ(view->uni.feedbackAmt, 0.86f) << "the parameter step ran";
  // No window: scale 2.0, so a 160x100 view wants a 320x200 drawable.
  EXPECT_EQ(layer->drawableSize().width, 320.0);
  EXPECT_EQ(layer->drawableSize().height, 200.0);

  // A tiny view is held at 64 pixels a side; offscreen frames leave the
  // drawable size alone.
  view->setFrameSize({10, 10});
  view->animateOneFrame();
  EXPECT_EQ(layer->drawableSize().width, 64.0);
  EXPECT_EQ(layer->drawableSize().height, 64.0);
  frameWithMode(0);
  EXPECT_EQ(layer->drawableSize().width, 64.0);
}

class OffscreenPng : public qtest::ViewTest {};

TEST_F(OffscreenPng, FrameCountAndClock) {
  usePictures({{200, 100, 50}});
  auto view = makeView();
  const std::string png = dir() / "out.png";
  for (auto [frames, expected] : {std::pair<std::int64_t, int>{0, 1}, {-1, 1}, {3, 3}}) {
    const double before = view->t;
    const std::int64_t cur = view->cur;
    ASSERT_TRUE(view->debugRenderPNG(png, frames));
    EXPECT_NEAR(view->t - before, expected / 30.0, 1e-12) << frames;
    EXPECT_EQ((view->cur - cur + 2) % 2, expected % 2) << frames;
  }
  EXPECT_EQ(view->sceneTex[0]->width(), 1280u);

  expectOffscreenPng(png);
}

TEST_F(OffscreenPng, ReplacesAnExistingFileAndFailsCleanly) {
  auto view = makeView();
  const std::string png = dir() / "existing.png";
  std::ofstream(png) << "old contents";
  EXPECT_TRUE(view->debugRenderPNG(png, 1));
  const std::string written = qtest::readFile(png);
  EXPECT_EQ(written.substr(1, 3), "PNG");

  EXPECT_FALSE(view->debugRenderPNG(dir() / "missing/folder/out.png", 1));
  // A target that cannot be replaced (a folder) fails and is left as it was,
  // with no temporary file left beside it.
  std::filesystem::create_directories(dir() / "out/a-folder.png");
  EXPECT_FALSE(view->debugRenderPNG(dir() / "out/a-folder.png", 1));
  EXPECT_TRUE(std::filesystem::is_directory(dir() / "out/a-folder.png"));
  std::size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir() / "out")) entries += e.exists() ? 1 : 0;
  EXPECT_EQ(entries, 1u);
}

}  // namespace
