// quelltrine-saver: the host engine. Finds and loads the saver bundle, then
// runs one mode: the saver in windows of its own or in a foreign window
// (xscreensaver), the options window, the offscreen PNG render, or the
// preferences tool. What each mode shows is the module's; the engine only
// creates views, ticks them and presents their options window, and says
// what the platform layer reported going wrong (platform_reports.h).
#include <gtk/gtk.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "engine/bundle_locator.h"
#include "engine/defaults_command.h"
#include "engine/command_line.h"
#include "engine/gtk_presenter.h"
#include "engine/platform_reports.h"
#include "engine/program_name.h"
#include "engine/render_progress.h"
#include "engine/x11_session.h"
#include "platform/error_sink.h"
#include "platform/gpu/command_buffer.h"
#include "platform/runtime/bundle.h"
#include "platform/ui/open_panel.h"
#include "platform/ui/screen_saver_view.h"
#include "platform/ui/window.h"

namespace {

using namespace quelltrine::engine;

std::shared_ptr<const plat::rt::ClassInfo> loadViewClass(const Options& o) {
  BundleSearch search;
  search.option = o.bundlePath;
  if (const char* env = std::getenv("QUELLTRINE_BUNDLE")) search.environment = env;
  search.executableDir = executableDirectory();
  search.buildTreeDir = QUELLTRINE_BINARY_DIR;
  search.buildTreeBundle = QUELLTRINE_BUNDLE_DIR;
  auto path = locateBundle(search);
  if (!path) {
    std::cerr << programName() << ": " << path.error().text() << "\n";
    return nullptr;
  }
  auto bundle = plat::rt::Bundle::bundleWithPath(*path);
  if (!bundle) {
    std::cerr << programName() << ": " << bundle.error().text() << "\n";
    return nullptr;
  }
  auto found = (*bundle)->principalClass();
  if (!found) {
    std::cerr << programName() << ": " << found.error().text() << "\n";
    return nullptr;
  }
  std::shared_ptr<const plat::rt::ClassInfo> cls = *found;
  if (!cls->initWithFrame) {
    std::cerr << programName() << ": " << cls->name << " has no initWithFrame:isPreview:\n";
    return nullptr;
  }
  return cls;
}

// The diagnostic entry answers only true or false. Why it failed is what
// the platform layer reported; when it reported nothing, a guess from
// outside.
std::string whyRenderFailed(const std::string& path, const PlatformReports& reports) {
  if (auto cause = reports.renderFailureCause()) {
    // A failed write names the file already.
    if (cause->kind == plat::ErrorKind::FileWrite && cause->path == path) return cause->message;
    return PlatformReports::fatalText(*cause);
  }
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, ec)) return "the folder " + folder.string() + " does not exist";
  if (::access(folder.c_str(), W_OK) != 0) return "the folder " + folder.string() + " is not writable";
  if (fs::is_directory(path, ec)) return path + " is a folder";
  return "the PNG file could not be written";
}

int renderPNG(const Options& o, PlatformReports& reports) {
  auto cls = loadViewClass(o);
  if (!cls) return 1;
  auto view = cls->initWithFrame(plat::ui::makeRect(0, 0, 1280, 800), false);
  if (!view) {
    std::cerr << programName() << ": " << cls->name << " did not create a view\n";
    return 1;
  }
  plat::rt::Value result;
  {
    // On a terminal, a bar shows the frames as the GPU layer completes them;
    // scripts and logs get nothing.
    std::optional<RenderProgress> progress;
    if (::isatty(STDERR_FILENO) == 1) {
      progress.emplace(STDERR_FILENO, o.frames > 1 ? o.frames : 1, plat::gpu::completedCommandBufferCount);
    }
    result = plat::rt::send(*view, "debugRenderPNGToPath:frames:", {o.pngPath, o.frames});
  }
  if (auto* e = std::get_if<plat::Error>(&result)) {
    std::cerr << programName() << ": " << e->text() << "\n";
    return 1;
  }
  if (result != plat::rt::Value{true}) {
    std::cerr << programName() << ": could not render " << o.pngPath << ": " << whyRenderFailed(o.pngPath, reports)
              << "\n";
    return 1;
  }
  // The file is written, but what it shows may not be what was meant: a
  // renderer without its shader library draws nothing, a folder without
  // pictures shows the fallback colour.
  if (auto fatal = reports.fatal()) {
    std::cerr << programName() << ": " << PlatformReports::fatalText(*fatal) << "\n";
  } else {
    reports.sayPicturesIfChanged();
  }
  return 0;
}

int configure(const Options& o) {
  auto cls = loadViewClass(o);
  if (!cls) return 1;
  // GTK takes the display from its own command line, as every GTK program does.
  std::string program = programName(), displayOption = "--display=" + o.display;
  std::vector<char*> gtkArgs{program.data()};
  if (!o.display.empty()) gtkArgs.push_back(displayOption.data());
  int gtkArgc = static_cast<int>(gtkArgs.size());
  char** gtkArgv = gtkArgs.data();
  if (!gtk_init_check(&gtkArgc, &gtkArgv)) {
    std::cerr << programName() << ": cannot open the display"
              << (o.display.empty() ? std::string() : " " + o.display) << " for the options window\n";
    return 1;
  }
  installGtkOpenPanelRunner();
  auto view = cls->initWithFrame(plat::ui::makeRect(0, 0, 960, 600), false);
  if (!view) {
    std::cerr << programName() << ": " << cls->name << " did not create a view\n";
    return 1;
  }
  if (!view->hasConfigureSheet()) {
    std::cout << programName() << ": " << cls->name << " has no options\n";
    return 0;
  }
  auto sheet = view->configureSheet();
  if (!sheet) {
    std::cerr << programName() << ": " << cls->name << " offered options but gave no window\n";
    return 1;
  }
  presentModally(sheet);
  plat::ui::OpenPanel::setRunner({});
  return 0;
}

int runMode(const Options& o) {
  switch (o.mode) {
    case Mode::Help:
      std::cout << usageText();
      return 0;
    case Mode::Version:
      std::cout << "quelltrine-saver " << QUELLTRINE_VERSION << "\n";
      return 0;
    case Mode::Defaults:
      return quelltrine::runDefaultsCommand(o.defaultsArgs, std::cout, std::cerr);
    case Mode::Configure:
      return configure(o);
    case Mode::RenderPNG:
    case Mode::OwnWindow:
    case Mode::Hack: {
      // The modes that show pictures hear what the platform layer reports.
      auto reports = std::make_shared<PlatformReports>(std::cerr, o.verbose);
      plat::ScopedErrorSink sink(reports);
      if (o.mode == Mode::RenderPNG) return renderPNG(o, *reports);
      auto cls = loadViewClass(o);
      if (!cls) return 1;
      return runX11Session(o, *cls, *reports, std::cerr);
    }
  }
  return 1;
}

// What went to standard output has reached its reader only once it is
// flushed: a reader that went away (`| head -0`) or a full disk is a failure
// of the command, said on stderr, unless the command failed already.
int finishStandardOutput(int status) {
  errno = 0;
  std::cout.flush();
  const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || std::cout.fail();
  if (!failed || status != 0) return status;
  std::cerr << programName() << ": cannot write to standard output"
            << (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe is a write error that the writer reports, not a silent
  // death by SIGPIPE (exit status 141) halfway through a message.
  ::signal(SIGPIPE, SIG_IGN);
  setProgramName(argc > 0 ? argv[0] : nullptr);
  std::vector<std::string> args(argv + 1, argv + argc);
  ParseResult parsed = parseCommandLine(args, std::getenv("XSCREENSAVER_WINDOW"));
  if (!parsed.options) {
    std::cerr << programName() << ": " << parsed.error << "\n";
    if (parsed.showUsage) std::cerr << "\n" << usageText();
    return 2;
  }
  return finishStandardOutput(runMode(*parsed.options));
}
