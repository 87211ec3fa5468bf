// The backing layer over an EGL window surface, its drawables and their
// present (see metal_layer.h and gl/window_surface.h).
#include "platform/gpu/metal_layer.h"

#include <cmath>
#include <cstdio>

#include "platform/error_sink.h"
#include "platform/gpu/gl/objects.h"
#include "platform/gpu/gl/window_surface.h"

namespace plat::gpu {

namespace detail {

WindowSurface::WindowSurface(std::shared_ptr<Core> core, EGLSurface surface)
    : core_(std::move(core)), surface_(surface) {}

WindowSurface::~WindowSurface() { core_->egl().destroySurface(surface_); }

bool WindowSurface::size(int* width, int* height) const { return core_->egl().surfaceSize(surface_, width, height); }

bool WindowSurface::makeCurrent() { return core_->egl().makeCurrent(surface_); }

void WindowSurface::present(const Texture& texture, Overlay* overlay) {
  EglContext& egl = core_->egl();
  // A lost X server: no present at all; the host notices the loss itself.
  if (!egl.windowSystemAlive()) return;
  int width = 0, height = 0;
  if (!egl.makeCurrent(surface_) || !egl.surfaceSize(surface_, &width, &height)) return;
  if (Access::state(texture).backBufferOf.get() != this) {
    const GLuint source = Access::state(texture).framebuffer();
    if (source == 0) return;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    // Texture row 0 is the top of the picture, the window's row 0 its bottom:
    // the destination rectangle runs from top to bottom to flip once, and
    // its size is the window's, so a different drawable size is scaled.
    glBlitFramebuffer(0, 0, static_cast<GLint>(texture.width()), static_cast<GLint>(texture.height()), 0, height,
                      width, 0, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  }
  // The frame is complete in the back buffer here, framebuffer 0 is bound
  // and GL's origin is its default: the overlay goes over it, then the swap
  // shows both.
  if (overlay != nullptr) Access::state(*overlay).drawInto(core_, width, height);
  egl.swapBuffers(surface_);
}

}  // namespace detail

void Drawable::present() {
  if (texture_ && surface_) surface_->present(*texture_, overlay_.get());
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
  using detail::Access;
  const std::shared_ptr<detail::Core>& core = Access::core(*device_);
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
  int windowWidth = 0, windowHeight = 0;
  if (!surface_->size(&windowWidth, &windowHeight)) return nullptr;
  double w = drawableSize_.width, h = drawableSize_.height;
  if (!(w >= 1.0 && h >= 1.0)) {  // no size set: the window's own
    w = windowWidth;
    h = windowHeight;
  }
  const double limit = static_cast<double>(device_->limits().maxTextureSize);
  if (!(w >= 1.0 && h >= 1.0) || std::round(w) > limit || std::round(h) > limit) {
    char size[96];
    std::snprintf(size, sizeof size, "a drawable of %.0f x %.0f is outside 1 ... %.0f", w, h, limit);
    return detail::refuse("drawable", size);
  }
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
      backBuffer_ = Access::make<Texture>(descriptor, 1, std::make_unique<detail::TextureState>(core, surface_));
    }
    return Access::make<Drawable>(backBuffer_, surface_, overlay_);
  }
  backBuffer_.reset();
  if (!texture_ || texture_->width() != width || texture_->height() != height) {
    texture_.reset();
    descriptor.usage = TextureUsage::RenderTarget | TextureUsage::ShaderRead;
    texture_ = device_->newTexture(descriptor);
    if (!texture_) return nullptr;
  }
  return Access::make<Drawable>(texture_, surface_, overlay_);
}

}  // namespace plat::gpu
