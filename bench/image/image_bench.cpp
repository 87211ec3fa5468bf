// Loading a picture (open, decode, centred crop, upload through the real
// texture loader) against the plain full decode of the same file with each
// library's simplest API: a 24-megapixel JPEG, a 12-megapixel HEIC and a
// large PNG, generated into a temporary folder at start. The view is 16:9,
// so the JPEG's crop leaves out the top and bottom rows, which the loader
// never decodes. Run with LIBGL_ALWAYS_SOFTWARE=1 and no DISPLAY.
#include <benchmark/benchmark.h>
#include <libheif/heif.h>
#include <png.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdio>
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

void load(benchmark::State& state, const std::string& path) {
  Inputs& in = inputs();
  if (!in.loader) {
    state.SkipWithError("no GPU device");
    return;
  }
  plat::sys::SystemRandom rng;
  std::size_t texels = 0;
  for (auto _ : state) {
    quelltrine::Playlist playlist{{path}, {0}, 0};
    auto texture = quelltrine::loadNextTexture(playlist, in.loader.get(), kView, rng);
    if (!texture) {
      state.SkipWithError("load failed");
      return;
    }
    texels = texture->width() * texture->height();
    benchmark::DoNotOptimize(texture);
  }
  state.counters["texels"] = static_cast<double>(texels);
}

// Decode and crop only, without the upload: the share of the GPU upload.
void decodeCrop(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    auto source = plat::image::ImageSource::createWithPath(path).valueOr(nullptr);
    auto image = source ? source->createImageAtIndex(0, {}).valueOr(nullptr) : nullptr;
    auto crop = image ? image->cropped(quelltrine::centredCrop(image->width(), image->height(),
                                                                quelltrine::viewAspectRatio(kView)))
                      : nullptr;
    if (!crop) {
      state.SkipWithError("decode failed");
      return;
    }
    auto pixels = crop->pixels();
    if (!pixels) {
      state.SkipWithError("decode failed");
      return;
    }
    benchmark::DoNotOptimize(pixels->data);
  }
}

void BM_Jpeg_Load(benchmark::State& state) { load(state, inputs().jpeg); }
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

BENCHMARK(BM_Jpeg_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jpeg_DecodeCrop)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jpeg_BareDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Heic_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Heic_DecodeCrop)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Heic_BareDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Png_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Png_DecodeCrop)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Png_BareDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
