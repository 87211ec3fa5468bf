// The numbers of the frame-rate display: frames per second and the
// process's CPU load over the last period of about a second, as
// xscreensaver's GL hacks show them. Pure arithmetic on the wall clock and
// the CPU time the caller reads, so it is tested with made-up clocks; the
// drawing of the lines is the overlay's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelltrine::engine {

class FpsMeter {
 public:
  using Nanos = std::int64_t;
  static constexpr Nanos kDefaultPeriod = 1'000'000'000;

  explicit FpsMeter(Nanos period = kDefaultPeriod) : period_(period > 0 ? period : kDefaultPeriod) {}

  // Starts counting at wall-clock time `wall` with `cpu` nanoseconds of CPU
  // time used by the process so far.
  void start(Nanos wall, Nanos cpu);
  // One frame shown at `wall`, with `cpu` CPU time used. True when a period
  // has passed since the last reading: fps() and load() then hold new
  // values and counting starts over.
  bool frame(Nanos wall, Nanos cpu);

  bool hasReading() const { return hasReading_; }
  double fps() const { return fps_; }
  // CPU time over wall time: 1.0 is one core busy all the time; the GPU
  // driver's threads count too, so it can exceed 1.0.
  double load() const { return load_; }

  // "FPS:  29.9" and "Load: 12.3%", or nothing before the first reading.
  std::vector<std::string> lines() const;

 private:
  Nanos period_;
  Nanos wallStart_ = 0;
  Nanos cpuStart_ = 0;
  std::int64_t frames_ = 0;
  bool hasReading_ = false;
  double fps_ = 0.0;
  double load_ = 0.0;
};

}  // namespace quelltrine::engine
