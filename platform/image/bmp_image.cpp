// BMP through stb_image, built here with only its BMP decoder and kept
// private to this file (static functions, no symbols exported). The header
// is read first for the size. stb_image has no way to decode by rows: the
// pixels decode whole into RGBA, in a buffer of its own, from which the
// rectangle wanted is handed on as one strip before the buffer is freed.
// stb_image reads zeros past the end of its data, so a header of a few
// dozen bytes could make it fill a gigabyte; a file shorter than the pixel
// rows its header announces is refused before anything is decoded.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb/stb_image.h>

#include <algorithm>
#include <climits>
#include <optional>

#include "platform/image/decoders.h"

namespace plat::image::detail {

namespace {

const char* reason() {
  const char* text = stbi_failure_reason();
  return text != nullptr ? text : "decode failed";
}

class BmpImage final : public LazyImage {
 public:
  BmpImage(SharedBytes bytes, int width, int height)
      : LazyImage(width, height, bytes->path), bytes_(std::move(bytes)) {}

 protected:
  ErrorOr<void> decodeRect(int x, int y, int w, int h, RowSink& sink) const override {
    int decodedWidth = 0;
    int decodedHeight = 0;
    int channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(bytes_->data.get(), static_cast<int>(bytes_->size), &decodedWidth, &decodedHeight,
                              &channels, 4),
        stbi_image_free);
    if (!pixels) return pictureError(*bytes_, "bmp", reason());
    if (decodedWidth != width() || decodedHeight != height()) {
      return pictureError(*bytes_, "bmp", "decoded image does not match its header");
    }
    const PixelView all{pixels.get(), width(), height(), std::size_t(width()) * 4, PixelOrder::RGBA};
    return handOver(all, x, y, w, h, sink);
  }

 private:
  SharedBytes bytes_;
};

}  // namespace

namespace {

std::uint64_t little(const Bytes& bytes, std::size_t at, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes.data[at + std::size_t(i)];
  return value;
}

// The bytes the header's pixel rows need, from the start of the file:
// where the rows begin plus rows of 4-byte-aligned width * bits per pixel.
// None when the header is too short to say (stb_image refuses those).
std::optional<std::uint64_t> announcedBytes(const Bytes& bytes) {
  if (bytes.size < 30) return std::nullopt;
  const std::uint64_t offset = little(bytes, 10, 4);
  const std::uint64_t headerSize = little(bytes, 14, 4);
  std::uint64_t width = 0, height = 0, bitsPerPixel = 0;
  if (headerSize == 12) {
    width = little(bytes, 18, 2);
    height = little(bytes, 20, 2);
    bitsPerPixel = little(bytes, 24, 2);
  } else {
    const auto signedHeight = static_cast<std::int32_t>(little(bytes, 22, 4));
    width = little(bytes, 18, 4);
    height = static_cast<std::uint64_t>(signedHeight < 0 ? -std::int64_t{signedHeight} : signedHeight);
    bitsPerPixel = little(bytes, 28, 2);
  }
  const std::uint64_t rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
  return std::max(offset, 14 + headerSize) + rowBytes * height;
}

}  // namespace

OpenResult openBmp(SharedBytes bytes) {
  if (bytes->size > static_cast<std::size_t>(INT_MAX)) return pictureError(*bytes, "bmp", "file too large");
  int width = 0;
  int height = 0;
  int channels = 0;
  if (!stbi_info_from_memory(bytes->data.get(), static_cast<int>(bytes->size), &width, &height, &channels)) {
    return pictureError(*bytes, "bmp", reason());
  }
  if (!sizeAllowed(width, height)) return pictureError(*bytes, "bmp", sizeRefusal(width, height));
  // Width and height are within the caps here, so the product cannot overflow.
  if (const auto needed = announcedBytes(*bytes); needed && *needed > bytes->size) {
    return pictureError(*bytes, "bmp",
                        "the file ends before its pixels do (" + std::to_string(bytes->size) + " of " +
                            std::to_string(*needed) + " bytes)");
  }
  return std::make_shared<BmpImage>(std::move(bytes), width, height);
}

}  // namespace plat::image::detail
