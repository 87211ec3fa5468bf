// Control models and action sending.
#include "platform/ui/controls.h"

#include <algorithm>
#include <cmath>

#include "platform/runtime/class_registry.h"

namespace plat::ui {

std::shared_ptr<TextField> TextField::labelWithString(std::string text) {
  auto label = std::make_shared<TextField>();
  label->stringValue_ = std::move(text);
  label->editable_ = false;
  label->selectable_ = false;
  label->bordered_ = false;
  label->drawsBackground_ = false;
  return label;
}

void TextField::setStringValue(std::string text) {
  if (text == stringValue_) return;
  stringValue_ = std::move(text);
  if (observer_) observer_(*this);
}

bool Control::sendAction() {
  auto target = target_.lock();
  if (!target || action_.empty() || !rt::respondsTo(*target, action_)) return false;
  // An action selector with a colon takes the sender; one without takes nothing.
  std::vector<rt::Value> args;
  if (rt::selectorArity(action_) == 1) args.emplace_back(shared_from_this());
  return !rt::isError(rt::send(*target, action_, std::move(args)));
}

std::shared_ptr<Button> Button::buttonWithTitle(std::string title, std::weak_ptr<Object> target, std::string action) {
  auto button = std::make_shared<Button>();
  button->title_ = std::move(title);
  button->setTarget(std::move(target));
  button->setAction(std::move(action));
  return button;
}

std::shared_ptr<Slider> Slider::sliderWithValue(double value, double minValue, double maxValue,
                                                std::weak_ptr<Object> target, std::string action) {
  auto slider = std::make_shared<Slider>();
  slider->min_ = minValue;
  slider->max_ = std::max(minValue, maxValue);
  slider->value_ = slider->clamp(value);
  slider->setTarget(std::move(target));
  slider->setAction(std::move(action));
  return slider;
}

double Slider::clamp(double v) const {
  if (std::isnan(v)) return min_;
  return std::clamp(v, min_, max_);
}

void Slider::setDoubleValue(double value) {
  double v = clamp(value);
  if (v == value_) return;
  value_ = v;
  if (observer_) observer_(*this);
}

void Slider::setMinValue(double v) {
  min_ = v;
  if (max_ < min_) max_ = min_;
  setDoubleValue(value_);
}

void Slider::setMaxValue(double v) {
  max_ = v;
  if (min_ > max_) min_ = max_;
  setDoubleValue(value_);
}

}  // namespace plat::ui
