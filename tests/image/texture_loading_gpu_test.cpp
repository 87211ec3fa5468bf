// Loading through the real texture loader: the crop's size and colours in the right channels; pictures too
// large for the memory refused before decoding; a PNG bomb costs its texture and a strip.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "image/pixels.h"
#include "platform/error_sink.h"
#include "platform/gpu/device.h"
#include "platform/gpu/texture.h"
#include "platform/gpu/texture_loader.h"
#include "platform/sys/memory.h"
#include "playlist/texture_loading.h"

namespace {

using namespace fixtures;

struct Heard final : plat::ErrorSink {
  void failed(const plat::Error& e) override { failures.push_back(e); }
  std::vector<plat::Error> failures;
};

struct PretendMemory {
  explicit PretendMemory(std::uint64_t bytes) { plat::sys::testing::pretendMemoryAvailable(bytes); }
  ~PretendMemory() { plat::sys::testing::pretendMemoryAvailable(std::nullopt); }
};

class TextureLoadingGpuTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(device_) << "no GPU device (EGL with GLES 3) could be had"; }
  std::shared_ptr<plat::gpu::Texture> load(std::vector<std::pair<std::string, Bytes>> files, plat::ui::Size view) {
    quelltrine::Playlist playlist{{}, {}, 0};
    for (const auto& [name, bytes] : files) {
      EXPECT_TRUE(writeFile(dir_ / name, bytes));
      playlist.order.push_back(std::int64_t(playlist.imageURLs.size()));
      playlist.imageURLs.push_back(dir_ / name);
    }
    auto texture = quelltrine::loadNextTexture(playlist, &loader_, view, rng_);
    EXPECT_EQ(playlist.orderPos, std::int64_t(files.size()));
    return texture;
  }
  // The texture's pixel at x, y, read back as B,G,R,A, against `want`.
  static void expect(const plat::gpu::Texture& texture, std::size_t x, std::size_t y, Rgba want, int tolerance) {
    std::uint8_t p[4] = {};
    texture.getBytes(p, 4, plat::gpu::makeRegion(x, y, 1, 1), 0);
    const Rgba got{p[2], p[1], p[0], p[3]};
    EXPECT_TRUE(near(got, want, tolerance)) << x << "," << y << ": " << got;
  }
  static std::pair<std::size_t, std::size_t> size(const plat::gpu::Texture& t) { return {t.width(), t.height()}; }

  std::shared_ptr<plat::gpu::Device> device_ = plat::gpu::createSystemDefaultDevice();
  plat::gpu::TextureLoader loader_{device_};
  plat::sys::SystemRandom rng_;
  TempDir dir_;
  std::shared_ptr<Heard> heard_ = std::make_shared<Heard>();
  plat::ScopedErrorSink scope_{heard_};
};

// 400x300 in a 160x100 view: a 400x250 texture of rows 25 to 274. JPEG decodes to BGRA, PNG to RGBA.
TEST_F(TextureLoadingGpuTest, CroppedPictureArrivesWithItsColours) {
  const Bytes q = quadrants(400, 300);
  const Rgba want[4] = {kTopLeft, kTopRight, kBottomLeft, kBottomRight};
  for (const auto& [name, bytes, tolerance] : {std::tuple{"a.jpg", jpeg(q, 400, 300, JpegKind::Baseline), 12},
                                               {"b.png", png(q, 400, 300, PngKind::Rgb), 0}}) {
    SCOPED_TRACE(name);
    auto texture = load({{name, bytes}}, {160, 100});
    ASSERT_TRUE(texture);
    EXPECT_EQ(size(*texture), (std::pair<std::size_t, std::size_t>{400, 250}));
    for (std::size_t i = 0; i < 4; ++i) expect(*texture, 100 + 200 * (i % 2), 60 + 130 * (i / 2), want[i], tolerance);
  }
  EXPECT_THAT(heard_->failures, ::testing::IsEmpty());
}

// A picture whose texture needs over a quarter of the memory available is skipped unread (the header-only
// file would fail as a PNG); the next picture loads.
TEST_F(TextureLoadingGpuTest, PictureOverAQuarterOfTheMemoryAvailableIsSkippedBeforeDecoding) {
  const PretendMemory memory(64ull << 20);  // a budget of 16 MiB; 3000x2000 needs 30.5 MiB
  const Bytes next = png(quadrants(64, 40), 64, 40, PngKind::Rgb);
  auto texture = load({{"big.png", pngHeaderOnly(3000, 2000)}, {"next.png", next}}, {3000, 2000});
  ASSERT_TRUE(texture);
  EXPECT_EQ(size(*texture), (std::pair<std::size_t, std::size_t>{60, 40}));
  ASSERT_EQ(heard_->failures.size(), 1u);
  EXPECT_EQ(heard_->failures[0].path, dir_ / "big.png");
  EXPECT_EQ(heard_->failures[0].origin, "memory");
}

// What one run of the probe printed: its texture's size, renderer and peak memory.
struct ProbeRun {
  int status = -1;
  std::size_t width = 0, height = 0;
  char renderer[256] = {};
  long peakKb = -1;
};

ProbeRun probe(const std::string& arguments) {
  ProbeRun run;
  FILE* out = ::popen((std::string(QUELLTRINE_MEMORY_PROBE) + " " + arguments).c_str(), "r");
  if (out == nullptr) return run;
  (void)std::fscanf(out, "texture %zu %zu renderer %255[^\n] peak_kb %ld", &run.width, &run.height, run.renderer,
                    &run.peakKb);
  const int status = ::pclose(out);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// A 16384x16384 PNG of black rows (about 780 KB) in a 1280x800 view is a texture of 853 MiB with mipmaps.
// It raises a process's peak memory by less than 1.25 times that: never the decoded picture besides. With a
// software renderer the texture lives in the process, so the rise is at least the texture.
TEST(PictureMemory, APngBombCostsItsTextureAndAStripAboveThePictureFreeProcess) {
  constexpr int kSide = 16384;
  std::uint64_t textureBytes = 0;  // with its mipmap levels, a third more than the picture
  for (std::uint64_t w = kSide, h = 10240; w >= 1 && h >= 1; w /= 2, h /= 2) textureBytes += w * h * 4;
  const auto available = plat::sys::memoryAvailable();
  if (!available || *available / plat::gpu::kPictureMemoryShare < textureBytes) {
    GTEST_SKIP() << "this machine has too little memory available for a texture of 853 MiB";
  }
  TempDir dir;
  ASSERT_TRUE(writeFile(dir / "bomb.png", pngOfZeros(kSide, kSide)));
  const ProbeRun empty = probe("1280 800");
  const ProbeRun loaded = probe("1280 800 " + dir / "bomb.png");
  ASSERT_EQ(empty.status, 0);
  ASSERT_EQ(loaded.status, 0) << "the bomb loads";
  EXPECT_EQ(loaded.width, std::size_t{kSide});
  EXPECT_EQ(loaded.height, 10240u);
  ASSERT_GT(empty.peakKb, 0);
  const double rise = static_cast<double>(loaded.peakKb - empty.peakKb) * 1024.0;
  EXPECT_LT(rise, 1.25 * static_cast<double>(textureBytes)) << "peak " << loaded.peakKb << " kB, without "
                                                            << empty.peakKb << " kB";
  const std::string renderer = loaded.renderer;
  if (renderer.find("llvmpipe") != std::string::npos || renderer.find("softpipe") != std::string::npos) {
    EXPECT_GT(rise, 0.9 * static_cast<double>(textureBytes)) << "the texture is in the process's memory";
  }
}

}  // namespace
