// TIFF through libtiff: the first directory only, read from memory. The
// pixels come from libtiff's RGBA reader, which handles the many sample
// layouts, asked for the rows exactly as stored (the file's Orientation tag
// is not applied). That reader premultiplies alpha; it is undone here, since
// this layer's pixels are straight. libtiff's messages go to per-file
// handlers that keep the first error and print nothing.
#include <tiffio.h>

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/image/decoders.h"

namespace plat::image::detail {

namespace {

struct MemoryFile {
  const std::uint8_t* data;
  toff_t size;
  toff_t position;
  char message[256];
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

int onWarning(TIFF* /*tif*/, void* /*user*/, const char* /*module*/, const char* /*format*/, va_list /*args*/) {
  return 1;
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
  ErrorOr<Rows> decode() const override {
    MemoryFile file{bytes_->data.get(), bytes_->size, 0, {}};
    auto fail = [&](const char* fallback) -> ErrorOr<Rows> {
      return pictureError(*bytes_, "tiff", file.message[0] != '\0' ? file.message : fallback);
    };
    TiffHandle tif = openMemory(&file);
    if (!tif) return fail("cannot open");
    const std::optional<std::size_t> total = bufferBytes(width(), height());
    if (!total) return fail("image too large");
    TIFFRGBAImage reader;
    char message[1024] = {};
    if (!TIFFRGBAImageBegin(&reader, tif.get(), 0, message)) return fail(message);
    if (reader.width != static_cast<std::uint32_t>(width()) || reader.height != static_cast<std::uint32_t>(height())) {
      TIFFRGBAImageEnd(&reader);
      return fail("the header changed");
    }
    // Rows in the order they are stored: no flip for the Orientation tag.
    reader.req_orientation = reader.orientation;
    auto buffer = std::make_shared_for_overwrite<std::uint32_t[]>(*total / 4);
    const int ok = TIFFRGBAImageGet(&reader, buffer.get(), reader.width, reader.height);
    const bool alpha = reader.alpha != 0;
    TIFFRGBAImageEnd(&reader);
    if (!ok) return fail("decode failed");
    // Each pixel is a word with red in its lowest byte; on a little-endian
    // machine the bytes are R, G, B, A.
    auto* bytes = reinterpret_cast<std::uint8_t*>(buffer.get());
    const std::size_t count = *total / 4;
    if constexpr (std::endian::native == std::endian::big) {
      for (std::size_t i = 0; i < count; ++i) buffer[i] = __builtin_bswap32(buffer[i]);
    }
    if (alpha) unpremultiply(bytes, count);
    Rows rows;
    rows.view = PixelView{bytes, width(), height(), std::size_t(width()) * 4, PixelOrder::RGBA};
    rows.owner = std::move(buffer);
    return rows;
  }

 private:
  SharedBytes bytes_;
};

}  // namespace

OpenResult openTiff(SharedBytes bytes) {
  MemoryFile file{bytes->data.get(), bytes->size, 0, {}};
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
