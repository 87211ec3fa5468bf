// Picture upload: strips of decoded rows into one texture and its mipmap
// levels (see texture_loader.h). The texture is made when the first strip
// arrives, since its GL texel layout follows the rows' channel order, so
// neither order needs a CPU pass: BGRA rows into a GL_BGRA_EXT texture (or,
// without that extension, into RGBA8 with a red/blue swizzle), RGBA rows into
// GL_RGBA8. The levels are box-filtered on the CPU from the same strips,
// while they are still in the cache; the loader does not choose which level
// a shader reads.
#include "platform/gpu/texture_loader.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/error_sink.h"
#include "platform/gpu/gl/objects.h"
#include "platform/sys/memory.h"

namespace plat::gpu {

namespace {

using detail::TexelStorage;

// The levels below level 0, each the 2x2 box average of the one above (an
// odd last row or column is left out, as GL's level sizes halve rounding
// down; a side of 1 is averaged with itself). A level's rows are made and
// handed to GL as soon as both of their source rows have arrived, so the
// whole chain costs one carried row and one strip per level besides the
// texture. Byte order does not matter: every byte is averaged with the
// bytes of the same channel.
class LevelChain {
 public:
  LevelChain(GLuint texture, GLenum format, int width, int height, std::size_t levels)
      : texture_(texture), format_(format) {
    for (std::size_t level = 0; level < levels; ++level) {
      levels_.push_back(Level{width, height, {}, false, 0, {}});
      width = std::max(width / 2, 1);
      height = std::max(height / 2, 1);
    }
  }

  // `count` rows of `level`, bytesPerRow apart, in order from the top.
  void take(std::size_t level, const std::uint8_t* rows, int count, std::size_t bytesPerRow) {
    if (level + 1 >= levels_.size() || count <= 0) return;
    Level& in = levels_[level];
    Level& out = levels_[level + 1];
    const std::size_t outBytes = std::size_t(out.width) * 4;
    out.strip.resize((std::size_t(count) / 2 + 1) * outBytes);
    int made = 0;
    auto emit = [&](const std::uint8_t* upper, const std::uint8_t* lower) {
      average(upper, lower, in.width, out.width, out.strip.data() + std::size_t(made) * outBytes);
      ++made;
    };
    auto row = [&](int r) { return rows + std::size_t(r) * bytesPerRow; };
    int r = 0;
    if (in.height == 1) {
      for (; r < count; ++r) emit(row(r), row(r));
    } else {
      if (in.carried) {
        emit(in.carry.data(), row(0));
        in.carried = false;
        r = 1;
      }
      for (; r + 1 < count; r += 2) emit(row(r), row(r + 1));
      if (r < count) {
        in.carry.assign(row(r), row(r) + std::size_t(in.width) * 4);
        in.carried = true;
      }
    }
    made = std::min(made, out.height - out.rowsMade);  // never more rows than the level has
    if (made <= 0) return;
    detail::uploadRows(texture_, static_cast<GLint>(level + 1), 0, out.rowsMade, out.width, made, format_,
                       out.strip.data(), outBytes);
    out.rowsMade += made;
    take(level + 1, out.strip.data(), made, outBytes);
  }

  // Rounded 2x2 averages of two rows of `inWidth` pixels into `outWidth`
  // pixels: four at a time in the 16-bit lanes of SSE2 registers, the rest
  // two channels at a time in 16-bit lanes of a 64-bit word. Both give
  // (a + b + c + d + 2) / 4 for every byte.
  static void average(const std::uint8_t* upper, const std::uint8_t* lower, int inWidth, int outWidth,
                      std::uint8_t* out) {
    constexpr std::uint64_t kEven = 0x00FF00FF00FF00FFull;
    if (inWidth == 1) {  // one column: each pixel counts twice
      for (int c = 0; c < 4; ++c) out[c] = static_cast<std::uint8_t>((upper[c] + lower[c] + 1) >> 1);
      return;
    }
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    // Eight pixels of each row in, four out; the sums of two pixels of one
    // column sit in 16-bit lanes, two pixels a register.
    auto columnSums = [&](const std::uint8_t* u, const std::uint8_t* l, __m128i& first, __m128i& second) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l));
      first = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
      second = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    };
    for (; x + 4 <= outWidth; x += 4) {
      const std::size_t in = std::size_t(x) * 8;
      __m128i s0, s1, s2, s3;
      columnSums(upper + in, lower + in, s0, s1);
      columnSums(upper + in + 16, lower + in + 16, s2, s3);
      // Each register's left pixel onto its right one: two output pixels.
      __m128i left = _mm_add_epi16(_mm_unpacklo_epi64(s0, s1), _mm_unpackhi_epi64(s0, s1));
      __m128i right = _mm_add_epi16(_mm_unpacklo_epi64(s2, s3), _mm_unpackhi_epi64(s2, s3));
      left = _mm_srli_epi16(_mm_add_epi16(left, two), 2);
      right = _mm_srli_epi16(_mm_add_epi16(right, two), 2);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + std::size_t(x) * 4), _mm_packus_epi16(left, right));
    }
#endif
    for (; x < outWidth; ++x) {
      std::uint64_t a = 0, b = 0;  // two neighbouring pixels of each row
      std::memcpy(&a, upper + std::size_t(x) * 8, 8);
      std::memcpy(&b, lower + std::size_t(x) * 8, 8);
      std::uint64_t even = (a & kEven) + (b & kEven);
      std::uint64_t odd = ((a >> 8) & kEven) + ((b >> 8) & kEven);
      even += even >> 32;  // the right pixel's lanes onto the left one's
      odd += odd >> 32;
      const auto pixel = static_cast<std::uint32_t>((((even + 0x00020002u) >> 2) & 0x00FF00FFu) |
                                                    ((((odd + 0x00020002u) >> 2) & 0x00FF00FFu) << 8));
      std::memcpy(out + std::size_t(x) * 4, &pixel, 4);
    }
  }

 private:
  struct Level {
    int width, height;
    std::vector<std::uint8_t> carry;  // a row still waiting for the row below it
    bool carried;
    int rowsMade;
    std::vector<std::uint8_t> strip;  // this level's rows made from one strip of the level above
  };
  GLuint texture_;
  GLenum format_;
  std::vector<Level> levels_;
};

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
  Upload(const std::shared_ptr<detail::Core>& core, const plat::image::Image& image, std::uint32_t usage,
         const std::shared_ptr<detail::SpareTexture>& spare)
      : core_(core), image_(image), usage_(usage), spare_(spare) {}

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
    detail::uploadRows(detail::Access::state(*texture_).name, 0, 0, firstRow, strip.width, strip.height, format(),
                       strip.data, strip.bytesPerRow);
    levels_.take(0, strip.data, strip.height, strip.bytesPerRow);
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
                                     static_cast<std::size_t>(image_.height()), true);
    descriptor.usage = usage_;
    texture_ = takeSpare(descriptor, storage);
    if (!texture_) texture_ = detail::makeTexture(core_, descriptor, storage);
    if (!texture_) return fail("gl", "GL cannot hold a texture of this size");
    detail::Access::state(*texture_).spare = spare_;
    levels_ = LevelChain(detail::Access::state(*texture_).name, format(), image_.width(), image_.height(),
                         texture_->mipmapLevelCount());
    order_ = order;
    return {};
  }

  // The loader's spare as a texture of `descriptor`, when it is one; a spare
  // of another kind is let go here, before a new texture is made.
  std::shared_ptr<Texture> takeSpare(const TextureDescriptor& descriptor, TexelStorage storage) {
    if (!spare_->state) return nullptr;
    std::unique_ptr<detail::TextureState> state = std::move(spare_->state);
    const TextureDescriptor& had = spare_->descriptor;
    if (had.pixelFormat != descriptor.pixelFormat || had.width != descriptor.width ||
        had.height != descriptor.height || had.mipmapped != descriptor.mipmapped || had.usage != descriptor.usage ||
        had.storageMode != descriptor.storageMode || state->storage != storage || state->core != core_) {
      return nullptr;
    }
    return detail::Access::make<Texture>(descriptor, spare_->levels, std::move(state));
  }

  GLenum format() const {
    return detail::Access::state(*texture_).storage == TexelStorage::Bgra ? GL_BGRA_EXT : GL_RGBA;
  }

  const std::shared_ptr<detail::Core>& core_;
  const plat::image::Image& image_;
  std::uint32_t usage_;
  const std::shared_ptr<detail::SpareTexture>& spare_;
  std::shared_ptr<Texture> texture_;
  plat::image::PixelOrder order_ = plat::image::PixelOrder::BGRA;
  int rows_ = 0;
  LevelChain levels_{0, GL_RGBA, 1, 1, 1};
};

}  // namespace

TextureLoader::TextureLoader(std::shared_ptr<Device> device)
    : device_(std::move(device)), spare_(std::make_shared<detail::SpareTexture>()) {}

TextureLoader::~TextureLoader() = default;

ErrorOr<std::shared_ptr<Texture>> TextureLoader::newTextureWithImage(const plat::image::Image& image,
                                                                    const TextureLoaderOptions& options) {
  // Whatever this load does not take of the spare goes when it ends, so the
  // spare never waits longer than from one release to the next load.
  struct LetGo {
    detail::SpareTexture& spare;
    ~LetGo() { spare.state.reset(); }
  } letGo{*spare_};
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
  std::uint64_t textureBytes = 0;  // with its levels, about a third more than level 0
  for (std::uint64_t w = std::uint64_t(width), h = std::uint64_t(height);; w = std::max<std::uint64_t>(w / 2, 1),
                     h = std::max<std::uint64_t>(h / 2, 1)) {
    textureBytes += w * h * 4;
    if (w == 1 && h == 1) break;
  }
  if (const std::optional<std::uint64_t> available = plat::sys::memoryAvailable();
      available && textureBytes > *available / kPictureMemoryShare) {
    return fail("memory", "its texture (" + size + " pixels, " + describeBytes(textureBytes) +
                              ") would need more than a quarter of the memory available (" +
                              describeBytes(*available) + ")");
  }

  Upload upload(detail::Access::core(*device_), image, options.textureUsage, spare_);
  // A decoder's failure has been told to the sink by decodeRows, and the
  // upload's own by the upload; either is passed on as it is.
  if (ErrorOr<void> decoded = image.decodeRows(upload); !decoded) return decoded.error();
  ErrorOr<std::shared_ptr<Texture>> texture = upload.finish();
  if (texture) plat::detail::noteTextureFromPicture(image.sourcePath());
  return texture;
}

}  // namespace plat::gpu
