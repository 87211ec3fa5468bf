// The render-png progress bar (see render_progress.h).
#include "engine/render_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

namespace quelltrine::engine {
namespace {

constexpr auto kRedrawPeriod = std::chrono::milliseconds(250);

std::string clockText(double seconds) {
  const auto s = static_cast<long long>(std::ceil(seconds));
  char buffer[32];
  if (s >= 3600) {
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld", s / 60, s % 60);
  }
  return buffer;
}

int terminalColumns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void writeAll(int fd, const std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed terminal: the render goes on without its bar
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

std::string formatRenderProgress(std::int64_t done, std::int64_t total, double elapsedSeconds, int columns) {
  if (total < 1) total = 1;
  done = std::clamp<std::int64_t>(done, 0, total);
  std::string text = std::to_string(done) + "/" + std::to_string(total) + " frames";
  if (done > 0 && elapsedSeconds > 0.0) {
    const double rate = static_cast<double>(done) / elapsedSeconds;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "  %.1f fps", rate);
    text += buffer;
    text += "  " + clockText(static_cast<double>(total - done) / rate) + " left";
  }
  // "[" bar "] " before the text; a bar narrower than ten cells says little.
  const int room = columns - static_cast<int>(text.size()) - 3;
  if (room < 10) return text.substr(0, static_cast<std::size_t>(std::max(columns, 0)));
  const int cells = std::min(room, 40);
  const auto filled = static_cast<int>(static_cast<double>(cells) * static_cast<double>(done) / static_cast<double>(total));
  return "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(cells - filled), '.') +
         "] " + text;
}

RenderProgress::RenderProgress(int fd, std::int64_t total, Counter counter)
    : fd_(fd), total_(total < 1 ? 1 : total), counter_(std::move(counter)), base_(counter_()),
      start_(std::chrono::steady_clock::now()) {
  draw(false);
  thread_ = std::thread([this] { run(); });
}

RenderProgress::~RenderProgress() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  draw(true);
}

void RenderProgress::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, kRedrawPeriod, [this] { return stop_; })) draw(false);
}

void RenderProgress::draw(bool final) {
  const std::uint64_t now = counter_();
  const auto done = static_cast<std::int64_t>(now >= base_ ? now - base_ : 0);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  // Back to the line's start, the state, and the rest of the line cleared
  // (a shorter state must not leave the end of a longer one behind).
  writeAll(fd_, "\r" + formatRenderProgress(done, total_, elapsed, terminalColumns(fd_) - 1) + "\x1b[K" +
                    (final ? "\n" : ""));
}

}  // namespace quelltrine::engine
