// Loading a picture (open, decode, centred crop, upload through the real
// texture loader) against the plain full decode of the same file with each
// library's simplest API: a 24-megapixel JPEG, a 12-megapixel HEIC and a
// large PNG, generated into a temporary folder at start. The view is 16:9,
// so the JPEG's crop leaves out the top and bottom rows, which the loader
// never decodes. And the upload alone (a new texture filled from decoded
// rows already in memory, in the loader's strips) against a memcpy of the
// same bytes into new memory, and into memory already touched. The loader
// fills a released texture of the same size again instead of making one
// (photos of one camera follow each other): *_Load and Upload_Texture show
// that case, *_LoadNewSize and Upload_TextureNewSize, where each picture's
// texture differs in size from the one before, a new texture each time. Run with
// LIBGL_ALWAYS_SOFTWARE=1 and no DISPLAY; compare the figures of one run,
// best with --benchmark_repetitions and --benchmark_enable_random_interleaving
// on a machine that is not quiet.
#include <benchmark/benchmark.h>
#include <libheif/heif.h>
#include <png.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "image/fixtures.h"
#include "platform/gpu/device.h"
#include "platform/gpu/texture.h"
#include "platform/gpu/texture_loader.h"
#include "playlist/texture_loading.h"

namespace {

namespace fs = std::filesystem;

struct Inputs {
  fs::path dir;
  std::string jpeg, heic, png;
  fixtures::Bytes jpegBytes, heicBytes, pngBytes;
  std::shared_ptr<plat::gpu::Device> device;
  std::unique_ptr<plat::gpu::TextureLoader> loader;

  Inputs() {
    char pattern[] = "/tmp/quelltrine-bench-XXXXXX";
    dir = mkdtemp(pattern);
    jpegBytes = fixtures::jpeg(fixtures::gradient(6000, 4000), 6000, 4000, fixtures::JpegKind::Baseline, 90);
    heicBytes = fixtures::heic(fixtures::gradient(4032, 3024), 4032, 3024, 1, 80);
    pngBytes = fixtures::png(fixtures::gradient(4000, 3000), 4000, 3000, fixtures::PngKind::Rgb);
    jpeg = (dir / "big.jpg").string();
    heic = (dir / "big.heic").string();
    png = (dir / "big.png").string();
    fixtures::writeFile(jpeg, jpegBytes);
    fixtures::writeFile(heic, heicBytes);
    fixtures::writeFile(png, pngBytes);
    device = plat::gpu::createSystemDefaultDevice();
    if (device) loader = std::make_unique<plat::gpu::TextureLoader>(device);
  }
  ~Inputs() { fs::remove_all(dir); }
};

Inputs& inputs() {
  static Inputs in;
  return in;
}

constexpr plat::ui::Size kView{1920, 1080};
constexpr plat::ui::Size kOtherView{1920, 1200};  // a 16:10 crop, a texture of another size

// `newSize`: every other load in a view of another shape, so that no load
// finds a texture of its size to fill again.
void load(benchmark::State& state, const std::string& path, bool newSize = false) {
  Inputs& in = inputs();
  if (!in.loader) {
    state.SkipWithError("no GPU device");
    return;
  }
  plat::sys::SystemRandom rng;
  std::size_t texels = 0;
  bool other = false;
  for (auto _ : state) {
    quelltrine::Playlist playlist{{path}, {0}, 0};
    auto texture = quelltrine::loadNextTexture(playlist, in.loader.get(), other ? kOtherView : kView, rng);
    other = newSize && !other;
    if (!texture) {
      state.SkipWithError("load failed");
      return;
    }
    texels = texture->width() * texture->height();
    benchmark::DoNotOptimize(texture);
  }
  state.counters["texels"] = static_cast<double>(texels);
}

// Reads one byte of each strip and keeps nothing.
struct DiscardRows final : plat::image::RowSink {
  plat::ErrorOr<void> take(const plat::image::PixelView& strip, int /*firstRow*/) override {
    benchmark::DoNotOptimize(strip.data[0]);
    return {};
  }
};

// Decode and crop only, without the upload: the share of the GPU upload.
void decodeCrop(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    auto source = plat::image::ImageSource::createWithPath(path).valueOr(nullptr);
    auto image = source ? source->createImageAtIndex(0, {}).valueOr(nullptr) : nullptr;
    auto crop = image ? image->cropped(quelltrine::centredCrop(image->width(), image->height(),
                                                                quelltrine::viewAspectRatio(kView)))
                      : nullptr;
    DiscardRows discard;
    if (!crop || !crop->decodeRows(discard)) {
      state.SkipWithError("decode failed");
      return;
    }
  }
}

void BM_Jpeg_Load(benchmark::State& state) { load(state, inputs().jpeg); }
void BM_Jpeg_LoadNewSize(benchmark::State& state) { load(state, inputs().jpeg, true); }
void BM_Jpeg_DecodeCrop(benchmark::State& state) { decodeCrop(state, inputs().jpeg); }
void BM_Jpeg_BareDecode(benchmark::State& state) {
  const fixtures::Bytes& bytes = inputs().jpegBytes;
  tjhandle tj = tjInitDecompress();
  for (auto _ : state) {
    // A fresh buffer each time, as any decode that hands its pixels on needs.
    std::unique_ptr<unsigned char[]> out(new unsigned char[6000u * 4000u * 4u]);
    if (tjDecompress2(tj, bytes.data(), bytes.size(), out.get(), 6000, 0, 4000, TJPF_BGRA, 0) != 0) {
      state.SkipWithError(tjGetErrorStr2(tj));
      break;
    }
    benchmark::DoNotOptimize(out.get());
  }
  tjDestroy(tj);
}

void BM_Heic_Load(benchmark::State& state) { load(state, inputs().heic); }
void BM_Heic_LoadNewSize(benchmark::State& state) { load(state, inputs().heic, true); }
void BM_Heic_DecodeCrop(benchmark::State& state) { decodeCrop(state, inputs().heic); }
void BM_Heic_BareDecode(benchmark::State& state) {
  const fixtures::Bytes& bytes = inputs().heicBytes;
  for (auto _ : state) {
    heif_context* context = heif_context_alloc();
    heif_context_read_from_memory_without_copy(context, bytes.data(), bytes.size(), nullptr);
    heif_image_handle* handle = nullptr;
    heif_context_get_primary_image_handle(context, &handle);
    heif_image* image = nullptr;
    heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr);
    benchmark::DoNotOptimize(image);
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
  }
}

void BM_Png_Load(benchmark::State& state) { load(state, inputs().png); }
void BM_Png_LoadNewSize(benchmark::State& state) { load(state, inputs().png, true); }
void BM_Png_DecodeCrop(benchmark::State& state) { decodeCrop(state, inputs().png); }
void BM_Png_BareDecode(benchmark::State& state) {
  const fixtures::Bytes& bytes = inputs().pngBytes;
  for (auto _ : state) {
    std::unique_ptr<unsigned char[]> out(new unsigned char[4000u * 3000u * 4u]);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, bytes.data(), bytes.size());
    image.format = PNG_FORMAT_BGRA;
    png_image_finish_read(&image, nullptr, out.get(), 0, nullptr);
    benchmark::DoNotOptimize(out.get());
  }
}

// Decoded rows in memory, handed over in strips of the size the decoders
// use: what the texture loader gets from a decoder, without the decoding.
class DecodedRows final : public plat::image::Image {
 public:
  DecodedRows(int width, int height) : width_(width), height_(height), rows_(std::size_t(width) * height * 4, 0x5A) {}
  int width() const override { return width_; }
  int height() const override { return height_; }
  const std::vector<std::uint8_t>& bytes() const { return rows_; }
  static constexpr std::size_t kStripBytes = std::size_t{512} << 10;

 protected:
  plat::ErrorOr<plat::image::PixelView> decodedPixels() const override {
    return plat::image::PixelView{rows_.data(), width_, height_, std::size_t(width_) * 4,
                                  plat::image::PixelOrder::BGRA};
  }
  plat::ErrorOr<void> rowsInRect(int x, int y, int w, int h, plat::image::RowSink& sink) const override {
    const std::size_t rowBytes = std::size_t(width_) * 4;
    const int strip = std::max(1, static_cast<int>(kStripBytes / rowBytes));
    for (int top = 0; top < h; top += strip) {
      const plat::image::PixelView view{rows_.data() + (std::size_t(y + top)) * rowBytes + std::size_t(x) * 4, w,
                                        std::min(strip, h - top), rowBytes, plat::image::PixelOrder::BGRA};
      if (auto taken = sink.take(view, top); !taken) return taken;
    }
    return {};
  }

 private:
  int width_, height_;
  std::vector<std::uint8_t> rows_;
};

constexpr int kUploadWidth = 4000, kUploadHeight = 3000;

const DecodedRows& decodedRows() {
  static const DecodedRows rows(kUploadWidth, kUploadHeight);
  return rows;
}

// One row less: a texture of another size.
const DecodedRows& otherDecodedRows() {
  static const DecodedRows rows(kUploadWidth, kUploadHeight - 1);
  return rows;
}

// The rows into a texture, as each picture gets one: the texture of the
// picture before filled again, or with `newSize` a new one each time.
void upload(benchmark::State& state, bool newSize) {
  Inputs& in = inputs();
  if (!in.loader) {
    state.SkipWithError("no GPU device");
    return;
  }
  const DecodedRows& rows = decodedRows();
  bool other = false;
  for (auto _ : state) {
    auto texture = in.loader->newTextureWithImage(other ? otherDecodedRows() : rows, {});
    other = newSize && !other;
    if (!texture) {
      state.SkipWithError("upload failed");
      return;
    }
    benchmark::DoNotOptimize(texture);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * std::int64_t(rows.bytes().size()));
}
void BM_Upload_Texture(benchmark::State& state) { upload(state, false); }
void BM_Upload_TextureNewSize(benchmark::State& state) { upload(state, true); }

// The same bytes into new memory: the copy every new texture needs at least.
void BM_Upload_Memcpy(benchmark::State& state) {
  const std::vector<std::uint8_t>& bytes = decodedRows().bytes();
  for (auto _ : state) {
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[bytes.size()]);
    std::memcpy(out.get(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(out.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * std::int64_t(bytes.size()));
}

// And into memory that is already there: the copy alone.
void BM_Upload_MemcpyWarm(benchmark::State& state) {
  const std::vector<std::uint8_t>& bytes = decodedRows().bytes();
  std::vector<std::uint8_t> out(bytes.size(), 0);
  for (auto _ : state) {
    std::memcpy(out.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * std::int64_t(bytes.size()));
}

BENCHMARK(BM_Jpeg_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jpeg_LoadNewSize)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jpeg_DecodeCrop)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jpeg_BareDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Heic_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Heic_LoadNewSize)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Heic_DecodeCrop)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Heic_BareDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Png_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Png_LoadNewSize)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Png_DecodeCrop)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Png_BareDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Upload_Texture)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Upload_TextureNewSize)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Upload_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Upload_MemcpyWarm)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
