// The base class of a screen-saver module's view: the two initialisers, the
// animation interval, the animating state and the options-window properties.
// The host engine drives a view: startAnimation, animateOneFrame every
// animationTimeInterval seconds, stopAnimation, then releases it. What a
// frame draws is the subclass's business.
//
// "The base class refuses to initialise": a C++ constructor cannot return
// nothing, so a subclass's factory asks canDecode(coder) first and returns
// nullptr without building anything. Constructing from an archive that does
// not decode is a programming error.
#pragma once

#include <memory>

#include "platform/ui/coder.h"
#include "platform/ui/view.h"

namespace plat::ui {

class Window;

class ScreenSaverView : public View {
 public:
  // Archive keys.
  static constexpr const char* kFrameKey = "frame";
  static constexpr const char* kIsPreviewKey = "isPreview";

  ScreenSaverView(const Rect& frame, bool isPreview);
  // Only for an archive that canDecode accepts.
  explicit ScreenSaverView(const Coder& coder);

  // Whether ScreenSaverView(coder) would initialise: "frame" decodes as a
  // rectangle, and "isPreview", when present, as a Boolean.
  static bool canDecode(const Coder& coder);

  double animationTimeInterval() const { return animationTimeInterval_; }
  void setAnimationTimeInterval(double seconds) { animationTimeInterval_ = seconds; }
  bool isPreview() const { return isPreview_; }
  bool isAnimating() const { return animating_; }

  virtual void startAnimation() { animating_ = true; }
  virtual void stopAnimation() { animating_ = false; }
  virtual void animateOneFrame() {}
  virtual bool hasConfigureSheet() const { return false; }
  virtual std::shared_ptr<Window> configureSheet();

 private:
  double animationTimeInterval_ = 1.0 / 30.0;
  bool isPreview_ = false;
  bool animating_ = false;
};

}  // namespace plat::ui
