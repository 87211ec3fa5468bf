// The view under its host: both initialisers, the clock, start and stop, releasing (against the GPU layer's count
// of live GL objects), and the options window with a scripted folder panel.
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

TEST_F(ViewHost, AViewFromTheArchiveIsCompleteAndABrokenArchiveIsRefused) {
  usePictures({{255, 0, 0}, {0, 0, 255}});
  ui::Coder coder;
  coder.encodeRect(ui::ScreenSaverView::kFrameKey, ui::makeRect(0, 0, 320, 200));
  coder.encodeBool(ui::ScreenSaverView::kIsPreviewKey, true);
  auto view = QuelltrineSaverView::initWithCoder(coder);
  ASSERT_TRUE(view);
  EXPECT_TRUE(view->presentPSO);
  EXPECT_TRUE(view->texB);
  EXPECT_EQ(view->bounds().size, (ui::Size{320, 200}));
  ui::Coder broken;
  broken.encodeString(ui::ScreenSaverView::kFrameKey, "not a rectangle");
  EXPECT_FALSE(QuelltrineSaverView::initWithCoder(broken));
}

TEST_F(ViewHost, TicksAdvanceTheNominalClockAndStopStartKeepsEverything) {
  usePictures({{255, 0, 0}, {0, 0, 255}});
  auto view = makeView();
  view->startAnimation();
  for (int i = 0; i < 45; ++i) view->animateOneFrame();
  EXPECT_NEAR(view->t, 1.5, 1e-9);
  const double t = view->t;
  const auto a = view->texA;
  view->stopAnimation();
  view->startAnimation();
  view->drawRect(ui::makeRect(0, 0, 5, 5));
  EXPECT_EQ(view->t, t);
  EXPECT_EQ(view->texA, a);
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
  quelltrine::settings::storeInterval(30.0);
  auto second = view->configureSheet();
  EXPECT_EQ(view->intervalSlider, control<ui::Slider>(*second, 4)) << "the new window's slider";
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
  EXPECT_NE(view->texA.get(), view->fallbackTex.get()) << "a picture of the chosen folder";
  EXPECT_EQ(view->slot.slotStart, slot.slotStart);

  const std::string empty = dir() / "empty";
  std::filesystem::create_directories(empty);
  choose(empty);
  view->chooseFolder();
  EXPECT_EQ(view->texA, view->fallbackTex);
  EXPECT_EQ(view->texB, view->fallbackTex);
}

}  // namespace
