// HEIF through libheif: the primary image, decoded with its transformations
// ignored, so that a rotation or mirror property leaves the pixels as they
// were coded (and a clean-aperture crop is not applied either: the size is
// the coded one from the ispe property). libheif decodes a picture only
// whole, into interleaved RGBA of its own, with as many threads as the
// process may run on (the tiles of a grid image in parallel; the call
// returns when all are done); the rectangle wanted is handed on as one strip
// viewing that image, which is freed before the decode returns. libheif's
// HEVC decoder prints its complaints to stderr by itself: they are caught
// while libheif runs and become notes.
#include <libheif/heif.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>

#include "platform/image/decoders.h"

namespace plat::image::detail {

namespace {

constexpr int kMaxHeifSide = 16384;
static_assert(std::int64_t{kMaxHeifSide} * kMaxHeifSide <= kMaxPixels);

struct ContextDeleter {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};

std::string describe(const heif_error& error) {
  return error.message != nullptr && error.message[0] != '\0' ? error.message : "decode failed";
}

class HeifImage final : public LazyImage {
 public:
  HeifImage(SharedBytes bytes, std::unique_ptr<heif_context, ContextDeleter> context,
            std::unique_ptr<heif_image_handle, HandleDeleter> handle, int width, int height)
      : LazyImage(width, height, bytes->path),
        bytes_(std::move(bytes)),
        context_(std::move(context)),
        handle_(std::move(handle)) {}

 protected:
  ErrorOr<void> decodeRect(int x, int y, int w, int h, RowSink& sink) const override {
    std::unique_ptr<heif_decoding_options, void (*)(heif_decoding_options*)> options(heif_decoding_options_alloc(),
                                                                                     heif_decoding_options_free);
    if (!options) return pictureError(*bytes_, "heif", "out of memory");
    options->ignore_transformations = 1;
    heif_image* decoded = nullptr;
    LibraryMessages messages;
    StderrCapture capture;
    heif_error result =
        heif_decode_image(handle_.get(), &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options.get());
    capture.finish(&messages);
    tellNotes(*bytes_, "heif", messages);
    std::unique_ptr<heif_image, void (*)(const heif_image*)> image(decoded, heif_image_release);
    if (result.code != heif_error_Ok || !image) return pictureError(*bytes_, "heif", describe(result));
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int planeWidth = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int planeHeight = heif_image_get_height(image.get(), heif_channel_interleaved);
    // The coded picture may carry padding beyond the announced size; less
    // than announced would leave rows missing.
    if (plane == nullptr || planeWidth < width() || planeHeight < height() || stride < 0 ||
        static_cast<std::size_t>(stride) < std::size_t(width()) * 4) {
      return pictureError(*bytes_, "heif", "decoded image does not match its header");
    }
    const PixelView all{plane, width(), height(), static_cast<std::size_t>(stride), PixelOrder::RGBA};
    return handOver(all, x, y, w, h, sink);
  }

 private:
  SharedBytes bytes_;  // libheif reads from these without a copy
  std::unique_ptr<heif_context, ContextDeleter> context_;
  std::unique_ptr<heif_image_handle, HandleDeleter> handle_;
};

// The processors this process may run on (its affinity mask), at least one.
int usableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
}

ErrorOr<void> openHeifContext(const SharedBytes& bytes, std::unique_ptr<heif_context, ContextDeleter>* context,
                              std::unique_ptr<heif_image_handle, HandleDeleter>* handle) {
  context->reset(heif_context_alloc());
  if (!*context) return pictureError(*bytes, "heif", "out of memory");
  heif_context_set_max_decoding_threads(context->get(), usableProcessors());
  // libheif checks this side limit against every item it decodes, grid
  // tiles included, which the primary image's size alone does not bound. The
  // square of the limit is the pixel cap.
  heif_context_set_maximum_image_size_limit(context->get(), kMaxHeifSide);
  heif_error result = heif_context_read_from_memory_without_copy(context->get(), bytes->data.get(), bytes->size, nullptr);
  if (result.code != heif_error_Ok) return pictureError(*bytes, "heif", describe(result));
  heif_image_handle* rawHandle = nullptr;
  result = heif_context_get_primary_image_handle(context->get(), &rawHandle);
  handle->reset(rawHandle);
  if (result.code != heif_error_Ok || !*handle) return pictureError(*bytes, "heif", describe(result));
  return {};
}

}  // namespace

OpenResult openHeif(SharedBytes bytes) {
  std::unique_ptr<heif_context, ContextDeleter> context;
  std::unique_ptr<heif_image_handle, HandleDeleter> handle;
  LibraryMessages messages;
  StderrCapture capture;
  ErrorOr<void> opened = openHeifContext(bytes, &context, &handle);
  capture.finish(&messages);
  tellNotes(*bytes, "heif", messages);
  if (!opened) return opened.error();
  // The size as coded, before any rotation: the transformations are not
  // applied when the pixels are decoded.
  int width = heif_image_handle_get_ispe_width(handle.get());
  int height = heif_image_handle_get_ispe_height(handle.get());
  if (width <= 0 || height <= 0) {
    width = heif_image_handle_get_width(handle.get());
    height = heif_image_handle_get_height(handle.get());
  }
  if (!sizeAllowed(width, height)) return pictureError(*bytes, "heif", sizeRefusal(width, height));
  return std::make_shared<HeifImage>(std::move(bytes), std::move(context), std::move(handle), width, height);
}

}  // namespace plat::image::detail
