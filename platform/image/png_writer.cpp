// Writing a PNG file: premultiplied BGRA rows become straight RGBA (a fully
// transparent pixel becomes 0,0,0,0), encoded by libpng completely in memory,
// and only then written to the file, in place (platform/sys/files.h says
// what that keeps and how a failed write is cleaned up). A failed encode
// never touches the file. Reading pictures is the decoders' business.
#include <png.h>

#include <cstdio>
#include <new>
#include <vector>

#include "platform/error_sink.h"
#include "platform/image/decoders.h"
#include "platform/sys/files.h"

namespace plat::image {

namespace {

struct WriteState {
  char message[256];
};

[[noreturn]] void onError(png_structp png, png_const_charp text) {
  auto* state = static_cast<WriteState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", text != nullptr ? text : "error");
  png_longjmp(png, 1);
}

void onWarning(png_structp /*png*/, png_const_charp /*text*/) {}

// One row to straight RGBA.
void toStraightRgba(const std::uint8_t* in, PixelOrder order, int width, std::uint8_t* out) {
  const int r = order == PixelOrder::BGRA ? 2 : 0;
  const int b = 2 - r;
  for (int i = 0; i < width; ++i) {
    const std::uint8_t* p = in + std::size_t(i) * 4;
    std::uint8_t* q = out + std::size_t(i) * 4;
    const unsigned a = p[3];
    if (a == 0) {
      q[0] = q[1] = q[2] = q[3] = 0;
      continue;
    }
    auto straight = [a](unsigned c) { return static_cast<std::uint8_t>(std::min(255u, (c * 255u + a / 2) / a)); };
    q[0] = straight(p[r]);
    q[1] = straight(p[1]);
    q[2] = straight(p[b]);
    q[3] = static_cast<std::uint8_t>(a);
  }
}

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  bool appended = true;
  try {
    out->insert(out->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    appended = false;  // no exception may cross libpng's C frames
  }
  if (!appended) png_error(png, "out of memory");
}

void flushNothing(png_structp /*png*/) {}

// Encodes into `out`; only plain C objects live in this frame.
bool encode(std::vector<std::uint8_t>* out, const PixelView* view, std::uint8_t* rowBuffer, WriteState* state) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, state, onError, onWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, appendBytes, flushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(view->width), static_cast<png_uint_32>(view->height), 8,
               PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < view->height; ++y) {
    toStraightRgba(view->data + std::size_t(y) * view->bytesPerRow, view->order, view->width, rowBuffer);
    png_write_row(png, rowBuffer);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

ErrorOr<void> writePNG(const std::string& path, const PixelView& view) {
  auto fail = [&path](std::string message) -> ErrorOr<void> {
    return plat::detail::report(Error{ErrorKind::FileWrite, "png", std::move(message), path, 0});
  };
  if (view.data == nullptr || view.width <= 0 || view.height <= 0 ||
      view.bytesPerRow < std::size_t(view.width) * 4 || view.width > kMaxSide || view.height > kMaxSide) {
    return fail("no pixels to write");
  }
  if (path.empty() || path.back() == '/') return fail("not a file path");
  std::vector<std::uint8_t> encoded;
  std::vector<std::uint8_t> row(std::size_t(view.width) * 4);
  WriteState state{};
  if (!encode(&encoded, &view, row.data(), &state)) {
    return fail(state.message[0] != '\0' ? state.message : "cannot encode");
  }
  return plat::detail::reportFailure(plat::sys::writeFileInPlace(path, encoded));
}

}  // namespace plat::image
