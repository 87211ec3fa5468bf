// The backing layer over an EGL window surface and the present of its
// drawables (see metal_layer.h).
#include "platform/gpu/metal_layer.h"

#include <cmath>
#include <cstdio>

#include "platform/error_sink.h"
#include "platform/gpu/gl_core.h"

namespace plat::gpu {

namespace detail {

// An EGL window surface; drawables in flight keep it alive after their layer
// has moved to another window.
class WindowSurface {
 public:
  WindowSurface(std::shared_ptr<Core> core, EGLSurface surface) : core_(std::move(core)), surface_(surface) {}
  ~WindowSurface() { core_->egl().destroySurface(surface_); }
  WindowSurface(const WindowSurface&) = delete;
  WindowSurface& operator=(const WindowSurface&) = delete;

  bool size(int* width, int* height) const { return core_->egl().surfaceSize(surface_, width, height); }

  void present(const Texture& texture, Overlay* overlay) {
    EglContext& egl = core_->egl();
    int width = 0, height = 0;
    const GLuint source = texture.framebuffer();
    // A lost X server: no present at all, so that nothing waits on or loops
    // over the dead connection; the host notices the loss itself.
    if (!egl.windowSystemAlive()) return;
    if (source == 0 || !egl.makeCurrent(surface_) || !egl.surfaceSize(surface_, &width, &height)) return;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    // Texture row 0 is the top of the picture, the window's row 0 its bottom:
    // the destination rectangle runs from top to bottom to flip once, and
    // its size is the window's, so a different drawable size is scaled.
    glBlitFramebuffer(0, 0, static_cast<GLint>(texture.width()), static_cast<GLint>(texture.height()), 0, height,
                      width, 0, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (overlay != nullptr) overlay->drawInto(core_, width, height);
    egl.swapBuffers(surface_);
  }

 private:
  std::shared_ptr<Core> core_;
  EGLSurface surface_;
};

}  // namespace detail

void Drawable::present() {
  if (texture_ && surface_) surface_->present(*texture_, overlay_.get());
}

MetalLayer::MetalLayer() = default;
MetalLayer::~MetalLayer() = default;

void MetalLayer::setDevice(std::shared_ptr<Device> device) {
  if (device == device_) return;
  surface_.reset();
  texture_.reset();
  device_ = std::move(device);
}

void MetalLayer::setNativeWindow(const plat::ui::NativeWindowHandle& handle) {
  if (handle.display == window_.display && handle.window == window_.window) return;
  surface_.reset();
  texture_.reset();
  window_ = handle;
}

std::shared_ptr<Drawable> MetalLayer::nextDrawable() {
  if (!device_ || !window_.valid()) return nullptr;
  if (detail::takeSeam(detail::seamDrawables)) return detail::refuse("drawable", "no drawable (a test's fault)");
  const std::shared_ptr<detail::Core>& core = device_->core();
  if (core->egl().nativeDisplay() != window_.display) return nullptr;  // a headless device or another display
  if (!surface_) {
    ErrorOr<EGLSurface> surface = core->egl().createWindowSurface(window_.window);
    if (!surface) {
      Error failure = surface.error();
      failure.message = "cannot draw into the window: " + failure.message;
      plat::detail::report(std::move(failure));
      return nullptr;
    }
    surface_ = std::make_shared<detail::WindowSurface>(core, *surface);
  }
  double w = drawableSize_.width, h = drawableSize_.height;
  if (!(w >= 1.0 && h >= 1.0)) {  // no size set: the window's own
    int sw = 0, sh = 0;
    if (!surface_->size(&sw, &sh)) return nullptr;
    w = sw;
    h = sh;
  }
  const double limit = static_cast<double>(device_->limits().maxTextureSize);
  if (!(w >= 1.0 && h >= 1.0) || std::round(w) > limit || std::round(h) > limit) {
    char size[96];
    std::snprintf(size, sizeof size, "a drawable of %.0f x %.0f is outside 1 ... %.0f", w, h, limit);
    return detail::refuse("drawable", size);
  }
  const auto width = static_cast<std::size_t>(std::round(w));
  const auto height = static_cast<std::size_t>(std::round(h));
  if (!texture_ || texture_->width() != width || texture_->height() != height) {
    texture_.reset();
    TextureDescriptor descriptor = TextureDescriptor::texture2D(pixelFormat_, width, height, false);
    descriptor.usage = TextureUsage::RenderTarget | TextureUsage::ShaderRead;
    descriptor.storageMode = StorageMode::Private;
    texture_ = device_->newTexture(descriptor);
    if (!texture_) return nullptr;
  }
  return std::make_shared<Drawable>(texture_, surface_, overlay_);
}

}  // namespace plat::gpu
