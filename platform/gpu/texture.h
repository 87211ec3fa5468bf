// Textures: 2D BGRA8Unorm images in GPU memory, created by Device::newTexture
// or TextureLoader. CPU access goes through replaceRegion and getBytes, whose
// bytes are always B,G,R,A with memory row 0 the top row of the picture; how
// the texels are kept in GL (BGRA or RGBA internal format, swizzled or not)
// is this layer's business and invisible to callers. Sampling uses linear
// filtering and clamp-to-edge on both axes (no sampler objects are bound by
// the module); mipmap levels beyond 0 are allocated when asked for but never
// generated. A new render target starts as transparent black; other new
// textures are undefined until written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/gpu/types.h"

namespace plat::gpu {

struct TextureDescriptor {
  PixelFormat pixelFormat = PixelFormat::BGRA8Unorm;
  std::size_t width = 1, height = 1;
  bool mipmapped = false;
  std::uint32_t usage = TextureUsage::ShaderRead;
  StorageMode storageMode = StorageMode::Shared;

  static TextureDescriptor texture2D(PixelFormat format, std::size_t width, std::size_t height, bool mipmapped);
};

namespace detail {
class WindowSurface;
// How the texel bytes sit in the GL texture. Bgra: GL_BGRA_EXT internal
// format, red in the red channel. Rgba: GL_RGBA8, red in the red channel.
// SwizzledBgra: GL_RGBA8 holding the memory bytes unchanged (B in the red
// channel), with a texture swizzle so that sampling still yields true red.
enum class TexelStorage : std::uint8_t { Bgra, Rgba, SwizzledBgra };
}  // namespace detail

class Texture {
 public:
  // Made by Device and TextureLoader only; glName is owned from here on.
  Texture(std::shared_ptr<detail::Core> core, const TextureDescriptor& descriptor, std::uint32_t glName,
          detail::TexelStorage storage, std::size_t levels);
  // The back buffer of a window surface, made by the layer for a drawable
  // of the window's size: a render target only (no sampling, no CPU access),
  // owning no GL name.
  Texture(std::shared_ptr<detail::Core> core, const TextureDescriptor& descriptor,
          std::shared_ptr<detail::WindowSurface> backBufferOf);
  ~Texture();
  Texture(const Texture&) = delete;
  Texture& operator=(const Texture&) = delete;

  std::size_t width() const { return descriptor_.width; }
  std::size_t height() const { return descriptor_.height; }
  PixelFormat pixelFormat() const { return descriptor_.pixelFormat; }
  std::uint32_t usage() const { return descriptor_.usage; }
  StorageMode storageMode() const { return descriptor_.storageMode; }
  std::size_t mipmapLevelCount() const { return levels_; }

  // Writes B,G,R,A bytes into `region` of a level; rows are bytesPerRow apart
  // (>= width*4), the first one is the region's top row. Synchronous: the
  // bytes may be reused on return. A region outside the level, or a back
  // buffer, is a programming error.
  void replaceRegion(const Region& region, std::size_t mipmapLevel, const void* bytes, std::size_t bytesPerRow);

  // Reads `region` of a level as B,G,R,A rows, bytesPerRow apart, top row
  // first. Waits for GPU work that writes the texture. A texture the GPU
  // cannot read back (should not happen with BGRA8Unorm) leaves `out`
  // untouched, and so does a back buffer (a programming error).
  void getBytes(void* out, std::size_t bytesPerRow, const Region& region, std::size_t mipmapLevel) const;

  // For the GL code of this layer.
  std::uint32_t glName() const { return glName_; }
  detail::TexelStorage texelStorage() const { return storage_; }
  // A framebuffer with this texture's level 0 as colour attachment 0, made
  // on first use; 0 when GL refuses it, and for a back buffer.
  std::uint32_t framebuffer() const;
  // The window surface whose back buffer this texture is, else nullptr.
  detail::WindowSurface* backBufferOf() const { return backBufferOf_.get(); }
  detail::Core& core() const { return *core_; }

 private:
  bool usableRegion(const Region& region, std::size_t mipmapLevel, std::size_t bytesPerRow) const;
  std::shared_ptr<detail::Core> core_;
  TextureDescriptor descriptor_;
  std::uint32_t glName_ = 0;
  detail::TexelStorage storage_;
  std::size_t levels_ = 1;
  mutable std::uint32_t framebuffer_ = 0;
  mutable std::uint32_t levelFramebuffer_ = 0;  // readback of levels above 0
  std::shared_ptr<detail::WindowSurface> backBufferOf_;
};

}  // namespace plat::gpu
