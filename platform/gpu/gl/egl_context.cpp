// EGL display and context management for the GPU layer (see egl_context.h).
#include "platform/gpu/gl/egl_context.h"

#include <X11/Xlib-xcb.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace plat::gpu::detail {
namespace {

const char* eglErrorName(EGLint code) {
  switch (code) {
    case EGL_SUCCESS: return "EGL_SUCCESS";
    case EGL_NOT_INITIALIZED: return "EGL_NOT_INITIALIZED";
    case EGL_BAD_ACCESS: return "EGL_BAD_ACCESS";
    case EGL_BAD_ALLOC: return "EGL_BAD_ALLOC";
    case EGL_BAD_ATTRIBUTE: return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_CONFIG: return "EGL_BAD_CONFIG";
    case EGL_BAD_CONTEXT: return "EGL_BAD_CONTEXT";
    case EGL_BAD_CURRENT_SURFACE: return "EGL_BAD_CURRENT_SURFACE";
    case EGL_BAD_DISPLAY: return "EGL_BAD_DISPLAY";
    case EGL_BAD_MATCH: return "EGL_BAD_MATCH";
    case EGL_BAD_NATIVE_PIXMAP: return "EGL_BAD_NATIVE_PIXMAP";
    case EGL_BAD_NATIVE_WINDOW: return "EGL_BAD_NATIVE_WINDOW";
    case EGL_BAD_PARAMETER: return "EGL_BAD_PARAMETER";
    case EGL_BAD_SURFACE: return "EGL_BAD_SURFACE";
    case EGL_CONTEXT_LOST: return "EGL_CONTEXT_LOST";
    default: return nullptr;
  }
}

// "eglInitialize failed: EGL_NOT_INITIALIZED", from EGL's last error.
Error eglFailure(const char* call) {
  const EGLint code = eglGetError();
  std::string text = std::string(call) + " failed: ";
  if (const char* name = eglErrorName(code)) {
    text += name;
  } else {
    char hex[32];
    std::snprintf(hex, sizeof hex, "EGL error 0x%04x", static_cast<unsigned>(code));
    text += hex;
  }
  return Error{ErrorKind::Device, "egl", std::move(text), {}};
}

Error deviceFailure(std::string message) { return Error{ErrorKind::Device, "egl", std::move(message), {}}; }

EGLDisplay headlessDisplay() {
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (epoxy_extension_in_string(client, "EGL_MESA_platform_surfaceless")) {
    EGLDisplay d = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (d != EGL_NO_DISPLAY) return d;
  }
  if (epoxy_extension_in_string(client, "EGL_EXT_platform_device") &&
      epoxy_extension_in_string(client, "EGL_EXT_device_enumeration")) {
    EGLDeviceEXT devices[8];
    EGLint count = 0;
    if (eglQueryDevicesEXT(8, devices, &count) && count > 0) {
      EGLDisplay d = eglGetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, devices[0], nullptr);
      if (d != EGL_NO_DISPLAY) return d;
    }
  }
  return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

}  // namespace

ErrorOr<std::unique_ptr<EglContext>> EglContext::create(void* x11Display) {
  std::unique_ptr<EglContext> self(new EglContext);
  if (x11Display != nullptr) {
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!epoxy_extension_in_string(client, "EGL_KHR_platform_x11") &&
        !epoxy_extension_in_string(client, "EGL_EXT_platform_x11")) {
      // glvnd answers even without a driver, with no platform at all.
      return deviceFailure("EGL has no X11 platform (is no EGL driver installed?)");
    }
    self->display_ = eglGetPlatformDisplayEXT(EGL_PLATFORM_X11_KHR, x11Display, nullptr);
    self->x11Display_ = x11Display;
  } else {
    self->display_ = headlessDisplay();
  }
  if (self->display_ == EGL_NO_DISPLAY) {
    return eglFailure(self->x11Display_ ? "eglGetPlatformDisplay (X11)" : "eglGetDisplay");
  }
  EGLint major = 0, minor = 0;
  if (!eglInitialize(self->display_, &major, &minor)) {
    Error failure = eglFailure("eglInitialize");
    self->display_ = EGL_NO_DISPLAY;  // nothing to terminate
    return failure;
  }
  if (!eglBindAPI(EGL_OPENGL_ES_API)) return eglFailure("eglBindAPI (OpenGL ES)");

  const bool surfaceless =
      epoxy_extension_in_string(eglQueryString(self->display_, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
  const EGLint surfaceType = self->x11Display_ != nullptr ? EGL_WINDOW_BIT : EGL_PBUFFER_BIT;
  const EGLint attributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES3_BIT, EGL_SURFACE_TYPE, surfaceType,
                               EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
  EGLint count = 0;
  if (!eglChooseConfig(self->display_, attributes, nullptr, 0, &count)) return eglFailure("eglChooseConfig");
  if (count == 0) return deviceFailure("no EGL config for OpenGL ES 3 with 8-bit colour");
  std::vector<EGLConfig> configs(static_cast<std::size_t>(count));
  eglChooseConfig(self->display_, attributes, configs.data(), count, &count);
  // Prefer an 8-8-8 config without alpha on X11: its visual is the usual
  // 24-bit TrueColor of ordinary windows; a 32-bit ARGB visual would not
  // match them.
  self->config_ = configs[0];
  for (EGLConfig c : configs) {
    EGLint r = 0, g = 0, b = 0, a = 0;
    eglGetConfigAttrib(self->display_, c, EGL_RED_SIZE, &r);
    eglGetConfigAttrib(self->display_, c, EGL_GREEN_SIZE, &g);
    eglGetConfigAttrib(self->display_, c, EGL_BLUE_SIZE, &b);
    eglGetConfigAttrib(self->display_, c, EGL_ALPHA_SIZE, &a);
    if (r == 8 && g == 8 && b == 8 && (a == 0 || self->x11Display_ == nullptr)) {
      self->config_ = c;
      break;
    }
  }

  const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
  self->context_ = eglCreateContext(self->display_, self->config_, EGL_NO_CONTEXT, contextAttributes);
  if (self->context_ == EGL_NO_CONTEXT) return eglFailure("eglCreateContext (OpenGL ES 3.0)");
  if (!surfaceless) {
    EGLConfig pbufferConfig = self->config_;
    if (self->x11Display_ != nullptr) {
      const EGLint pbAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES3_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                     EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
      EGLint n = 0;
      if (!eglChooseConfig(self->display_, pbAttributes, &pbufferConfig, 1, &n) || n == 0) pbufferConfig = self->config_;
    }
    const EGLint pbSize[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    self->pbuffer_ = eglCreatePbufferSurface(self->display_, pbufferConfig, pbSize);
    if (self->pbuffer_ == EGL_NO_SURFACE) return eglFailure("eglCreatePbufferSurface");
  }
  if (!self->makeCurrentOffscreen()) return eglFailure("eglMakeCurrent");
  return self;
}

EglContext::~EglContext() {
  if (display_ == EGL_NO_DISPLAY) return;
  if (eglGetCurrentContext() == context_) eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (pbuffer_ != EGL_NO_SURFACE) eglDestroySurface(display_, pbuffer_);
  if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
  eglTerminate(display_);
}

bool EglContext::makeCurrentOffscreen() {
  if (eglGetCurrentContext() == context_ && eglGetCurrentDisplay() == display_) return true;
  return eglMakeCurrent(display_, pbuffer_, pbuffer_, context_) == EGL_TRUE;
}

bool EglContext::makeCurrent(EGLSurface surface) {
  if (eglGetCurrentContext() == context_ && eglGetCurrentSurface(EGL_DRAW) == surface) return true;
  return eglMakeCurrent(display_, surface, surface, context_) == EGL_TRUE;
}

ErrorOr<EGLSurface> EglContext::createWindowSurface(unsigned long window) {
  if (x11Display_ == nullptr || window == 0) {
    return deviceFailure("no window surface without an X11 display and window");
  }
  if (!windowSystemAlive()) return deviceFailure("the connection to the X server is broken");
  // The X11 platform takes a pointer to the Window id.
  EGLSurface surface = eglCreatePlatformWindowSurfaceEXT(display_, config_, &window, nullptr);
  if (surface == EGL_NO_SURFACE) return eglFailure("eglCreatePlatformWindowSurface");
  if (makeCurrent(surface)) eglSwapInterval(display_, 0);  // the host paces its ticks
  makeCurrentOffscreen();
  return surface;
}

void EglContext::destroySurface(EGLSurface surface) {
  if (surface == EGL_NO_SURFACE) return;
  if (eglGetCurrentSurface(EGL_DRAW) == surface) eglMakeCurrent(display_, pbuffer_, pbuffer_, context_);
  eglDestroySurface(display_, surface);
}

bool EglContext::surfaceSize(EGLSurface surface, int* width, int* height) const {
  EGLint w = 0, h = 0;
  if (!eglQuerySurface(display_, surface, EGL_WIDTH, &w) || !eglQuerySurface(display_, surface, EGL_HEIGHT, &h)) return false;
  *width = w;
  *height = h;
  return true;
}

bool EglContext::swapBuffers(EGLSurface surface) {
  // Mesa's software present splits the picture into requests of the
  // server's largest request length, which a broken connection reports as 0:
  // it then sends empty requests forever at full CPU. Never swap on one.
  if (!windowSystemAlive()) return false;
  return eglSwapBuffers(display_, surface) == EGL_TRUE;
}

bool EglContext::windowSystemAlive() const {
  if (x11Display_ == nullptr) return true;
  xcb_connection_t* connection = XGetXCBConnection(static_cast<Display*>(x11Display_));
  if (connection == nullptr || xcb_connection_has_error(connection) != 0) return false;
  // xcb sets its error only when a read or write fails; a server that has
  // just gone shows first as a hang-up of the socket (reported with no
  // events asked for, and nothing read that the connection's owner expects).
  pollfd socket{xcb_get_file_descriptor(connection), 0, 0};
  return !(::poll(&socket, 1, 0) > 0 && (socket.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
}

}  // namespace plat::gpu::detail
