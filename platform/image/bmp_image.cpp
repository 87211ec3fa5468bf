// BMP through stb_image, built here with only its BMP decoder and kept
// private to this file (static functions, no symbols exported). The header
// is read first for the size. stb_image has no way to decode by rows: the
// pixels decode whole into RGBA, in a buffer of its own, from which the
// rectangle wanted is handed on as one strip before the buffer is freed.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb/stb_image.h>

#include <climits>

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

OpenResult openBmp(SharedBytes bytes) {
  if (bytes->size > static_cast<std::size_t>(INT_MAX)) return pictureError(*bytes, "bmp", "file too large");
  int width = 0;
  int height = 0;
  int channels = 0;
  if (!stbi_info_from_memory(bytes->data.get(), static_cast<int>(bytes->size), &width, &height, &channels)) {
    return pictureError(*bytes, "bmp", reason());
  }
  if (!sizeAllowed(width, height)) return pictureError(*bytes, "bmp", sizeRefusal(width, height));
  return std::make_shared<BmpImage>(std::move(bytes), width, height);
}

}  // namespace plat::image::detail
