// The GPU backing layer of a view and its drawables. A drawable of the
// window's own size (in pixels) whose layer is framebuffer-only draws
// straight into the back buffer of the window's surface: its texture
// stands for that buffer, and presenting it only swaps. Any other drawable
// (another size, or a layer whose drawables may be sampled) gets an ordinary
// render-target texture, which presenting blits, turned upright and scaled
// to the window's current size, before the swap. Swaps do not wait for
// vertical blank (the host paces its ticks). The surface is made on the
// first drawable after a window is set and follows the window's size.
// No window, no device, or a device that is not on the window's X display:
// no drawable. An overlay, when the host sets one, is blended over each
// presented frame just before the swap (overlay.h). The engine clears the
// window (setNativeWindow with an empty handle) before it destroys the X
// window, so that the surface goes first.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/gpu/device.h"
#include "platform/gpu/overlay.h"
#include "platform/gpu/texture.h"
#include "platform/ui/geometry.h"
#include "platform/ui/layer.h"

namespace plat::gpu {

namespace detail {
class WindowSurface;
}

// Made by MetalLayer::nextDrawable.
class Drawable {
 public:
  // The window's back buffer (a render target only), or a texture that is
  // blitted at present.
  std::shared_ptr<Texture> texture() const { return texture_; }
  // Shows the frame now (blit where needed, swap); called by
  // CommandBuffer::commit.
  void present();

 private:
  friend struct detail::Access;
  Drawable(std::shared_ptr<Texture> texture, std::shared_ptr<detail::WindowSurface> surface,
           std::shared_ptr<Overlay> overlay)
      : texture_(std::move(texture)), surface_(std::move(surface)), overlay_(std::move(overlay)) {}

  std::shared_ptr<Texture> texture_;
  std::shared_ptr<detail::WindowSurface> surface_;
  std::shared_ptr<Overlay> overlay_;
};

class MetalLayer : public plat::ui::Layer {
 public:
  MetalLayer();
  ~MetalLayer() override;

  PixelFormat pixelFormat() const { return pixelFormat_; }
  void setPixelFormat(PixelFormat format) { pixelFormat_ = format; }
  // true (the default): drawables are only drawn into, never sampled or
  // read, so one of the window's size can be its back buffer.
  bool framebufferOnly() const { return framebufferOnly_; }
  void setFramebufferOnly(bool value) { framebufferOnly_ = value; }
  std::shared_ptr<Device> device() const { return device_; }
  void setDevice(std::shared_ptr<Device> device);
  // (0, 0) until set: the drawable then takes the window's size.
  plat::ui::Size drawableSize() const { return drawableSize_; }
  void setDrawableSize(plat::ui::Size size) { drawableSize_ = size; }

  // nullptr without a window or device, for a size beyond the device limit,
  // when the surface cannot be made, or when the test seam says so; the
  // error sink hears of each but the first two, which are not failures (a
  // surface that cannot be made is of kind Device: nothing can be drawn).
  // The drawable's texture is reused from frame to frame while its size and
  // kind stay.
  std::shared_ptr<Drawable> nextDrawable();

  void setNativeWindow(const plat::ui::NativeWindowHandle& handle) override;
  const plat::ui::NativeWindowHandle& nativeWindow() const { return window_; }

  // Pictures of the host's own over every frame from the next drawable on;
  // nullptr (the default) for none.
  void setOverlay(std::shared_ptr<Overlay> overlay) { overlay_ = std::move(overlay); }
  const std::shared_ptr<Overlay>& overlay() const { return overlay_; }

 private:
  PixelFormat pixelFormat_ = PixelFormat::BGRA8Unorm;
  bool framebufferOnly_ = true;
  std::shared_ptr<Device> device_;
  plat::ui::Size drawableSize_;
  plat::ui::NativeWindowHandle window_;
  std::shared_ptr<detail::WindowSurface> surface_;
  std::shared_ptr<Texture> texture_;     // blitted at present
  std::shared_ptr<Texture> backBuffer_;  // stands for the surface's back buffer
  std::shared_ptr<Overlay> overlay_;
};

}  // namespace plat::gpu
