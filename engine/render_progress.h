// The progress bar of `render-png` on a terminal: frames done of N, frames
// per second and the time left, redrawn in place a few times a second on
// one line of stderr. The frames are rendered inside the module's
// diagnostic entry, which says nothing while it runs; the bar counts them
// from outside, through the GPU layer's count of completed offscreen
// command buffers, on a thread of its own. Whether to show a bar at all (a
// terminal, not a pipe or a file) is the caller's decision.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quelltrine::engine {

// One state of the bar, at most `columns` characters wide (the bar itself
// is left out when the terminal is too narrow for it), without a line end.
// `done` is clamped to 0..total; the rate and the time left appear once a
// frame is done and time has passed.
std::string formatRenderProgress(std::int64_t done, std::int64_t total, double elapsedSeconds, int columns);

class RenderProgress {
 public:
  using Counter = std::function<std::uint64_t()>;

  // Starts drawing on `fd` at once: `total` frames, counted as the rise of
  // `counter` from its value now.
  RenderProgress(int fd, std::int64_t total, Counter counter);
  // Draws the last state, ends the line and stops the thread.
  ~RenderProgress();
  RenderProgress(const RenderProgress&) = delete;
  RenderProgress& operator=(const RenderProgress&) = delete;

 private:
  void run();
  void draw(bool final);

  int fd_;
  std::int64_t total_;
  Counter counter_;
  std::uint64_t base_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace quelltrine::engine
