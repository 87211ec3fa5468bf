// Loading the next picture of the play order into a GPU texture: at most
// five attempts per call, each taking the next position of the order (a new
// cycle is dealt when one runs out, also in the middle of a call), opening
// and decoding the picture, cutting it around its centre to the view's
// aspect ratio and uploading the cut. Nothing is cached between calls; a
// picture that fails has used its turn. Finding the pictures and dealing the
// order are the image list's business; decoding and upload belong to the
// platform layer.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/image/image.h"
#include "platform/sys/random.h"
#include "platform/ui/geometry.h"
#include "playlist/playlist.h"

namespace plat::gpu {
class Texture;
class TextureLoader;
}  // namespace plat::gpu

namespace quelltrine {

inline constexpr int kTextureAttemptLimit = 5;
inline constexpr double kDefaultAspectRatio = 1.6;  // width / height when the view has no width

// The view's aspect ratio: width / height when the width is positive (an
// infinite or undefined ratio when the height is zero), else 1.6.
double viewAspectRatio(plat::ui::Size viewBounds);

// The centred rectangle of an imageWidth x imageHeight picture with aspect
// ratio `aspect`: full height with equal strips cut left and right when the
// picture is wider in proportion, else full width with equal strips cut at
// top and bottom (equal ratios included). May be empty or non-finite for a
// degenerate ratio; cropping then yields nothing.
plat::image::PixelRect centredCrop(double imageWidth, double imageHeight, double aspect);

// The attempt loop with the upload as a parameter: `upload(const Image&)`
// returns a shared_ptr, null on failure. loadNextTexture passes the GPU
// texture loader; tests pass their own.
template <class Upload>
auto loadNextWith(Playlist& playlist, plat::ui::Size viewBounds, plat::sys::RandomSource& rng, Upload&& upload)
    -> decltype(upload(std::declval<const plat::image::Image&>())) {
  const auto n = static_cast<std::int64_t>(playlist.imageURLs.size());
  if (n == 0) return nullptr;
  const std::int64_t limit = std::min<std::int64_t>(n, kTextureAttemptLimit);
  for (std::int64_t attempt = 0; attempt < limit; ++attempt) {
    // A negative position cannot come from the image list; it is treated as
    // a used-up cycle rather than read before the order's start.
    if (playlist.orderPos < 0 || playlist.orderPos >= static_cast<std::int64_t>(playlist.order.size())) {
      playlist.order = plat::sys::freshPlayOrder(n, rng);
      playlist.orderPos = 0;
    }
    const std::int64_t index = playlist.order[static_cast<std::size_t>(playlist.orderPos)];
    playlist.orderPos += 1;  // a picture that fails has used its turn too
    assert(index >= 0 && index < n && "the play order is a permutation of the list");
    if (index < 0 || index >= n) continue;

    // A failed step fails the attempt; its error is dropped.
    auto source =
        plat::image::ImageSource::createWithPath(playlist.imageURLs[static_cast<std::size_t>(index)]).valueOr(nullptr);
    if (!source) continue;
    plat::image::SourceOptions options;
    options.shouldCache = false;
    auto image = source->createImageAtIndex(0, options).valueOr(nullptr);
    if (!image) continue;
    const plat::image::PixelRect rect = centredCrop(image->width(), image->height(), viewAspectRatio(viewBounds));
    auto crop = image->cropped(rect);
    if (!crop) continue;
    auto result = upload(*crop);
    if (result) return result;
  }
  return nullptr;
}

// The next picture as a texture (plain, not sRGB; shader read), or null when
// there are no pictures, no loader, or five attempts failed.
std::shared_ptr<plat::gpu::Texture> loadNextTexture(Playlist& playlist, plat::gpu::TextureLoader* loader,
                                                    plat::ui::Size viewBounds, plat::sys::RandomSource& rng);

}  // namespace quelltrine
