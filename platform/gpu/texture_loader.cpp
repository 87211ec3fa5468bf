// Picture upload: the decoded rows go to GL as they are (see
// texture_loader.h). The GL texel layout follows the rows' channel order, so
// neither order needs a CPU pass: BGRA rows into a GL_BGRA_EXT texture (or,
// without that extension, into RGBA8 with a red/blue swizzle), RGBA rows into
// GL_RGBA8.
#include "platform/gpu/texture_loader.h"

#include "platform/error_sink.h"
#include "platform/gpu/gl_core.h"

namespace plat::gpu {

ErrorOr<std::shared_ptr<Texture>> TextureLoader::newTextureWithImage(const plat::image::Image& image,
                                                                    const TextureLoaderOptions& options) {
  auto fail = [&image](const char* origin, const std::string& message) -> ErrorOr<std::shared_ptr<Texture>> {
    return plat::detail::report(Error{ErrorKind::Picture, origin, message, image.sourcePath()});
  };
  if (!device_) return fail("gpu", "no device");
  if (options.srgb) return fail("gpu", "sRGB textures are not supported");
  const int width = image.width(), height = image.height();
  const std::size_t limit = device_->limits().maxTextureSize;
  if (width <= 0 || height <= 0) return fail("gpu", "the image is empty");
  if (static_cast<std::size_t>(width) > limit || static_cast<std::size_t>(height) > limit)
    return fail("gpu", "the image (" + std::to_string(width) + " x " + std::to_string(height) +
                           ") exceeds the largest texture side " + std::to_string(limit));

  // A decoder's failure has been told to the sink by pixels(); it is
  // passed on as it is.
  const ErrorOr<plat::image::PixelView> pixels = image.pixels();
  if (!pixels) return pixels.error();
  if (pixels->data == nullptr || pixels->width != width || pixels->height != height ||
      pixels->bytesPerRow < static_cast<std::size_t>(width) * 4)
    return fail("gpu", "the decoded rows do not match the image size");

  const std::shared_ptr<detail::Core>& core = device_->core();
  using detail::TexelStorage;
  TexelStorage storage = TexelStorage::Rgba;
  if (pixels->order == plat::image::PixelOrder::BGRA)
    storage = core->bgraTextures() ? TexelStorage::Bgra : TexelStorage::SwizzledBgra;
  // A GL_BGRA_EXT texture that GL cannot attach to a framebuffer could not
  // be read back; keep the bytes in RGBA8 with a swizzle then.
  if (storage == TexelStorage::Bgra && !core->bgraRenderable()) storage = TexelStorage::SwizzledBgra;
  if (detail::takeSeam(detail::seamTextures)) return fail("gpu", "no texture (a test's fault)");

  TextureDescriptor descriptor =
      TextureDescriptor::texture2D(PixelFormat::BGRA8Unorm, static_cast<std::size_t>(width),
                                   static_cast<std::size_t>(height), false);
  descriptor.usage = options.textureUsage;
  auto texture = detail::makeTexture(core, descriptor, storage);
  if (!texture) return fail("gl", "GL cannot hold a texture of this size");

  if (!core->makeCurrent()) return fail("egl", "the GL context cannot be made current");
  detail::clearGLErrors();
  detail::uploadRows(texture->glName(), 0, 0, 0, width, height, storage == TexelStorage::Bgra ? GL_BGRA_EXT : GL_RGBA,
                     pixels->data, pixels->bytesPerRow);
  if (glGetError() != GL_NO_ERROR) return fail("gl", "GL refused the upload");
  plat::detail::noteTextureFromPicture(image.sourcePath());
  return texture;
}

}  // namespace plat::gpu
