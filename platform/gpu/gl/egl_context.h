// The EGL side of a device: choosing a display (X11 when the engine gave us
// one, else surfaceless, else the EGL device platform, else the default
// display), one OpenGL ES 3 context on it, making it current offscreen or on
// a window surface, and window surfaces with their swap. Knows nothing of
// the GL objects drawn with the context (core.h). Once the X connection
// has broken, nothing here talks to the X server again: the driver's present
// would otherwise loop forever on the dead connection.
#pragma once

#include <epoxy/egl.h>

#include <memory>
#include <string>

#include "platform/error.h"

namespace plat::gpu::detail {

class EglContext {
 public:
  // An Error of kind Device naming the EGL call and its error when no
  // display, config or GLES 3 context can be had (not told to the sink).
  static ErrorOr<std::unique_ptr<EglContext>> create(void* x11Display);
  ~EglContext();
  EglContext(const EglContext&) = delete;
  EglContext& operator=(const EglContext&) = delete;

  // Makes the context current for work that draws into textures only. Keeps
  // a window surface that is already current (FBO work does not care).
  bool makeCurrentOffscreen();
  bool makeCurrent(EGLSurface surface);

  // A window surface for an X11 window id, swap interval 0; an Error of kind
  // Device (not told to the sink) on failure or on a headless display.
  ErrorOr<EGLSurface> createWindowSurface(unsigned long window);
  void destroySurface(EGLSurface surface);
  bool surfaceSize(EGLSurface surface, int* width, int* height) const;
  // false without a swap when the X connection has broken.
  bool swapBuffers(EGLSurface surface);
  // Whether the X connection still works: the server has not hung up and
  // the connection is not in an error state. Always true when headless.
  // Cheap (one poll with no wait); an extremely common operation.
  bool windowSystemAlive() const;

  void* nativeDisplay() const { return x11Display_; }

 private:
  EglContext() = default;

  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLConfig config_ = nullptr;
  EGLContext context_ = EGL_NO_CONTEXT;
  EGLSurface pbuffer_ = EGL_NO_SURFACE;  // only without EGL_KHR_surfaceless_context
  void* x11Display_ = nullptr;
};

}  // namespace plat::gpu::detail
