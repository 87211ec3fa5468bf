// Writing a PNG file: premultiplied BGRA rows become straight RGBA (a fully
// transparent pixel becomes 0,0,0,0), encoded by libpng into a temporary
// file beside the target, flushed to disk and renamed over the target. Any
// failure removes the temporary file and leaves an existing target as it
// was. Reading pictures is the decoders' business.
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/error_sink.h"
#include "platform/image/decoders.h"

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

// Encodes into an open stream; only plain C objects live in this frame.
bool encode(std::FILE* file, const PixelView* view, std::uint8_t* rowBuffer, WriteState* state) {
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
  png_init_io(png, file);
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

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

ErrorOr<void> writePNG(const std::string& path, const PixelView& view) {
  auto fail = [&path](std::string message, int code = 0) -> ErrorOr<void> {
    return plat::detail::report(Error{ErrorKind::FileWrite, "png", std::move(message), path, code});
  };
  if (view.data == nullptr || view.width <= 0 || view.height <= 0 ||
      view.bytesPerRow < std::size_t(view.width) * 4 || view.width > kMaxSide || view.height > kMaxSide) {
    return fail("no pixels to write");
  }
  if (path.empty() || path.back() == '/') return fail("not a file path");
  const std::string folder = folderOf(path);
  std::string temporary = folder + "/." + path.substr(path.rfind('/') + 1) + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    const int code = errno;
    if (code == ENOENT) return fail("the folder " + folder + " does not exist", code);
    if (code == ENOTDIR) return fail(folder + " is not a folder", code);
    return fail("cannot create a file in " + folder + ": " + std::strerror(code), code);
  }

  auto abandon = [&](std::string message, int code = 0) {
    ::unlink(temporary.c_str());
    return fail(std::move(message), code);
  };
  // The new file gets the permissions of the one it replaces, or the usual
  // ones for a new document.
  struct stat existing {};
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  ::fchmod(fd, mode);

  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    const int code = errno;
    ::close(fd);
    return abandon(std::string("cannot write: ") + std::strerror(code), code);
  }
  std::vector<std::uint8_t> row(std::size_t(view.width) * 4);
  WriteState state{};
  const bool encoded = encode(file, &view, row.data(), &state);
  bool flushed = encoded && std::fflush(file) == 0 && ::fsync(fd) == 0;
  const int flushError = errno;
  if (std::fclose(file) != 0) flushed = false;
  if (!encoded) return abandon(state.message[0] != '\0' ? state.message : "cannot encode");
  if (!flushed) return abandon(std::string("cannot write: ") + std::strerror(flushError), flushError);
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int code = errno;
    if (code == EISDIR) return abandon("the path is a folder", code);
    return abandon(std::string("cannot replace the file: ") + std::strerror(code), code);
  }
  // The rename itself is made durable by flushing the folder.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

}  // namespace plat::image
