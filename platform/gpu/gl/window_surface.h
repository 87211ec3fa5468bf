// The EGL window surface of one X window, shared by its layer, the layer's
// drawables and the texture that stands for the surface's back buffer, so
// that drawables in flight keep it alive after their layer has moved on.
// Drawing into the back buffer is the command buffer's (a pass whose target
// is that texture); showing it is present(). Knows nothing of the layer's
// sizing rules (metal_layer.h).
#pragma once

#include <epoxy/egl.h>

#include <memory>

namespace plat::gpu {
class Overlay;
class Texture;
}

namespace plat::gpu::detail {

class Core;

class WindowSurface {
 public:
  WindowSurface(std::shared_ptr<Core> core, EGLSurface surface);
  ~WindowSurface();
  WindowSurface(const WindowSurface&) = delete;
  WindowSurface& operator=(const WindowSurface&) = delete;

  bool size(int* width, int* height) const;
  // Makes the context current on this surface: framebuffer 0 is then its
  // back buffer. False when EGL refuses.
  bool makeCurrent();
  // Shows a frame: a texture that is this surface's back buffer is already
  // in place; any other is blitted, turned upright and scaled to the
  // window's size. Then the overlay, when there is one, is blended over it,
  // and the buffers are swapped without waiting for vertical blank. Nothing
  // at all happens once the window system's connection is lost, so that
  // nothing waits on or loops over a dead connection.
  void present(const Texture& texture, Overlay* overlay);

 private:
  std::shared_ptr<Core> core_;
  EGLSurface surface_;
};

}  // namespace plat::gpu::detail
