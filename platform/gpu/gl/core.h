// The state one device shares with every object made from it: the EGL
// context, the GL capabilities read once, and the few GL objects every pass
// uses (the empty vertex array, the uniform buffer of the fragment bytes).
// Objects hold a shared reference to it, so the context outlives every GL
// name that needs it for deletion. Also the GL object count and the fault
// seams behind the testing namespaces of device.h and testing.h. The GL state
// of the single objects is in objects.h.
#pragma once

#include <epoxy/gl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/gpu/device.h"
#include "platform/gpu/gl/egl_context.h"

namespace plat::gpu::detail {

class Core {
 public:
  // An Error of kind Device (not told to the sink) when EGL gives no
  // OpenGL ES 3 context.
  static ErrorOr<std::shared_ptr<Core>> create(void* x11Display);
  ~Core();
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  EglContext& egl() { return *egl_; }
  // Makes the context current for FBO work; false when EGL refuses.
  bool makeCurrent() { return egl_->makeCurrentOffscreen(); }

  const DeviceLimits& limits() const { return limits_; }
  // EXT_texture_format_BGRA8888: GL_BGRA_EXT textures (upload without swap).
  bool bgraTextures() const { return bgraTextures_; }
  // Whether a GL_BGRA_EXT texture can be a colour attachment.
  bool bgraRenderable() const { return bgraRenderable_; }
  // EXT_read_format_bgra: glReadPixels straight into B,G,R,A bytes.
  bool bgraReadback() const { return bgraReadback_; }
  // EXT_clip_control: a pass into a window turns y over with an upper-left
  // clip origin instead of telling the vertex wrapper (library.h).
  bool clipControl() const { return clipControl_; }

  GLuint emptyVertexArray() const { return emptyVertexArray_; }
  GLuint paramsBuffer() const { return paramsBuffer_; }

 private:
  Core() = default;
  bool probeBgraRenderable();

  std::unique_ptr<EglContext> egl_;
  DeviceLimits limits_;
  bool bgraTextures_ = false;
  bool bgraRenderable_ = false;
  bool bgraReadback_ = false;
  bool clipControl_ = false;
  GLuint emptyVertexArray_ = 0;
  GLuint paramsBuffer_ = 0;
};

// Live GL object bookkeeping for testing::liveGLObjectCount.
void countGLObjects(int delta);

// Fault seams: true when the next operation of that kind shall fail.
bool takeSeam(std::atomic<int>& counter);

// Tells the error sink that a GPU object was refused (kind Gpu) and gives
// the null that the refusing operation returns.
std::nullptr_t refuse(const char* origin, std::string message);
extern std::atomic<int> seamCommandBuffers, seamEncoders, seamTextures;

// Clears pending GL errors; GL reports only the first one otherwise.
inline void clearGLErrors() {
  while (glGetError() != GL_NO_ERROR) {
  }
}

}  // namespace plat::gpu::detail
