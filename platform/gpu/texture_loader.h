// Uploads a decoded picture into a new texture that shaders sample as plain
// normalised colour. The picture's size is checked against the device limit
// before its pixels are asked for (images decode lazily). The decoded rows
// go to GL as they are: any row stride, BGRA or RGBA order, with no CPU copy
// or per-pixel conversion (the GL texel layout is chosen to match the rows).
// A failure is an Error of kind Picture naming the image's file; the error
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

struct TextureLoaderOptions {
  bool srgb = false;  // true is refused: no sRGB texture format exists here
  std::uint32_t textureUsage = TextureUsage::ShaderRead;
};

class TextureLoader {
 public:
  explicit TextureLoader(std::shared_ptr<Device> device) : device_(std::move(device)) {}
  // An Error when the image is empty or larger than the device allows,
  // fails to decode, or GL cannot hold it. A 1-level, Shared, BGRA8Unorm
  // texture of the image's size otherwise.
  ErrorOr<std::shared_ptr<Texture>> newTextureWithImage(const plat::image::Image& image,
                                                        const TextureLoaderOptions& options);

 private:
  std::shared_ptr<Device> device_;
};

}  // namespace plat::gpu
