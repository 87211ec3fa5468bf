// The real shader library on the software rasteriser: a contact sheet to look at; effects, feedback, cross-fade.
#include <cstdio>
#include <limits>

#include "look/look_support.h"

namespace {

using namespace looktest;

constexpr int kCellW = 320, kCellH = 200, kEffects = 12;
constexpr double kInterval = 14.0;  // the default slot length: nothing is stored
const char* kNames[kEffects] = {"none",    "liquid", "kaleido", "tunnel",   "wave", "boxinator",
                                "checker", "heat",   "emboss",  "pixelate", "edge", "lens"};

// The last of `frames` frames from slot phase `phase` on (0.45: full envelope), or held there.
Frame render(quelltrine::QuelltrineSaverView& view, const std::shared_ptr<gpu::Texture>& target, int effect,
             bool mirror = false, int frames = 45, double phase = 0.45, bool hold = false) {
  view.slot = {effect, mirror, 100.0 - phase * kInterval};
  view.t = 100.0;
  for (int i = 0; i < frames; ++i) {
    view.t += 1.0 / 30.0;
    if (hold) view.slot.slotStart = view.t - phase * kInterval;
    view.renderFrame(target);
  }
  return readBack(*target);
}

// Through the NaN probe. Rows: per picture, effects 0-11 and effect 0 mirrored; then the cross-fade half way.
TEST_F(Look, ContactSheetOfEverySlotEffectMirrorAndCrossFade) {
  useLibrary(probeLibrary());
  constexpr int kCols = kEffects + 1, kRowBytes = kCols * kCellW * 4;
  std::vector<std::uint8_t> sheet(kRowBytes * 4 * kCellH, 255);
  auto put = [&](int cell, const Frame& f) {
    for (int y = 0; y < kCellH - 2; ++y)
      std::copy_n(f.at(0, y), (kCellW - 2) * 4,
                  &sheet[((cell / kCols) * kCellH + y) * kRowBytes + (cell % kCols) * kCellW * 4]);
  };
  int cell = 0;
  for (const std::string name : {"landscape.jpg", "shapes.png", "soft-lights.jpg"}) {
    SCOPED_TRACE(name);
    useSamples({name});
    auto view = makeView(kCellW, kCellH);
    ASSERT_NO_FATAL_FAILURE(requireRenderer(view));
    auto target = renderTarget(*view->device, kCellW, kCellH);
    std::vector<Grid> grids;
    for (int e = 0; e <= kEffects; ++e) {
      const Frame f = render(*view, target, e % kEffects, e == kEffects);
      put(cell++, f);
      grids.push_back(lumaGrid(f, 160, 100));
      EXPECT_EQ(magentaPixels(f), 0) << e;
    }
    // Every effect differs from every other by more than the frame's own drift over 1/3 s (measured 0.7 to 2).
    const double floor = meanAbsDiff(grids[0], lumaGrid(render(*view, target, 0, false, 55), 160, 100));
    for (int a = 0; a < kEffects; ++a)
      for (int b = a + 1; b < kEffects; ++b)
        EXPECT_GT(meanAbsDiff(grids[a], grids[b]), std::max(2.0 * floor, 2.5)) << kNames[a] << " vs " << kNames[b];
    // Without effect the picture stays recognisable (measured 0.80 to 0.94).
    const double r = pearson(grids[0], pictureGrid(samplePath(name), 160, 100));
    std::printf("%s: drift %.2f levels, no effect vs picture r=%.3f\n", name.c_str(), floor, r);
    EXPECT_GT(r, 0.7);
  }

  // After a second of cross-fade, opacB = (t - (slotStart + interval - 2.5)) / 2.5 is a half.
  useSamples({"lake-at-dusk.jpg", "aurora.png"});
  auto view = makeView(kCellW, kCellH);
  ASSERT_NO_FATAL_FAILURE(requireRenderer(view));
  ASSERT_TRUE(view->texB);
  const Frame mid = render(*view, renderTarget(*view->device, kCellW, kCellH), 0, false, 30, 11.75 / kInterval);
  ASSERT_NEAR(view->uni.opacB, 0.5, 1e-3);
  put(cell, mid);
  EXPECT_GT(pearson(lumaGrid(mid, 80, 50), lumaGrid(readBack(*view->texA), 80, 50)), 0.3);
  EXPECT_GT(pearson(lumaGrid(mid, 80, 50), lumaGrid(readBack(*view->texB), 80, 50)), 0.3);
  std::filesystem::create_directories(QUELLTRINE_BINARY_DIR "/artifacts");
  const std::string path = QUELLTRINE_BINARY_DIR "/artifacts/contact-sheet.png";
  ASSERT_TRUE(plat::image::writePNG(path, {sheet.data(), kCols * kCellW, 4 * kCellH, kRowBytes}));
  std::printf("contact sheet: %s\n", path.c_str());
}

// No NaN or infinity reaches a fragment, for any effect, mirrored or not, at three aspect ratios (and the probe
// does see one). At envelope 0 an effect is no effect, bit for bit.
TEST_F(Look, EffectsLetNoNaNThroughAndVanishAtEnvelopeZero) {
  useLibrary(probeLibrary());
  useSamples({"landscape.jpg"});
  for (auto [w, h] : std::vector<std::pair<int, int>>{{160, 100}, {64, 256}, {400, 64}}) {
    auto view = makeView(w, h);
    ASSERT_NO_FATAL_FAILURE(requireRenderer(view));
    auto target = renderTarget(*view->device, w, h);
    for (int e = 0; e < 2 * kEffects; ++e)
      EXPECT_EQ(magentaPixels(render(*view, target, e / 2, e % 2, 8)), 0)
          << kNames[e / 2] << " mirror " << e % 2 << " at " << w << "x" << h;
    view->uni.fade = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(magentaPixels(render(*view, target, 0, false, 2)), w * h) << "the probe must see a NaN";
  }
  std::vector<std::uint8_t> none;
  for (int e = 0; e < kEffects; ++e) {
    auto view = makeView(160, 100);
    ASSERT_NO_FATAL_FAILURE(requireRenderer(view));
    const Frame f = render(*view, renderTarget(*view->device, 160, 100), e, false, 20, 0.0, true);
    if (e == 0) none = f.bgra;
    EXPECT_EQ(f.bgra, none) << kNames[e] << " at envelope 0";
  }
}

// The lean composites leave out only what cannot show: for every slot effect, before, during and at the
// end of the cross-fade, a view that has them draws the frames of a view that has only the full composite, byte for
// byte (their first frame draws every composite once); and each does leave its term out.
TEST_F(Look, LeanCompositesDrawTheFramesOfTheFullOne) {
  useSamples({"lake-at-dusk.jpg", "aurora.png"});
  auto lean = makeView(160, 100), full = makeView(160, 100);
  ASSERT_NO_FATAL_FAILURE(requireRenderer(lean));
  ASSERT_NO_FATAL_FAILURE(requireRenderer(full));
  ASSERT_TRUE(lean->texB);
  for (std::size_t i = 0; i < lean->compositeLeanPSO.size(); ++i)
    ASSERT_TRUE(lean->compositeLeanPSO[i]) << "lean composite " << i;
  full->compositeLeanPSO = {};
  full->texA = lean->texA;  // the same pictures in the same order
  full->texB = lean->texB;
  auto leanTarget = renderTarget(*lean->device, 160, 100), fullTarget = renderTarget(*full->device, 160, 100);
  auto same = [&](int effect, double phase) {
    const Frame a = render(*lean, leanTarget, effect, false, 4, phase);
    return a.bgra == render(*full, fullTarget, effect, false, 4, phase).bgra;
  };
  // Phases: full envelope; the fade with the effect falling away; the fade alone.
  for (int effect = 0; effect < kEffects; ++effect)
    for (double phase : {0.45, 0.9, 0.99}) EXPECT_TRUE(same(effect, phase)) << kNames[effect] << " at phase " << phase;

  // Drawn where its term shows, a lean composite draws another frame (from fresh scenes in both views).
  const auto built = lean->compositeLeanPSO;
  auto drawnWith = [&](std::size_t chosen, std::size_t instead, int effect, double phase) {
    lean->compositeLeanPSO = built;
    lean->compositeLeanPSO[chosen] = built[instead];
    lean->sceneTex.clear();
    full->sceneTex.clear();
    return !same(effect, phase);
  };
  EXPECT_TRUE(drawnWith(1, 0, 0, 0.99)) << "the fade without the next picture";
  EXPECT_TRUE(drawnWith(2, 0, 8, 0.45)) << "emboss without its relief";
  EXPECT_TRUE(drawnWith(0, 2, 5, 0.45)) << "boxes without the warp";
}

// A frame that copies the previous scene repeats it, not flipped.
TEST_F(Look, FeedbackIsReadTheWayUpItWasWritten) {
  useLibrary(qtest::testLibrary(
      "//@function f_composite fragment\nin vec2 vUV; out vec4 o; uniform sampler2D tex0, tex2;\n"
      "void main() { o = mono < 0.5 ? texture(tex0, vUV) : texture(tex2, vUV); }\n"
      "//@function f_present fragment\nin vec2 vUV; out vec4 o; uniform sampler2D tex0;\n"
      "void main() { o = texture(tex0, vUV); }\n"));
  useSamples({"shapes.png"});
  auto view = makeView(160, 100);
  ASSERT_NO_FATAL_FAILURE(requireRenderer(view));
  auto target = renderTarget(*view->device, 160, 100);
  view->renderFrame(target);
  const Grid picture = lumaGrid(readBack(*target), 40, 25);
  view->uni.mono = 1.0f;
  view->renderFrame(target);
  EXPECT_LT(meanAbsDiff(picture, lumaGrid(readBack(*target), 40, 25)), 1.0);
  EXPECT_GT(pearson(picture, pictureGrid(samplePath("shapes.png"), 40, 25)), 0.95);
}

}  // namespace
