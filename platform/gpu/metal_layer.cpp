// The backing layer over an EGL window surface, its drawables and their
// present (see metal_layer.h and window_surface.h).
#include "platform/gpu/metal_layer.h"

#include <cmath>

#include "platform/gpu/gl_core.h"
#include "platform/gpu/window_surface.h"

namespace plat::gpu {

namespace detail {

WindowSurface::WindowSurface(std::shared_ptr<Core> core, EGLSurface surface)
    : core_(std::move(core)), surface_(surface) {}

WindowSurface::~WindowSurface() { core_->egl().destroySurface(surface_); }

bool WindowSurface::size(int* width, int* height) const { return core_->egl().surfaceSize(surface_, width, height); }

bool WindowSurface::makeCurrent() { return core_->egl().makeCurrent(surface_); }

void WindowSurface::present(const Texture& texture) {
  EglContext& egl = core_->egl();
  if (!egl.makeCurrent(surface_)) return;
  if (texture.backBufferOf() != this) {
    int width = 0, height = 0;
    const GLuint source = texture.framebuffer();
    if (source == 0 || !egl.surfaceSize(surface_, &width, &height)) return;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    // Texture row 0 is the top of the picture, the window's row 0 its bottom:
    // the destination rectangle runs from top to bottom to flip once, and
    // its size is the window's, so a different drawable size is scaled.
    glBlitFramebuffer(0, 0, static_cast<GLint>(texture.width()), static_cast<GLint>(texture.height()), 0, height,
                      width, 0, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  }
  // The frame is complete in the back buffer here; the swap shows it.
  egl.swapBuffers(surface_);
}

}  // namespace detail

void Drawable::present() {
  if (texture_ && surface_) surface_->present(*texture_);
}

MetalLayer::MetalLayer() = default;
MetalLayer::~MetalLayer() = default;

void MetalLayer::setDevice(std::shared_ptr<Device> device) {
  if (device == device_) return;
  backBuffer_.reset();
  texture_.reset();
  surface_.reset();
  device_ = std::move(device);
}

void MetalLayer::setNativeWindow(const plat::ui::NativeWindowHandle& handle) {
  if (handle.display == window_.display && handle.window == window_.window) return;
  backBuffer_.reset();
  texture_.reset();
  surface_.reset();
  window_ = handle;
}

std::shared_ptr<Drawable> MetalLayer::nextDrawable() {
  if (!device_ || !window_.valid()) return nullptr;
  if (detail::takeSeam(detail::seamDrawables)) return nullptr;
  const std::shared_ptr<detail::Core>& core = device_->core();
  if (core->egl().nativeDisplay() != window_.display) return nullptr;  // a headless device or another display
  if (!surface_) {
    EGLSurface surface = core->egl().createWindowSurface(window_.window);
    if (surface == EGL_NO_SURFACE) return nullptr;
    surface_ = std::make_shared<detail::WindowSurface>(core, surface);
  }
  int windowWidth = 0, windowHeight = 0;
  if (!surface_->size(&windowWidth, &windowHeight)) return nullptr;
  double w = drawableSize_.width, h = drawableSize_.height;
  if (!(w >= 1.0 && h >= 1.0)) {  // no size set: the window's own
    w = windowWidth;
    h = windowHeight;
  }
  const double limit = static_cast<double>(device_->limits().maxTextureSize);
  if (!(w >= 1.0 && h >= 1.0) || std::round(w) > limit || std::round(h) > limit) return nullptr;
  const auto width = static_cast<std::size_t>(std::round(w));
  const auto height = static_cast<std::size_t>(std::round(h));

  TextureDescriptor descriptor = TextureDescriptor::texture2D(pixelFormat_, width, height, false);
  descriptor.storageMode = StorageMode::Private;
  if (framebufferOnly_ && width == static_cast<std::size_t>(windowWidth) &&
      height == static_cast<std::size_t>(windowHeight)) {
    // Drawn in place: no texture, no blit.
    texture_.reset();
    if (!backBuffer_ || backBuffer_->width() != width || backBuffer_->height() != height) {
      descriptor.usage = TextureUsage::RenderTarget;
      backBuffer_ = std::make_shared<Texture>(core, descriptor, surface_);
    }
    return std::make_shared<Drawable>(backBuffer_, surface_);
  }
  backBuffer_.reset();
  if (!texture_ || texture_->width() != width || texture_->height() != height) {
    texture_.reset();
    descriptor.usage = TextureUsage::RenderTarget | TextureUsage::ShaderRead;
    texture_ = device_->newTexture(descriptor);
    if (!texture_) return nullptr;
  }
  return std::make_shared<Drawable>(texture_, surface_);
}

}  // namespace plat::gpu
