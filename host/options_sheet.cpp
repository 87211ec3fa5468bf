// The options window: a German sheet that picks the picture folder (stored
// and applied at once) and the seconds per picture (stored on "Fertig").
// Each read of configureSheet builds a fresh window; the view keeps
// references to the last one built.
#include "host/quelltrine_saver_view.h"

#include "host/settings.h"
#include "platform/ui/open_panel.h"
#include "platform/ui/window.h"

namespace quelltrine {

namespace ui = plat::ui;

bool QuelltrineSaverView::hasConfigureSheet() const { return true; }

std::shared_ptr<ui::Window> QuelltrineSaverView::configureSheet() {
  auto window = std::make_shared<ui::Window>(ui::makeRect(0, 0, 460, 190), ui::kWindowStyleMaskTitled,
                                            ui::kBackingStoreBuffered, /*defer=*/false);
  window->setTitle("Quelltrine Screensaver");

  auto content = std::make_shared<ui::View>(ui::Window::contentRectForFrameRect(window->frame(), window->styleMask()));

  auto heading = ui::TextField::labelWithString("Bilder-Ordner:");
  heading->setFrame(ui::makeRect(20, 140, 120, 20));
  content->addSubview(heading);

  auto label = ui::TextField::labelWithString(imageFolder());
  label->setFrame(ui::makeRect(20, 116, 420, 20));
  label->setLineBreakMode(ui::LineBreakMode::TruncatingMiddle);
  label->setTextColor("secondaryLabelColor");
  content->addSubview(label);
  folderLabel = label;

  auto self = std::static_pointer_cast<ui::Object>(shared_from_this());
  // U+0020 then U+2026: "Ordner wählen …" is 18 bytes in UTF-8.
  auto choose = ui::Button::buttonWithTitle("Ordner w\u00e4hlen \u2026", self, "chooseFolder");
  choose->setFrame(ui::makeRect(16, 80, 150, 28));
  content->addSubview(choose);

  auto secondsLabel = ui::TextField::labelWithString("Sekunden pro Bild:");
  secondsLabel->setFrame(ui::makeRect(20, 52, 140, 20));
  content->addSubview(secondsLabel);

  auto slider = ui::Slider::sliderWithValue(settings::effectiveInterval(), 5, 60, {}, "");
  slider->setFrame(ui::makeRect(160, 50, 200, 24));
  content->addSubview(slider);
  intervalSlider = slider;

  auto done = ui::Button::buttonWithTitle("Fertig", self, "closeSheet");
  done->setFrame(ui::makeRect(360, 12, 80, 30));
  done->setKeyEquivalent("\r");
  content->addSubview(done);

  window->setContentView(content);
  sheet = window;
  return window;
}

void QuelltrineSaverView::chooseFolder() {
  auto panel = ui::OpenPanel::openPanel();
  panel->setCanChooseDirectories(true);
  panel->setCanChooseFiles(false);
  panel->setAllowsMultipleSelection(false);
  panel->setDirectoryURL(imageFolder());
  if (panel->runModal() != ui::kModalResponseOK) return;
  auto chosen = panel->URL();
  if (!chosen) return;

  settings::storeImageFolder(*chosen);
  if (folderLabel) folderLabel->setStringValue(*chosen);

  loadImageList();
  loadPicturePair();
}

void QuelltrineSaverView::closeSheet() {
  if (intervalSlider) settings::storeInterval(intervalSlider->doubleValue());
  if (sheet) {
    if (auto parent = sheet->sheetParent()) parent->endSheet(sheet);
    sheet->orderOut();
  }
}

}  // namespace quelltrine
