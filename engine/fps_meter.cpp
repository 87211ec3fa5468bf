// Frame rate and CPU load over a period (see fps_meter.h).
#include "engine/fps_meter.h"

#include <cstdio>

namespace quelltrine::engine {

void FpsMeter::start(Nanos wall, Nanos cpu) {
  wallStart_ = wall;
  cpuStart_ = cpu;
  frames_ = 0;
}

bool FpsMeter::frame(Nanos wall, Nanos cpu) {
  ++frames_;
  const Nanos elapsed = wall - wallStart_;
  if (elapsed < period_) return false;
  const double seconds = static_cast<double>(elapsed) / 1e9;
  fps_ = static_cast<double>(frames_) / seconds;
  // A CPU clock that went backwards (it cannot, but a caller may mix
  // clocks) reads as no load rather than a negative one.
  const Nanos used = cpu - cpuStart_;
  load_ = used > 0 ? static_cast<double>(used) / static_cast<double>(elapsed) : 0.0;
  hasReading_ = true;
  start(wall, cpu);
  return true;
}

std::vector<std::string> FpsMeter::lines() const {
  if (!hasReading_) return {};
  char fps[32], load[32];
  std::snprintf(fps, sizeof fps, "FPS:  %.1f", fps_);
  std::snprintf(load, sizeof load, "Load: %.1f%%", load_ * 100.0);
  return {fps, load};
}

}  // namespace quelltrine::engine
