// Textures: 2D BGRA8Unorm images in GPU memory, created by Device::newTexture
// or TextureLoader. CPU access goes through replaceRegion and getBytes, whose
// bytes are always B,G,R,A with memory row 0 the top row of the picture; how
// the backing keeps the texels (BGRA or RGBA, swizzled or not; gl/objects.h)
// is this layer's business and invisible to callers. Sampling uses linear
// filtering and clamp-to-edge on both axes (no sampler objects are bound by
// the module); mipmap levels beyond 0 are allocated when asked for (the
// texture loader fills them), and a pass samples the smallest level that
// still covers its target, bilinear within that level. A new render target
// starts as transparent black; other new textures are undefined until
// written.
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
struct TextureState;
}

// Made by Device::newTexture and TextureLoader; a layer makes the one that
// stands for its window's back buffer (a render target only: no sampling, no
// CPU access).
class Texture {
 public:
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

 private:
  friend struct detail::Access;
  Texture(const TextureDescriptor& descriptor, std::size_t levels, std::unique_ptr<detail::TextureState> state);
  bool usableRegion(const Region& region, std::size_t mipmapLevel, std::size_t bytesPerRow) const;

  TextureDescriptor descriptor_;
  std::size_t levels_ = 1;
  std::unique_ptr<detail::TextureState> state_;
};

}  // namespace plat::gpu
