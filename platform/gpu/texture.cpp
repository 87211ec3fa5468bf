// Textures in GL: creation with the texel layout that spares CPU conversion
// and its storage made once (immutable where GLES has a sized format for
// it), uploads with GL_UNPACK_ROW_LENGTH for any row stride, and read-back
// through a framebuffer. Memory row 0 is GL row 0 (t = 0): uploads and read-backs
// need no flip, and rendering puts the target's top row there because the
// vertex stage negates y (library.h).
#include "platform/gpu/texture.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "platform/gpu/gl/objects.h"

namespace plat::gpu {

using detail::TexelStorage;

TextureDescriptor TextureDescriptor::texture2D(PixelFormat format, std::size_t width, std::size_t height,
                                               bool mipmapped) {
  TextureDescriptor d;
  d.pixelFormat = format;
  d.width = width;
  d.height = height;
  d.mipmapped = mipmapped;
  return d;
}

namespace detail {

std::shared_ptr<Texture> makeTexture(const std::shared_ptr<Core>& core, const TextureDescriptor& descriptor,
                                     TexelStorage storage) {
  if (!core->makeCurrent()) return nullptr;
  std::size_t levels = 1;
  if (descriptor.mipmapped) {
    for (std::size_t side = std::max(descriptor.width, descriptor.height); side > 1; side /= 2) ++levels;
  }
  clearGLErrors();
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  // No sampler objects are bound by the module: linear, clamp to edge, and
  // only the levels that exist (a texture with missing levels would be
  // incomplete and sample black). Set before the storage is made, so that a
  // driver sizing storage by the filter makes no mipmap chain for a texture
  // of one level.
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels - 1));
  if (storage == TexelStorage::SwizzledBgra) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_R, GL_BLUE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_B, GL_RED);
  }
  const auto width = static_cast<GLsizei>(descriptor.width);
  const auto height = static_cast<GLsizei>(descriptor.height);
  if (storage == TexelStorage::Bgra) {
    // OpenGL ES has no sized BGRA format for immutable storage (Mesa
    // refuses GL_BGRA8_EXT there): each level is specified once instead.
    for (std::size_t level = 0; level < levels; ++level) {
      const auto w = static_cast<GLsizei>(std::max<std::size_t>(descriptor.width >> level, 1));
      const auto h = static_cast<GLsizei>(std::max<std::size_t>(descriptor.height >> level, 1));
      glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), GL_BGRA_EXT, w, h, 0, GL_BGRA_EXT, GL_UNSIGNED_BYTE,
                   nullptr);
    }
  } else {
    glTexStorage2D(GL_TEXTURE_2D, static_cast<GLsizei>(levels), GL_RGBA8, width, height);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  countGLObjects(1);
  if (glGetError() != GL_NO_ERROR) {
    glDeleteTextures(1, &name);
    countGLObjects(-1);
    return nullptr;
  }
  auto texture = Access::make<Texture>(descriptor, levels, std::make_unique<TextureState>(core, name, storage));
  if ((descriptor.usage & TextureUsage::RenderTarget) != 0) {
    // GL leaves new storage undefined; a render target is often read before
    // it is first drawn (the feedback input of a fresh scene texture), so it
    // starts as transparent black rather than whatever memory it got.
    if (const GLuint fb = Access::state(*texture).framebuffer(); fb != 0) {
      glBindFramebuffer(GL_FRAMEBUFFER, fb);
      glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
      glClear(GL_COLOR_BUFFER_BIT);
      glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
  }
  return texture;
}

void uploadRows(GLuint texture, GLint level, GLint x, GLint y, GLsizei w, GLsizei h, GLenum format,
                const std::uint8_t* src, std::size_t bytesPerRow) {
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (bytesPerRow % 4 == 0) {
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(bytesPerRow / 4));
    glTexSubImage2D(GL_TEXTURE_2D, level, x, y, w, h, format, GL_UNSIGNED_BYTE, src);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  } else {
    for (GLsizei r = 0; r < h; ++r)
      glTexSubImage2D(GL_TEXTURE_2D, level, x, y + r, w, 1, format, GL_UNSIGNED_BYTE,
                      src + static_cast<std::size_t>(r) * bytesPerRow);
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glBindTexture(GL_TEXTURE_2D, 0);
}

TextureState::~TextureState() {
  if (backBufferOf) return;  // owns no GL name
  if (!core->makeCurrent()) return;  // the context is gone with its names
  for (GLuint fb : {levelZeroFramebuffer, levelFramebuffer}) {
    if (fb != 0) {
      glDeleteFramebuffers(1, &fb);
      countGLObjects(-1);
    }
  }
  glDeleteTextures(1, &name);
  countGLObjects(-1);
}

GLuint TextureState::framebuffer() {
  if (levelZeroFramebuffer != 0 || backBufferOf) return levelZeroFramebuffer;
  GLuint fb = 0;
  glGenFramebuffers(1, &fb);
  glBindFramebuffer(GL_FRAMEBUFFER, fb);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, name, 0);
  const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  if (!complete) {
    glDeleteFramebuffers(1, &fb);
    return 0;
  }
  countGLObjects(1);
  levelZeroFramebuffer = fb;
  return levelZeroFramebuffer;
}

}  // namespace detail

Texture::Texture(const TextureDescriptor& descriptor, std::size_t levels, std::unique_ptr<detail::TextureState> state)
    : descriptor_(descriptor), levels_(levels), state_(std::move(state)) {}

Texture::~Texture() {
  if (!state_) return;
  if (const std::shared_ptr<detail::SpareTexture> spare = state_->spare.lock(); spare && !spare->state) {
    spare->descriptor = descriptor_;
    spare->levels = levels_;
    spare->state = std::move(state_);
  }
}

namespace {

bool regionInside(const Region& region, std::size_t width, std::size_t height) {
  return region.origin.z == 0 && region.size.depth <= 1 && region.origin.x <= width &&
         region.size.width <= width - region.origin.x && region.origin.y <= height &&
         region.size.height <= height - region.origin.y;
}

void swapRedBlue(std::uint8_t* row, std::size_t pixels) {
  for (std::size_t i = 0; i < pixels; ++i) std::swap(row[4 * i], row[4 * i + 2]);
}

}  // namespace

// A region inside the level, rows long enough, not empty. Anything else is
// the caller's mistake: asserted in debug builds, ignored in release builds.
bool Texture::usableRegion(const Region& region, std::size_t mipmapLevel, std::size_t bytesPerRow) const {
  const std::size_t levelWidth = std::max<std::size_t>(width() >> mipmapLevel, 1);
  const std::size_t levelHeight = std::max<std::size_t>(height() >> mipmapLevel, 1);
  assert(mipmapLevel < levels_ && regionInside(region, levelWidth, levelHeight));
  assert(bytesPerRow >= region.size.width * 4);
  assert(!state_->backBufferOf);
  return !state_->backBufferOf && mipmapLevel < levels_ && regionInside(region, levelWidth, levelHeight) &&
         bytesPerRow >= region.size.width * 4 && region.size.width != 0 && region.size.height != 0;
}

void Texture::replaceRegion(const Region& region, std::size_t mipmapLevel, const void* bytes, std::size_t bytesPerRow) {
  detail::TextureState& gl = *state_;
  if (!usableRegion(region, mipmapLevel, bytesPerRow) || !gl.core->makeCurrent()) return;

  const auto* src = static_cast<const std::uint8_t*>(bytes);
  const auto x = static_cast<GLint>(region.origin.x);
  const auto y = static_cast<GLint>(region.origin.y);
  const auto w = static_cast<GLsizei>(region.size.width);
  const auto h = static_cast<GLsizei>(region.size.height);
  const auto level = static_cast<GLint>(mipmapLevel);
  if (gl.storage != TexelStorage::Rgba) {
    detail::uploadRows(gl.name, level, x, y, w, h, gl.storage == TexelStorage::Bgra ? GL_BGRA_EXT : GL_RGBA, src,
                       bytesPerRow);
    return;
  }
  // Only without EXT_texture_format_BGRA8888 for render targets: swap on
  // the CPU, a row at a time.
  glBindTexture(GL_TEXTURE_2D, gl.name);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  std::vector<std::uint8_t> row(region.size.width * 4);
  for (GLsizei r = 0; r < h; ++r) {
    std::memcpy(row.data(), src + static_cast<std::size_t>(r) * bytesPerRow, row.size());
    swapRedBlue(row.data(), region.size.width);
    glTexSubImage2D(GL_TEXTURE_2D, level, x, y + r, w, 1, GL_RGBA, GL_UNSIGNED_BYTE, row.data());
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glBindTexture(GL_TEXTURE_2D, 0);
}

void Texture::getBytes(void* out, std::size_t bytesPerRow, const Region& region, std::size_t mipmapLevel) const {
  detail::TextureState& gl = *state_;
  if (!usableRegion(region, mipmapLevel, bytesPerRow) || !gl.core->makeCurrent()) return;

  GLuint fb = 0;
  if (mipmapLevel == 0) {
    fb = gl.framebuffer();
  } else {
    if (gl.levelFramebuffer == 0) {
      glGenFramebuffers(1, &gl.levelFramebuffer);
      detail::countGLObjects(1);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, gl.levelFramebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, gl.name,
                           static_cast<GLint>(mipmapLevel));
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) fb = gl.levelFramebuffer;
  }
  if (fb == 0) {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return;
  }
  glBindFramebuffer(GL_READ_FRAMEBUFFER, fb);
  auto* dst = static_cast<std::uint8_t*>(out);
  const auto x = static_cast<GLint>(region.origin.x);
  const auto y = static_cast<GLint>(region.origin.y);
  const auto w = static_cast<GLsizei>(region.size.width);
  const auto h = static_cast<GLsizei>(region.size.height);
  // SwizzledBgra keeps the memory bytes in R,G,B,A as they are; the others
  // hold true colours, read as BGRA where GL offers it, else swapped here.
  const bool readBgra = gl.storage != TexelStorage::SwizzledBgra && gl.core->bgraReadback();
  const bool swapAfter = gl.storage != TexelStorage::SwizzledBgra && !readBgra;
  const GLenum format = readBgra ? GL_BGRA_EXT : GL_RGBA;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (bytesPerRow % 4 == 0) {
    glPixelStorei(GL_PACK_ROW_LENGTH, static_cast<GLint>(bytesPerRow / 4));
    glReadPixels(x, y, w, h, format, GL_UNSIGNED_BYTE, dst);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  } else {
    for (GLsizei r = 0; r < h; ++r)
      glReadPixels(x, y + r, w, 1, format, GL_UNSIGNED_BYTE, dst + static_cast<std::size_t>(r) * bytesPerRow);
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  if (swapAfter) {
    for (GLsizei r = 0; r < h; ++r) swapRedBlue(dst + static_cast<std::size_t>(r) * bytesPerRow, region.size.width);
  }
}

}  // namespace plat::gpu
