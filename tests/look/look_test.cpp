// The look of the real shader library, rendered through real views on Mesa's
// software rasteriser: a contact sheet of every slot effect on three demo
// pictures (written as an artifact for a person to look at), and what can be
// asserted without taste: each effect is visibly its own, none lets a NaN
// through, an effect at envelope 0 is no effect at all and a weak one is a
// weak change, the picture stays recognisable without a slot effect, and the
// cross-fade shows both pictures half way.
#include <array>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "look/look_support.h"

namespace {

using namespace looktest;
using quelltrine::QuelltrineSaverView;

constexpr int kCellW = 320, kCellH = 200;
constexpr double kFrame = 1.0 / 30.0;
constexpr double kInterval = 14.0;  // the default slot length: nothing is stored
constexpr int kEffects = 12;
const char* kEffectNames[kEffects] = {"none",      "liquid",  "kaleido", "tunnel", "wave",  "boxinator",
                                      "checker",   "heat",    "emboss",  "pixelate", "edge", "lens"};

// Renders `frames` frames with the slot effect held at full envelope (slot
// phase from 0.45 on) and returns the last. The feedback forgets what came
// before within these frames (its gain is below 0.65 per frame).
Frame renderEffect(QuelltrineSaverView& view, const std::shared_ptr<gpu::Texture>& target, std::int64_t effect,
                   bool mirror, double t0, int frames = 45) {
  view.slot.slotEffect = effect;
  view.slot.slotMirror = mirror;
  view.slot.slotStart = t0 - 0.45 * kInterval;
  view.t = t0;
  for (int i = 0; i < frames; ++i) {
    view.t += kFrame;
    view.renderFrame(target);
  }
  return readBack(*target);
}

// ---- the contact sheet ----

// 3x5 pixel glyphs for the cell labels.
const std::array<const char*, 14> kGlyphs = {
    "111101101101111", "010110010010111", "111001111100111", "111001111001111", "101101111001001",
    "111100111001111", "111100111101111", "111001001010010", "111101111101111", "111101111001111",
    "101111111101101" /*M*/, "101101010101101" /*X*/, "000010111010000" /*+*/, "111100110100100" /*F*/};

class Sheet {
 public:
  Sheet(int cols, int rows) : cols_(cols), w_(cols * kCellW), h_(rows * kCellH) {
    px_.assign(static_cast<std::size_t>(w_) * static_cast<std::size_t>(h_) * 4, 0);
    for (std::size_t i = 3; i < px_.size(); i += 4) px_[i] = 255;
  }
  void put(int index, const Frame& f, const std::string& label) {
    const int ox = (index % cols_) * kCellW, oy = (index / cols_) * kCellH;
    for (int y = 0; y < kCellH - 2; ++y)
      for (int x = 0; x < kCellW - 2; ++x)
        std::copy_n(f.at(x, y), 4, &px_[(static_cast<std::size_t>(oy + y) * static_cast<std::size_t>(w_) + static_cast<std::size_t>(ox + x)) * 4]);
    int gx = ox + 6;
    for (char c : label) {
      const int g = c >= '0' && c <= '9' ? c - '0' : c == 'M' ? 10 : c == 'X' ? 11 : c == '+' ? 12 : 13;
      for (int y = -1; y < 16; ++y)
        for (int x = -1; x < 10; ++x) {
          const bool on = x >= 0 && x < 9 && y >= 0 && y < 15 && kGlyphs[static_cast<std::size_t>(g)][(y / 3) * 3 + x / 3] == '1';
          std::uint8_t* p = &px_[(static_cast<std::size_t>(oy + 6 + y) * static_cast<std::size_t>(w_) + static_cast<std::size_t>(gx + x)) * 4];
          p[0] = p[1] = p[2] = on ? 255 : 0;
        }
      gx += 12;
    }
  }
  bool write(const std::string& path) const {
    plat::image::PixelView view{px_.data(), w_, h_, static_cast<std::size_t>(w_) * 4, plat::image::PixelOrder::BGRA};
    return plat::image::writePNG(path, view);
  }

 private:
  int cols_, w_, h_;
  std::vector<std::uint8_t> px_;
};

class Look : public qtest::ViewTest {
 protected:
  // A picture folder holding copies of the named demo pictures.
  void useSamples(const std::vector<std::string>& names) {
    const std::filesystem::path folder = dir() / ("samples" + std::to_string(folders_++));
    std::filesystem::create_directories(folder);
    for (const auto& n : names) std::filesystem::copy_file(samplePath(n), folder / n);
    quelltrine::settings::storeImageFolder(folder);
  }
  std::shared_ptr<QuelltrineSaverView> makeReadyView() {
    auto view = makeView(kCellW, kCellH);
    if (!view || !view->compositePSO || !view->presentPSO || !view->texA) return nullptr;
    return view;
  }
  int folders_ = 0;
};

TEST_F(Look, ContactSheetOfEverySlotEffectMirrorAndCrossFade) {
  const std::vector<std::string> pictures = {"landscape.jpg", "shapes.png", "soft-lights.jpg"};
  Sheet sheet(7, 7);
  int cell = 0;
  for (const auto& name : pictures) {
    SCOPED_TRACE(name);
    useSamples({name});
    auto view = makeReadyView();
    ASSERT_TRUE(view) << "no complete renderer for " << name;
    auto target = renderTarget(*view->device, kCellW, kCellH);
    ASSERT_TRUE(target);

    std::vector<Grid> grids;
    for (int e = 0; e < kEffects; ++e) {
      const Frame f = renderEffect(*view, target, e, false, 100.0);
      sheet.put(cell++, f, std::to_string(e));
      grids.push_back(lumaGrid(f, 160, 100));

      // Neither all black nor all white (a NaN turned to 0 would wipe the
      // frame), and something of the picture's structure is left.
      const Stats s = lumaStats(f);
      EXPECT_GT(s.mean, 12.0) << kEffectNames[e];
      EXPECT_LT(s.mean, 235.0) << kEffectNames[e];
      EXPECT_GT(s.spread, 8.0) << kEffectNames[e];
    }
    sheet.put(cell++, renderEffect(*view, target, 0, true, 100.0), "M");
    sheet.put(cell++, renderEffect(*view, target, 11, false, 110.0), "11+");

    // The frame's own drift over a third of a second with no slot effect
    // (measured 0.7 to 1.7 levels) is the floor an effect must stand well
    // clear of; 2.5 levels is 1 % of the range over the whole frame. The
    // closest pair measured, none/pixelate on the smooth landscape, sits at
    // about 4.4.
    const Grid later = lumaGrid(renderEffect(*view, target, 0, false, 100.0, 55), 160, 100);
    const double floor = meanAbsDiff(grids[0], later);
    const double threshold = std::max(2.0 * floor, 2.5);
    double closest = std::numeric_limits<double>::max();
    std::string closestPair;
    for (int a = 0; a < kEffects; ++a) {
      for (int b = a + 1; b < kEffects; ++b) {
        const double d = meanAbsDiff(grids[static_cast<std::size_t>(a)], grids[static_cast<std::size_t>(b)]);
        EXPECT_GT(d, threshold) << kEffectNames[a] << " vs " << kEffectNames[b];
        if (d < closest) {
          closest = d;
          closestPair = std::string(kEffectNames[a]) + "/" + kEffectNames[b];
        }
      }
    }
    std::printf("%s: drift over 1/3 s %.2f, closest effects %s at %.2f (levels of 255)\n", name.c_str(), floor,
                closestPair.c_str(), closest);

    // Without a slot effect the picture stays recognisable under the
    // feedback, drift and grading (measured: landscape 0.94, shapes 0.90,
    // the small discs of the soft lights, which the trails stretch, 0.80).
    const double r = pearson(grids[0], pictureGrid(samplePath(name), 160, 100));
    std::printf("%s: correlation with the picture, no effect: %.3f\n", name.c_str(), r);
    EXPECT_GT(r, 0.7);
  }

  // Last row: the cross-fade at a quarter, half and three quarters, and the
  // fallback texel alone.
  useSamples({"lake-at-dusk.jpg", "aurora.png"});
  auto view = makeReadyView();
  ASSERT_TRUE(view);
  auto target = renderTarget(*view->device, kCellW, kCellH);
  const Grid a = lumaGrid(readBack(*view->texA), 80, 50);
  const Grid b = lumaGrid(readBack(*view->texB), 80, 50);
  for (double opac : {0.25, 0.5, 0.75}) {
    // opacB = (t - (slotStart + interval - 2.5)) / 2.5
    view->slot.slotEffect = 0;
    view->slot.slotStart = 200.0;
    view->t = 200.0 + kInterval - 2.5 + 2.5 * opac - 30 * kFrame;
    for (int i = 0; i < 30; ++i) {
      view->t += kFrame;
      view->renderFrame(target);
    }
    ASSERT_NEAR(view->uni.opacB, opac, 1e-3);
    const Frame f = readBack(*target);
    sheet.put(cell++, f, "X" + std::to_string(static_cast<int>(opac * 100)));
    if (opac == 0.5) {
      const Grid mid = lumaGrid(f, 80, 50);
      const double ra = pearson(mid, a), rb = pearson(mid, b);
      std::printf("half-way cross-fade: correlation with current %.3f, with next %.3f\n", ra, rb);
      EXPECT_GT(ra, 0.3);
      EXPECT_GT(rb, 0.3);
    }
  }
  useSamples({});
  auto empty = makeReadyView();
  ASSERT_TRUE(empty);
  sheet.put(cell++, renderEffect(*empty, target, 0, false, 100.0), "F");
  sheet.put(cell++, renderEffect(*empty, target, 3, false, 100.0), "F3");

  const std::string dirPath = std::string(QUELLTRINE_BINARY_DIR) + "/artifacts";
  std::filesystem::create_directories(dirPath);
  const std::string path = dirPath + "/contact-sheet.png";
  ASSERT_TRUE(sheet.write(path));
  std::printf("contact sheet: %s\n  rows per picture (landscape, shapes, soft lights): effects 0-6, then 7-11, "
              "mirror (M), lens swung positive (11+); last row: cross-fade at 25/50/75 %% (X), fallback texel (F, F3)\n",
              path.c_str());
}

// Every slot effect and the mirror through the probe library: no fragment
// of either pass may see a NaN or an infinity, at three aspect ratios.
TEST_F(Look, NoSlotEffectProducesNaNAtAnyAspect) {
  useLibrary(probeLibrary());
  useSamples({"landscape.jpg"});
  for (auto [w, h] : std::vector<std::pair<int, int>>{{160, 100}, {64, 256}, {400, 64}}) {
    auto view = makeView(w, h);
    ASSERT_TRUE(view && view->compositePSO && view->presentPSO);
    auto target = renderTarget(*view->device, w, h);
    for (int e = 0; e < kEffects; ++e) {
      for (bool mirror : {false, true}) {
        const Frame f = renderEffect(*view, target, e, mirror, 100.0, 8);
        EXPECT_EQ(magentaPixels(f), 0) << kEffectNames[e] << (mirror ? " mirrored" : "") << " at " << w << "x" << h;
      }
    }
  }
}

// The probe itself works on this driver: a NaN in a parameter the frame step
// never writes shows up as magenta.
TEST_F(Look, TheNaNProbeSeesANaN) {
  useLibrary(probeLibrary());
  useSamples({"landscape.jpg"});
  auto view = makeView(160, 100);
  ASSERT_TRUE(view && view->compositePSO);
  auto target = renderTarget(*view->device, 160, 100);
  view->uni.fade = std::numeric_limits<float>::quiet_NaN();
  const Frame f = renderEffect(*view, target, 0, false, 100.0, 2);
  EXPECT_EQ(magentaPixels(f), 160 * 100);
}

// Envelope 0 is no effect at all: bit for bit the frame of effect 0. A weak
// envelope is a weak change: well below the full effect's.
TEST_F(Look, EffectsVanishAtEnvelopeZeroAndGrowWithIt) {
  useSamples({"shapes.png"});
  auto render = [&](std::int64_t effect, double phase) {
    auto view = makeReadyView();
    EXPECT_TRUE(view);
    if (!view) return Frame{};
    auto target = renderTarget(*view->device, kCellW, kCellH);
    view->slot.slotEffect = effect;
    view->slot.slotMirror = false;
    view->t = 100.0;
    for (int i = 0; i < 20; ++i) {
      view->t += kFrame;
      view->slot.slotStart = view->t - phase * kInterval;  // hold the phase
      view->renderFrame(target);
    }
    return readBack(*target);
  };
  const Frame none = render(0, 0.0);
  const Grid noneGrid = lumaGrid(none, 80, 50);
  for (int e = 1; e < kEffects; ++e) {
    SCOPED_TRACE(kEffectNames[e]);
    EXPECT_EQ(render(e, 0.0).bgra, none.bgra) << "envelope 0 must leave the frame untouched";
    // Phase 0.02 gives an envelope of 0.028, phase 0.5 the full effect.
    const double weak = meanAbsDiff(lumaGrid(render(e, 0.02), 80, 50), noneGrid);
    const double full = meanAbsDiff(lumaGrid(render(e, 0.5), 80, 50), noneGrid);
    std::printf("%-9s difference from none: weak %.2f, full %.2f\n", kEffectNames[e], weak, full);
    EXPECT_LT(weak, 0.25 * full);
    EXPECT_GT(full, 3.0);
  }
}

}  // namespace

namespace {
// The feedback texture is read the same way up as it was written: a frame
// that copies the previous scene must repeat it, not flip it.
const char* kCopyFunctions = R"(
//@function f_composite fragment
in vec2 vUV;
out vec4 o;
uniform sampler2D tex0;
uniform sampler2D tex2;
void main() { o = mono < 0.5 ? texture(tex0, vUV) : texture(tex2, vUV); }
//@function f_present fragment
in vec2 vUV;
out vec4 o;
uniform sampler2D tex0;
void main() { o = texture(tex0, vUV); }
)";

class Orientation : public Look {};

TEST_F(Orientation, FeedbackIsReadTheWayUpItWasWritten) {
  useLibrary(qtest::testLibrary(kCopyFunctions));
  useSamples({"shapes.png"});
  auto view = makeView(160, 100);
  ASSERT_TRUE(view && view->compositePSO);
  auto target = renderTarget(*view->device, 160, 100);
  view->renderFrame(target);
  const Frame picture = readBack(*target);
  view->uni.mono = 1.0f;
  view->renderFrame(target);
  const Frame copied = readBack(*target);
  EXPECT_LT(meanAbsDiff(lumaGrid(picture, 40, 25), lumaGrid(copied, 40, 25)), 1.0);
  EXPECT_GT(pearson(lumaGrid(picture, 40, 25), pictureGrid(samplePath("shapes.png"), 40, 25)), 0.95);
}
}  // namespace
