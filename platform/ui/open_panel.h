// The folder/file picker. The model holds the panel's settings and result;
// runModal hands the panel to a process-wide runner that the engine installs
// (GTK's chooser, modal) and tests script. Without a runner it answers
// Cancel at once, so a module never blocks when no one can show a panel.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat::ui {

inline constexpr long kModalResponseCancel = 0;
inline constexpr long kModalResponseOK = 1;

class OpenPanel {
 public:
  using Runner = std::function<long(OpenPanel&)>;

  static std::shared_ptr<OpenPanel> openPanel() { return std::make_shared<OpenPanel>(); }

  bool canChooseDirectories() const { return canChooseDirectories_; }
  void setCanChooseDirectories(bool v) { canChooseDirectories_ = v; }
  bool canChooseFiles() const { return canChooseFiles_; }
  void setCanChooseFiles(bool v) { canChooseFiles_ = v; }
  bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
  void setAllowsMultipleSelection(bool v) { allowsMultipleSelection_ = v; }
  // The folder the panel starts in (a path); empty: the runner's choice.
  const std::string& directoryURL() const { return directoryURL_; }
  void setDirectoryURL(std::string path) { directoryURL_ = std::move(path); }

  // Clears the previous result, runs the installed runner and returns its
  // response. Any response other than OK leaves URLs() empty. A runner that
  // answers OK with more paths than allowed keeps only the first.
  long runModal();

  // The chosen paths (runners set them with setURLs).
  const std::vector<std::string>& URLs() const { return urls_; }
  std::optional<std::string> URL() const;
  void setURLs(std::vector<std::string> paths) { urls_ = std::move(paths); }

  // Installs the process-wide runner (an empty function uninstalls it).
  static void setRunner(Runner runner);

 private:
  bool canChooseDirectories_ = false;
  bool canChooseFiles_ = true;
  bool allowsMultipleSelection_ = false;
  std::string directoryURL_;
  std::vector<std::string> urls_;
};

}  // namespace plat::ui
