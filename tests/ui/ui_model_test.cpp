// The window-system model without a display.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "platform/ui/coder.h"
#include "platform/ui/controls.h"
#include "platform/ui/open_panel.h"
#include "platform/ui/view.h"

using namespace plat::ui;

namespace {

TEST(Coder, RoundTripIsExactAndMalformedInputDecodesAsNothing) {
  Coder c;
  c.encodeRect("frame", makeRect(0.1, -3.0, 1280.0 / 3.0, 800.25)), c.encodeBool("isPreview", true);
  c.encodeDouble("third", 1.0 / 3.0), c.encodeString("odd key=with\\stuff", "line one\nline two = \\n");
  auto back = Coder::fromArchivedData(c.archivedData());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->decodeRect("frame"), makeRect(0.1, -3.0, 1280.0 / 3.0, 800.25));
  EXPECT_EQ(back->decodeBool("isPreview"), true);
  EXPECT_EQ(back->decodeDouble("third"), 1.0 / 3.0);
  EXPECT_EQ(back->decodeString("odd key=with\\stuff"), "line one\nline two = \\n");

  Coder bad;
  for (auto rect : {"1 2 3", "0 0 -1 4", "0 0 nan 4"})
    EXPECT_FALSE((bad.encodeString("r", rect), bad.decodeRect("r"))) << rect;
  bad.encodeString("d", "12abc");
  EXPECT_FALSE(bad.decodeDouble("d")) << "12abc";
  EXPECT_FALSE(Coder::fromArchivedData("f=1\nnope\n"));
  EXPECT_FALSE(Coder::fromArchivedData("k=bad escape \\q\n"));
}

struct CountingLayer : Layer {
  void setNativeWindow(const NativeWindowHandle& h) override { handles.push_back(h.window); }
  std::vector<unsigned long> handles;
};
struct CountingView : View {
  std::shared_ptr<Layer> makeBackingLayer() override { return ++made, last = std::make_shared<CountingLayer>(); }
  int made = 0;
  std::shared_ptr<CountingLayer> last;
};

TEST(View, OneBackingLayerGetsTheWindowSliderClampsOpenPanelKeepsOneURLAndNoneOnCancel) {
  int fakeDisplay = 0;
  auto v = std::make_shared<CountingView>();
  v->setHostWindow(std::make_shared<HostWindow>(NativeWindowHandle{&fakeDisplay, 0x4a00007}, Size{800, 600}));
  v->setWantsLayer(true);
  v->setWantsLayer(true);
  EXPECT_EQ(v->made, 1);
  v->setWantsLayer(false);  // detaches and drops the layer
  EXPECT_FALSE(v->layer());
  EXPECT_EQ(v->last->handles, (std::vector<unsigned long>{0x4a00007, 0}));

  auto s = Slider::sliderWithValue(90.0, 5.0, 60.0, {}, "");
  std::vector<double> heard{s->doubleValue()};
  s->setObserver([&](Slider& x) { heard.push_back(x.doubleValue()); });
  s->setDoubleValue(std::nan(""));
  s->setDoubleValue(1e9);
  s->setMaxValue(40.0);
  EXPECT_EQ(heard, (std::vector<double>{60.0, 5.0, 60.0, 40.0}));

  auto panel = OpenPanel::openPanel();
  EXPECT_EQ(panel->runModal(), kModalResponseCancel);  // no runner: cancelled
  OpenPanel::setRunner([](OpenPanel& p) { return p.setURLs({"/a", "/b"}), kModalResponseOK; });
  EXPECT_EQ(panel->runModal(), kModalResponseOK);
  EXPECT_EQ(panel->URLs(), (std::vector<std::string>{"/a"}));  // one item at most
  OpenPanel::setRunner([](OpenPanel& p) { return p.setURLs({"/ignored"}), kModalResponseCancel; });
  EXPECT_EQ(panel->runModal(), kModalResponseCancel);
  EXPECT_TRUE(panel->URLs().empty());  // no stale result after a cancel
  OpenPanel::setRunner({});
}

}  // namespace
