// Inside the picture layer: the bytes of an opened file, the format sniffed
// from them, the size caps, and one entry per decoder that reads a header and
// returns an image whose pixels decode on first use. The public face is
// image.h; nothing here is meant for module code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/image/image.h"

namespace plat::image::detail {

// The whole file in memory. Shared by the source and every image made from
// it, because the decoders read from it lazily.
struct Bytes {
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size = 0;
  std::string path;  // the file they were read from; empty for bytes from memory
};
using SharedBytes = std::shared_ptr<const Bytes>;

enum class Format : std::uint8_t { Jpeg, Png, Tiff, Heif, Bmp };

// The format from the first bytes of the content; none when nothing fits.
std::optional<Format> sniff(const std::uint8_t* data, std::size_t size);
const char* formatName(Format format);

// Files larger than this are not read.
inline constexpr std::size_t kMaxFileBytes = std::size_t{512} << 20;

// A decoder's failure over `bytes`: kind Picture, the decoder as its origin,
// the file's path. Not yet told to the sink.
Error pictureError(const Bytes& bytes, const char* decoder, std::string message);

// True when a header's size is one we decode: both sides in 1 ... kMaxSide
// and the pixel count within kMaxPixels.
bool sizeAllowed(std::int64_t width, std::int64_t height);
std::string sizeRefusal(std::int64_t width, std::int64_t height);

// Bytes of `height` rows of `width` four-byte pixels, or none on overflow.
std::optional<std::size_t> bufferBytes(std::int64_t width, std::int64_t height);

// A header-read image whose pixels are produced once, on first demand, by
// decode(); a failure is remembered too, so a broken file is decoded once.
class LazyImage : public Image {
 public:
  LazyImage(int width, int height, std::string sourcePath)
      : Image(std::move(sourcePath)), width_(width), height_(height) {}
  int width() const final { return width_; }
  int height() const final { return height_; }

 protected:
  ErrorOr<PixelView> decodedPixels() const final;
  virtual ErrorOr<Rows> decode() const = 0;
  // The rows once decoded, else none (and nothing is decoded by asking).
  const std::optional<Rows>& decodedRows() const { return rows_; }

 private:
  int width_;
  int height_;
  mutable std::optional<Rows> rows_;
  mutable std::optional<Error> failure_;
};

// Each reads the header of index 0 from `bytes` (whose format was sniffed),
// refuses sizes beyond the caps, and returns the lazily decoding image.
// The Error is not yet told to the sink.
using OpenResult = ErrorOr<std::shared_ptr<const Image>>;
OpenResult openJpeg(SharedBytes bytes);
OpenResult openPng(SharedBytes bytes);
OpenResult openTiff(SharedBytes bytes);
OpenResult openHeif(SharedBytes bytes);
OpenResult openBmp(SharedBytes bytes);

}  // namespace plat::image::detail
