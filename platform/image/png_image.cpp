// PNG through libpng. The header gives the size; the pixels decode whole into
// BGRA rows, whatever the stored type: palette and low-bit grey expanded,
// transparency chunks turned into alpha, 16-bit samples scaled to 8, grey
// spread to RGB, opaque images given alpha 255, interlaced passes combined by
// the library. Crops view into the whole decode. libpng reports errors by
// longjmp; the functions that call setjmp hold only plain C objects.
#include <png.h>

#include <cstdio>
#include <cstring>

#include "platform/image/decoders.h"

namespace plat::image::detail {

namespace {

struct ReadState {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position;
  char message[256];
};

[[noreturn]] void onError(png_structp png, png_const_charp text) {
  auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", text != nullptr ? text : "error");
  png_longjmp(png, 1);
}

void onWarning(png_structp /*png*/, png_const_charp /*text*/) {}

void readBytes(png_structp png, png_bytep out, png_size_t length) {
  auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
  if (length > state->size - state->position) png_error(png, "the data ends early");
  std::memcpy(out, state->data + state->position, length);
  state->position += length;
}

struct Header {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
};

// Opens the stream; on success the caller owns *png and *info.
bool openStream(ReadState* state, png_structp* png, png_infop* info) {
  *png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state, onError, onWarning);
  if (*png == nullptr) return false;
  *info = png_create_info_struct(*png);
  if (*info == nullptr) {
    png_destroy_read_struct(png, nullptr, nullptr);
    return false;
  }
  png_set_read_fn(*png, state, readBytes);
  return true;
}

bool readHeader(ReadState* state, Header* header) {
  png_structp png = nullptr;
  png_infop info = nullptr;
  if (!openStream(state, &png, &info)) {
    std::snprintf(state->message, sizeof state->message, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_read_info(png, info);
  header->width = png_get_image_width(png, info);
  header->height = png_get_image_height(png, info);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool readRows(ReadState* state, png_bytepp rows, png_uint_32 width, png_uint_32 height) {
  png_structp png = nullptr;
  png_infop info = nullptr;
  if (!openStream(state, &png, &info)) {
    std::snprintf(state->message, sizeof state->message, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_read_info(png, info);
  if (png_get_image_width(png, info) != width || png_get_image_height(png, info) != height) {
    png_error(png, "the header changed");
  }
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != std::size_t{width} * 4) png_error(png, "unexpected row layout");
  png_read_image(png, rows);
  // The rest of the file (text after the pixels, the end chunk) is not
  // needed for the picture and not read.
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

class PngImage final : public LazyImage {
 public:
  PngImage(SharedBytes bytes, int width, int height)
      : LazyImage(width, height, bytes->path), bytes_(std::move(bytes)) {}

 protected:
  ErrorOr<Rows> decode() const override {
    const std::optional<std::size_t> total = bufferBytes(width(), height());
    if (!total) return pictureError(*bytes_, "png", "image too large");
    const std::size_t bytesPerRow = std::size_t(width()) * 4;
    std::shared_ptr<std::uint8_t[]> buffer = std::make_shared_for_overwrite<std::uint8_t[]>(*total);
    auto rows = std::make_unique_for_overwrite<png_bytep[]>(static_cast<std::size_t>(height()));
    for (int i = 0; i < height(); ++i) rows[i] = buffer.get() + std::size_t(i) * bytesPerRow;
    ReadState state{bytes_->data.get(), bytes_->size, 0, {}};
    if (!readRows(&state, rows.get(), static_cast<png_uint_32>(width()), static_cast<png_uint_32>(height()))) {
      return pictureError(*bytes_, "png", state.message[0] != '\0' ? state.message : "decode failed");
    }
    Rows result;
    result.view = PixelView{buffer.get(), width(), height(), bytesPerRow, PixelOrder::BGRA};
    result.owner = std::move(buffer);
    return result;
  }

 private:
  SharedBytes bytes_;
};

}  // namespace

OpenResult openPng(SharedBytes bytes) {
  ReadState state{bytes->data.get(), bytes->size, 0, {}};
  Header header;
  if (!readHeader(&state, &header)) {
    return pictureError(*bytes, "png", state.message[0] != '\0' ? state.message : "cannot read the header");
  }
  if (!sizeAllowed(header.width, header.height)) {
    return pictureError(*bytes, "png", sizeRefusal(header.width, header.height));
  }
  return std::make_shared<PngImage>(std::move(bytes), static_cast<int>(header.width),
                                    static_cast<int>(header.height));
}

}  // namespace plat::image::detail
