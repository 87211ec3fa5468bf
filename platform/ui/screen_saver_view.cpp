// ScreenSaverView initialisers and defaults.
#include "platform/ui/screen_saver_view.h"

#include "platform/ui/window.h"

namespace plat::ui {

ScreenSaverView::ScreenSaverView(const Rect& frame, bool isPreview) : View(frame), isPreview_(isPreview) {}

ScreenSaverView::ScreenSaverView(const Coder& coder) {
  if (!canDecode(coder)) {
    initFailed_ = true;
    return;
  }
  setFrame(*coder.decodeRect(kFrameKey));
  isPreview_ = coder.decodeBool(kIsPreviewKey).value_or(false);
}

bool ScreenSaverView::canDecode(const Coder& coder) {
  if (!coder.decodeRect(kFrameKey)) return false;
  return !coder.containsValueForKey(kIsPreviewKey) || coder.decodeBool(kIsPreviewKey).has_value();
}

void ScreenSaverView::encodeWithCoder(Coder& coder) const {
  coder.encodeRect(kFrameKey, frame());
  coder.encodeBool(kIsPreviewKey, isPreview_);
}

std::shared_ptr<Window> ScreenSaverView::configureSheet() { return nullptr; }

}  // namespace plat::ui
