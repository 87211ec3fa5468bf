// When the next tick is due. Ticks follow a fixed grid of one period from a
// monotonic clock, so their average rate is exact even though each wait
// ends a little late; but a tick that comes later than a whole period (the
// process was stopped, or a frame was slow) restarts the grid from now:
// missed ticks are dropped, never run in a burst to catch up. Pure
// arithmetic on nanosecond counts, so it is tested with a fake clock.
#pragma once

#include <cstdint>

namespace quelltrine::engine {

class TickScheduler {
 public:
  using Nanos = std::int64_t;

  explicit TickScheduler(Nanos period) : period_(period) {}

  // The first tick is due at `now`.
  void start(Nanos now) { due_ = now; }
  bool isDue(Nanos now) const { return now >= due_; }
  Nanos due() const { return due_; }
  // How long to wait from `now` until the next tick (0 when it is due).
  Nanos waitFrom(Nanos now) const { return now >= due_ ? 0 : due_ - now; }
  // Call after running a tick at time `now`.
  void ticked(Nanos now) {
    due_ += period_;
    if (due_ <= now) due_ = now + period_;
  }

 private:
  Nanos period_;
  Nanos due_ = 0;
};

}  // namespace quelltrine::engine
