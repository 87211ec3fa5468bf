// Loading the next picture without a GPU: the crop maths, and the attempt
// loop (cycles, the attempt limit, failing and vanished files) driven with a
// recording upload in place of the texture loader. Each picture file is one
// solid colour whose red value names it, so the recorded crops tell which
// file every attempt opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>

#include "image/fixtures.h"
#include "image/pixels.h"
#include "sys/test_random.h"
#include "playlist/texture_loading.h"

namespace {

namespace fs = std::filesystem;
using plat::image::Image;
using plat::ui::Size;
using quelltrine::Playlist;

using ScriptedRandom = qtest::SeededRandom;  // predictable draws

struct Upload {
  int width = 0, height = 0;
  fixtures::Rgba first;  // the crop's top-left pixel
};

// The upload step of the loop: records what it was given, and succeeds
// unless told to fail.
struct Recorder {
  std::vector<Upload> uploads;
  bool succeed = true;
  std::shared_ptr<int> operator()(const Image& crop) {
    Upload u{crop.width(), crop.height(), {}};
    auto pixels = crop.pixels();
    if (!pixels) return nullptr;
    u.first = fixtures::at(*pixels, 0, 0);
    uploads.push_back(u);
    return succeed ? std::make_shared<int>(1) : nullptr;
  }
};

class TextureLoadingTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quelltrine-load-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A 16x10 picture (the 1.6 ratio, so it is used whole) of one colour whose
  // red value is 20 * (id + 1).
  std::string solid(int id) {
    fixtures::Bytes rgba(16 * 10 * 4);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
      rgba[i] = static_cast<std::uint8_t>(20 * (id + 1));
      rgba[i + 1] = 7;
      rgba[i + 2] = 9;
      rgba[i + 3] = 255;
    }
    const std::string path = (dir_ / ("p" + std::to_string(id) + ".png")).string();
    EXPECT_TRUE(fixtures::writeFile(path, fixtures::png(rgba, 16, 10, fixtures::PngKind::Rgb)));
    return path;
  }
  std::string broken(int id) {
    const std::string path = (dir_ / ("b" + std::to_string(id) + ".jpg")).string();
    EXPECT_TRUE(fixtures::writeFile(path, {'n', 'o', 'p', 'e'}));
    return path;
  }
  static int idOf(const Upload& u) { return u.first.r / 20 - 1; }

  fs::path dir_;
};

TEST(CropMaths, CentredCropToTheViewsRatio) {
  struct Case {
    double w, h, aspect;
    plat::image::PixelRect want;
  };
  const Case cases[] = {
      {400, 300, 1.6, {0, 25, 400, 250}},   // taller than the view: strips off top and bottom
      {300, 100, 1.6, {70, 0, 160, 100}},   // wider than the view: strips off left and right
      {320, 200, 1.6, {0, 0, 320, 200}},    // equal ratio: used whole
      {100, 100, 0.5, {25, 0, 50, 100}},
  };
  for (const Case& c : cases) {
    const plat::image::PixelRect r = quelltrine::centredCrop(c.w, c.h, c.aspect);
    EXPECT_DOUBLE_EQ(r.x, c.want.x);
    EXPECT_DOUBLE_EQ(r.y, c.want.y);
    EXPECT_DOUBLE_EQ(r.width, c.want.width);
    EXPECT_DOUBLE_EQ(r.height, c.want.height);
  }
  EXPECT_DOUBLE_EQ(quelltrine::viewAspectRatio({160, 100}), 1.6);
  EXPECT_DOUBLE_EQ(quelltrine::viewAspectRatio({0, 100}), 1.6);
  EXPECT_DOUBLE_EQ(quelltrine::viewAspectRatio({-5, 100}), 1.6);
  EXPECT_DOUBLE_EQ(quelltrine::viewAspectRatio({1920, 1080}), 1920.0 / 1080.0);
  EXPECT_TRUE(std::isinf(quelltrine::viewAspectRatio({160, 0})));
}

TEST_F(TextureLoadingTest, CropFillsTheViewWithoutScaling) {
  const fixtures::Bytes tall = fixtures::gradient(400, 300);
  const fixtures::Bytes wide = fixtures::gradient(300, 100);
  const std::string tallPath = (dir_ / "tall.png").string(), widePath = (dir_ / "wide.png").string();
  ASSERT_TRUE(fixtures::writeFile(tallPath, fixtures::png(tall, 400, 300, fixtures::PngKind::Rgb)));
  ASSERT_TRUE(fixtures::writeFile(widePath, fixtures::png(wide, 300, 100, fixtures::PngKind::Rgb)));
  auto pixel = [](const fixtures::Bytes& rgba, int width, int x, int y) {
    const std::uint8_t* p = rgba.data() + (std::size_t(y) * width + x) * 4;
    return fixtures::Rgba{p[0], p[1], p[2], p[3]};
  };
  struct Case {
    std::string path;
    Size view;
    int w, h;
    fixtures::Rgba first;
  };
  const Case cases[] = {
      {tallPath, {160, 100}, 400, 250, pixel(tall, 400, 0, 25)},
      {widePath, {160, 100}, 160, 100, pixel(wide, 300, 70, 0)},
      {tallPath, {0, 100}, 400, 250, pixel(tall, 400, 0, 25)},  // no width: ratio 1.6
      {tallPath, {4, 3}, 400, 300, pixel(tall, 400, 0, 0)},     // equal ratio: whole
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " in " + std::to_string(c.view.width) + "x" + std::to_string(c.view.height));
    Playlist playlist{{c.path}, {0}, 0};
    ScriptedRandom rng(1);
    Recorder recorder;
    ASSERT_TRUE(quelltrine::loadNextWith(playlist, c.view, rng, recorder));
    ASSERT_EQ(recorder.uploads.size(), 1u);
    EXPECT_EQ(recorder.uploads[0].width, c.w);
    EXPECT_EQ(recorder.uploads[0].height, c.h);
    EXPECT_TRUE(fixtures::near(recorder.uploads[0].first, c.first, 0)) << recorder.uploads[0].first;
  }
}

// A view of positive width and zero height has an infinite ratio and an
// empty crop: the attempt fails (without reaching the upload) and uses its turn.
TEST_F(TextureLoadingTest, ZeroHeightViewFailsEveryAttempt) {
  Playlist playlist{{solid(0), solid(1)}, {0, 1}, 0};
  ScriptedRandom rng(2);
  Recorder recorder;
  EXPECT_FALSE(quelltrine::loadNextWith(playlist, {160, 0}, rng, recorder));
  EXPECT_TRUE(recorder.uploads.empty());
  EXPECT_EQ(playlist.orderPos, 2);
}

TEST_F(TextureLoadingTest, NoPicturesLeavesTheOrderAlone) {
  Playlist playlist{{}, {3, 1}, 1};  // stale fields must not be touched
  ScriptedRandom rng(3);
  Recorder recorder;
  EXPECT_FALSE(quelltrine::loadNextWith(playlist, {160, 100}, rng, recorder));
  EXPECT_EQ(playlist.order, (std::vector<std::int64_t>{3, 1}));
  EXPECT_EQ(playlist.orderPos, 1);
  EXPECT_FALSE(quelltrine::loadNextTexture(playlist, nullptr, {160, 100}, rng));
  EXPECT_EQ(playlist.orderPos, 1);
}

// One picture: every call finds the cycle used up, deals a cycle of one and
// opens the file afresh (a changed file shows its new content).
TEST_F(TextureLoadingTest, SinglePictureIsReopenedOnEveryCall) {
  const std::string path = solid(0);
  Playlist playlist{{path}, {0}, 0};
  ScriptedRandom rng(4);
  Recorder recorder;
  ASSERT_TRUE(quelltrine::loadNextWith(playlist, {160, 100}, rng, recorder));
  EXPECT_EQ(playlist.orderPos, 1);
  fs::rename(solid(3), path);
  ASSERT_TRUE(quelltrine::loadNextWith(playlist, {160, 100}, rng, recorder));
  EXPECT_EQ(playlist.order, (std::vector<std::int64_t>{0}));
  EXPECT_EQ(playlist.orderPos, 1);
  ASSERT_EQ(recorder.uploads.size(), 2u);
  EXPECT_EQ(idOf(recorder.uploads[0]), 0);
  EXPECT_EQ(idOf(recorder.uploads[1]), 3);
}

// Three pictures, the last position of the cycle failing: the next attempt
// deals a new cycle and takes its first position (and, should that be the
// failing picture again, its second).
TEST_F(TextureLoadingTest, FailureAtTheCyclesEndDealsANewCycleMidCall) {
  for (std::uint64_t seed = 10; seed < 20; ++seed) {
    SCOPED_TRACE(seed);
    Playlist playlist{{solid(0), solid(1), broken(2)}, {1, 0, 2}, 2};
    ScriptedRandom rng(seed);
    ScriptedRandom copy(seed);
    const std::vector<std::int64_t> fresh = plat::sys::freshPlayOrder(3, copy);
    Recorder recorder;
    ASSERT_TRUE(quelltrine::loadNextWith(playlist, {160, 100}, rng, recorder));
    EXPECT_EQ(playlist.order, fresh);
    const std::size_t taken = fresh[0] == 2 ? 1 : 0;
    EXPECT_EQ(playlist.orderPos, static_cast<std::int64_t>(taken + 1));
    ASSERT_EQ(recorder.uploads.size(), 1u);
    EXPECT_EQ(idOf(recorder.uploads[0]), fresh[taken]);
  }
}

// Eight pictures, none of which uploads: five attempts, the position moving
// five places and wrapping into a new cycle.
TEST_F(TextureLoadingTest, FiveAttemptsAtMostWrappingIntoANewCycle) {
  Playlist playlist;
  for (int i = 0; i < 8; ++i) playlist.imageURLs.push_back(solid(i));
  const std::vector<std::int64_t> old = {7, 2, 5, 0, 1, 6, 3, 4};
  playlist.order = old;
  playlist.orderPos = 5;
  ScriptedRandom rng(5);
  ScriptedRandom copy(5);
  const std::vector<std::int64_t> fresh = plat::sys::freshPlayOrder(8, copy);
  Recorder recorder;
  recorder.succeed = false;
  EXPECT_FALSE(quelltrine::loadNextWith(playlist, {160, 100}, rng, recorder));
  ASSERT_EQ(recorder.uploads.size(), 5u);
  const std::int64_t expected[5] = {old[5], old[6], old[7], fresh[0], fresh[1]};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(idOf(recorder.uploads[i]), expected[i]) << "attempt " << i;
  EXPECT_EQ(playlist.order, fresh);
  EXPECT_EQ(playlist.orderPos, 2);
}

TEST_F(TextureLoadingTest, UndecodableFilesUseTheirTurns) {
  Playlist playlist;
  for (int i = 0; i < 8; ++i) playlist.imageURLs.push_back(broken(i));
  playlist.order = {0, 1, 2, 3, 4, 5, 6, 7};
  ScriptedRandom rng(6);
  Recorder recorder;
  EXPECT_FALSE(quelltrine::loadNextWith(playlist, {160, 100}, rng, recorder));
  EXPECT_TRUE(recorder.uploads.empty());
  EXPECT_EQ(playlist.orderPos, 5);
  EXPECT_EQ(playlist.order, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6, 7}));

  // With fewer than five pictures the limit is their number.
  Playlist two{{broken(8), broken(9)}, {1, 0}, 0};
  EXPECT_FALSE(quelltrine::loadNextWith(two, {160, 100}, rng, recorder));
  EXPECT_EQ(two.orderPos, 2);
  EXPECT_EQ(two.order, (std::vector<std::int64_t>{1, 0}));
}

// A file gone since the scan, a FIFO and a folder under picture names are
// skipped at once, and the next picture loads.
TEST_F(TextureLoadingTest, VanishedAndSpecialEntriesAreSkipped) {
  const std::string gone = solid(0);
  const std::string fifo = (dir_ / "x.jpg").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = (dir_ / "holiday.png").string();
  fs::create_directory(folder);
  Playlist playlist{{gone, fifo, folder, solid(3)}, {0, 1, 2, 3}, 0};
  fs::remove(gone);
  ScriptedRandom rng(7);
  Recorder recorder;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(quelltrine::loadNextWith(playlist, {160, 100}, rng, recorder));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_EQ(recorder.uploads.size(), 1u);
  EXPECT_EQ(idOf(recorder.uploads[0]), 3);
  EXPECT_EQ(playlist.orderPos, 4);
}

// Without a texture loader (no GPU device) every attempt fails quietly.
TEST_F(TextureLoadingTest, NoLoaderMeansNoTexture) {
  Playlist playlist;
  for (int i = 0; i < 7; ++i) playlist.imageURLs.push_back(solid(i));
  playlist.order = {0, 1, 2, 3, 4, 5, 6};
  ScriptedRandom rng(8);
  EXPECT_FALSE(quelltrine::loadNextTexture(playlist, nullptr, {160, 100}, rng));
  EXPECT_EQ(playlist.orderPos, 5);
}

// A negative position cannot come from the image list; it is read as a
// used-up cycle instead of indexing before the order.
TEST_F(TextureLoadingTest, NegativePositionDealsAFreshCycle) {
  Playlist playlist{{solid(0), solid(1)}, {1, 0}, -3};
  ScriptedRandom rng(9);
  ScriptedRandom copy(9);
  const std::vector<std::int64_t> fresh = plat::sys::freshPlayOrder(2, copy);
  Recorder recorder;
  ASSERT_TRUE(quelltrine::loadNextWith(playlist, {160, 100}, rng, recorder));
  EXPECT_EQ(playlist.order, fresh);
  EXPECT_EQ(playlist.orderPos, 1);
  EXPECT_EQ(idOf(recorder.uploads.at(0)), fresh[0]);
}

}  // namespace
