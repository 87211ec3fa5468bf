// OpenPanel: the runner hand-off.
#include "platform/ui/open_panel.h"

namespace plat::ui {
namespace {

OpenPanel::Runner& runnerSlot() {
  static OpenPanel::Runner runner;
  return runner;
}

}  // namespace

void OpenPanel::setRunner(Runner runner) { runnerSlot() = std::move(runner); }

long OpenPanel::runModal() {
  urls_.clear();
  // Copy: the runner may replace itself while running.
  Runner runner = runnerSlot();
  if (!runner) return kModalResponseCancel;
  long response = runner(*this);
  if (response != kModalResponseOK) {
    urls_.clear();
    return response;
  }
  if (!allowsMultipleSelection_ && urls_.size() > 1) urls_.resize(1);
  return response;
}

std::optional<std::string> OpenPanel::URL() const {
  if (urls_.empty()) return std::nullopt;
  return urls_.front();
}

}  // namespace plat::ui
