// Loading the next picture without a GPU, with a recording upload: the crop, cycles, the attempt limit,
// failing and vanished files. Each picture is one colour whose red value names it.
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

// Records each crop's width * 1000 + height and top-left pixel; succeeds unless told not to.
struct Recorder {
  std::vector<std::pair<int, Rgba>> uploads;
  bool succeed = true;
  std::shared_ptr<int> operator()(const plat::image::Image& crop) {
    auto pixels = crop.pixels();
    if (!pixels) return nullptr;
    uploads.emplace_back(crop.width() * 1000 + crop.height(), at(*pixels, 0, 0));
    return succeed ? std::make_shared<int>(1) : nullptr;
  }
  std::vector<int> ids() const {
    std::vector<int> out;
    for (const auto& u : uploads) out.push_back(u.second.r / 20 - 1);
    return out;
  }
};

struct Pictures : TempDir {
  // A 16x10 picture of red 20 * (id + 1), or a file that is not a picture.
  std::string solid(int id, bool valid = true) {
    Bytes rgba;
    for (int i = 0; i < 160; ++i) rgba.insert(rgba.end(), {std::uint8_t(20 * (id + 1)), 7, 9, 255});
    const std::string path = *this / (std::to_string(id) + (valid ? ".png" : ".jpg"));
    EXPECT_TRUE(writeFile(path, valid ? png(rgba, 16, 10, PngKind::Rgb) : Bytes{'n', 'o'}));
    return path;
  }
};

// A wide picture in a view with no width (taken as 1.6) is cropped to its centre: 160x100 from x = 70.
TEST(TextureLoading, CentredCropNoPictureAndOnePicture) {
  Pictures dir;
  const Bytes w = gradient(300, 100);
  ASSERT_TRUE(writeFile(dir / "w.png", png(w, 300, 100, PngKind::Rgb)));
  Playlist playlist{{dir / "w.png"}, {0}, 0};
  qtest::SeededRandom rng(2);
  Recorder recorder;
  ASSERT_TRUE(quelltrine::loadNextWith(playlist, {0, 100}, rng, recorder));
  ASSERT_EQ(recorder.uploads.size(), 1u);
  EXPECT_EQ(recorder.uploads[0].first, 160100);
  EXPECT_TRUE(near(recorder.uploads[0].second, {w[280], w[281], w[282], 255}, 0)) << recorder.uploads[0].second;

  // Zero height: an empty crop; every attempt fails before the upload.
  Playlist two{{dir.solid(0), dir.solid(1)}, {0, 1}, 0};
  EXPECT_FALSE(quelltrine::loadNextWith(two, {160, 0}, rng, recorder));
  EXPECT_EQ(recorder.uploads.size(), 1u);
  EXPECT_EQ(two.orderPos, 2);

  Playlist none{{}, {3, 1}, 1};  // stale fields stay untouched
  EXPECT_FALSE(quelltrine::loadNextWith(none, {160, 100}, rng, recorder));
  EXPECT_EQ(none.order, (Ids{3, 1}));
  EXPECT_EQ(none.orderPos, 1);

  // One picture: each call deals a cycle of one and opens the file afresh.
  Playlist one{{dir.solid(0)}, {0}, 0};
  recorder.uploads.clear();
  ASSERT_TRUE(quelltrine::loadNextWith(one, {160, 100}, rng, recorder));
  std::filesystem::rename(dir.solid(3), one.imageURLs[0]);
  ASSERT_TRUE(quelltrine::loadNextWith(one, {160, 100}, rng, recorder));
  EXPECT_EQ(one.order, (Ids{0}));
  EXPECT_EQ(one.orderPos, 1);
  EXPECT_EQ(recorder.ids(), (std::vector<int>{0, 3}));
}

// At most five attempts, across cycles, fewer with fewer pictures; a cycle's last picture failing deals a new
// cycle. A vanished file, a FIFO and a folder under picture names are skipped at once.
TEST(TextureLoading, AttemptsAcrossCyclesAtMostFiveSpecialEntriesSkipped) {
  Pictures dir;
  const std::vector<std::string> files = {dir.solid(10), dir.solid(11), dir.solid(12, false)};
  for (std::uint64_t seed = 10; seed < 20; ++seed) {
    Playlist playlist{files, {1, 0, 2}, 2};
    qtest::SeededRandom rng(seed), copy(seed);
    const Ids fresh = plat::sys::freshPlayOrder(3, copy);
    Recorder recorder;
    ASSERT_TRUE(quelltrine::loadNextWith(playlist, {160, 100}, rng, recorder));
    const std::size_t taken = fresh[0] == 2 ? 1 : 0;
    EXPECT_EQ(playlist.order, fresh);
    EXPECT_EQ(playlist.orderPos, std::int64_t(taken) + 1);
    EXPECT_EQ(recorder.ids(), (std::vector<int>{int(fresh[taken]) + 10}));
  }
  const Ids old = {7, 2, 5, 0, 1, 6, 3, 4};
  Playlist eight{{}, old, 5};
  for (int i = 0; i < 8; ++i) eight.imageURLs.push_back(dir.solid(i));
  qtest::SeededRandom rng(5), copy(5);
  const Ids fresh = plat::sys::freshPlayOrder(8, copy);
  Recorder recorder;
  recorder.succeed = false;
  EXPECT_FALSE(quelltrine::loadNextWith(eight, {160, 100}, rng, recorder));
  EXPECT_EQ(recorder.ids(), (std::vector<int>{int(old[5]), int(old[6]), int(old[7]), int(fresh[0]), int(fresh[1])}));
  EXPECT_EQ(eight.order, fresh);
  EXPECT_EQ(eight.orderPos, 2);

  Playlist two{{dir.solid(8, false), dir.solid(9, false)}, {1, 0}, 0};
  EXPECT_FALSE(quelltrine::loadNextWith(two, {160, 100}, rng, recorder));
  EXPECT_EQ(two.orderPos, 2);
  EXPECT_EQ(two.order, (Ids{1, 0}));

  // Without a texture loader (no GPU device) every attempt fails quietly.
  eight.orderPos = 0;
  EXPECT_FALSE(quelltrine::loadNextTexture(eight, nullptr, {160, 100}, rng));
  EXPECT_EQ(eight.orderPos, 5);

  ASSERT_EQ(mkfifo((dir / "x.jpg").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "holiday.png");
  Playlist special{{dir / "gone.png", dir / "x.jpg", dir / "holiday.png", dir.solid(3)}, {0, 1, 2, 3}, 0};
  recorder = Recorder{};
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(quelltrine::loadNextWith(special, {160, 100}, rng, recorder));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(recorder.ids(), (std::vector<int>{3}));
  EXPECT_EQ(special.orderPos, 4);
}

}  // namespace
