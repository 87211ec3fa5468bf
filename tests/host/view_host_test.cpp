// The view under its host: both initialisers, the nominal clock, start and
// stop, releasing, and the options window with a scripted folder panel.
// Releasing is checked against the GPU layer's count of its live GL objects,
// so this includes that layer's own platform/gpu/gl/testing.h on purpose.
#include <filesystem>

#include "platform/gpu/gl/testing.h"
#include "platform/store/screen_saver_defaults.h"
#include "platform/ui/controls.h"
#include "platform/ui/open_panel.h"
#include "platform/ui/window.h"
#include "support/render_fixture.h"

namespace {

using quelltrine::QuelltrineSaverView;
namespace ui = plat::ui;
namespace gpu = plat::gpu;

class ViewHost : public qtest::ViewTest {
 protected:
  void TearDown() override {
    ui::OpenPanel::setRunner({});
    ViewTest::TearDown();
  }
  template <class T>
  static std::shared_ptr<T> control(const ui::Window& w, int i) {
    return std::dynamic_pointer_cast<T>(w.contentView()->subviews().at(static_cast<std::size_t>(i)));
  }
  // What another process finds in the store file.
  std::string storeFile() const {
    return qtest::readFile(dir() / "config/screensaver-defaults/com.quelltrine.saver.conf");
  }
  void choose(const std::string& folder, long response = ui::kModalResponseOK) {
    ui::OpenPanel::setRunner([=](ui::OpenPanel& panel) {
      if (!folder.empty()) panel.setURLs({folder});
      return response;
    });
  }
};

TEST_F(ViewHost, ArchivePreviewAndFrameViewsEndInTheSameState) {
  usePictures({{255, 0, 0}, {0, 0, 255}});
  ui::Coder coder;
  coder.encodeRect(ui::ScreenSaverView::kFrameKey, ui::makeRect(0, 0, 320, 200));
  coder.encodeBool(ui::ScreenSaverView::kIsPreviewKey, true);
  const char* made[] = {"from the archive", "from a frame, preview", "from a frame, full screen"};
  int next = 0;
  for (const auto& view : {QuelltrineSaverView::initWithCoder(coder),
                           QuelltrineSaverView::initWithFrame(ui::makeRect(0, 0, 320, 200), true),
                           QuelltrineSaverView::initWithFrame(ui::makeRect(0, 0, 320, 200), false)}) {
    SCOPED_TRACE(made[next++]);
    ASSERT_TRUE(view);
    EXPECT_DOUBLE_EQ(view->animationTimeInterval(), 1.0 / 30.0);
    EXPECT_TRUE(std::dynamic_pointer_cast<gpu::MetalLayer>(view->layer()));
    EXPECT_TRUE(view->compositePSO);
    EXPECT_TRUE(view->presentPSO);
    EXPECT_TRUE(view->texA);
    EXPECT_TRUE(view->texB);
    EXPECT_EQ(view->playlist.imageURLs.size(), 2u);
    EXPECT_EQ(view->bounds().size, (ui::Size{320, 200}));
  }
  ui::Coder broken;
  broken.encodeString(ui::ScreenSaverView::kFrameKey, "not a rectangle");
  EXPECT_FALSE(QuelltrineSaverView::initWithCoder(broken));
}

TEST_F(ViewHost, TicksAdvanceTheNominalClockAndStopStartKeepsEverything) {
  usePictures({{255, 0, 0}, {0, 0, 255}});
  auto view = makeView();
  view->startAnimation();
  double expected = 0.0;
  for (int i = 0; i < 45; ++i, expected += 1.0 / 30.0) view->animateOneFrame();
  EXPECT_EQ(view->t, expected) << "the same additions, bit for bit";
  const auto a = view->texA;
  const auto slot = view->slot;
  view->stopAnimation();
  view->startAnimation();
  view->drawRect(ui::makeRect(0, 0, 5, 5));
  EXPECT_EQ(view->t, expected);
  EXPECT_EQ(view->texA, a);
  EXPECT_EQ(view->slot.slotStart, slot.slotStart);
  EXPECT_EQ(view->slot.slotEffect, slot.slotEffect);
}

TEST_F(ViewHost, ReleasingTheViewFreesEveryGpuObject) {
  usePictures({{255, 0, 0}, {0, 0, 255}});
  const std::size_t before = gpu::testing::liveGLObjectCount();
  {
    auto view = makeView();
    for (int i = 0; i < 3; ++i) view->debugRenderPNG(dir() / "f.png", 1);
    view->configureSheet();
  }
  EXPECT_EQ(gpu::testing::liveGLObjectCount(), before);
}

TEST_F(ViewHost, OptionsWindowShowsTheStoreAndFertigStoresTheSliderFlushed) {
  auto view = makeView();
  view->closeSheet();  // before any window: nothing stored
  EXPECT_EQ(storeFile().find("interval"), std::string::npos);

  auto window = view->configureSheet();
  ASSERT_EQ(window->contentView()->subviews().size(), 6u);
  EXPECT_EQ(window->title(), "Quelltrine Screensaver");
  EXPECT_EQ(control<ui::Button>(*window, 2)->title(), "Ordner w\xC3\xA4hlen \xE2\x80\xA6");
  EXPECT_EQ(control<ui::Button>(*window, 5)->keyEquivalent(), "\r");
  EXPECT_EQ(control<ui::TextField>(*window, 1)->stringValue(), dir() / "home/Pictures/Quelltrine Screensaver");
  EXPECT_EQ(view->intervalSlider->doubleValue(), 14.0);
  quelltrine::settings::storeInterval(2.0);
  EXPECT_EQ(control<ui::Slider>(*view->configureSheet(), 4)->doubleValue(), 14.0);
  quelltrine::settings::storeInterval(30.0);
  auto second = view->configureSheet();
  EXPECT_NE(second, window);
  EXPECT_EQ(view->intervalSlider, control<ui::Slider>(*second, 4));
  EXPECT_EQ(view->intervalSlider->doubleValue(), 30.0);

  second->orderFront();
  view->intervalSlider->setDoubleValue(7.25);
  control<ui::Button>(*second, 5)->performClick();  // what Return does
  EXPECT_FALSE(second->isVisible());
  EXPECT_NE(storeFile().find("7.25"), std::string::npos) << "flushed at once";
  EXPECT_EQ(quelltrine::settings::effectiveInterval(), 7.25);
}

TEST_F(ViewHost, ChoosingAFolderStoresRescansAndReloadsAtOnce) {
  auto view = makeView();
  auto window = view->configureSheet();
  const std::string chosen = dir() / "chosen folder";
  std::filesystem::create_directories(chosen);
  qtest::writeSolidPng(chosen + "/a.png", 40, 25, {255, 0, 0});
  qtest::writeSolidPng(chosen + "/b.png", 40, 25, {0, 255, 0});
  const auto slot = view->slot;

  choose(dir() / "elsewhere", ui::kModalResponseCancel);
  view->chooseFolder();
  choose("");  // OK without a folder
  view->chooseFolder();
  EXPECT_EQ(view->texA, view->fallbackTex) << "cancelled: nothing changes";
  EXPECT_EQ(storeFile().find("elsewhere"), std::string::npos);

  choose(chosen);
  control<ui::Button>(*window, 2)->performClick();
  EXPECT_NE(storeFile().find("chosen folder"), std::string::npos) << "flushed before and without Fertig";
  EXPECT_EQ(view->folderLabel->stringValue(), chosen);
  EXPECT_EQ(view->playlist.imageURLs.size(), 2u);
  EXPECT_NE(view->texA.get(), view->fallbackTex.get()) << "a picture of the chosen folder";
  EXPECT_NE(view->texB.get(), view->texA.get());
  EXPECT_EQ(view->slot.slotStart, slot.slotStart);

  auto oldA = view->texA;
  view->chooseFolder();  // the same folder again: rescanned, fresh pictures
  EXPECT_NE(view->texA, oldA);
  EXPECT_EQ(view->playlist.orderPos, 2);

  const std::string empty = dir() / "empty";
  std::filesystem::create_directories(empty);
  choose(empty);
  view->chooseFolder();
  EXPECT_EQ(view->texA, view->fallbackTex);
  EXPECT_EQ(view->texB, view->fallbackTex);
}

}  // namespace
