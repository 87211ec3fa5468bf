// Picture upload: strips of decoded rows into one texture (see
// texture_loader.h). The texture is made when the first strip arrives, since
// its GL texel layout follows the rows' channel order, so neither order
// needs a CPU pass: BGRA rows into a GL_BGRA_EXT texture (or, without that
// extension, into RGBA8 with a red/blue swizzle), RGBA rows into GL_RGBA8.
#include "platform/gpu/texture_loader.h"

#include <cinttypes>
#include <cstdio>

#include "platform/error_sink.h"
#include "platform/gpu/gl/objects.h"
#include "platform/sys/memory.h"

namespace plat::gpu {

namespace {

using detail::TexelStorage;

// "640 MiB", "1.5 GiB": a size for a person.
std::string describeBytes(std::uint64_t bytes) {
  char text[32];
  if (bytes >= (std::uint64_t{1} << 30)) {
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / double(1 << 30));
  } else {
    std::snprintf(text, sizeof text, "%" PRIu64 " MiB", (bytes + (1 << 20) - 1) >> 20);
  }
  return text;
}

// Takes the decoder's strips into the texture, which it makes at the first.
class Upload final : public plat::image::RowSink {
 public:
  Upload(const std::shared_ptr<detail::Core>& core, const plat::image::Image& image, std::uint32_t usage)
      : core_(core), image_(image), usage_(usage) {}

  ErrorOr<void> take(const plat::image::PixelView& strip, int firstRow) override {
    if (strip.data == nullptr || strip.width != image_.width() || firstRow != rows_ || strip.height <= 0 ||
        strip.height > image_.height() - rows_ || strip.bytesPerRow < std::size_t(strip.width) * 4 ||
        (texture_ && strip.order != order_)) {
      return fail("gpu", "the decoded rows do not match the image");
    }
    if (!texture_) {
      ErrorOr<void> made = make(strip.order);
      if (!made) return made;
    }
    if (!core_->makeCurrent()) return fail("egl", "the GL context cannot be made current");
    detail::clearGLErrors();
    const detail::TextureState& gl = detail::Access::state(*texture_);
    detail::uploadRows(gl.name, 0, 0, firstRow, strip.width, strip.height,
                       gl.storage == TexelStorage::Bgra ? GL_BGRA_EXT : GL_RGBA, strip.data, strip.bytesPerRow);
    if (glGetError() != GL_NO_ERROR) return fail("gl", "GL refused the upload");
    rows_ += strip.height;
    return {};
  }

  // The texture once every row is in it.
  ErrorOr<std::shared_ptr<Texture>> finish() {
    if (!texture_ || rows_ != image_.height()) return fail("gpu", "the decoder handed over too few rows");
    return std::move(texture_);
  }

  Error fail(const char* origin, const std::string& message) const {
    return plat::detail::report(Error{ErrorKind::Picture, origin, message, image_.sourcePath()});
  }

 private:
  ErrorOr<void> make(plat::image::PixelOrder order) {
    TexelStorage storage = TexelStorage::Rgba;
    if (order == plat::image::PixelOrder::BGRA)
      storage = core_->bgraTextures() ? TexelStorage::Bgra : TexelStorage::SwizzledBgra;
    // A GL_BGRA_EXT texture that GL cannot attach to a framebuffer could not
    // be read back; keep the bytes in RGBA8 with a swizzle then.
    if (storage == TexelStorage::Bgra && !core_->bgraRenderable()) storage = TexelStorage::SwizzledBgra;
    if (detail::takeSeam(detail::seamTextures)) return fail("gpu", "no texture (a test's fault)");
    TextureDescriptor descriptor =
        TextureDescriptor::texture2D(PixelFormat::BGRA8Unorm, static_cast<std::size_t>(image_.width()),
                                     static_cast<std::size_t>(image_.height()), false);
    descriptor.usage = usage_;
    texture_ = detail::makeTexture(core_, descriptor, storage);
    if (!texture_) return fail("gl", "GL cannot hold a texture of this size");
    order_ = order;
    return {};
  }

  const std::shared_ptr<detail::Core>& core_;
  const plat::image::Image& image_;
  std::uint32_t usage_;
  std::shared_ptr<Texture> texture_;
  plat::image::PixelOrder order_ = plat::image::PixelOrder::BGRA;
  int rows_ = 0;
};

}  // namespace

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
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (static_cast<std::size_t>(width) > limit || static_cast<std::size_t>(height) > limit)
    return fail("gpu", "the image (" + size + ") exceeds the largest texture side " + std::to_string(limit));
  // Checked before a single row is decoded: a picture that would crowd out
  // the rest of the system is skipped like a broken one. Without a figure
  // from the system there is nothing to check against.
  const std::uint64_t textureBytes = std::uint64_t(width) * std::uint64_t(height) * 4;
  if (const std::optional<std::uint64_t> available = plat::sys::memoryAvailable();
      available && textureBytes > *available / kPictureMemoryShare) {
    return fail("memory", "its texture (" + size + " pixels, " + describeBytes(textureBytes) +
                              ") would need more than a quarter of the memory available (" +
                              describeBytes(*available) + ")");
  }

  Upload upload(detail::Access::core(*device_), image, options.textureUsage);
  // A decoder's failure has been told to the sink by decodeRows, and the
  // upload's own by the upload; either is passed on as it is.
  if (ErrorOr<void> decoded = image.decodeRows(upload); !decoded) return decoded.error();
  ErrorOr<std::shared_ptr<Texture>> texture = upload.finish();
  if (texture) plat::detail::noteTextureFromPicture(image.sourcePath());
  return texture;
}

}  // namespace plat::gpu
