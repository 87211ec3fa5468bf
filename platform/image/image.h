// Picture decoding: an image source opened from a file, its first image, a
// crop of it, and the pixels of either as 8-bit four-channel rows. The format
// is found from the file's content, never from its name. An image may decode
// lazily: its size is known from the header, its pixels are produced the
// first time pixels() is asked for, and a cropped image decodes only what its
// rectangle needs where the decoder allows. Errors are values (plat::Error of
// kind Picture, its origin the decoder's name, its path the file's), and each
// operation that fails also tells the error sink; nothing here prints or
// throws. Orientation tags are never applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/error.h"

namespace plat::image {

// Channel order in memory, 8 bits each, alpha last. Colour is not
// premultiplied; opaque formats have alpha 255.
enum class PixelOrder : std::uint8_t { BGRA, RGBA };

// A borrowed view of decoded rows; valid while the Image it came from lives.
struct PixelView {
  const std::uint8_t* data = nullptr;  // first pixel of the first (top) row
  int width = 0;
  int height = 0;
  std::size_t bytesPerRow = 0;  // >= width * 4
  PixelOrder order = PixelOrder::BGRA;
};

// A rectangle in an image's own pixels, origin at the top-left corner.
struct PixelRect {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
};

// The largest image this layer decodes, in pixels and per side; larger
// headers are refused before any pixel buffer is allocated.
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;  // 268 M pixels, 1 GiB as BGRA
inline constexpr int kMaxSide = 65535;

class Image : public std::enable_shared_from_this<Image> {
 public:
  virtual ~Image() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;

  // The pixels, decoding now if not done yet (at most once; the result is
  // kept for the life of this Image). A failure is told to the error sink.
  ErrorOr<PixelView> pixels() const;

  // The rectangle widened outward to whole pixels (floor of the origin,
  // ceiling of the far edge) and clipped to the image. An empty result, or a
  // non-finite rectangle, is none (and the sink hears of it); so is a
  // rectangle of negative or zero extent. The crop shares the source's data
  // or decoder; it costs no pixel copy. Only images owned by a shared_ptr
  // (all that this layer makes) can be cropped.
  std::shared_ptr<const Image> cropped(const PixelRect& rect) const;

  // The file the image was read from; empty for bytes from memory.
  const std::string& sourcePath() const { return sourcePath_; }

 protected:
  explicit Image(std::string sourcePath = {}) : sourcePath_(std::move(sourcePath)) {}

  // Decoded rows and whatever keeps their memory alive (null when the rows
  // belong to the image itself).
  struct Rows {
    PixelView view;
    std::shared_ptr<const void> owner;
  };

  // What pixels() returns, without telling the sink: crops and subclasses
  // pass a failure on, and it is told once, by the pixels() asked.
  virtual ErrorOr<PixelView> decodedPixels() const = 0;

  // For crops: decode only the rectangle (already integral and inside the
  // image). The default decodes the whole image and returns a view into it.
  friend class CroppedImage;
  virtual ErrorOr<Rows> pixelsInRect(int x, int y, int w, int h) const;

 private:
  std::string sourcePath_;
};

struct SourceOptions {
  // Whether the source may keep a decoded copy of the image. This layer's
  // sources never do (the pixels live in the Image), so false, what the
  // module asks for, is all there is.
  bool shouldCache = false;
};

class ImageSource {
 public:
  virtual ~ImageSource() = default;

  // Opens a picture file. Only regular files are opened (a FIFO, device or
  // folder under a picture name is refused at once, without blocking).
  // The content is sniffed to pick a decoder; an Error when none fits.
  static ErrorOr<std::shared_ptr<ImageSource>> createWithPath(const std::string& path);
  // The same over bytes in memory (fuzzing, tests). The bytes are copied.
  static ErrorOr<std::shared_ptr<ImageSource>> createWithData(const void* data, std::size_t size);

  // "jpeg", "png", "tiff", "heif" or "bmp".
  virtual const char* formatName() const = 0;

  // The image at `index`; only index 0 exists for our purposes (the first
  // page of a TIFF, the primary image of a HEIF). Reads the header; pixels
  // come later.
  virtual ErrorOr<std::shared_ptr<const Image>> createImageAtIndex(std::size_t index,
                                                                   const SourceOptions& options) const = 0;
};

// Writes BGRA rows (alpha premultiplied, as a render read-back gives them) as
// an 8-bit RGBA PNG file at `path`. The PNG is encoded completely in memory
// first, so a failed encode never touches the file; then it is written in
// place (plat::sys::writeFileInPlace: a link is written through, an existing
// file keeps its inode, owner and mode, a failed write leaves no partial
// PNG). An Error of kind FileWrite (told to the sink too) when it fails.
ErrorOr<void> writePNG(const std::string& path, const PixelView& bgraPremultiplied);

}  // namespace plat::image
