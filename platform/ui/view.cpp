// View tree, host window and layer hand-over.
#include "platform/ui/view.h"

#include <algorithm>
#include <cmath>

namespace plat::ui {

double backingScaleFactorForDpi(double dpi) {
  if (!std::isfinite(dpi) || dpi <= 96.0) return 1.0;
  return dpi / 96.0;
}

HostWindow::HostWindow(NativeWindowHandle native, Size contentSize, double backingScaleFactor)
    : native_(native), contentSize_(contentSize),
      backingScaleFactor_(std::isfinite(backingScaleFactor) && backingScaleFactor > 0.0 ? backingScaleFactor : 1.0) {}

View::~View() = default;

void View::addSubview(const std::shared_ptr<View>& view) {
  if (!view || view.get() == this) return;
  view->removeFromSuperview();
  view->superview_ = std::static_pointer_cast<View>(shared_from_this());
  subviews_.push_back(view);
}

void View::removeFromSuperview() {
  auto parent = superview_.lock();
  superview_.reset();
  if (!parent) return;
  auto& list = parent->subviews_;
  list.erase(std::remove_if(list.begin(), list.end(), [this](const std::shared_ptr<View>& v) { return v.get() == this; }),
             list.end());
}

std::shared_ptr<HostWindow> View::window() const {
  if (hostWindow_) return hostWindow_;
  auto parent = superview_.lock();
  return parent ? parent->window() : nullptr;
}

void View::setHostWindow(std::shared_ptr<HostWindow> window) {
  hostWindow_ = std::move(window);
  if (layer_) layer_->setNativeWindow(hostWindow_ ? hostWindow_->native() : NativeWindowHandle{});
}

void View::setWantsLayer(bool wants) {
  wantsLayer_ = wants;
  if (!wants) {
    if (layer_) layer_->setNativeWindow(NativeWindowHandle{});
    layer_.reset();
    return;
  }
  if (layer_) return;
  layer_ = makeBackingLayer();
  if (layer_ && hostWindow_) layer_->setNativeWindow(hostWindow_->native());
}

std::shared_ptr<Layer> View::makeBackingLayer() { return std::make_shared<Layer>(); }

}  // namespace plat::ui
