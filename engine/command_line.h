// The engine's command line: which mode to run and with what. Parsing is
// pure (the environment's XSCREENSAVER_WINDOW is passed in) so that it can
// be tested; main() prints the error and exits 2 for a bad command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quelltrine::engine {

enum class Mode {
  OwnWindow,   // a window of our own (also --preview, --fullscreen)
  Hack,        // draw into an existing window (xscreensaver)
  Configure,   // show the options window
  RenderPNG,   // offscreen diagnostic render
  Defaults,    // the preferences tool
  Help,
  Version,
};

struct Options {
  Mode mode = Mode::OwnWindow;
  bool fullscreen = false;
  bool preview = false;
  // Hack mode: the window to draw into; 0 with hackRoot: the root window.
  unsigned long windowId = 0;
  bool hackRoot = false;
  // The options every xscreensaver hack takes. --display opens that X
  // display (empty: $DISPLAY); --fps draws the frame rate and CPU load over
  // each view. --visual, --install and --mono are accepted and have no
  // effect: the EGL config chooses the visual, and there is no colour map to
  // install on a TrueColor screen.
  std::string display;
  bool fps = false;
  std::string visual;
  std::string bundlePath;  // --bundle, empty: search
  bool verbose = false;    // --verbose: every skipped picture with its reason, a damaged preferences file
  std::string pngPath;
  std::int64_t frames = 1;
  std::vector<std::string> defaultsArgs;  // the words after "defaults"
};

struct ParseResult {
  std::optional<Options> options;
  std::string error;  // one line, when options is empty
  // An option the program does not know: the usage follows the error.
  bool showUsage = false;
};

// args excludes the program name. xscreensaverWindow is the value of
// $XSCREENSAVER_WINDOW or nullptr. Inside xscreensaver (variable set) the
// saver always draws into that window unless --window-id names another; on
// its own, -root draws into the root window and -window (the default) opens
// a window of its own. Options that xscreensaver's hacks share come with
// one or two dashes and take their value as the next word or after '='.
// --window-id wins over -root and -window, as xscreensaver's settings tool
// passes "--root --window-id ID" for its preview; between -root and
// -window, and between --fps and --no-fps, the last one counts.
ParseResult parseCommandLine(const std::vector<std::string>& args, const char* xscreensaverWindow);

// A window id in decimal or 0x-hex; nullopt for anything else, 0 included.
std::optional<unsigned long> parseWindowId(const std::string& text);

std::string usageText();

}  // namespace quelltrine::engine
