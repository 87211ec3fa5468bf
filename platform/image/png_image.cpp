// PNG through libpng. The header gives the size; the pixels decode a row at
// a time into RGBA strips, whatever the stored type: palette and low-bit grey
// expanded, transparency chunks turned into alpha, 16-bit samples scaled to
// 8, grey spread to RGB, opaque images given alpha 255, all by libpng's own
// transformations. A crop decodes the rows above it into one scratch row
// (each PNG row is filtered against the one before) and stops after its last
// row. An interlaced file spreads every row over seven passes, which libpng
// can only combine in rows that hold still between the passes: the crop's
// rows are decoded whole (at the picture's width) and handed on at the end.
// The library's warnings become notes. libpng reports errors by longjmp; the
// functions that call setjmp hold only plain C objects.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/image/decoders.h"

namespace plat::image::detail {

namespace {

struct ReadState {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position;
  char message[256];
  LibraryMessages* warnings;  // null while only the header is read
};

[[noreturn]] void onError(png_structp png, png_const_charp text) {
  auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", text != nullptr ? text : "error");
  png_longjmp(png, 1);
}

void onWarning(png_structp png, png_const_charp text) {
  auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
  if (state->warnings != nullptr) state->warnings->add(text);
}

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

// The rectangle's rows: x, y, w, h in the picture, the picture's size, and
// the buffers, malloc'ed here and owned by the caller from the moment they
// are set, whether the decode then succeeds or not.
struct Region {
  int x, y, w, h;
  png_uint_32 width, height;
  std::uint8_t* rows = nullptr;
  std::uint8_t* scratch = nullptr;
};

// False with state->message set when libpng fails (or memory runs out),
// false with an empty message when the outlet refused a strip.
bool readRows(ReadState* state, Region* region, StripOutlet* outlet) {
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
  if (png_get_image_width(png, info) != region->width || png_get_image_height(png, info) != region->height) {
    png_error(png, "the header changed");
  }
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t bytesPerRow = std::size_t{region->width} * 4;
  if (png_get_rowbytes(png, info) != bytesPerRow) png_error(png, "unexpected row layout");
  const int top = region->y, bottom = region->y + region->h;
  const int rowsPerStrip = passes > 1 ? region->h : stripRows(bytesPerRow, region->h);
  region->rows = static_cast<std::uint8_t*>(std::malloc(bytesPerRow * static_cast<std::size_t>(rowsPerStrip)));
  region->scratch = static_cast<std::uint8_t*>(std::malloc(bytesPerRow));
  if (region->rows == nullptr || region->scratch == nullptr) png_error(png, "out of memory");
  std::uint8_t* const firstColumn = region->rows + std::size_t(region->x) * 4;
  if (passes > 1) {
    // Every pass runs over all rows; the last one can stop after the crop.
    for (int pass = 0; pass < passes; ++pass) {
      const int end = pass == passes - 1 ? bottom : static_cast<int>(region->height);
      for (int row = 0; row < end; ++row) {
        const bool kept = row >= top && row < bottom;
        png_read_row(png, kept ? region->rows + std::size_t(row - top) * bytesPerRow : region->scratch, nullptr);
      }
    }
    const bool taken = outlet->put(PixelView{firstColumn, region->w, region->h, bytesPerRow, PixelOrder::RGBA}, 0);
    png_destroy_read_struct(&png, &info, nullptr);
    return taken;
  }
  for (int row = 0; row < top; ++row) png_read_row(png, region->scratch, nullptr);
  for (int stripTop = 0; stripTop < region->h; stripTop += rowsPerStrip) {
    const int count = std::min(rowsPerStrip, region->h - stripTop);
    for (int i = 0; i < count; ++i) png_read_row(png, region->rows + std::size_t(i) * bytesPerRow, nullptr);
    if (!outlet->put(PixelView{firstColumn, region->w, count, bytesPerRow, PixelOrder::RGBA}, stripTop)) {
      png_destroy_read_struct(&png, &info, nullptr);
      return false;
    }
  }
  // The rows below the crop, text after the pixels and the end chunk are
  // not needed for the picture and not read.
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

class PngImage final : public LazyImage {
 public:
  PngImage(SharedBytes bytes, int width, int height)
      : LazyImage(width, height, bytes->path), bytes_(std::move(bytes)) {}

 protected:
  ErrorOr<void> decodeRect(int x, int y, int w, int h, RowSink& sink) const override {
    LibraryMessages warnings;
    ReadState state{bytes_->data.get(), bytes_->size, 0, {}, &warnings};
    Region region{x, y, w, h, static_cast<png_uint_32>(width()), static_cast<png_uint_32>(height())};
    StripOutlet outlet(sink);
    const bool ok = readRows(&state, &region, &outlet);
    std::free(region.rows);
    std::free(region.scratch);
    tellNotes(*bytes_, "png", warnings);
    if (outlet.refusal()) return *outlet.refusal();
    if (!ok) return pictureError(*bytes_, "png", state.message[0] != '\0' ? state.message : "decode failed");
    return {};
  }

 private:
  SharedBytes bytes_;
};

}  // namespace

OpenResult openPng(SharedBytes bytes) {
  ReadState state{bytes->data.get(), bytes->size, 0, {}, nullptr};
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
