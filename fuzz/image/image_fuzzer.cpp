// libFuzzer target over the picture layer: any bytes through the format
// sniff, the header read, a crop chosen from the input and its pixels, then
// the whole image's pixels. Sizes the layer accepts but that would only
// measure the allocator (beyond 16 M pixels) are not decoded.
#include <cstddef>
#include <cstdint>

#include "platform/image/image.h"

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
  if (auto crop = image->cropped({x, y, cw, ch})) {
    if (auto rows = crop->pixels()) {
      volatile std::uint8_t sink = rows->data[(rows->height - 1) * rows->bytesPerRow + (rows->width - 1) * 4 + 3];
      (void)sink;
    }
  }
  if (auto rows = image->pixels()) {
    volatile std::uint8_t sink = rows->data[(rows->height - 1) * rows->bytesPerRow + (rows->width - 1) * 4 + 3];
    (void)sink;
  }
  return 0;
}
