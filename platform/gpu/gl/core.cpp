// The device's shared GL state and the bookkeeping behind the test seams
// (see core.h).
#include "platform/gpu/gl/core.h"

#include <epoxy/gl.h>

#include "platform/error_sink.h"
#include "platform/gpu/gl/testing.h"

namespace plat::gpu::detail {
namespace {
std::atomic<long> liveObjects{0};
std::atomic<bool> noBgraExtensions{false};
std::atomic<bool> noClipControl{false};
}

std::atomic<int> seamCommandBuffers{0}, seamEncoders{0}, seamTextures{0};

void countGLObjects(int delta) { liveObjects.fetch_add(delta); }

std::nullptr_t refuse(const char* origin, std::string message) {
  plat::detail::report(Error{ErrorKind::Gpu, origin, std::move(message), {}});
  return nullptr;
}

bool takeSeam(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}

ErrorOr<std::shared_ptr<Core>> Core::create(void* x11Display) {
  ErrorOr<std::unique_ptr<EglContext>> egl = EglContext::create(x11Display);
  if (!egl) return egl.error();
  if (epoxy_is_desktop_gl() || epoxy_gl_version() < 30) {
    return Error{ErrorKind::Device, "gl", "the context is not OpenGL ES 3", {}};
  }
  std::shared_ptr<Core> core(new Core);
  core->egl_ = std::move(egl).value();

  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
  core->limits_.maxTextureSize = maxSize > 0 ? static_cast<std::size_t>(maxSize) : 0;
  const GLubyte* renderer = glGetString(GL_RENDERER);
  core->limits_.rendererName = renderer != nullptr ? reinterpret_cast<const char*>(renderer) : "";
  const bool bgraAllowed = !noBgraExtensions.load();
  core->bgraTextures_ = bgraAllowed && epoxy_has_gl_extension("GL_EXT_texture_format_BGRA8888");
  core->bgraReadback_ = bgraAllowed && epoxy_has_gl_extension("GL_EXT_read_format_bgra");
  core->bgraRenderable_ = core->bgraTextures_ && core->probeBgraRenderable();
  core->clipControl_ = !noClipControl.load() && epoxy_has_gl_extension("GL_EXT_clip_control");

  glGenVertexArrays(1, &core->emptyVertexArray_);
  glGenBuffers(1, &core->paramsBuffer_);
  countGLObjects(2);

  // Fixed state for every pass: no blending, depth, stencil, culling or
  // scissor; pipelines here have none of these.
  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_STENCIL_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_SCISSOR_TEST);
  glDisable(GL_DITHER);
  return core;
}

bool Core::probeBgraRenderable() {
  clearGLErrors();
  GLuint texture = 0, framebuffer = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_BGRA_EXT, 1, 1, 0, GL_BGRA_EXT, GL_UNSIGNED_BYTE, nullptr);
  bool ok = glGetError() == GL_NO_ERROR;
  glGenFramebuffers(1, &framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
  ok = ok && glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glDeleteFramebuffers(1, &framebuffer);
  glDeleteTextures(1, &texture);
  clearGLErrors();
  return ok;
}

Core::~Core() {
  if (egl_ && makeCurrent()) {
    glDeleteVertexArrays(1, &emptyVertexArray_);
    glDeleteBuffers(1, &paramsBuffer_);
    countGLObjects(-2);
  }
}

}  // namespace plat::gpu::detail

namespace plat::gpu::testing {

void failNextCommandBuffers(int n) { detail::seamCommandBuffers = n; }
void failNextEncoders(int n) { detail::seamEncoders = n; }
void failNextTextures(int n) { detail::seamTextures = n; }
void pretendNoBgraExtensions(bool pretend) { detail::noBgraExtensions = pretend; }
void pretendNoClipControl(bool pretend) { detail::noClipControl = pretend; }
std::size_t liveGLObjectCount() {
  // A negative count (a name deleted twice) shows up as a huge number.
  return static_cast<std::size_t>(detail::liveObjects.load());
}

}  // namespace plat::gpu::testing
