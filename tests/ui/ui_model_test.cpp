// The window-system model without a display: archive, base view, layers and
// host windows, controls, windows and the open panel.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/ui/coder.h"
#include "platform/ui/controls.h"
#include "platform/ui/open_panel.h"
#include "platform/ui/screen_saver_view.h"
#include "platform/ui/window.h"

using namespace plat::ui;

namespace {

TEST(Coder, RoundTripKeepsEveryValueExactly) {
  Coder c;
  c.encodeRect("frame", makeRect(0.1, -3.0, 1280.0 / 3.0, 800.25));
  c.encodeBool("isPreview", true);
  c.encodeDouble("third", 1.0 / 3.0);
  c.encodeString("odd key=with\\stuff", "line one\nline two = \\n");
  auto back = Coder::fromArchivedData(c.archivedData());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->decodeRect("frame"), makeRect(0.1, -3.0, 1280.0 / 3.0, 800.25));
  EXPECT_EQ(back->decodeBool("isPreview"), true);
  EXPECT_EQ(back->decodeDouble("third"), 1.0 / 3.0);
  EXPECT_EQ(back->decodeString("odd key=with\\stuff"), "line one\nline two = \\n");
  EXPECT_EQ(back->archivedData(), c.archivedData());
}

TEST(Coder, MalformedValuesAndArchivesDecodeAsNothing) {
  Coder c;
  c.encodeString("r3", "1 2 3");
  c.encodeString("r5", "1 2 3 4 5");
  c.encodeString("rneg", "0 0 -1 4");
  c.encodeString("rnan", "0 0 nan 4");
  c.encodeString("d", "12abc");
  c.encodeString("b", "yes");
  c.encodeDouble("inf", std::numeric_limits<double>::infinity());
  for (auto key : {"r3", "r5", "rneg", "rnan", "missing"}) EXPECT_FALSE(c.decodeRect(key)) << key;
  EXPECT_FALSE(c.decodeDouble("d"));
  EXPECT_FALSE(c.decodeDouble("inf"));
  EXPECT_FALSE(c.decodeBool("b"));
  std::string error;
  EXPECT_FALSE(Coder::fromArchivedData("frame=1 2 3 4\nno equals sign\n", &error));
  EXPECT_NE(error.find("line 2"), std::string::npos);
  EXPECT_FALSE(Coder::fromArchivedData("k=bad escape \\q\n"));
}

TEST(ScreenSaverView, ArchiveInitialiserMatchesFrameInitialiserOrRefuses) {
  ScreenSaverView direct(makeRect(10, 20, 640, 480), true);
  Coder c;
  direct.encodeWithCoder(c);
  ASSERT_TRUE(ScreenSaverView::canDecode(c));
  ScreenSaverView decoded(c);
  EXPECT_FALSE(decoded.initFailed());
  EXPECT_EQ(decoded.frame(), direct.frame());
  EXPECT_TRUE(decoded.isPreview());

  Coder noPreview;
  noPreview.encodeRect("frame", makeRect(0, 0, 1, 1));
  EXPECT_TRUE(ScreenSaverView::canDecode(noPreview));
  EXPECT_FALSE(ScreenSaverView(noPreview).isPreview());

  Coder empty, badFrame, badFlag;
  badFrame.encodeString("frame", "wide");
  badFlag.encodeRect("frame", makeRect(0, 0, 1, 1));
  badFlag.encodeString("isPreview", "perhaps");
  for (const Coder* bad : {&empty, &badFrame, &badFlag}) {
    EXPECT_FALSE(ScreenSaverView::canDecode(*bad));
    EXPECT_TRUE(ScreenSaverView(*bad).initFailed());
  }
}

TEST(ScreenSaverView, BaseDefaultsAndAnimationState) {
  ScreenSaverView v(makeRect(0, 0, 960, 600), false);
  EXPECT_DOUBLE_EQ(v.animationTimeInterval(), 1.0 / 30.0);
  EXPECT_FALSE(v.isAnimating());
  EXPECT_FALSE(v.hasConfigureSheet());
  EXPECT_EQ(v.configureSheet(), nullptr);
  EXPECT_EQ(v.bounds(), makeRect(0, 0, 960, 600));
  v.startAnimation();
  EXPECT_TRUE(v.isAnimating());
  v.stopAnimation();
  EXPECT_FALSE(v.isAnimating());
}

struct CountingLayer : Layer {
  void setNativeWindow(const NativeWindowHandle& h) override { handles.push_back(h.window); }
  std::vector<unsigned long> handles;
};

struct CountingView : View {
  std::shared_ptr<Layer> makeBackingLayer() override {
    ++made;
    last = std::make_shared<CountingLayer>();
    return last;
  }
  int made = 0;
  std::shared_ptr<CountingLayer> last;
};

TEST(View, WantsLayerMakesTheBackingLayerOnceAndHandsItTheWindow) {
  auto v = std::make_shared<CountingView>();
  EXPECT_EQ(v->layer(), nullptr);
  v->setWantsLayer(true);
  v->setWantsLayer(true);
  EXPECT_EQ(v->made, 1);
  EXPECT_EQ(v->layer(), v->last);

  int fakeDisplay = 0;
  auto host = std::make_shared<HostWindow>(NativeWindowHandle{&fakeDisplay, 0x4a00007}, Size{800, 600});
  v->setHostWindow(host);
  v->setHostWindow(nullptr);
  EXPECT_EQ(v->last->handles, (std::vector<unsigned long>{0x4a00007, 0}));

  // A layer made while a window is set is attached straight away.
  auto w = std::make_shared<CountingView>();
  w->setHostWindow(host);
  w->setWantsLayer(true);
  EXPECT_EQ(w->last->handles, (std::vector<unsigned long>{0x4a00007}));
  // Turning layer-backing off detaches and drops the layer.
  auto old = w->last;
  w->setWantsLayer(false);
  EXPECT_EQ(w->layer(), nullptr);
  EXPECT_EQ(old->handles.back(), 0u);
}

TEST(View, SubviewsMoveBetweenParentsAndInheritTheWindow) {
  auto a = std::make_shared<View>(), b = std::make_shared<View>(), child = std::make_shared<View>();
  a->addSubview(child);
  b->addSubview(child);
  EXPECT_TRUE(a->subviews().empty());
  ASSERT_EQ(b->subviews().size(), 1u);
  EXPECT_EQ(child->superview(), b);
  auto host = std::make_shared<HostWindow>(NativeWindowHandle{}, Size{1, 1}, 2.0);
  b->setHostWindow(host);
  EXPECT_EQ(child->window(), host);
  EXPECT_EQ(a->window(), nullptr);
  b->addSubview(b);  // a view cannot contain itself
  EXPECT_EQ(b->subviews().size(), 1u);
}

TEST(HostWindow, ScaleFactorFollowsDpi) {
  EXPECT_EQ(backingScaleFactorForDpi(96), 1.0);
  EXPECT_EQ(backingScaleFactorForDpi(72), 1.0);
  EXPECT_EQ(backingScaleFactorForDpi(192), 2.0);
  EXPECT_EQ(backingScaleFactorForDpi(144), 1.5);
  EXPECT_EQ(backingScaleFactorForDpi(std::nan("")), 1.0);
  EXPECT_EQ(HostWindow({}, {}, 0.0).backingScaleFactor(), 1.0);
}

TEST(Controls, FactoriesSetWhatThePlatformSets) {
  auto label = TextField::labelWithString("Bilder-Ordner:");
  EXPECT_EQ(label->stringValue(), "Bilder-Ordner:");
  EXPECT_FALSE(label->isEditable() || label->isSelectable() || label->isBordered() || label->drawsBackground());
  EXPECT_EQ(label->textColor(), "labelColor");

  int seen = 0;
  label->setObserver([&](TextField& f) { seen += f.stringValue() == "/x" ? 1 : 100; });
  label->setStringValue("/x");
  label->setStringValue("/x");  // unchanged: no notification
  EXPECT_EQ(seen, 1);

  auto slider = Slider::sliderWithValue(14.0, 5.0, 60.0, {}, "");
  EXPECT_EQ(slider->numberOfTickMarks(), 0);
  EXPECT_FALSE(slider->allowsTickMarkValuesOnly());
  EXPECT_EQ(slider->doubleValue(), 14.0);
  slider->setDoubleValue(17.25);
  EXPECT_EQ(slider->doubleValue(), 17.25);
}

TEST(Controls, SliderClampsToItsRange) {
  EXPECT_EQ(Slider::sliderWithValue(90.0, 5.0, 60.0, {}, "")->doubleValue(), 60.0);
  EXPECT_EQ(Slider::sliderWithValue(2.0, 5.0, 60.0, {}, "")->doubleValue(), 5.0);
  auto s = Slider::sliderWithValue(30.0, 5.0, 60.0, {}, "");
  std::vector<double> heard;
  s->setObserver([&](Slider& x) { heard.push_back(x.doubleValue()); });
  s->setDoubleValue(std::nan(""));
  s->setDoubleValue(1e9);
  s->setMaxValue(40.0);
  EXPECT_EQ(heard, (std::vector<double>{5.0, 60.0, 40.0}));
}

TEST(Window, OrderOutNotifiesThePresenterAndSheetsDetach) {
  auto parent = std::make_shared<Window>(makeRect(0, 0, 800, 600), kWindowStyleMaskTitled, kBackingStoreBuffered, false);
  auto sheet = std::make_shared<Window>(makeRect(0, 0, 460, 190), kWindowStyleMaskTitled, kBackingStoreBuffered, false);
  EXPECT_EQ(sheet->styleMask(), 1u);
  EXPECT_EQ(sheet->backingType(), 2u);
  EXPECT_EQ(sheet->contentRect(), makeRect(0, 0, 460, 190));
  auto content = std::make_shared<View>(makeRect(5, 5, 10, 10));
  sheet->setContentView(content);
  EXPECT_EQ(content->frame(), makeRect(0, 0, 460, 190));

  EXPECT_EQ(sheet->sheetParent(), nullptr);
  parent->beginSheet(sheet);
  EXPECT_EQ(sheet->sheetParent(), parent);
  parent->endSheet(parent);  // not its sheet: ignored
  EXPECT_EQ(parent->attachedSheet(), sheet);
  parent->endSheet(sheet);
  EXPECT_EQ(sheet->sheetParent(), nullptr);
  EXPECT_EQ(parent->attachedSheet(), nullptr);

  int orderedOut = 0;
  sheet->setOrderOutHandler([&](Window& w) { orderedOut += w.isVisible() ? 100 : 1; });
  sheet->orderFront();
  EXPECT_TRUE(sheet->isVisible());
  sheet->orderOut();
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_EQ(orderedOut, 1);
}

class OpenPanelTest : public ::testing::Test {
 protected:
  void TearDown() override { OpenPanel::setRunner({}); }
};

TEST_F(OpenPanelTest, WithoutRunnerItCancels) {
  auto panel = OpenPanel::openPanel();
  EXPECT_EQ(panel->runModal(), kModalResponseCancel);
  EXPECT_FALSE(panel->URL());
}

TEST_F(OpenPanelTest, ScriptedRunnerSeesSettingsAndAnswers) {
  std::string startedIn;
  bool dirsOnly = false;
  OpenPanel::setRunner([&](OpenPanel& p) {
    startedIn = p.directoryURL();
    dirsOnly = p.canChooseDirectories() && !p.canChooseFiles() && !p.allowsMultipleSelection();
    p.setURLs({"/pictures/a", "/pictures/b"});
    return kModalResponseOK;
  });
  auto panel = OpenPanel::openPanel();
  panel->setCanChooseDirectories(true);
  panel->setCanChooseFiles(false);
  panel->setDirectoryURL("/home/me/Pictures");
  EXPECT_EQ(panel->runModal(), kModalResponseOK);
  EXPECT_EQ(startedIn, "/home/me/Pictures");
  EXPECT_TRUE(dirsOnly);
  EXPECT_EQ(panel->URLs(), (std::vector<std::string>{"/pictures/a"}));  // one item at most
  EXPECT_EQ(panel->URL(), "/pictures/a");

  // A cancelled run leaves no stale result behind, even if the runner set one.
  OpenPanel::setRunner([](OpenPanel& p) {
    p.setURLs({"/ignored"});
    return kModalResponseCancel;
  });
  EXPECT_EQ(panel->runModal(), kModalResponseCancel);
  EXPECT_FALSE(panel->URL());
}

}  // namespace
