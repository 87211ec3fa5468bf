// Controls of the retained model: label/text field, push button, slider.
// Each holds what the platform's control holds (text, target and action,
// value and range); the engine's presenter draws them with GTK and keeps
// them in step through the observer hooks. Colours and fonts are named, not
// resolved: the presenter maps them to its toolkit's defaults.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/view.h"

namespace plat::ui {

enum class LineBreakMode : int {
  WordWrapping = 0,
  CharWrapping = 1,
  Clipping = 2,
  TruncatingHead = 3,
  TruncatingTail = 4,
  TruncatingMiddle = 5,
};

class TextField : public View {
 public:
  // A label: not editable, not selectable, no border, no background.
  static std::shared_ptr<TextField> labelWithString(std::string text);

  const std::string& stringValue() const { return stringValue_; }
  // Notifies the observer when the text changes.
  void setStringValue(std::string text);

  bool isEditable() const { return editable_; }
  void setEditable(bool v) { editable_ = v; }
  bool isSelectable() const { return selectable_; }
  void setSelectable(bool v) { selectable_ = v; }
  bool isBordered() const { return bordered_; }
  void setBordered(bool v) { bordered_ = v; }
  bool drawsBackground() const { return drawsBackground_; }
  void setDrawsBackground(bool v) { drawsBackground_ = v; }

  LineBreakMode lineBreakMode() const { return lineBreakMode_; }
  void setLineBreakMode(LineBreakMode mode) { lineBreakMode_ = mode; }
  // A named platform colour, "labelColor" by default.
  const std::string& textColor() const { return textColor_; }
  void setTextColor(std::string name) { textColor_ = std::move(name); }

  void setObserver(std::function<void(TextField&)> observer) { observer_ = std::move(observer); }

 private:
  std::string stringValue_;
  bool editable_ = true;
  bool selectable_ = true;
  bool bordered_ = true;
  bool drawsBackground_ = true;
  LineBreakMode lineBreakMode_ = LineBreakMode::WordWrapping;
  std::string textColor_ = "labelColor";
  std::function<void(TextField&)> observer_;
};

// Target and action shared by buttons and sliders. The target is held
// weakly, as the platform does.
class Control : public View {
 public:
  std::shared_ptr<Object> target() const { return target_.lock(); }
  void setTarget(std::weak_ptr<Object> target) { target_ = std::move(target); }
  const std::string& action() const { return action_; }
  void setAction(std::string selector) { action_ = std::move(selector); }
  // Sends the action to the target through the object runtime; an action
  // whose selector ends in ':' gets this control (the sender) as argument.
  // False when there is no target or action, or the send failed.
  bool sendAction();

 private:
  std::weak_ptr<Object> target_;
  std::string action_;
};

class Button : public Control {
 public:
  static std::shared_ptr<Button> buttonWithTitle(std::string title, std::weak_ptr<Object> target, std::string action);

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  // "\r" makes the button the window's default button (Return presses it).
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(std::string key) { keyEquivalent_ = std::move(key); }
  void performClick() { sendAction(); }

 private:
  std::string title_;
  std::string keyEquivalent_;
};

class Slider : public Control {
 public:
  static std::shared_ptr<Slider> sliderWithValue(double value, double minValue, double maxValue,
                                                 std::weak_ptr<Object> target, std::string action);

  // Like the platform slider, the value is always within min..max: a value
  // set outside the range (or a range changed under it) is clamped to the
  // nearer bound, and a NaN becomes the minimum. The observer hears changes.
  double doubleValue() const { return value_; }
  void setDoubleValue(double value);
  double minValue() const { return min_; }
  double maxValue() const { return max_; }
  void setMinValue(double v);
  void setMaxValue(double v);

  int numberOfTickMarks() const { return tickMarks_; }
  void setNumberOfTickMarks(int n) { tickMarks_ = n < 0 ? 0 : n; }
  bool allowsTickMarkValuesOnly() const { return tickOnly_; }
  void setAllowsTickMarkValuesOnly(bool v) { tickOnly_ = v; }

  void setObserver(std::function<void(Slider&)> observer) { observer_ = std::move(observer); }

 private:
  double clamp(double v) const;
  double value_ = 0.0;
  double min_ = 0.0;
  double max_ = 1.0;
  int tickMarks_ = 0;
  bool tickOnly_ = false;
  std::function<void(Slider&)> observer_;
};

}  // namespace plat::ui
