// Window model.
#include "platform/ui/window.h"

namespace plat::ui {

Window::Window(const Rect& contentRect, unsigned styleMask, unsigned backing, bool defer)
    : frame_(frameRectForContentRect(contentRect, styleMask)), styleMask_(styleMask), backing_(backing), defer_(defer) {}

Window::~Window() = default;

void Window::setContentView(std::shared_ptr<View> view) {
  contentView_ = std::move(view);
  if (contentView_) contentView_->setFrame(Rect{{0.0, 0.0}, contentRect().size});
}

void Window::beginSheet(const std::shared_ptr<Window>& sheet) {
  if (!sheet || sheet.get() == this) return;
  attachedSheet_ = sheet;
  sheet->setSheetParent(std::static_pointer_cast<Window>(shared_from_this()));
}

void Window::endSheet(const std::shared_ptr<Window>& sheet) {
  if (!sheet || sheet != attachedSheet_) return;
  attachedSheet_.reset();
  sheet->sheetParent_.reset();
}

void Window::orderFront() { visible_ = true; }

void Window::orderOut() {
  visible_ = false;
  // The handler may drop the last other reference to this window.
  auto keepAlive = weak_from_this().lock();
  if (onOrderOut_) onOrderOut_(*this);
}

}  // namespace plat::ui
