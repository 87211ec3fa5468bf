// A window of the retained model: content rectangle, style, title, content
// view, sheet parent, visibility. The module builds one (the options
// window); the engine's presenter shows it and learns through the
// presenter hooks when the model orders it out. The model has no
// decorations, so frame and content rectangles coincide.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/geometry.h"
#include "platform/ui/object.h"
#include "platform/ui/view.h"

namespace plat::ui {

inline constexpr unsigned kWindowStyleMaskBorderless = 0;
inline constexpr unsigned kWindowStyleMaskTitled = 1;
inline constexpr unsigned kBackingStoreBuffered = 2;

class Window : public Object {
 public:
  Window(const Rect& contentRect, unsigned styleMask, unsigned backing, bool defer);
  ~Window() override;

  static Rect contentRectForFrameRect(const Rect& frame, unsigned /*styleMask*/) { return frame; }
  static Rect frameRectForContentRect(const Rect& content, unsigned /*styleMask*/) { return content; }

  Rect frame() const { return frame_; }
  Rect contentRect() const { return contentRectForFrameRect(frame_, styleMask_); }
  unsigned styleMask() const { return styleMask_; }
  unsigned backingType() const { return backing_; }
  bool isDeferred() const { return defer_; }

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }

  std::shared_ptr<View> contentView() const { return contentView_; }
  // Like the platform, the content view is resized to fill the content area.
  void setContentView(std::shared_ptr<View> view);

  // The window this one is attached to as a sheet (weak); null when none.
  std::shared_ptr<Window> sheetParent() const { return sheetParent_.lock(); }
  void setSheetParent(const std::shared_ptr<Window>& parent) { sheetParent_ = parent; }
  std::shared_ptr<Window> attachedSheet() const { return attachedSheet_; }
  void beginSheet(const std::shared_ptr<Window>& sheet);
  // Detaches `sheet` when it is this window's sheet; anything else is ignored.
  void endSheet(const std::shared_ptr<Window>& sheet);

  bool isVisible() const { return visible_; }
  void orderFront();
  void orderOut();

  // Presenter hooks (one each; an empty function removes it). Called after
  // the model changed, on the thread that changed it.
  void setOrderOutHandler(std::function<void(Window&)> handler) { onOrderOut_ = std::move(handler); }

 private:
  Rect frame_;
  unsigned styleMask_;
  unsigned backing_;
  bool defer_;
  std::string title_;
  std::shared_ptr<View> contentView_;
  std::weak_ptr<Window> sheetParent_;
  std::shared_ptr<Window> attachedSheet_;
  bool visible_ = false;
  std::function<void(Window&)> onOrderOut_;
};

}  // namespace plat::ui
