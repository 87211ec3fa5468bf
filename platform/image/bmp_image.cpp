// BMP through stb_image, built here with only its BMP decoder and kept
// private to this file (static functions, no symbols exported). The header
// is read first for the size. stb_image has no way to decode by rows: the
// pixels decode whole into RGBA, in a buffer of its own, from which the
// rectangle wanted is handed on as one strip before the buffer is freed.
// stb_image reads zeros past the end of its data, so a header of a few
// dozen bytes could make it fill a gigabyte; a file shorter than the pixel
// rows its header announces is refused before anything is decoded.
// stb_image has no run-length decoding: RLE4 and RLE8 files, as old paint
// programs and ImageMagick write them, go through gdk-pixbuf's BMP loader
// (already in the process with GTK) instead. Runs and the escapes that skip
// to the end of a row or of the picture let a few bytes stand for a whole
// picture, so such a file is refused when it announces more pixels than
// its runs alone could make. gdk-pixbuf shows a file cut short as far as
// its runs go; like a cut JPEG or PNG, such a file is refused instead: its
// runs must end with the end-of-picture escape every encoder writes last.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb/stb_image.h>

#include <gdk-pixbuf/gdk-pixbuf.h>

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

// The RLE variants, decoded whole by gdk-pixbuf into a pixbuf of its own.
class RleBmpImage final : public LazyImage {
 public:
  RleBmpImage(SharedBytes bytes, int width, int height)
      : LazyImage(width, height, bytes->path), bytes_(std::move(bytes)) {}

 protected:
  ErrorOr<void> decodeRect(int x, int y, int w, int h, RowSink& sink) const override {
    using Loader = std::unique_ptr<GdkPixbufLoader, void (*)(gpointer)>;
    using Pixbuf = std::unique_ptr<GdkPixbuf, void (*)(gpointer)>;
    GError* error = nullptr;
    Loader loader(gdk_pixbuf_loader_new_with_type("bmp", &error), g_object_unref);
    if (loader) {
      const bool written = gdk_pixbuf_loader_write(loader.get(), bytes_->data.get(), bytes_->size, &error) != 0;
      // close() must run even after a failed write, or the loader warns on
      // being finalized unclosed; its second error is dropped then.
      const bool closed = gdk_pixbuf_loader_close(loader.get(), written ? &error : nullptr) != 0;
      if (written && !closed && error == nullptr) error = g_error_new_literal(GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED, "decode failed");
    }
    if (error != nullptr) {
      std::string text = error->message;
      g_error_free(error);
      return pictureError(*bytes_, "bmp", text);
    }
    GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (decoded == nullptr) return pictureError(*bytes_, "bmp", "decode failed");
    if (gdk_pixbuf_get_width(decoded) != width() || gdk_pixbuf_get_height(decoded) != height() ||
        gdk_pixbuf_get_bits_per_sample(decoded) != 8) {
      return pictureError(*bytes_, "bmp", "decoded image does not match its header");
    }
    // The handing-over takes four bytes a pixel; an RGB pixbuf gains an opaque alpha.
    Pixbuf rgba(gdk_pixbuf_get_has_alpha(decoded) ? GDK_PIXBUF(g_object_ref(decoded))
                                                   : gdk_pixbuf_add_alpha(decoded, FALSE, 0, 0, 0),
                g_object_unref);
    if (!rgba) return pictureError(*bytes_, "bmp", "out of memory");
    const PixelView all{gdk_pixbuf_read_pixels(rgba.get()), width(), height(),
                        std::size_t(gdk_pixbuf_get_rowstride(rgba.get())), PixelOrder::RGBA};
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

constexpr std::uint64_t kRle8 = 1, kRle4 = 2;

// The compression field of a Windows header (40 bytes or more), else 0.
std::uint64_t compression(const Bytes& bytes) {
  if (bytes.size < 34 || bytes.data[0] != 'B' || bytes.data[1] != 'M' || little(bytes, 14, 4) < 40) return 0;
  return little(bytes, 30, 4);
}

// A run is two bytes for at most 255 pixels; only the skipping escapes do
// better, and no picture worth showing is mostly skipped.
constexpr std::uint64_t kMostPixelsPerRleByte = 128;

OpenResult openRle(SharedBytes bytes) {
  const auto signedHeight = static_cast<std::int32_t>(little(*bytes, 22, 4));
  const auto width = static_cast<std::int64_t>(static_cast<std::int32_t>(little(*bytes, 18, 4)));
  // Run-length rows are stored bottom-up only; a top-down header is damaged.
  if (width <= 0 || signedHeight <= 0) return pictureError(*bytes, "bmp", "a run-length file with a bad size");
  if (!sizeAllowed(width, signedHeight)) return pictureError(*bytes, "bmp", sizeRefusal(width, signedHeight));
  // gdk-pixbuf takes the header at its word and reads the runs from where it
  // says they begin: both must lie in the file (a header claiming gigabytes
  // once made it allocate that much for a 60-byte file).
  const std::uint64_t headerSize = little(*bytes, 14, 4), offset = little(*bytes, 10, 4);
  if (headerSize > 124 || offset < 14 + headerSize || offset >= bytes->size) {
    return pictureError(*bytes, "bmp", "a run-length file whose header does not fit in it");
  }
  const auto pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(signedHeight);
  if (pixels > kMostPixelsPerRleByte * bytes->size) {
    return pictureError(*bytes, "bmp",
                        "the runs of " + std::to_string(bytes->size) + " bytes cannot make " +
                            std::to_string(pixels) + " pixels");
  }
  if (bytes->data[bytes->size - 2] != 0 || bytes->data[bytes->size - 1] != 1) {
    return pictureError(*bytes, "bmp", "the runs do not end with the end of the picture: the file is cut short");
  }
  return std::make_shared<RleBmpImage>(std::move(bytes), static_cast<int>(width), signedHeight);
}

}  // namespace

OpenResult openBmp(SharedBytes bytes) {
  if (bytes->size > static_cast<std::size_t>(INT_MAX)) return pictureError(*bytes, "bmp", "file too large");
  if (const auto kind = compression(*bytes); kind == kRle8 || kind == kRle4) return openRle(std::move(bytes));
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
