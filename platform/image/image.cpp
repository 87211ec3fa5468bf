// The format-independent half of the picture layer: opening a file or a block
// of bytes as an image source, sniffing its format, the whole-pixel crop,
// handing strips of rows on, the kept buffer of pixels() that every decoder
// shares, and the capture of the libraries' own messages. The decoders
// themselves live in one file per format.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/error_sink.h"
#include "platform/image/decoders.h"

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

namespace {
std::atomic<std::size_t> stripBytesForTests{0};
}  // namespace

int stripRows(std::size_t bytesPerRow, int rows, int minimum) {
  const std::size_t forTests = stripBytesForTests.load(std::memory_order_relaxed);
  const std::size_t bytes = forTests != 0 ? forTests : kStripBytes;
  const std::size_t fit = bytesPerRow == 0 ? bytes : bytes / bytesPerRow;
  const std::size_t wanted = std::max<std::size_t>(fit, static_cast<std::size_t>(std::max(minimum, 1)));
  return static_cast<int>(std::min<std::size_t>(wanted, static_cast<std::size_t>(std::max(rows, 1))));
}

ErrorOr<void> handOver(const PixelView& all, int x, int y, int w, int h, RowSink& sink) {
  PixelView strip = all;
  strip.data = all.data + static_cast<std::size_t>(y) * all.bytesPerRow + static_cast<std::size_t>(x) * 4;
  strip.width = w;
  strip.height = h;
  return sink.take(strip, 0);
}

namespace {

// Copies strips into one buffer of the rectangle's size.
class Collector final : public RowSink {
 public:
  Collector(int width, int height) : width_(width), height_(height) {}

  // The buffer, made before the decode starts; none when there is no memory.
  bool allocate() {
    const std::optional<std::size_t> total = bufferBytes(width_, height_);
    if (!total) return false;
    buffer_.reset(new (std::nothrow) std::uint8_t[*total]);
    return buffer_ != nullptr;
  }

  ErrorOr<void> take(const PixelView& strip, int firstRow) override {
    // A decoder that hands over rows out of place is broken; its rows are
    // not written past the buffer.
    if (strip.width != width_ || firstRow != rows_ || strip.height <= 0 || strip.height > height_ - rows_ ||
        (rows_ > 0 && strip.order != order_)) {
      return Error{ErrorKind::Picture, "image", "the decoder handed over rows out of place", {}};
    }
    order_ = strip.order;
    const std::size_t rowBytes = std::size_t(width_) * 4;
    for (int r = 0; r < strip.height; ++r) {
      std::memcpy(buffer_.get() + std::size_t(rows_ + r) * rowBytes, strip.data + std::size_t(r) * strip.bytesPerRow,
                  rowBytes);
    }
    rows_ += strip.height;
    return {};
  }

  bool complete() const { return rows_ == height_; }
  PixelView view() const { return PixelView{buffer_.get(), width_, height_, std::size_t(width_) * 4, order_}; }
  std::unique_ptr<std::uint8_t[]> release() { return std::move(buffer_); }

 private:
  int width_, height_;
  int rows_ = 0;
  PixelOrder order_ = PixelOrder::BGRA;
  std::unique_ptr<std::uint8_t[]> buffer_;
};

}  // namespace

ErrorOr<PixelView> LazyImage::decodedPixels() const {
  if (!rows_ && !failure_) {
    Collector collector(width_, height_);
    ErrorOr<void> done = collector.allocate() ? decodeRect(0, 0, width_, height_, collector)
                                              : ErrorOr<void>(Error{ErrorKind::Picture, "image", "out of memory", {}});
    if (done && !collector.complete()) {
      done = Error{ErrorKind::Picture, "image", "the decoder handed over too few rows", {}};
    }
    if (done) {
      const PixelView view = collector.view();
      rows_ = Kept{collector.release(), view};
    } else {
      failure_ = done.error();
      // The layer's own complaints name the file like the decoders' do.
      if (failure_->path.empty()) failure_->path = sourcePath();
    }
  }
  if (failure_) return *failure_;
  return rows_->view;
}

ErrorOr<void> LazyImage::rowsInRect(int x, int y, int w, int h, RowSink& sink) const {
  if (rows_) return handOver(rows_->view, x, y, w, h, sink);
  return decodeRect(x, y, w, h, sink);
}

void LibraryMessages::add(const char* message) noexcept {
  if (message != nullptr) add(std::string_view(message));
}

void LibraryMessages::add(std::string_view message) noexcept {
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.remove_suffix(1);
  if (message.empty()) return;
  const std::size_t length = std::min(message.size(), kLength - 1);
  for (int i = 0; i < kept; ++i) {
    if (std::strncmp(text[i], message.data(), length) == 0 && text[i][length] == '\0') return;
  }
  if (kept == kKept) {
    ++more;
    return;
  }
  std::memcpy(text[kept], message.data(), length);
  text[kept][length] = '\0';
  ++kept;
}

void tellNotes(const Bytes& bytes, const char* decoder, const LibraryMessages& messages) {
  for (int i = 0; i < messages.kept; ++i) plat::detail::note(pictureError(bytes, decoder, messages.text[i]));
  if (messages.more > 0) {
    plat::detail::note(pictureError(bytes, decoder, std::to_string(messages.more) + " more messages"));
  }
}

namespace {

// One capture at a time: two would put each other's stream back.
std::mutex& captureMutex() {
  static std::mutex m;
  return m;
}

// A library that prints more than this has said all a person can use in its
// first lines.
constexpr std::size_t kMaxCapturedBytes = 64 << 10;

// The stream that stands in for stderr during captures. It lives as long as
// the process: another thread may still hold it when a capture ends, and
// then writes on to descriptor 2.
class StandIn {
 public:
  static StandIn& get() {
    static StandIn* const standIn = new StandIn;  // never destroyed, see above
    return *standIn;
  }

  std::FILE* stream() const { return stream_; }

  void begin() {
    const std::lock_guard lock(mutex_);
    used_ = 0;
    active_ = true;
  }

  // Ends the capture and hands what it caught to `messages`, line by line.
  void end(LibraryMessages* messages) {
    std::fflush(stream_);
    const std::lock_guard lock(mutex_);
    active_ = false;
    if (messages == nullptr) return;
    const std::string_view text(text_, used_);
    for (std::size_t at = 0; at < text.size();) {
      std::size_t stop = text.find('\n', at);
      if (stop == std::string_view::npos) stop = text.size();
      messages->add(text.substr(at, stop - at));
      at = stop + 1;
    }
  }

 private:
  StandIn() {
    const cookie_io_functions_t functions{nullptr, &StandIn::write, nullptr, nullptr};
    stream_ = ::fopencookie(this, "w", functions);
    // Unbuffered like stderr: nothing of a line waits in the stream when
    // the capture ends.
    if (stream_ != nullptr) std::setvbuf(stream_, nullptr, _IONBF, 0);
  }

  static ssize_t write(void* cookie, const char* data, std::size_t size) {
    auto* self = static_cast<StandIn*>(cookie);
    {
      const std::lock_guard lock(self->mutex_);
      if (self->active_) {
        const std::size_t room = kMaxCapturedBytes - self->used_;
        std::memcpy(self->text_ + self->used_, data, std::min(size, room));
        self->used_ += std::min(size, room);
        return static_cast<ssize_t>(size);
      }
    }
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = ::write(STDERR_FILENO, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
      done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(size);
  }

  std::FILE* stream_ = nullptr;
  std::mutex mutex_;  // guards what follows; the write function runs on any thread
  bool active_ = false;
  std::size_t used_ = 0;
  char text_[kMaxCapturedBytes];
};

// The stderr variable is a plain pointer that other threads read without a
// lock; the store is at least atomic on our side, and an aligned pointer is
// read whole on every platform glibc runs on.
void setStderr(std::FILE* stream) { __atomic_store_n(&stderr, stream, __ATOMIC_SEQ_CST); }

}  // namespace

StderrCapture::StderrCapture() {
  captureMutex().lock();
  locked_ = true;
  StandIn& standIn = StandIn::get();
  if (standIn.stream() == nullptr) return;
  saved_ = stderr;
  std::fflush(saved_);
  standIn.begin();
  setStderr(standIn.stream());
  capturing_ = true;
}

void StderrCapture::finish(LibraryMessages* messages) {
  if (capturing_) {
    capturing_ = false;
    setStderr(saved_);
    StandIn::get().end(messages);
  }
  if (locked_) {
    locked_ = false;
    captureMutex().unlock();
  }
}

StderrCapture::~StderrCapture() { finish(nullptr); }

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

// A failure to open or read the file itself, with its errno.
Error fileError(const std::string& path, const char* what, int code) {
  return Error{ErrorKind::Picture, "source", std::string(what) + ": " + std::strerror(code), path, code};
}

}  // namespace

}  // namespace detail

using detail::report;

void testing::setStripBytes(std::size_t bytes) { detail::stripBytesForTests = bytes; }

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
  auto refuse = [&path](std::string message) {
    return report(Error{ErrorKind::Picture, "source", std::move(message), path});
  };
  // A FIFO, device or folder under a picture name is refused before it is
  // opened (opening some devices has effects of its own); O_NONBLOCK and the
  // second check on the open descriptor cover an entry replaced in between.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return report(detail::fileError(path, "cannot open", errno));
  if (!S_ISREG(st.st_mode)) return refuse(S_ISDIR(st.st_mode) ? "a folder, not a file" : "not a regular file");
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return report(detail::fileError(path, "cannot open", errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return refuse("not a regular file");
  if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > detail::kMaxFileBytes) {
    return refuse("file larger than the picture size cap");
  }
  const auto expected = static_cast<std::size_t>(st.st_size);
  auto bytes = std::make_shared<detail::Bytes>();
  bytes->data = std::make_unique_for_overwrite<std::uint8_t[]>(expected == 0 ? 1 : expected);
  bytes->path = path;
  // The file may shrink while it is read; what was there is used.
  std::size_t got = 0;
  while (got < expected) {
    ssize_t n = ::read(fd, bytes->data.get() + got, expected - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return report(detail::fileError(path, "cannot read", errno));
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes->size = got;
  return detail::sourceOver(std::move(bytes));
}

// A rectangle of another image. It keeps its parent (and through it the
// file's bytes or kept pixels) alive and asks it for just its rows.
class CroppedImage final : public detail::LazyImage {
 public:
  CroppedImage(std::shared_ptr<const Image> parent, int x, int y, int w, int h)
      : LazyImage(w, h, parent->sourcePath()), parent_(std::move(parent)), x_(x), y_(y) {}

 protected:
  ErrorOr<void> decodeRect(int x, int y, int w, int h, RowSink& sink) const override {
    return parent_->rowsInRect(x_ + x, y_ + y, w, h, sink);
  }

 private:
  std::shared_ptr<const Image> parent_;
  int x_, y_;
};

namespace {

// Passes strips on and remembers whether the sink refused one, so that only
// the decoder's own failures are told here (the sink told its own).
class Watched final : public RowSink {
 public:
  explicit Watched(RowSink& inner) : inner_(inner) {}
  ErrorOr<void> take(const PixelView& strip, int firstRow) override {
    ErrorOr<void> taken = inner_.take(strip, firstRow);
    if (!taken) refused_ = true;
    return taken;
  }
  bool refused() const { return refused_; }

 private:
  RowSink& inner_;
  bool refused_ = false;
};

}  // namespace

ErrorOr<void> Image::decodeRows(RowSink& sink) const {
  Watched watched(sink);
  ErrorOr<void> done = rowsInRect(0, 0, width(), height(), watched);
  if (done || watched.refused()) return done;
  Error error = done.error();
  if (error.path.empty()) error.path = sourcePath();
  return report(std::move(error));
}

ErrorOr<PixelView> Image::pixels() const { return plat::detail::reportFailure(decodedPixels()); }

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
