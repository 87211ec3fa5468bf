// The layer on a real X window under Xvfb: the frame shows upright drawn in place, blitted, scaled and after a
// resize, with the driver's clip control and without it.
#include <unistd.h>

#include <tuple>

#include "gpu/gpu_fixture.h"
#include "support/xvfb_session.h"

// Last: Xlib's macro None clashes with the test framework's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace plat::gpu;

// Param: the device acts as if the driver had no EXT_clip_control.
class WindowLayerTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    plat::gpu::testing::pretendNoClipControl(GetParam());
    if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
    const std::string display = xvfb_.start("640x480x24");
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";
    ASSERT_NE(dpy_ = XOpenDisplay(display.c_str()), nullptr);
    setPreferredNativeDisplay(dpy_);
    ASSERT_TRUE(device_ = createSystemDefaultDevice()) << "no EGL device on the X display";
    queue_ = device_->newCommandQueue();
    std::shared_ptr<Library> library = Library::parse(gputest::library("")).value();
    ASSERT_TRUE(pso_ = gputest::pipeline(*device_, *library, "f_halves"));
    ASSERT_TRUE(down_ = gputest::pipeline(*device_, *library, "f_down"));
    window_ = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 200, 120, 0, 0, 0x00ff00);
    XSelectInput(dpy_, window_, StructureNotifyMask);
    XMapWindow(dpy_, window_);
    for (XEvent e; XNextEvent(dpy_, &e), e.type != MapNotify;) {
    }
    layer_.setDevice(device_);
    layer_.setNativeWindow({dpy_, window_});
  }

  void TearDown() override {
    layer_.setDevice(nullptr);
    pso_.reset(), down_.reset(), queue_.reset(), device_.reset();
    EXPECT_EQ(plat::gpu::testing::liveGLObjectCount(), 0u);
    plat::gpu::testing::pretendNoClipControl(false);
    setPreferredNativeDisplay(nullptr);
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
  }

  // Draws one frame with `pso` into the next drawable and presents it.
  void present(const std::shared_ptr<RenderPipelineState>& pso) {
    auto drawable = layer_.nextDrawable();
    ASSERT_TRUE(drawable);
    auto buffer = queue_->commandBuffer();
    RenderPassDescriptor pass;
    pass.colorAttachments[0].texture = drawable->texture();
    auto encoder = buffer->renderCommandEncoder(pass);
    encoder->setRenderPipelineState(pso);
    const float half[4] = {0, 0, drawable->texture()->height() / 2.0f, 0};
    encoder->setFragmentBytes(half, sizeof half, 0);
    encoder->drawPrimitives(PrimitiveType::Triangle, 0, 3);
    encoder->endEncoding();
    buffer->presentDrawable(drawable);
    buffer->commit(), buffer->waitUntilCompleted();
  }

  // Presents red over blue `frames` times; the window must show red in its top half and blue below.
  void drawAndExpectUprightHalves(const char* stage, int width, int height, int frames = 1) {
    SCOPED_TRACE(stage);
    for (int i = 0; i < frames; ++i) present(pso_);
    for (auto [x, y, rgb] : {std::tuple{2, 2, 0xff0000ul}, {width - 3, height / 2 - 3, 0xff0000ul},
                             {width - 3, height / 2 + 3, 0x0000fful}, {2, height - 2, 0x0000fful}}) {
      EXPECT_EQ(pixelAt(x, y), rgb) << x << "," << y;
    }
  }

  // The window's pixel at x, y from its top-left corner, as 0xRRGGBB.
  unsigned long pixelAt(int x, int y) {
    XSync(dpy_, False);
    XImage* image = XGetImage(dpy_, window_, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) {
      ADD_FAILURE() << "no pixel at " << x << "," << y;
      return ~0ul;
    }
    const unsigned long rgb = XGetPixel(image, 0, 0) & 0xffffff;
    XDestroyImage(image);
    return rgb;
  }

  // What the next drawable's texture is: the window's back buffer is a render target only.
  bool nextIsBackBuffer() { return layer_.nextDrawable()->texture()->usage() == TextureUsage::RenderTarget; }

  qtest::Xvfb xvfb_;  // stopped after TearDown has closed the display
  Display* dpy_ = nullptr;
  Window window_ = 0;
  std::shared_ptr<Device> device_;
  std::shared_ptr<CommandQueue> queue_;
  std::shared_ptr<RenderPipelineState> pso_, down_;
  MetalLayer layer_;
};

TEST_P(WindowLayerTest, PresentShowsTheFrameUprightInPlaceBlittedScaledAndResized) {
  EXPECT_EQ(layer_.nextDrawable()->texture()->width(), 200u);  // no size set: the window's
  EXPECT_TRUE(nextIsBackBuffer()) << "the window's size, not set";
  drawAndExpectUprightHalves("in place", 200, 120);
  present(down_);  // derivatives run down and to the right in the window too
  EXPECT_EQ(pixelAt(100, 60), 0xffffffu);
  layer_.setFramebufferOnly(false);  // drawables that may be sampled are textures, blitted at present
  EXPECT_FALSE(nextIsBackBuffer()) << "not framebuffer-only";
  XClearWindow(dpy_, window_);
  drawAndExpectUprightHalves("blitted", 200, 120);
  layer_.setFramebufferOnly(true);
  layer_.setDrawableSize({50, 30});  // scaled up to the whole (cleared) window
  XClearWindow(dpy_, window_);
  drawAndExpectUprightHalves("scaled", 200, 120);
  layer_.setDrawableSize({100, 60});
  XResizeWindow(dpy_, window_, 320, 240);
  for (XEvent e; XNextEvent(dpy_, &e), e.type != ConfigureNotify || e.xconfigure.width != 320;) {
  }
  drawAndExpectUprightHalves("scaled to the resized window", 320, 240, 2);  // the surface may follow one swap late
  layer_.setDrawableSize({320, 240});
  XClearWindow(dpy_, window_);
  drawAndExpectUprightHalves("in place in the resized window", 320, 240);
}
INSTANTIATE_TEST_SUITE_P(Origin, WindowLayerTest, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "VertexFlip" : "ClipControl"; });

}  // namespace
