// Texture loading with the GPU texture loader; the attempt loop itself is
// the template in the header, shared with the tests.
#include "playlist/texture_loading.h"

#include <cmath>

#include "platform/gpu/texture.h"
#include "platform/gpu/texture_loader.h"

namespace quelltrine {

double viewAspectRatio(plat::ui::Size viewBounds) {
  // Only the width is tested: a positive width over a zero height gives an
  // infinite ratio, whose crop is empty and fails the attempt.
  if (viewBounds.width > 0.0) return viewBounds.width / viewBounds.height;
  return kDefaultAspectRatio;
}

plat::image::PixelRect centredCrop(double imageWidth, double imageHeight, double aspect) {
  if (aspect < imageWidth / imageHeight) {
    const double width = aspect * imageHeight;
    return {(imageWidth - width) * 0.5, 0.0, width, imageHeight};
  }
  const double height = imageWidth / aspect;
  return {0.0, (imageHeight - height) * 0.5, imageWidth, height};
}

std::shared_ptr<plat::gpu::Texture> loadNextTexture(Playlist& playlist, plat::gpu::TextureLoader* loader,
                                                    plat::ui::Size viewBounds, plat::sys::RandomSource& rng) {
  return loadNextWith(playlist, viewBounds, rng,
                      [loader](const plat::image::Image& crop) -> std::shared_ptr<plat::gpu::Texture> {
                        // Without a loader (no GPU device) every attempt fails.
                        if (loader == nullptr) return nullptr;
                        plat::gpu::TextureLoaderOptions options;
                        options.srgb = false;
                        options.textureUsage = plat::gpu::TextureUsage::ShaderRead;
                        return loader->newTextureWithImage(crop, options).valueOr(nullptr);  // the error is dropped
                      });
}

}  // namespace quelltrine
