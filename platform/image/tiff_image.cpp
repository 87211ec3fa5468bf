// TIFF through libtiff: the first directory only, read from memory. The
// pixels come from libtiff's RGBA reader, which handles the many sample
// layouts, asked for the rows exactly as stored (the file's Orientation tag
// is not applied), a band of whole strips (or tile rows) at a time, so that
// each of the file's strips is decoded once and only a band is held. A file
// stored as one big compressed strip is thus decoded in one band. That
// reader premultiplies alpha; it is undone here, since this layer's pixels
// are straight. libtiff's messages go to per-file handlers that keep the
// first error and the warnings (which become notes) and print nothing.
#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/image/decoders.h"

namespace plat::image::detail {

namespace {

struct MemoryFile {
  const std::uint8_t* data;
  toff_t size;
  toff_t position;
  char message[256];
  LibraryMessages* warnings;  // null while only the header is read
};

tmsize_t readProc(thandle_t handle, void* out, tmsize_t length) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (length <= 0 || file->position >= file->size) return 0;
  const toff_t count = std::min<toff_t>(static_cast<toff_t>(length), file->size - file->position);
  std::memcpy(out, file->data + file->position, count);
  file->position += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t writeProc(thandle_t /*handle*/, void* /*data*/, tmsize_t /*length*/) { return -1; }

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  toff_t base = 0;
  if (whence == SEEK_CUR) base = file->position;
  if (whence == SEEK_END) base = file->size;
  // Offsets are unsigned; a backward relative seek arrives wrapped around.
  const toff_t target = base + offset;
  if (target > file->size) return static_cast<toff_t>(-1);
  file->position = target;
  return target;
}

int closeProc(thandle_t /*handle*/) { return 0; }
toff_t sizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->size; }

int mapProc(thandle_t handle, void** base, toff_t* size) {
  auto* file = static_cast<MemoryFile*>(handle);
  *base = const_cast<std::uint8_t*>(file->data);
  *size = file->size;
  return 1;
}

void unmapProc(thandle_t /*handle*/, void* /*base*/, toff_t /*size*/) {}

// libtiff's handlers: `format` and `args` are a printf format and its arguments.
__attribute__((format(printf, 4, 0)))
int onError(TIFF* /*tif*/, void* user, const char* module, const char* format, va_list args) {
  auto* file = static_cast<MemoryFile*>(user);
  if (file->message[0] == '\0') {
    char text[200];
    std::vsnprintf(text, sizeof text, format, args);
    std::snprintf(file->message, sizeof file->message, "%s%s%s", module != nullptr ? module : "",
                  module != nullptr ? ": " : "", text);
  }
  return 1;  // handled: libtiff's global handler (which prints) is not called
}

__attribute__((format(printf, 4, 0)))
int onWarning(TIFF* /*tif*/, void* user, const char* module, const char* format, va_list args) {
  auto* file = static_cast<MemoryFile*>(user);
  if (file->warnings != nullptr) {
    char text[200];
    char line[LibraryMessages::kLength];
    std::vsnprintf(text, sizeof text, format, args);
    std::snprintf(line, sizeof line, "%s%s%s", module != nullptr ? module : "", module != nullptr ? ": " : "", text);
    file->warnings->add(line);
  }
  return 1;  // handled: nothing printed
}

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle openMemory(MemoryFile* file) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, onError, file);
  TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, file);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxPixels) * 4);
  TIFF* tif = TIFFClientOpenExt("picture", "rm", file, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                                unmapProc, options);
  TIFFOpenOptionsFree(options);
  return TiffHandle(tif);
}

// Straight alpha from libtiff's premultiplied RGBA, in place.
void unpremultiply(std::uint8_t* pixels, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* p = pixels + i * 4;
    const unsigned a = p[3];
    if (a == 255 || a == 0) continue;
    for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(std::min(255u, (p[c] * 255u + a / 2) / a));
  }
}

class TiffImage final : public LazyImage {
 public:
  TiffImage(SharedBytes bytes, int width, int height)
      : LazyImage(width, height, bytes->path), bytes_(std::move(bytes)) {}

 protected:
  ErrorOr<void> decodeRect(int x, int y, int w, int h, RowSink& sink) const override {
    LibraryMessages warnings;
    MemoryFile file{bytes_->data.get(), bytes_->size, 0, {}, &warnings};
    ErrorOr<void> done = decodeBands(&file, x, y, w, h, sink);
    tellNotes(*bytes_, "tiff", warnings);
    return done;
  }

 private:
  ErrorOr<void> decodeBands(MemoryFile* file, int x, int y, int w, int h, RowSink& sink) const {
    auto fail = [&](const char* fallback) -> ErrorOr<void> {
      return pictureError(*bytes_, "tiff", file->message[0] != '\0' ? file->message : fallback);
    };
    TiffHandle tif = openMemory(file);
    if (!tif) return fail("cannot open");
    TIFFRGBAImage reader;
    char message[1024] = {};
    if (!TIFFRGBAImageBegin(&reader, tif.get(), 0, message)) return fail(message);
    struct Ender {
      TIFFRGBAImage* reader;
      ~Ender() { TIFFRGBAImageEnd(reader); }
    } ender{&reader};
    if (reader.width != static_cast<std::uint32_t>(width()) || reader.height != static_cast<std::uint32_t>(height())) {
      return fail("the header changed");
    }
    // Rows in the order they are stored: no flip for the Orientation tag.
    reader.req_orientation = reader.orientation;
    // Bands start on the file's own strip (or tile row) boundaries, so the
    // reader decodes each strip once; a band is whole rows of the picture.
    std::uint32_t unit = 0;
    if (TIFFIsTiled(tif.get())) {
      TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &unit);
    } else {
      TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &unit);
    }
    unit = std::clamp<std::uint32_t>(unit, 1, static_cast<std::uint32_t>(height()));
    const std::size_t rowBytes = std::size_t(width()) * 4;
    const std::uint32_t wanted = static_cast<std::uint32_t>(stripRows(rowBytes, height()));
    const std::uint32_t band = std::min<std::uint32_t>((wanted + unit - 1) / unit * unit, height());
    const std::uint32_t first = static_cast<std::uint32_t>(y) / unit * unit;
    const std::uint32_t bandRows = std::min<std::uint32_t>(band, static_cast<std::uint32_t>(y + h) - first);
    std::unique_ptr<std::uint32_t[]> raster(new (std::nothrow) std::uint32_t[std::size_t(width()) * bandRows]);
    if (!raster) return fail("out of memory");
    auto* bytes = reinterpret_cast<std::uint8_t*>(raster.get());
    const bool alpha = reader.alpha != 0;
    for (std::uint32_t top = first; top < static_cast<std::uint32_t>(y + h); top += band) {
      const std::uint32_t rows = std::min<std::uint32_t>(band, static_cast<std::uint32_t>(y + h) - top);
      reader.row_offset = static_cast<int>(top);
      reader.col_offset = 0;
      if (!TIFFRGBAImageGet(&reader, raster.get(), reader.width, rows)) return fail("decode failed");
      // Each pixel is a word with red in its lowest byte; on a little-endian
      // machine the bytes are R, G, B, A.
      const std::size_t count = std::size_t(width()) * rows;
      if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i < count; ++i) raster[i] = __builtin_bswap32(raster[i]);
      }
      if (alpha) unpremultiply(bytes, count);
      const std::uint32_t skip = static_cast<std::uint32_t>(y) > top ? static_cast<std::uint32_t>(y) - top : 0;
      const PixelView strip{bytes + skip * rowBytes + std::size_t(x) * 4, w, static_cast<int>(rows - skip), rowBytes,
                            PixelOrder::RGBA};
      ErrorOr<void> taken = sink.take(strip, static_cast<int>(top + skip) - y);
      if (!taken) return taken;
    }
    return {};
  }

  SharedBytes bytes_;
};

}  // namespace

OpenResult openTiff(SharedBytes bytes) {
  MemoryFile file{bytes->data.get(), bytes->size, 0, {}, nullptr};
  TiffHandle tif = openMemory(&file);
  auto fail = [&](const char* fallback) -> OpenResult {
    return pictureError(*bytes, "tiff", file.message[0] != '\0' ? file.message : fallback);
  };
  if (!tif) return fail("cannot open");
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height)) {
    return fail("no image size");
  }
  if (!sizeAllowed(width, height)) return pictureError(*bytes, "tiff", sizeRefusal(width, height));
  char message[1024] = {};
  if (!TIFFRGBAImageOK(tif.get(), message)) return fail(message);
  return std::make_shared<TiffImage>(std::move(bytes), static_cast<int>(width), static_cast<int>(height));
}

}  // namespace plat::image::detail
