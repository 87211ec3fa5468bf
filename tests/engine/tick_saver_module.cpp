// Stand-in module: "TickView" writes what the host did to it into $QUELLTRINE_TEST_REPORT and offers an
// options window with a slider and a "Fertig" button.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

#include "platform/runtime/class_registry.h"
#include "platform/ui/controls.h"
#include "platform/ui/screen_saver_view.h"
#include "platform/ui/window.h"

namespace {

using namespace plat::ui;
using plat::rt::Args;
using plat::rt::Value;

struct RecordingLayer : Layer {
  void setNativeWindow(const NativeWindowHandle& handle) override { window = handle.window; }
  unsigned long window = 0;
};

class TickView : public ScreenSaverView {
 public:
  using ScreenSaverView::ScreenSaverView;
  ~TickView() override { released = 1; report(); }
  std::shared_ptr<Layer> makeBackingLayer() override { return std::make_shared<RecordingLayer>(); }
  void stopAnimation() override { ScreenSaverView::stopAnimation(), ++stops, report(); }
  // $QUELLTRINE_TEST_SLOW_TICK makes frames slower than a tick period.
  void animateOneFrame() override {
    if (std::getenv("QUELLTRINE_TEST_SLOW_TICK")) usleep(50000);
    ++ticks, report();
  }
  bool hasConfigureSheet() const override { return true; }
  std::shared_ptr<Window> configureSheet() override {
    sheet = std::make_shared<Window>(makeRect(0, 0, 460, 190), kWindowStyleMaskTitled, kBackingStoreBuffered, false);
    sheet->setTitle("Quelltrine Screensaver");
    auto content = std::make_shared<View>(Window::contentRectForFrameRect(sheet->frame(), sheet->styleMask()));
    content->addSubview(slider = Slider::sliderWithValue(14.0, 5.0, 60.0, {}, ""));
    slider->setFrame(makeRect(160, 50, 200, 24));
    auto done = Button::buttonWithTitle("Fertig", weak_from_this(), "closeSheet");
    done->setKeyEquivalent("\r");
    done->setFrame(makeRect(360, 12, 80, 30));
    content->addSubview(done);
    sheet->setContentView(content);
    return sheet;
  }
  void closeSheet() {
    ++closes, report();
    if (auto parent = sheet->sheetParent()) parent->endSheet(sheet);
    sheet->orderOut();
  }

  void report() const {
    const char* path = std::getenv("QUELLTRINE_TEST_REPORT");
    if (!path || !*path) return;
    auto* recording = dynamic_cast<RecordingLayer*>(layer().get());
    // What a module sizes its drawable by: scale x bounds.
    const double scale = window() ? window()->backingScaleFactor() : 0.0;
    std::string tmp = std::string(path) + ".tmp";  // write then rename: never half a report
    std::ofstream(tmp) << "ticks " << ticks << "\nstops " << stops << "\npreview " << isPreview() << "\nwidth "
                       << frame().size.width << "\nheight " << frame().size.height << "\nwindow "
                       << (recording ? recording->window : 0) << "\ncloses " << closes << "\nclosedWith "
                       << (slider ? slider->doubleValue() : 0.0) << "\nreleased " << released << "\nscale100 " << std::lround(scale * 100)
                       << "\ndrawableWidth " << std::lround(scale * bounds().size.width) << "\ndrawableHeight "
                       << std::lround(scale * bounds().size.height) << "\n";
    std::rename(tmp.c_str(), path);
  }

  long ticks = 0, stops = 0, closes = 0, released = 0;
  std::shared_ptr<Window> sheet;
  std::shared_ptr<Slider> slider;
};

std::shared_ptr<TickView> setUp(std::shared_ptr<TickView> v) { return v->setWantsLayer(true), v; }

PLAT_RT_REGISTER_CLASS(kTickViewClass,
    plat::rt::ClassDefinition<TickView>("TickView")
        .initWithFrame([](const Rect& r, bool p) { return setUp(std::make_shared<TickView>(r, p)); })
        .initWithCoder([](const Coder& c) {
          return ScreenSaverView::canDecode(c) ? setUp(std::make_shared<TickView>(c)) : nullptr;
        })
        .method("closeSheet", [](TickView& v, Args) { v.closeSheet(); return Value{}; }));

}  // namespace

// Lets the runtime tests ask which bundle holds this code.
extern "C" __attribute__((visibility("default"))) const void* tickSaverCodeAddress() {
  return reinterpret_cast<const void*>(&tickSaverCodeAddress);
}
