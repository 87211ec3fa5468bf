// Loading the next picture without a GPU, with a recording upload: the attempt limit across cycles, failing,
// vanished and special files. Each picture is one colour whose red value names it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "image/pixels.h"
#include "playlist/texture_loading.h"
#include "sys/test_random.h"

namespace {

using namespace fixtures;

using quelltrine::Playlist;
using Ids = std::vector<std::int64_t>;

// Records which picture each crop is; succeeds unless told not to.
struct Recorder {
  std::vector<int> ids;
  bool succeed = true;
  std::shared_ptr<int> operator()(const plat::image::Image& crop) {
    auto pixels = crop.pixels();
    if (!pixels) return nullptr;
    ids.push_back(at(*pixels, 0, 0).r / 20 - 1);
    return succeed ? std::make_shared<int>(1) : nullptr;
  }
};

// A 16x10 picture of red 20 * (id + 1).
std::string solid(const TempDir& dir, int id) {
  Bytes rgba;
  for (int i = 0; i < 160; ++i) rgba.insert(rgba.end(), {std::uint8_t(20 * (id + 1)), 7, 9, 255});
  EXPECT_TRUE(writeFile(dir / (std::to_string(id) + ".png"), png(rgba, 16, 10, PngKind::Rgb)));
  return dir / (std::to_string(id) + ".png");
}

// At most five attempts, across cycles: a cycle's last picture failing deals a new one. A vanished file, a
// FIFO and a folder under picture names are skipped at once.
TEST(TextureLoading, AttemptsAcrossCyclesAtMostFiveSpecialEntriesSkipped) {
  TempDir dir;
  const Ids old = {7, 2, 5, 0, 1, 6, 3, 4};
  Playlist eight{{}, old, 5};
  for (int i = 0; i < 8; ++i) eight.imageURLs.push_back(solid(dir, i));
  qtest::SeededRandom rng(5), copy(5);
  const Ids fresh = plat::sys::freshPlayOrder(8, copy);
  Recorder recorder;
  recorder.succeed = false;
  EXPECT_FALSE(quelltrine::loadNextWith(eight, {160, 100}, rng, recorder));
  EXPECT_EQ(recorder.ids, (std::vector<int>{int(old[5]), int(old[6]), int(old[7]), int(fresh[0]), int(fresh[1])}));
  EXPECT_EQ(eight.order, fresh);
  EXPECT_EQ(eight.orderPos, 2);

  // Without a texture loader (no GPU device) every attempt fails quietly.
  eight.orderPos = 0;
  EXPECT_FALSE(quelltrine::loadNextTexture(eight, nullptr, {160, 100}, rng));
  EXPECT_EQ(eight.orderPos, 5);

  ASSERT_EQ(mkfifo((dir / "x.jpg").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "holiday.png");
  Playlist special{{dir / "gone.png", dir / "x.jpg", dir / "holiday.png", solid(dir, 3)}, {0, 1, 2, 3}, 0};
  recorder = Recorder{};
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(quelltrine::loadNextWith(special, {160, 100}, rng, recorder));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(recorder.ids, (std::vector<int>{3}));
  EXPECT_EQ(special.orderPos, 4);
}

}  // namespace
