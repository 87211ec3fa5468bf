// A stand-in screen-saver module for the engine and runtime tests: its view
// class "TickView" draws nothing but reports what the host did to it (ticks,
// start/stop, frame, the native window its layer was given, release) by
// rewriting the file named in $QUELLTRINE_TEST_REPORT after every call. It
// also builds an options window shaped like the real one, so the engine's
// presenter can be driven without the GPU module.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <unistd.h>

#include "platform/runtime/class_registry.h"
#include "platform/ui/controls.h"
#include "platform/ui/open_panel.h"
#include "platform/ui/screen_saver_view.h"
#include "platform/ui/window.h"

namespace {

using plat::rt::Args;
using plat::rt::Value;
using plat::ui::Rect;

class RecordingLayer : public plat::ui::Layer {
 public:
  void setNativeWindow(const plat::ui::NativeWindowHandle& handle) override {
    window = handle.window;
    ++attachments;
  }
  unsigned long window = 0;
  int attachments = 0;
};

class TickView : public plat::ui::ScreenSaverView {
 public:
  using ScreenSaverView::ScreenSaverView;
  ~TickView() override {
    released = true;
    report();
  }

  std::shared_ptr<plat::ui::Layer> makeBackingLayer() override { return std::make_shared<RecordingLayer>(); }
  void startAnimation() override {
    ScreenSaverView::startAnimation();
    ++starts;
    report();
  }
  void stopAnimation() override {
    ScreenSaverView::stopAnimation();
    ++stops;
    report();
  }
  void animateOneFrame() override {
    // A frame slower than the tick period, as on a software rasteriser.
    if (std::getenv("QUELLTRINE_TEST_SLOW_TICK")) usleep(50000);
    ++ticks;
    report();
  }
  bool hasConfigureSheet() const override { return true; }

  std::shared_ptr<plat::ui::Window> configureSheet() override {
    using namespace plat::ui;
    auto window = std::make_shared<Window>(makeRect(0, 0, 460, 190), kWindowStyleMaskTitled, kBackingStoreBuffered, false);
    window->setTitle("Quelltrine Screensaver");
    auto content = std::make_shared<View>(Window::contentRectForFrameRect(window->frame(), window->styleMask()));
    auto add = [&](std::shared_ptr<View> v, Rect frame) {
      v->setFrame(frame);
      content->addSubview(v);
    };
    add(TextField::labelWithString("Bilder-Ordner:"), makeRect(20, 140, 120, 20));
    label = TextField::labelWithString("/a/rather/long/path/to/a/folder/of/pictures/that/will/not/fit/in/the/label");
    label->setLineBreakMode(LineBreakMode::TruncatingMiddle);
    label->setTextColor("secondaryLabelColor");
    add(label, makeRect(20, 116, 420, 20));
    add(Button::buttonWithTitle("Ordner w\u00e4hlen \u2026", weak_from_this(), "chooseFolder"), makeRect(16, 80, 150, 28));
    add(TextField::labelWithString("Sekunden pro Bild:"), makeRect(20, 52, 140, 20));
    slider = Slider::sliderWithValue(14.0, 5.0, 60.0, {}, "");
    add(slider, makeRect(160, 50, 200, 24));
    auto done = Button::buttonWithTitle("Fertig", weak_from_this(), "closeSheet");
    done->setKeyEquivalent("\r");
    add(done, makeRect(360, 12, 80, 30));
    window->setContentView(content);
    sheet = window;
    return window;
  }

  void chooseFolder() {
    auto panel = plat::ui::OpenPanel::openPanel();
    panel->setCanChooseDirectories(true);
    panel->setCanChooseFiles(false);
    panel->setDirectoryURL("/tmp");
    if (panel->runModal() != plat::ui::kModalResponseOK || !panel->URL()) return;
    chosen = *panel->URL();
    if (label) label->setStringValue(chosen);
    report();
  }

  void closeSheet() {
    closedWith = slider ? slider->doubleValue() : -1.0;
    ++closes;
    report();
    if (!sheet) return;
    if (auto parent = sheet->sheetParent()) parent->endSheet(sheet);
    sheet->orderOut();
  }

  bool renderPNG(const std::string& path, std::int64_t frames) {
    std::ofstream out(path);
    if (path.empty() || !out) return false;
    out << "frames " << frames << "\n";
    return static_cast<bool>(out);
  }

  void report() const {
    const char* path = std::getenv("QUELLTRINE_TEST_REPORT");
    if (!path || !*path) return;
    std::ostringstream s;
    auto* layerPtr = dynamic_cast<RecordingLayer*>(layer().get());
    s << "ticks " << ticks << "\nstarts " << starts << "\nstops " << stops << "\npreview " << isPreview()
      << "\nwidth " << frame().size.width << "\nheight " << frame().size.height << "\nwindow "
      << (layerPtr ? layerPtr->window : 0) << "\nscale " << (window() ? window()->backingScaleFactor() : 0.0)
      << "\ncloses " << closes << "\nclosedWith " << closedWith << "\nchosen " << chosen << "\nreleased "
      << released << "\n";
    // Write then rename, so that a reader never sees half a report.
    std::string tmp = std::string(path) + ".tmp";
    {
      std::ofstream out(tmp, std::ios::trunc);
      out << s.str();
    }
    std::rename(tmp.c_str(), path);
  }

  std::int64_t ticks = 0, starts = 0, stops = 0, closes = 0;
  double closedWith = 0.0;
  std::string chosen;
  bool released = false;
  std::shared_ptr<plat::ui::Window> sheet;
  std::shared_ptr<plat::ui::TextField> label;
  std::shared_ptr<plat::ui::Slider> slider;
};

std::shared_ptr<TickView> setUp(std::shared_ptr<TickView> view) {
  if (view->initFailed()) return nullptr;
  view->setAnimationTimeInterval(1.0 / 30.0);
  view->setWantsLayer(true);
  return view;
}

PLAT_RT_REGISTER_CLASS(kTickViewClass,
    plat::rt::ClassDefinition<TickView>("TickView")
        .initWithFrame([](const Rect& r, bool p) { return setUp(std::make_shared<TickView>(r, p)); })
        .initWithCoder([](const plat::ui::Coder& c) {
          return plat::ui::ScreenSaverView::canDecode(c) ? setUp(std::make_shared<TickView>(c)) : nullptr;
        })
        .method("animateOneFrame", [](TickView& v, Args) { v.animateOneFrame(); return Value{}; })
        .method("debugRenderPNGToPath:frames:",
                [](TickView& v, Args a) -> Value {
                  auto path = plat::rt::valueAs<std::string>(a[0]);
                  auto frames = plat::rt::valueAs<std::int64_t>(a[1]);
                  if (!path || !frames) return plat::rt::Error{"debugRenderPNGToPath:frames: wants a string and an int"};
                  return v.renderPNG(*path, *frames);
                })
        .method("chooseFolder", [](TickView& v, Args) { v.chooseFolder(); return Value{}; })
        .method("closeSheet", [](TickView& v, Args) { v.closeSheet(); return Value{}; }));

}  // namespace

// Lets the runtime tests ask which bundle holds this code.
extern "C" __attribute__((visibility("default"))) const void* tickSaverCodeAddress() {
  return reinterpret_cast<const void*>(&tickSaverCodeAddress);
}
