// Uploads a decoded picture into a new texture that shaders sample as plain
// normalised colour. The picture's size is checked before any of its pixels
// are decoded (images decode lazily): against the device's largest texture,
// and against the memory the system can still give, since a texture of more
// than a quarter of that is refused. The pixels then come from the decoder a
// strip of rows at a time and each strip goes into the texture before the
// next is decoded, so a picture costs its texture and one strip, never a
// second whole copy (its mipmap levels are made from the same strips). Rows
// go to the GPU as the decoder wrote them: any row stride, BGRA or RGBA
// order, with no CPU copy or per-pixel conversion (the texel layout is
// chosen to match the rows, the storage made once). A failure is an Error of
// kind Picture naming the image's file; the error
// sink hears of each failure and of each texture made from a picture file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/gpu/device.h"
#include "platform/gpu/texture.h"
#include "platform/image/image.h"

namespace plat::gpu {

namespace detail {
struct SpareTexture;
}

struct TextureLoaderOptions {
  bool srgb = false;  // true is refused: no sRGB texture format exists here
  std::uint32_t textureUsage = TextureUsage::ShaderRead;
};

// A picture's texture may take at most this share of the memory available.
inline constexpr std::uint64_t kPictureMemoryShare = 4;  // one quarter

// A released texture of this loader's keeps its storage for the loader's
// next picture of the same size (consecutive photos of one camera are); a
// texture of another size is made anew, the kept storage let go first, so
// that no more than the live textures and the kept one exist at once.
class TextureLoader {
 public:
  explicit TextureLoader(std::shared_ptr<Device> device);
  ~TextureLoader();
  TextureLoader(const TextureLoader&) = delete;
  TextureLoader& operator=(const TextureLoader&) = delete;
  // An Error when the image is empty, larger than the device allows or than
  // the memory budget, fails to decode, or the GPU cannot hold it (nothing of
  // a refused picture is decoded). A Shared, BGRA8Unorm texture of the
  // image's size otherwise, with its full chain of mipmap levels, each the
  // 2x2 box average of the one above; the memory budget counts them all.
  ErrorOr<std::shared_ptr<Texture>> newTextureWithImage(const plat::image::Image& image,
                                                        const TextureLoaderOptions& options);

 private:
  std::shared_ptr<Device> device_;
  std::shared_ptr<detail::SpareTexture> spare_;
};

}  // namespace plat::gpu
