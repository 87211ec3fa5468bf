// Views and the native window they are shown in. A view has a frame in its
// superview's coordinates (bottom-left origin), subviews, and optionally a
// backing layer that it makes once through the virtual makeBackingLayer.
// The engine creates a HostWindow per X11 window and hands it to the view;
// the view passes the window's native handle on to its layer. Drawing itself
// is left to the layer (the GPU layer) or, for controls, to the engine's
// presenter.
#pragma once

#include <memory>
#include <vector>

#include "platform/ui/geometry.h"
#include "platform/ui/layer.h"
#include "platform/ui/object.h"

namespace plat::ui {

// The scale factor of a screen of the given dots per inch: 96 dpi and below
// is 1.0, more scales linearly (dpi / 96). A non-finite or non-positive dpi
// counts as unknown and gives 1.0.
double backingScaleFactorForDpi(double dpi);

// A native window a view is shown in. Created and kept current by the engine.
class HostWindow {
 public:
  HostWindow(NativeWindowHandle native, Size contentSize, double backingScaleFactor = 1.0);
  virtual ~HostWindow() = default;

  NativeWindowHandle native() const { return native_; }
  // In points: the window's pixel size divided by backingScaleFactor.
  Size contentSize() const { return contentSize_; }
  void setContentSize(Size size) { contentSize_ = size; }
  // Device pixels per point: 1.0 on X11 unless Xft.dpi says more.
  double backingScaleFactor() const { return backingScaleFactor_; }

 private:
  NativeWindowHandle native_;
  Size contentSize_;
  double backingScaleFactor_;
};

class View : public Object {
 public:
  View() = default;
  explicit View(const Rect& frame) : frame_(frame) {}
  ~View() override;

  Rect frame() const { return frame_; }
  void setFrame(const Rect& frame) { frame_ = frame; }
  void setFrameSize(Size size) { frame_.size = size; }
  // Origin (0, 0), the size of the frame.
  Rect bounds() const { return Rect{{0.0, 0.0}, frame_.size}; }

  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  // Adds `view` on top; a view that already has a superview is moved here.
  void addSubview(const std::shared_ptr<View>& view);
  void removeFromSuperview();
  std::shared_ptr<View> superview() const { return superview_.lock(); }

  // The host window this view, or the nearest superview that has one, is
  // shown in; nullptr when it is shown nowhere.
  std::shared_ptr<HostWindow> window() const;
  // Sets (or with nullptr clears) the host window; the layer, if any, is told
  // the window's native handle, or an empty handle when the window goes.
  void setHostWindow(std::shared_ptr<HostWindow> window);

  // Turning layer-backing on makes the layer through makeBackingLayer once
  // (not again while the view keeps its layer) and attaches it to the current
  // host window. Turning it off releases the layer.
  void setWantsLayer(bool wants);
  bool wantsLayer() const { return wantsLayer_; }
  std::shared_ptr<Layer> layer() const { return layer_; }

  // The default is a plain Layer. Called from setWantsLayer, so a subclass's
  // override takes effect when the subclass turns layer-backing on.
  virtual std::shared_ptr<Layer> makeBackingLayer();
  virtual void drawRect(const Rect& /*dirty*/) {}

 private:
  Rect frame_;
  std::vector<std::shared_ptr<View>> subviews_;
  std::weak_ptr<View> superview_;
  std::shared_ptr<HostWindow> hostWindow_;
  bool wantsLayer_ = false;
  std::shared_ptr<Layer> layer_;
};

}  // namespace plat::ui
