// The format-independent half of the picture layer: opening a file or a block
// of bytes as an image source, sniffing its format, the whole-pixel crop, and
// the lazy pixel cache every decoder shares. The decoders themselves live in
// one file per format.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#include "platform/error_sink.h"
#include "platform/image/decoders.h"
#include "platform/sys/files.h"

namespace plat::image {

namespace detail {

using plat::detail::report;
using plat::detail::reportFailure;

namespace {

bool startsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t length) {
  return size >= length && std::memcmp(data, magic, length) == 0;
}

bool isHeifBrand(const std::uint8_t* brand) {
  static const char* const kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                        "hevm", "hevs", "mif1", "msf1"};
  for (const char* b : kBrands) {
    if (std::memcmp(brand, b, 4) == 0) return true;
  }
  return false;
}

// An ISO base-media file starts with its ftyp box: size, "ftyp", the major
// brand, a minor version and compatible brands up to the box's end.
bool isHeif(const std::uint8_t* data, std::size_t size) {
  if (size < 16 || std::memcmp(data + 4, "ftyp", 4) != 0) return false;
  std::size_t boxSize = (std::size_t{data[0]} << 24) | (std::size_t{data[1]} << 16) |
                        (std::size_t{data[2]} << 8) | std::size_t{data[3]};
  if (boxSize < 16) return false;
  boxSize = std::min(boxSize, size);
  if (isHeifBrand(data + 8)) return true;
  for (std::size_t at = 16; at + 4 <= boxSize; at += 4) {
    if (isHeifBrand(data + at)) return true;
  }
  return false;
}

}  // namespace

std::optional<Format> sniff(const std::uint8_t* data, std::size_t size) {
  if (startsWith(data, size, "\xFF\xD8\xFF", 3)) return Format::Jpeg;
  if (startsWith(data, size, "\x89PNG\r\n\x1A\n", 8)) return Format::Png;
  // Classic TIFF and BigTIFF, both byte orders.
  if (startsWith(data, size, "II*\0", 4) || startsWith(data, size, "MM\0*", 4) ||
      startsWith(data, size, "II+\0", 4) || startsWith(data, size, "MM\0+", 4)) {
    return Format::Tiff;
  }
  if (isHeif(data, size)) return Format::Heif;
  if (startsWith(data, size, "BM", 2)) return Format::Bmp;
  return std::nullopt;
}

const char* formatName(Format format) {
  switch (format) {
    case Format::Jpeg: return "jpeg";
    case Format::Png: return "png";
    case Format::Tiff: return "tiff";
    case Format::Heif: return "heif";
    case Format::Bmp: return "bmp";
  }
  return "?";
}

Error pictureError(const Bytes& bytes, const char* decoder, std::string message) {
  return Error{ErrorKind::Picture, decoder, std::move(message), bytes.path};
}

bool sizeAllowed(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide && width * height <= kMaxPixels;
}

std::string sizeRefusal(std::int64_t width, std::int64_t height) {
  return "image size " + std::to_string(width) + "x" + std::to_string(height) + " is outside the decodable range";
}

std::optional<std::size_t> bufferBytes(std::int64_t width, std::int64_t height) {
  std::size_t rowBytes = 0;
  std::size_t total = 0;
  if (width < 0 || height < 0) return std::nullopt;
  if (__builtin_mul_overflow(static_cast<std::size_t>(width), std::size_t{4}, &rowBytes)) return std::nullopt;
  if (__builtin_mul_overflow(rowBytes, static_cast<std::size_t>(height), &total)) return std::nullopt;
  return total;
}

ErrorOr<PixelView> LazyImage::decodedPixels() const {
  if (!rows_ && !failure_) {
    ErrorOr<Rows> decoded = decode();
    if (decoded) {
      rows_ = std::move(decoded).value();
    } else {
      failure_ = decoded.error();
    }
  }
  if (failure_) return *failure_;
  return rows_->view;
}

namespace {

class MemorySource final : public ImageSource {
 public:
  MemorySource(SharedBytes bytes, Format format) : bytes_(std::move(bytes)), format_(format) {}

  const char* formatName() const override { return detail::formatName(format_); }

  ErrorOr<std::shared_ptr<const Image>> createImageAtIndex(std::size_t index,
                                                           const SourceOptions& /*options*/) const override {
    if (index != 0) return report(pictureError(*bytes_, formatName(), "only the first image is read"));
    return reportFailure(open());
  }

 private:
  OpenResult open() const {
    switch (format_) {
      case Format::Jpeg: return openJpeg(bytes_);
      case Format::Png: return openPng(bytes_);
      case Format::Tiff: return openTiff(bytes_);
      case Format::Heif: return openHeif(bytes_);
      case Format::Bmp: return openBmp(bytes_);
    }
    return pictureError(*bytes_, formatName(), "no decoder");
  }

  SharedBytes bytes_;
  Format format_;
};

ErrorOr<std::shared_ptr<ImageSource>> sourceOver(std::shared_ptr<Bytes> bytes) {
  std::optional<Format> format = sniff(bytes->data.get(), bytes->size);
  if (!format) return report(pictureError(*bytes, "source", "not a JPEG, PNG, TIFF, HEIF or BMP file"));
  return std::make_shared<MemorySource>(std::move(bytes), *format);
}

}  // namespace

}  // namespace detail

using detail::report;

ErrorOr<std::shared_ptr<ImageSource>> ImageSource::createWithData(const void* data, std::size_t size) {
  auto refuse = [](const char* message) { return report(Error{ErrorKind::Picture, "source", message, {}}); };
  if (data == nullptr && size != 0) return refuse("no data");
  if (size > detail::kMaxFileBytes) return refuse("data larger than the picture size cap");
  auto bytes = std::make_shared<detail::Bytes>();
  bytes->data = std::make_unique_for_overwrite<std::uint8_t[]>(size == 0 ? 1 : size);
  bytes->size = size;
  if (size != 0) std::memcpy(bytes->data.get(), data, size);
  return detail::sourceOver(std::move(bytes));
}

ErrorOr<std::shared_ptr<ImageSource>> ImageSource::createWithPath(const std::string& path) {
  // A FIFO, device or folder under a picture name is refused unopened.
  auto file = plat::sys::readRegularFile(path, detail::kMaxFileBytes, ErrorKind::Picture, "source");
  if (!file) return report(file.error());
  auto bytes = std::make_shared<detail::Bytes>();
  bytes->data = std::move(file->data);
  bytes->path = path;
  bytes->size = file->size;
  return detail::sourceOver(std::move(bytes));
}

// A rectangle of another image. It keeps its parent (and through it the
// file's bytes or decoded rows) alive and asks it for just its rows.
class CroppedImage final : public detail::LazyImage {
 public:
  CroppedImage(std::shared_ptr<const Image> parent, int x, int y, int w, int h)
      : LazyImage(w, h, parent->sourcePath()), parent_(std::move(parent)), x_(x), y_(y) {}

 protected:
  ErrorOr<Rows> decode() const override { return parent_->pixelsInRect(x_, y_, width(), height()); }
  ErrorOr<Rows> pixelsInRect(int x, int y, int w, int h) const override {
    if (decodedRows()) return Image::pixelsInRect(x, y, w, h);
    return parent_->pixelsInRect(x_ + x, y_ + y, w, h);
  }

 private:
  std::shared_ptr<const Image> parent_;
  int x_, y_;
};

ErrorOr<PixelView> Image::pixels() const { return plat::detail::reportFailure(decodedPixels()); }

ErrorOr<Image::Rows> Image::pixelsInRect(int x, int y, int w, int h) const {
  ErrorOr<PixelView> all = decodedPixels();
  if (!all) return all.error();
  Rows rows;
  rows.view = *all;
  rows.view.data = all->data + static_cast<std::size_t>(y) * all->bytesPerRow + static_cast<std::size_t>(x) * 4;
  rows.view.width = w;
  rows.view.height = h;
  rows.owner = weak_from_this().lock();
  return rows;
}

std::shared_ptr<const Image> Image::cropped(const PixelRect& rect) const {
  // Like the platform's crop, none on failure; the sink still hears why.
  auto none = [this](const char* why) -> std::shared_ptr<const Image> {
    report(Error{ErrorKind::Picture, "crop", why, sourcePath()});
    return nullptr;
  };
  if (!std::isfinite(rect.x) || !std::isfinite(rect.y) || !std::isfinite(rect.width) ||
      !std::isfinite(rect.height) || !(rect.width > 0.0) || !(rect.height > 0.0)) {
    return none("the crop rectangle is empty or not finite");
  }
  const double x0 = std::max(std::floor(rect.x), 0.0);
  const double y0 = std::max(std::floor(rect.y), 0.0);
  const double x1 = std::min(std::ceil(rect.x + rect.width), static_cast<double>(width()));
  const double y1 = std::min(std::ceil(rect.y + rect.height), static_cast<double>(height()));
  if (!(x1 > x0) || !(y1 > y0)) return none("the crop rectangle lies outside the picture");
  std::shared_ptr<const Image> self = weak_from_this().lock();
  if (!self) return none("the picture is not shared and cannot be cropped");
  return std::make_shared<CroppedImage>(std::move(self), static_cast<int>(x0), static_cast<int>(y0),
                                        static_cast<int>(x1 - x0), static_cast<int>(y1 - y0));
}

}  // namespace plat::image
