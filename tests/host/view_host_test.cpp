// The view under its host: both initialisers, ticks and the clock, start and
// stop, drawing, the runtime's view of the class, and the options window
// with a scripted folder panel.
#include <cmath>
#include <filesystem>
#include <fstream>

#include "platform/runtime/class_registry.h"
#include "platform/store/screen_saver_defaults.h"
#include "platform/ui/controls.h"
#include "platform/ui/open_panel.h"
#include "platform/ui/window.h"
#include "support/render_fixture.h"

namespace {

using quelltrine::QuelltrineSaverView;
namespace ui = plat::ui;
namespace gpu = plat::gpu;

class ViewLifecycle : public qtest::ViewTest {};

TEST_F(ViewLifecycle, ArchiveAndPreviewViewsEndInTheSameStateAsAFrameView) {
  usePictures({{255, 0, 0}, {0, 0, 255}});
  ui::Coder coder;
  coder.encodeRect(ui::ScreenSaverView::kFrameKey, ui::makeRect(0, 0, 320, 200));
  coder.encodeBool(ui::ScreenSaverView::kIsPreviewKey, true);
  auto archived = QuelltrineSaverView::initWithCoder(coder);
  auto preview = QuelltrineSaverView::initWithFrame(ui::makeRect(0, 0, 320, 200), true);
  auto full = QuelltrineSaverView::initWithFrame(ui::makeRect(0, 0, 320, 200), false);
  for (const auto& view : {archived, preview, full}) {
    ASSERT_TRUE(view);
    EXPECT_DOUBLE_EQ(view->animationTimeInterval(), 1.0 / 30.0);
    EXPECT_TRUE(view->wantsLayer());
    EXPECT_TRUE(std::dynamic_pointer_cast<gpu::MetalLayer>(view->layer()));
    EXPECT_TRUE(view->device);
    EXPECT_TRUE(view->compositePSO);
    EXPECT_TRUE(view->presentPSO);
    EXPECT_TRUE(view->texA);
    EXPECT_TRUE(view->texB);
    EXPECT_EQ(view->playlist.imageURLs.size(), 2u);
    EXPECT_EQ(view->t, 0.0);
    EXPECT_EQ(view->slot.slotStart, 0.0);
    EXPECT_GE(view->slot.slotEffect, 0);
    EXPECT_LE(view->slot.slotEffect, 11);
    EXPECT_EQ(view->bounds().size, (ui::Size{320, 200}));
  }
  EXPECT_TRUE(archived->isPreview());
  EXPECT_TRUE(preview->isPreview());

  // An archive the base class cannot decode yields no view at all.
  ui::Coder broken;
  broken.encodeString(ui::ScreenSaverView::kFrameKey, "not a rectangle");
  EXPECT_FALSE(QuelltrineSaverView::initWithCoder(broken));
}

TEST_F(ViewLifecycle, TicksAdvanceTheNominalClockAndStopStartKeepsEverything) {
  usePictures({{255, 0, 0}, {0, 0, 255}});
  auto view = makeView();
  view->startAnimation();
  EXPECT_TRUE(view->isAnimating());
  double expected = 0.0;
  for (int i = 0; i < 45; ++i) {
    view->animateOneFrame();
    expected += 1.0 / 30.0;
  }
  EXPECT_EQ(view->t, expected) << "the sum of the same additions, bit for bit";
  EXPECT_NEAR(view->t, 1.5, 1e-9);
  EXPECT_FLOAT_EQ(view->uni.time, static_cast<float>(expected));

  auto a = view->texA;
  auto b = view->texB;
  auto slot = view->slot;
  view->stopAnimation();
  EXPECT_FALSE(view->isAnimating());
  view->startAnimation();
  EXPECT_EQ(view->t, expected);
  EXPECT_EQ(view->texA, a);
  EXPECT_EQ(view->texB, b);
  EXPECT_EQ(view->slot.slotEffect, slot.slotEffect);
  EXPECT_EQ(view->slot.slotStart, slot.slotStart);

  // Drawing changes nothing.
  const std::string before(reinterpret_cast<const char*>(&view->uni), sizeof view->uni);
  view->drawRect(ui::makeRect(0, 0, 5, 5));
  view->drawRect(ui::makeRect(-100, -100, 1e9, 1e9));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&view->uni), sizeof view->uni), before);
  EXPECT_EQ(view->t, expected);
}

TEST_F(ViewLifecycle, WithoutDeviceTicksOnWithoutDrawing) {
  gpu::testing::setSystemDeviceUnavailable(true);
  auto view = makeView();
  gpu::testing::setSystemDeviceUnavailable(false);
  ASSERT_TRUE(view);
  view->startAnimation();
  for (int i = 0; i < 30; ++i) view->animateOneFrame();
  EXPECT_NEAR(view->t, 1.0, 1e-9);
  EXPECT_TRUE(view->sceneTex.empty());
  EXPECT_EQ(view->cur, 0);
  EXPECT_FLOAT_EQ(view->uni.feedbackAmt, 0.9f);
}

TEST_F(ViewLifecycle, ReleasingTheViewsFreesEveryGpuObject) {
  usePictures({{255, 0, 0}, {0, 0, 255}});
  const std::size_t before = gpu::testing::liveGLObjectCount();
  {
    auto view = makeView();
    auto target = view->device->newTexture([] {
      auto d = gpu::TextureDescriptor::texture2D(gpu::PixelFormat::BGRA8Unorm, 32, 20, false);
      d.usage = gpu::TextureUsage::ShaderRead | gpu::TextureUsage::RenderTarget;
      return d;
    }());
    for (int i = 0; i < 3; ++i) view->renderFrame(target);
    view->configureSheet();
    EXPECT_GT(gpu::testing::liveGLObjectCount(), before);
  }
  EXPECT_EQ(gpu::testing::liveGLObjectCount(), before);
}

TEST(ViewRuntime, TheClassIsRegisteredWithItsSelectorsInOrder) {
  auto info = plat::rt::ClassRegistry::shared().lookup("QuelltrineSaverView");
  ASSERT_TRUE(info);
  const std::vector<std::string> expected = {
      "initWithFrame:isPreview:", "initWithCoder:", "makeBackingLayer", "startAnimation", "stopAnimation",
      "animateOneFrame", "drawRect:", "debugRenderPNGToPath:frames:", "hasConfigureSheet", "configureSheet",
      "chooseFolder", "closeSheet"};
  EXPECT_EQ(info->selectors, expected);
}

// ---- the options window ----

class OptionsSheet : public qtest::ViewTest {
 protected:
  void TearDown() override {
    ui::OpenPanel::setRunner({});
    ViewTest::TearDown();
  }
  // The controls in the order they were added.
  static std::vector<std::shared_ptr<ui::View>> controls(const ui::Window& window) {
    return window.contentView()->subviews();
  }
  static std::optional<double> storedInterval() {
    auto store = plat::store::ScreenSaverDefaults::defaultsForModuleWithName("com.quelltrine.saver");
    if (!store) return std::nullopt;
    return store->doubleForKey("interval");
  }
  // The store as another process would see it: the file on disk.
  std::string storeFile() const {
    std::string found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir() / "config")) {
      if (e.is_regular_file() && e.path().filename() == "com.quelltrine.saver.conf") {
        found = qtest::readFile(e.path());
      }
    }
    return found;
  }
};

TEST_F(OptionsSheet, TheWindowHasItsGermanControlsInPlace) {
  auto view = makeView();
  ASSERT_TRUE(view->hasConfigureSheet());
  auto window = view->configureSheet();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->title(), "Quelltrine Screensaver");
  EXPECT_EQ(window->contentRect(), ui::makeRect(0, 0, 460, 190));
  EXPECT_EQ(window->styleMask(), 1u);
  EXPECT_EQ(window->backingType(), 2u);
  EXPECT_FALSE(window->isDeferred());

  auto c = controls(*window);
  ASSERT_EQ(c.size(), 6u);
  auto heading = std::dynamic_pointer_cast<ui::TextField>(c[0]);
  auto path = std::dynamic_pointer_cast<ui::TextField>(c[1]);
  auto choose = std::dynamic_pointer_cast<ui::Button>(c[2]);
  auto seconds = std::dynamic_pointer_cast<ui::TextField>(c[3]);
  auto slider = std::dynamic_pointer_cast<ui::Slider>(c[4]);
  auto done = std::dynamic_pointer_cast<ui::Button>(c[5]);
  ASSERT_TRUE(heading && path && choose && seconds && slider && done);
  EXPECT_EQ(heading->stringValue(), "Bilder-Ordner:");
  EXPECT_EQ(heading->frame(), ui::makeRect(20, 140, 120, 20));
  EXPECT_EQ(path->frame(), ui::makeRect(20, 116, 420, 20));
  EXPECT_EQ(path->lineBreakMode(), ui::LineBreakMode::TruncatingMiddle);
  EXPECT_EQ(path->textColor(), "secondaryLabelColor");
  EXPECT_EQ(choose->title(), "Ordner w\xC3\xA4hlen \xE2\x80\xA6");
  EXPECT_EQ(choose->title().size(), 18u);
  EXPECT_EQ(choose->frame(), ui::makeRect(16, 80, 150, 28));
  EXPECT_EQ(choose->action(), "chooseFolder");
  EXPECT_EQ(choose->target().get(), view.get());
  EXPECT_EQ(seconds->stringValue(), "Sekunden pro Bild:");
  EXPECT_EQ(seconds->frame(), ui::makeRect(20, 52, 140, 20));
  EXPECT_EQ(slider->frame(), ui::makeRect(160, 50, 200, 24));
  EXPECT_EQ(slider->minValue(), 5.0);
  EXPECT_EQ(slider->maxValue(), 60.0);
  EXPECT_FALSE(slider->target());
  EXPECT_EQ(done->title(), "Fertig");
  EXPECT_EQ(done->frame(), ui::makeRect(360, 12, 80, 30));
  EXPECT_EQ(done->keyEquivalent(), "\r");
  EXPECT_EQ(done->action(), "closeSheet");

  // An empty store: the fallback folder and 14 seconds.
  EXPECT_EQ(path->stringValue(), dir() / "home/Pictures/Quelltrine Screensaver");
  EXPECT_EQ(slider->doubleValue(), 14.0);
  EXPECT_EQ(view->sheet, window);
  EXPECT_EQ(view->intervalSlider, slider);
  EXPECT_EQ(view->folderLabel, path);
}

TEST_F(OptionsSheet, TheSliderStartsAtTheEffectiveInterval) {
  auto view = makeView();
  quelltrine::settings::storeInterval(2.0);
  EXPECT_EQ(std::dynamic_pointer_cast<ui::Slider>(controls(*view->configureSheet())[4])->doubleValue(), 14.0);
  quelltrine::settings::storeInterval(30.0);
  EXPECT_EQ(std::dynamic_pointer_cast<ui::Slider>(controls(*view->configureSheet())[4])->doubleValue(), 30.0);
}

TEST_F(OptionsSheet, FertigStoresTheSliderValueFlushedAndClosesTheWindow) {
  auto view = makeView();
  auto window = view->configureSheet();
  window->orderFront();
  auto done = std::dynamic_pointer_cast<ui::Button>(controls(*window)[5]);
  done->performClick();  // what Return does too: the key equivalent is "\r"
  EXPECT_EQ(storedInterval(), 14.0) << "an untouched slider stores its starting value";
  EXPECT_NE(storeFile().find("interval"), std::string::npos) << "flushed to disk at once";
  EXPECT_FALSE(window->isVisible());

  // A moved slider stores its fractional value as reported; the frame loop
  // reads it at its next frame.
  window = view->configureSheet();
  window->orderFront();
  view->intervalSlider->setDoubleValue(7.25);
  std::dynamic_pointer_cast<ui::Button>(controls(*window)[5])->performClick();
  EXPECT_EQ(storedInterval(), 7.25);
  EXPECT_EQ(quelltrine::settings::effectiveInterval(), 7.25);
  EXPECT_TRUE(view->sheet) << "the fields are not cleared";
}

TEST_F(OptionsSheet, ClosingBeforeAnyWindowStoresNothing) {
  auto view = makeView();
  view->closeSheet();
  EXPECT_EQ(storedInterval().value_or(0.0), 0.0);
}

TEST_F(OptionsSheet, ChoosingAFolderStoresRescansAndReloadsAtOnce) {
  auto view = makeView();
  auto window = view->configureSheet();
  ASSERT_EQ(view->texA, view->fallbackTex);

  const std::string chosen = dir() / "chosen folder";
  std::filesystem::create_directories(chosen);
  qtest::writeSolidPng(chosen + "/a.png", 40, 25, {255, 0, 0});
  qtest::writeSolidPng(chosen + "/b.png", 40, 25, {0, 255, 0});
  std::string startedAt;
  ui::OpenPanel::setRunner([&](ui::OpenPanel& panel) {
    startedAt = panel.directoryURL();
    EXPECT_TRUE(panel.canChooseDirectories());
    EXPECT_FALSE(panel.canChooseFiles());
    EXPECT_FALSE(panel.allowsMultipleSelection());
    panel.setURLs({chosen});
    return ui::kModalResponseOK;
  });
  const auto slot = view->slot;
  const double t = view->t;
  std::dynamic_pointer_cast<ui::Button>(controls(*window)[2])->performClick();

  EXPECT_EQ(startedAt, dir() / "home/Pictures/Quelltrine Screensaver");
  EXPECT_EQ(quelltrine::settings::imageFolderPath(), chosen);
  EXPECT_NE(storeFile().find("chosen folder"), std::string::npos) << "flushed before and without Fertig";
  EXPECT_EQ(view->folderLabel->stringValue(), chosen);
  EXPECT_EQ(view->playlist.imageURLs.size(), 2u);
  EXPECT_NE(view->texA, view->fallbackTex);
  EXPECT_NE(view->texB, view->texA);
  EXPECT_EQ(view->slot.slotStart, slot.slotStart);
  EXPECT_EQ(view->slot.slotEffect, slot.slotEffect);
  EXPECT_EQ(view->t, t);

  // The same folder again: rescanned, two fresh pictures.
  auto oldA = view->texA;
  view->playlist.orderPos = 1;
  std::dynamic_pointer_cast<ui::Button>(controls(*window)[2])->performClick();
  EXPECT_NE(view->texA, oldA);
  EXPECT_EQ(view->playlist.orderPos, 2);

  // A folder with nothing loadable: both sources become the fallback.
  const std::string empty = dir() / "empty";
  std::filesystem::create_directories(empty);
  ui::OpenPanel::setRunner([&](ui::OpenPanel& panel) {
    panel.setURLs({empty});
    return ui::kModalResponseOK;
  });
  view->chooseFolder();
  EXPECT_EQ(view->texA, view->fallbackTex);
  EXPECT_EQ(view->texB, view->fallbackTex);
}

TEST_F(OptionsSheet, CancellingThePanelChangesNothing) {
  const std::string folder = usePictures({{255, 0, 0}});
  auto view = makeView();
  view->configureSheet();
  auto a = view->texA;
  const std::string label = view->folderLabel->stringValue();
  ui::OpenPanel::setRunner([&](ui::OpenPanel& panel) {
    panel.setURLs({dir() / "elsewhere"});
    return ui::kModalResponseCancel;
  });
  view->chooseFolder();
  // OK without any URL changes nothing either.
  ui::OpenPanel::setRunner([](ui::OpenPanel&) { return ui::kModalResponseOK; });
  view->chooseFolder();
  EXPECT_EQ(quelltrine::settings::imageFolderPath(), folder);
  EXPECT_EQ(view->folderLabel->stringValue(), label);
  EXPECT_EQ(view->texA, a);
}

TEST_F(OptionsSheet, EachReadBuildsAFreshWindow) {
  auto view = makeView();
  auto first = view->configureSheet();
  auto firstSlider = view->intervalSlider;
  auto second = view->configureSheet();
  EXPECT_NE(first, second);
  EXPECT_EQ(view->sheet, second);
  EXPECT_NE(view->intervalSlider, firstSlider);
  EXPECT_EQ(view->intervalSlider, controls(*second)[4]);
}

}  // namespace
