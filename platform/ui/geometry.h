// Plain geometry of the window system: points and sizes in double precision,
// rectangles with their origin at the bottom-left corner and y growing upwards.
#pragma once

namespace plat::ui {

struct Point {
  double x = 0.0;
  double y = 0.0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0.0;
  double height = 0.0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  Point origin;
  Size size;
  friend bool operator==(const Rect&, const Rect&) = default;
};

inline Rect makeRect(double x, double y, double w, double h) { return Rect{{x, y}, {w, h}}; }

}  // namespace plat::ui
