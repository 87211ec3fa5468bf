// Hours of the feedback loop compressed into 20,000 frames of 3 s slots, with the demo pictures and with none.
#include <cstdio>

#include "look/look_support.h"

namespace {

using namespace looktest;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kFrames = 5000;
#else
constexpr int kFrames = 20000;
#endif
constexpr int kW = 160, kH = 100;

class LongRun : public Look {
 protected:
  // Reads back every 50th frame after the first 10 s; `last` is one second into an effect-free 14 s slot.
  void run(const std::vector<std::string>& pictures) {
    useSamples(pictures);
    view = makeView(kW, kH);
    ASSERT_NO_FATAL_FAILURE(requireRenderer(view));
    quelltrine::settings::storeInterval(3.0);
    auto target = renderTarget(*view->device, kW, kH);
    Grid previous;
    for (int i = 1; i <= kFrames + 30; ++i) {
      if (i == kFrames + 1) {
        quelltrine::settings::storeInterval(14.0);
        view->slot = {0, false, view->t - 1.0};
      }
      view->t += 1.0 / 30.0;
      view->renderFrame(target);
      if (i % 50 != 0 || i < 300 || i > kFrames) continue;
      const Frame f = readBack(*target);
      const Grid px = lumaGrid(f, kW, kH), g = lumaGrid(f, 40, 25);
      const double m = mean(px), spread = std::sqrt(std::max(cov(px, px), 0.0));  // luminance 0..255
      minMean = std::min(minMean, m), maxMean = std::max(maxMean, m);
      minSpread = std::min(minSpread, spread), maxSpread = std::max(maxSpread, spread);
      if (!previous.empty()) minChange = std::min(minChange, meanAbsDiff(g, previous));
      previous = g;
    }
    last = readBack(*target);
    std::printf("%d frames: mean %.1f..%.1f, spread %.1f..%.1f, least change per 50 frames %.2f\n", kFrames, minMean,
                maxMean, minSpread, maxSpread, minChange);
  }
  std::shared_ptr<quelltrine::QuelltrineSaverView> view;
  Frame last;
  double minMean = 1e9, maxMean = -1e9, minSpread = 1e9, maxSpread = -1e9, minChange = 1e9;
};

TEST_F(LongRun, WithPicturesTheLoopNeitherWashesOutNorFadesNorFreezes) {
  ASSERT_NO_FATAL_FAILURE(run({"landscape.jpg", "lake-at-dusk.jpg", "soft-lights.jpg", "shapes.png", "aurora.png"}));
  // Every slot effect included, the frame stays inside the pictures' range (measured 11.8 to 195).
  EXPECT_GT(minMean, 8.0);
  EXPECT_LT(maxMean, 235.0);
  EXPECT_GT(minSpread, 4.0);   // never a flat field
  EXPECT_GT(minChange, 0.05);  // never frozen
  EXPECT_GT(pearson(lumaGrid(last, 40, 25), lumaGrid(readBack(*view->texA), 40, 25)), 0.7) << "final frame vs picture";
}

TEST_F(LongRun, WithTheFallbackTexelAloneTheLoopStaysVioletAndAlive) {
  ASSERT_NO_FATAL_FAILURE(run({}));
  // Effects may dim or grey the flat texel (measured 0.4 to 109); once the slot ends it is violet again.
  EXPECT_GT(minMean, 0.1);
  EXPECT_LT(maxMean, 130.0);
  EXPECT_LT(maxSpread, 20.0);
  EXPECT_GT(minChange, 0.0);  // the light keeps breathing
  const std::uint8_t* p = last.at(kW / 2, kH / 2);
  EXPECT_GT(p[0], p[1] + 10) << "blue";
  EXPECT_GT(p[2], p[1] + 5) << "red";
}

}  // namespace
