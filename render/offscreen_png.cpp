// The diagnostic offscreen render: n frames (at least one) at 1280x800 through
// the same frame path that draws the screen, each advancing the clock by
// exactly 1/30 s and waited for, then the last frame read back and written
// as a PNG file. The PNG is made in memory before the file is opened and then
// written in place (plat::image::writePNG), so a failed render never touches
// the file and a link, an owner or a mode there stays as it was.
#include <vector>

#include "host/quelltrine_saver_view.h"
#include "platform/image/image.h"

namespace quelltrine {

namespace gpu = plat::gpu;

bool QuelltrineSaverView::debugRenderPNG(const std::string& path, std::int64_t frames) {
  if (!device) return false;
  auto desc = gpu::TextureDescriptor::texture2D(gpu::PixelFormat::BGRA8Unorm, kOffscreenWidth,
                                                kOffscreenHeight, false);
  desc.usage = gpu::TextureUsage::ShaderRead | gpu::TextureUsage::RenderTarget;
  auto target = device->newTexture(desc);
  if (!target) return false;

  const std::int64_t n = frames > 1 ? frames : 1;
  constexpr double kFrameStep = 1.0 / 30.0;
  for (std::int64_t i = 0; i < n; ++i) {
    t += kFrameStep;
    renderFrame(target);
  }

  const std::size_t w = target->width();
  const std::size_t h = target->height();
  std::vector<std::uint8_t> pixels(w * h * 4, 0);
  target->getBytes(pixels.data(), w * 4, gpu::Region{{0, 0, 0}, {w, h, 1}}, 0);

  plat::image::PixelView view;
  view.data = pixels.data();
  view.width = static_cast<int>(w);
  view.height = static_cast<int>(h);
  view.bytesPerRow = w * 4;
  view.order = plat::image::PixelOrder::BGRA;
  return plat::image::writePNG(path, view).ok();  // the error is dropped
}

}  // namespace quelltrine
