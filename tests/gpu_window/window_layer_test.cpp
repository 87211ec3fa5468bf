// The layer on a real X window under an Xvfb this test starts on a free
// display: drawables, present, the window's pixels upright, a drawable size
// scaled to the window, and a window that is resized.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/gpu/gpu.h"

// Last: Xlib defines macros (Status, None, Bool) that clash with C++ names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace plat::gpu;

// Starts `Xvfb -displayfd` so that the server picks a free display number.
class Xvfb {
 public:
  Xvfb() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    char buf[16] = {};
    std::size_t got = 0;
    while (got < sizeof buf - 1) {
      const ssize_t n = read(fds[0], buf + got, sizeof buf - 1 - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
      if (std::memchr(buf, '\n', got) != nullptr) break;
    }
    close(fds[0]);
    if (got > 0) display_ = ":" + std::string(buf, std::strcspn(buf, "\n"));
  }
  ~Xvfb() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool installed() const { return access("/usr/bin/Xvfb", X_OK) == 0; }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

const char* kLibrary = R"(
//@common
layout(std140) uniform Params { float rows; };
//@function v_fullscreen vertex
void main() {
  vec2 q = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
  gl_Position = vec4(q.x * 2.0 - 1.0, 1.0 - q.y * 2.0, 0.0, 1.0);
}
//@function f_halves fragment
out vec4 color;
void main() { color = gl_FragCoord.y < rows * 0.5 ? vec4(1, 0, 0, 1) : vec4(0, 0, 1, 1); }
)";

class WindowLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xvfb_.installed()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_FALSE(xvfb_.display().empty()) << "Xvfb did not start";
    dpy_ = XOpenDisplay(xvfb_.display().c_str());
    ASSERT_NE(dpy_, nullptr);
    setPreferredNativeDisplay(dpy_);
    device_ = createSystemDefaultDevice();
    ASSERT_TRUE(device_) << "no EGL device on the X display";
    queue_ = device_->newCommandQueue();
    auto library = Library::parse(kLibrary);
    ASSERT_TRUE(library);
    RenderPipelineDescriptor d;
    d.vertexFunction = library->newFunctionWithName("v_fullscreen");
    d.fragmentFunction = library->newFunctionWithName("f_halves");
    d.colorAttachments[0].pixelFormat = PixelFormat::BGRA8Unorm;
    std::string error;
    pso_ = device_->newRenderPipelineState(d, &error);
    ASSERT_TRUE(pso_) << error;

    window_ = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 200, 120, 0, 0, 0x00ff00);
    XSelectInput(dpy_, window_, StructureNotifyMask);
    XMapWindow(dpy_, window_);
    XEvent e;
    do XNextEvent(dpy_, &e);
    while (e.type != MapNotify);
  }

  void TearDown() override {
    layer_.reset();
    pso_.reset();
    queue_.reset();
    device_.reset();
    EXPECT_EQ(plat::gpu::testing::liveGLObjectCount(), 0u);
    setPreferredNativeDisplay(nullptr);
    if (dpy_ != nullptr) {
      if (window_ != 0) XDestroyWindow(dpy_, window_);
      XCloseDisplay(dpy_);
    }
  }

  // Draws red over blue (top half red) into the next drawable and presents.
  bool drawFrame() {
    auto drawable = layer_->nextDrawable();
    if (!drawable) return false;
    auto buffer = queue_->commandBuffer();
    RenderPassDescriptor pass;
    pass.colorAttachments[0].texture = drawable->texture();
    pass.colorAttachments[0].loadAction = LoadAction::Clear;
    auto encoder = buffer->renderCommandEncoder(pass);
    encoder->setRenderPipelineState(pso_);
    const float rows = static_cast<float>(drawable->texture()->height());
    encoder->setFragmentBytes(&rows, sizeof rows, 0);
    encoder->drawPrimitives(PrimitiveType::Triangle, 0, 3);
    encoder->endEncoding();
    buffer->presentDrawable(drawable);
    buffer->commit();
    buffer->waitUntilCompleted();
    XSync(dpy_, False);
    return true;
  }

  unsigned long windowPixel(int x, int y) {
    XImage* image = XGetImage(dpy_, window_, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return 0xdeadbeef;
    const unsigned long p = XGetPixel(image, 0, 0) & 0xffffff;
    XDestroyImage(image);
    return p;
  }

  void expectUprightHalves(int width, int height) {
    EXPECT_EQ(windowPixel(2, 2), 0xff0000u) << "top-left";
    EXPECT_EQ(windowPixel(width - 3, height / 2 - 3), 0xff0000u) << "above the middle";
    EXPECT_EQ(windowPixel(width - 3, height / 2 + 3), 0x0000ffu) << "below the middle";
    EXPECT_EQ(windowPixel(2, height - 2), 0x0000ffu) << "bottom-left";
  }

  Xvfb xvfb_;
  Display* dpy_ = nullptr;
  Window window_ = 0;
  std::shared_ptr<Device> device_;
  std::shared_ptr<CommandQueue> queue_;
  std::shared_ptr<RenderPipelineState> pso_;
  std::unique_ptr<MetalLayer> layer_ = std::make_unique<MetalLayer>();
};

TEST_F(WindowLayerTest, NoDrawableWithoutWindowOrDevice) {
  EXPECT_EQ(layer_->nextDrawable(), nullptr);  // neither
  layer_->setDevice(device_);
  EXPECT_EQ(layer_->nextDrawable(), nullptr);  // no window
  layer_->setNativeWindow({dpy_, window_});
  layer_->setDevice(nullptr);
  EXPECT_EQ(layer_->nextDrawable(), nullptr);  // no device
  layer_->setDevice(device_);
  plat::gpu::testing::failNextDrawables(1);
  EXPECT_EQ(layer_->nextDrawable(), nullptr);
  EXPECT_NE(layer_->nextDrawable(), nullptr);
  layer_->setNativeWindow({});
  EXPECT_EQ(layer_->nextDrawable(), nullptr);
}

TEST_F(WindowLayerTest, PresentShowsTheFrameUprightAtWindowAndOtherSizes) {
  layer_->setDevice(device_);
  layer_->setNativeWindow({dpy_, window_});
  EXPECT_EQ(layer_->pixelFormat(), PixelFormat::BGRA8Unorm);

  // No size set: the window's size.
  auto first = layer_->nextDrawable();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->texture()->width(), 200u);
  EXPECT_EQ(first->texture()->height(), 120u);
  first.reset();
  ASSERT_TRUE(drawFrame());
  expectUprightHalves(200, 120);

  // A smaller drawable is scaled up to the whole window.
  layer_->setDrawableSize({50, 30});
  auto small = layer_->nextDrawable();
  ASSERT_TRUE(small);
  EXPECT_EQ(small->texture()->width(), 50u);
  small.reset();
  XSetWindowBackground(dpy_, window_, 0x00ff00);
  XClearWindow(dpy_, window_);
  XSync(dpy_, False);
  ASSERT_TRUE(drawFrame());
  expectUprightHalves(200, 120);

  // The same size again reuses the texture.
  auto a = layer_->nextDrawable();
  auto b = layer_->nextDrawable();
  EXPECT_EQ(a->texture(), b->texture());
}

TEST_F(WindowLayerTest, ResizedWindowIsFilled) {
  layer_->setDevice(device_);
  layer_->setNativeWindow({dpy_, window_});
  layer_->setDrawableSize({100, 60});
  ASSERT_TRUE(drawFrame());
  XResizeWindow(dpy_, window_, 320, 240);
  XEvent e;
  do XNextEvent(dpy_, &e);
  while (e.type != ConfigureNotify || e.xconfigure.width != 320);
  ASSERT_TRUE(drawFrame());
  ASSERT_TRUE(drawFrame());  // the surface may follow one swap late
  expectUprightHalves(320, 240);
}

}  // namespace
