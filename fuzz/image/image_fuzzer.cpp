// libFuzzer target over the picture layer: any bytes through the format
// sniff, the header read, a crop chosen from the input decoded by strips
// (as an upload takes them, each strip checked to lie where it says), then
// the whole image's strips and its kept pixels. Sizes the layer accepts but
// that would only measure the allocator (beyond 16 M pixels) are not
// decoded. Strips are made small now and then, from the input, so that
// strip borders are crossed in small pictures too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/image/image.h"

namespace {

// Reads the first and last byte of every row of each strip (so that a
// strip pointing outside its memory is found) and checks that the strips
// follow each other and fit the image.
class CheckedRows final : public plat::image::RowSink {
 public:
  explicit CheckedRows(const plat::image::Image& image) : image_(image) {}
  plat::ErrorOr<void> take(const plat::image::PixelView& strip, int firstRow) override {
    if (strip.width != image_.width() || firstRow != rows_ || strip.height <= 0 ||
        strip.height > image_.height() - rows_ || strip.bytesPerRow < std::size_t(strip.width) * 4) {
      std::abort();
    }
    for (int y = 0; y < strip.height; ++y) {
      const std::uint8_t* row = strip.data + std::size_t(y) * strip.bytesPerRow;
      sum_ = sum_ + row[0] + row[std::size_t(strip.width) * 4 - 1];
    }
    rows_ += strip.height;
    return {};
  }
  void checkComplete() const {
    if (rows_ != image_.height()) std::abort();
  }

 private:
  const plat::image::Image& image_;
  int rows_ = 0;
  volatile unsigned sum_ = 0;
};

void decodeByStrips(const plat::image::Image& image) {
  CheckedRows rows(image);
  if (image.decodeRows(rows)) rows.checkComplete();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto source = plat::image::ImageSource::createWithData(data, size).valueOr(nullptr);
  if (!source) return 0;
  auto image = source->createImageAtIndex(0, {}).valueOr(nullptr);
  if (!image) return 0;
  const std::int64_t w = image->width(), h = image->height();
  if (w <= 0 || h <= 0 || w * h > (std::int64_t{1} << 24)) return 0;
  // The crop rectangle from the last bytes, so the fuzzer can steer it.
  const std::uint8_t a = size > 0 ? data[size - 1] : 0, b = size > 1 ? data[size - 2] : 0;
  const double x = static_cast<double>(w) * (a & 15) / 16.0 + 0.25;
  const double y = static_cast<double>(h) * (a >> 4) / 16.0 + 0.5;
  const double cw = static_cast<double>(w) * ((b & 15) + 1) / 16.0;
  const double ch = static_cast<double>(h) * ((b >> 4) + 1) / 16.0;
  plat::image::testing::setStripBytes((b & 0x80) != 0 ? 1 : 0);
  if (auto crop = image->cropped({x, y, cw, ch})) {
    decodeByStrips(*crop);
    if (auto rows = crop->pixels()) {
      volatile std::uint8_t sink = rows->data[(rows->height - 1) * rows->bytesPerRow + (rows->width - 1) * 4 + 3];
      (void)sink;
    }
  }
  decodeByStrips(*image);
  if (auto rows = image->pixels()) {
    volatile std::uint8_t sink = rows->data[(rows->height - 1) * rows->bytesPerRow + (rows->width - 1) * 4 + 3];
    (void)sink;
  }
  return 0;
}
