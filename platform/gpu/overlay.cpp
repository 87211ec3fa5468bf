// Overlay pictures blended over a presented frame (see overlay.h): one
// texture per anchor and one small program that draws a textured rectangle
// through a viewport the size of the picture.
#include "platform/gpu/overlay.h"

#include <string>

#include "platform/gpu/gl/objects.h"

namespace plat::gpu {
namespace {

// A rectangle of four strip vertices over the whole viewport; texture row 0
// (the picture's top row) at the viewport's top.
constexpr const char* kVertexSource = R"(#version 300 es
out vec2 uv;
void main() {
  vec2 corner = vec2(float(gl_VertexID & 1), float((gl_VertexID >> 1) & 1));
  uv = vec2(corner.x, 1.0 - corner.y);
  gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}
)";

// The bytes are uploaded as they are (B, G, R, A into r, g, b, a), which
// needs no BGRA extension; the swizzle puts them right.
constexpr const char* kFragmentSource = R"(#version 300 es
precision mediump float;
uniform sampler2D image;
in vec2 uv;
out vec4 color;
void main() { color = texture(image, uv).bgra; }
)";

GLuint compileStage(GLenum type, const char* source) {
  GLuint shader = glCreateShader(type);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok != GL_TRUE) {
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

GLuint buildProgram() {
  GLuint vertex = compileStage(GL_VERTEX_SHADER, kVertexSource);
  GLuint fragment = vertex != 0 ? compileStage(GL_FRAGMENT_SHADER, kFragmentSource) : 0;
  GLuint program = 0;
  if (vertex != 0 && fragment != 0) {
    program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
      glDeleteProgram(program);
      program = 0;
    }
  }
  if (vertex != 0) glDeleteShader(vertex);
  if (fragment != 0) glDeleteShader(fragment);
  return program;
}

}  // namespace

Overlay::Overlay() : state_(std::make_unique<detail::OverlayState>()) {}

Overlay::~Overlay() = default;

bool Overlay::setImage(OverlayAnchor anchor, OverlayImage image, int margin) {
  if (!image.empty() && image.pixels.size() != image.width * image.height * 4) return false;
  if (image.empty()) image = OverlayImage{};
  detail::OverlayState::Item& item = state_->items[static_cast<std::size_t>(anchor)];
  item.image = std::move(image);
  item.margin = margin > 0 ? margin : 0;
  item.changed = true;
  return true;
}

bool Overlay::empty() const { return state_->empty(); }

namespace detail {

bool OverlayState::empty() const {
  for (const Item& item : items) {
    if (!item.image.empty()) return false;
  }
  return true;
}

void OverlayState::releaseGL() {
  if (!core) return;
  if (core->makeCurrent()) {
    for (Item& item : items) {
      if (item.texture != 0) {
        glDeleteTextures(1, &item.texture);
        countGLObjects(-1);
      }
    }
    if (program != 0) {
      glDeleteProgram(program);
      countGLObjects(-1);
    }
  }
  for (Item& item : items) {
    item.texture = 0;
    item.textureWidth = item.textureHeight = 0;
    item.changed = true;
  }
  program = 0;
  core.reset();
}

void OverlayState::drawInto(const std::shared_ptr<Core>& current, int width, int height) {
  if (!current || width <= 0 || height <= 0 || empty()) return;
  if (current != core) {
    // Names of another context mean nothing in this one. Releasing them
    // makes the old context current, so the window surface is made current
    // again afterwards.
    if (core) {
      const EGLSurface surface = eglGetCurrentSurface(EGL_DRAW);
      releaseGL();
      if (!current->egl().makeCurrent(surface)) return;
    }
    core = current;
  }
  if (program == 0) {
    program = buildProgram();
    if (program == 0) return;
    countGLObjects(1);
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "image"), 0);
  }

  glUseProgram(program);
  glBindVertexArray(current->emptyVertexArray());
  glActiveTexture(GL_TEXTURE0);
  // Premultiplied pictures: the frame shows through where alpha is low.
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  for (std::size_t i = 0; i < kOverlayAnchorCount; ++i) {
    Item& item = items[i];
    if (item.image.empty()) continue;
    const auto w = static_cast<GLsizei>(item.image.width);
    const auto h = static_cast<GLsizei>(item.image.height);
    if (item.texture == 0) {
      glGenTextures(1, &item.texture);
      countGLObjects(1);
      glBindTexture(GL_TEXTURE_2D, item.texture);
      // One texel per pixel: nearest keeps the text sharp.
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
      item.changed = true;
    } else {
      glBindTexture(GL_TEXTURE_2D, item.texture);
    }
    if (item.changed) {
      // Rows are whole texels of four bytes: the default unpack alignment fits.
      if (item.textureWidth != item.image.width || item.textureHeight != item.image.height) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, item.image.pixels.data());
        item.textureWidth = item.image.width;
        item.textureHeight = item.image.height;
      } else {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, item.image.pixels.data());
      }
      item.changed = false;
    }
    // GL's window origin is the bottom-left corner.
    const int m = item.margin;
    int x = m, y = m;
    switch (static_cast<OverlayAnchor>(i)) {
      case OverlayAnchor::BottomLeft: break;
      case OverlayAnchor::BottomRight: x = width - m - w; break;
      case OverlayAnchor::TopLeft: y = height - m - h; break;
      case OverlayAnchor::TopRight: x = width - m - w, y = height - m - h; break;
      case OverlayAnchor::Centre: x = (width - w) / 2, y = (height - h) / 2; break;
    }
    glViewport(x, y, w, h);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  }
  glDisable(GL_BLEND);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindVertexArray(0);
  glUseProgram(0);
  glViewport(0, 0, width, height);
}

}  // namespace detail
}  // namespace plat::gpu
