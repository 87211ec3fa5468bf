// ScreenSaverView initialisers and defaults.
#include "platform/ui/screen_saver_view.h"

#include <cassert>

#include "platform/ui/window.h"

namespace plat::ui {

ScreenSaverView::ScreenSaverView(const Rect& frame, bool isPreview) : View(frame), isPreview_(isPreview) {}

ScreenSaverView::ScreenSaverView(const Coder& coder)
    : View(coder.decodeRect(kFrameKey).value_or(Rect{})), isPreview_(coder.decodeBool(kIsPreviewKey).value_or(false)) {
  assert(canDecode(coder) && "the factory asks canDecode first");
}

bool ScreenSaverView::canDecode(const Coder& coder) {
  if (!coder.decodeRect(kFrameKey)) return false;
  return !coder.containsValueForKey(kIsPreviewKey) || coder.decodeBool(kIsPreviewKey).has_value();
}

std::shared_ptr<Window> ScreenSaverView::configureSheet() { return nullptr; }

}  // namespace plat::ui
