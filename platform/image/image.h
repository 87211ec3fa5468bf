// Picture decoding: an image source opened from a file, its first image, a
// crop of it, and the pixels of either as 8-bit four-channel rows. The format
// is found from the file's content, never from its name. An image decodes
// lazily: its size is known from the header, and its pixels come either as
// strips of rows handed to a RowSink one after the other (decodeRows: what
// an upload uses, so that no whole copy of the picture exists at any time)
// or as one kept buffer (pixels()). A cropped image decodes only what its
// rectangle needs where the decoder allows. Errors are values (plat::Error of
// kind Picture, its origin the decoder's name, its path the file's), and each
// operation that fails also tells the error sink; so do the decoding
// libraries' own warnings and messages, as notes. Nothing here prints or
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

// Where Image::decodeRows puts a picture's rows.
class RowSink {
 public:
  virtual ~RowSink() = default;
  // Rows firstRow ... firstRow + strip.height - 1 of the image, as wide as
  // the image, in one channel order for the whole decode. The strip's memory
  // belongs to the decoder and is written again after this returns. An
  // Error ends the decode; decodeRows passes it on as it is (whoever made it
  // has told the error sink).
  virtual ErrorOr<void> take(const PixelView& strip, int firstRow) = 0;
};

class Image : public std::enable_shared_from_this<Image> {
 public:
  virtual ~Image() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;

  // Decodes the pixels and hands them to `sink` in strips of rows, top to
  // bottom, each row once. Nothing is kept: a strip's memory is reused for
  // the next, and what a format cannot decode by rows (BMP, HEIF, interlaced
  // PNG) is decoded whole, handed over and freed before this returns. When
  // pixels() was asked for before, the strips are views of its buffer. A
  // decoder's failure, possibly after some strips, is told to the error
  // sink; so are the library's warnings, as notes.
  ErrorOr<void> decodeRows(RowSink& sink) const;

  // All the pixels in one buffer, decoding now if not done yet (at most
  // once; the buffer is kept for the life of this Image, so this costs a
  // whole copy of the picture: for tests and tools, not for uploads). A
  // failure is told to the error sink.
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

  // What pixels() returns, without telling the sink: crops and subclasses
  // pass a failure on, and it is told once, by the pixels() asked.
  virtual ErrorOr<PixelView> decodedPixels() const = 0;

  // Decodes the rectangle (integral and inside the image) and hands its
  // rows to `sink` as decodeRows does, without telling the error sink of a
  // failure (the caller does, once). Crops ask their source for their
  // rectangle through this.
  friend class CroppedImage;
  virtual ErrorOr<void> rowsInRect(int x, int y, int w, int h, RowSink& sink) const = 0;

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

namespace testing {
// Strips of about `bytes` from now on (0: the usual size, about half a MiB),
// so that small pictures cross strip borders too.
void setStripBytes(std::size_t bytes);
}  // namespace testing

// Writes BGRA rows (alpha premultiplied, as a render read-back gives them) as
// an 8-bit RGBA PNG file at `path`. The PNG is encoded completely in memory
// first, so a failed encode never touches the file; then it is written in
// place (plat::sys::writeFileInPlace: a link is written through, an existing
// file keeps its inode, owner and mode, a failed write leaves no partial
// PNG). An Error of kind FileWrite (told to the sink too) when it fails.
ErrorOr<void> writePNG(const std::string& path, const PixelView& bgraPremultiplied);

}  // namespace plat::image
