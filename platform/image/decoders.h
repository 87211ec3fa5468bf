// Inside the picture layer: the bytes of an opened file, the format sniffed
// from them, the size caps, the strip size, the capture of the libraries'
// own messages, and one entry per decoder that reads a header and returns an
// image whose pixels decode on demand. The public face is image.h; nothing
// here is meant for module code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

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

// About this many bytes of rows make one strip: small enough to stay in a
// core's cache between the decoder writing it and the upload reading it.
inline constexpr std::size_t kStripBytes = std::size_t{512} << 10;

// Rows per strip for rows of `bytesPerRow`: about kStripBytes (or what a
// test set), at least `minimum` (a decoder's natural unit, such as a JPEG's
// 16-row band), at most `rows`.
int stripRows(std::size_t bytesPerRow, int rows, int minimum = 1);

// Hands the rectangle x, y, w, h of decoded rows (all of them in memory) to
// `sink` as one strip starting at the rectangle's first row.
ErrorOr<void> handOver(const PixelView& all, int x, int y, int w, int h, RowSink& sink);

// Takes each strip of a decode that runs under setjmp (libjpeg, libpng):
// it lives in the caller of the setjmp function, and its put() leaves
// nothing behind on that function's stack. put() is false when the sink
// refused the strip; the sink's Error is kept.
class StripOutlet {
 public:
  explicit StripOutlet(RowSink& sink) : sink_(sink) {}
  bool put(const PixelView& strip, int firstRow) {
    ErrorOr<void> taken = sink_.take(strip, firstRow);
    if (!taken) refusal_ = taken.error();
    return taken.ok();
  }
  const std::optional<Error>& refusal() const { return refusal_; }

 private:
  RowSink& sink_;
  std::optional<Error> refusal_;
};

// A header-read image whose pixels decodeRect() produces on demand. The
// buffer of pixels() is made once, from the strips of a whole decode, and
// kept; a failure of that decode is remembered too, so a broken file is
// decoded once for pixels().
class LazyImage : public Image {
 public:
  LazyImage(int width, int height, std::string sourcePath)
      : Image(std::move(sourcePath)), width_(width), height_(height) {}
  int width() const final { return width_; }
  int height() const final { return height_; }

 protected:
  ErrorOr<PixelView> decodedPixels() const final;
  ErrorOr<void> rowsInRect(int x, int y, int w, int h, RowSink& sink) const final;
  // The rows of the rectangle (integral, inside the image, not empty) to
  // `sink` in strips, top to bottom, firstRow counted from the rectangle's
  // top; the sink's Error is passed on as it is.
  virtual ErrorOr<void> decodeRect(int x, int y, int w, int h, RowSink& sink) const = 0;

 private:
  struct Kept {
    std::unique_ptr<std::uint8_t[]> buffer;
    PixelView view;
  };
  int width_;
  int height_;
  mutable std::optional<Kept> rows_;
  mutable std::optional<Error> failure_;
};

// A library's warnings and other messages during one decode. Plain memory
// and no allocation, because libraries call back from inside their own
// longjmp-ing code: the first few distinct messages are kept, the rest
// counted.
struct LibraryMessages {
  static constexpr int kKept = 4;
  static constexpr std::size_t kLength = 240;
  char text[kKept][kLength];
  int kept = 0;
  int more = 0;
  // Keeps `message` (one line; trailing line breaks dropped) unless it is
  // empty or kept already.
  void add(const char* message) noexcept;
  void add(std::string_view message) noexcept;
};

// Tells the error sink each kept message as a note of kind Picture with
// `decoder` as origin and the file's path, and how many more there were.
void tellNotes(const Bytes& bytes, const char* decoder, const LibraryMessages& messages);

// While it lives, what is printed through C's stderr stream goes to memory
// instead, for libraries that print by themselves (libde265 writes
// "SPS error: ..." lines with fprintf(stderr), from libheif's decoding
// threads too). finish(), or the destructor on any other way out, puts the
// real stream back and adds what was printed to `messages`, line by line.
// Only the stream variable is swapped (glibc lets a program set it):
// descriptor 2 stays where it is, so what the rest of the process writes
// there (the engine's progress bar and its last word when the X server goes
// write to the descriptor, its other lines go through std::cerr, which keeps
// the real stream) is neither caught nor lost. The stand-in stream is made
// once and never closed: a thread that took the variable during a capture
// and writes after it ended writes to descriptor 2, as it would have without
// a capture. Captures on several threads wait for each other. When no stream
// can be made, nothing is captured and the library prints as it would.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  void finish(LibraryMessages* messages);

 private:
  std::FILE* saved_ = nullptr;
  bool capturing_ = false;
  bool locked_ = false;
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
