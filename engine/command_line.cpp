// Command-line parsing.
#include "engine/command_line.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace quelltrine::engine {
namespace {

// One word of the command line read as an option: "-name", "--name",
// "-name=value" or "--name=value". Words without a leading dash, and a lone
// "-" or "--", are not options.
struct OptionWord {
  std::string name;
  std::optional<std::string> inlineValue;
};

std::optional<OptionWord> optionWord(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '-') return std::nullopt;
  const std::size_t start = arg[1] == '-' ? 2 : 1;
  if (start >= arg.size()) return std::nullopt;
  const std::size_t eq = arg.find('=', start);
  OptionWord w;
  w.name = arg.substr(start, eq == std::string::npos ? std::string::npos : eq - start);
  if (eq != std::string::npos) w.inlineValue = arg.substr(eq + 1);
  return w;
}

// A word of the command line as an error message shows it: control
// characters (a newline, a terminal escape) written out as \n, \t or \xNN,
// so that the message stays one line and cannot move the terminal.
std::string shown(const std::string& word) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : word) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Options that hold nothing but `mode`.
Options standAlone(Mode mode) {
  Options o;
  o.mode = mode;
  return o;
}

}  // namespace

std::optional<unsigned long> parseWindowId(const std::string& text) {
  if (text.empty()) return std::nullopt;
  int base = 10;
  std::string digits = text;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    digits = text.substr(2);
  }
  for (char c : digits) {
    bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : (c >= '0' && c <= '9');
    if (!ok) return std::nullopt;
  }
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(digits.c_str(), &end, base);
  // X resource ids are 29 bits wide.
  if (errno != 0 || *end != '\0' || v == 0 || v > 0x1FFFFFFFull) return std::nullopt;
  return static_cast<unsigned long>(v);
}

ParseResult parseCommandLine(const std::vector<std::string>& args, const char* xscreensaverWindow) {
  Options o;
  auto fail = [](std::string message) { return ParseResult{std::nullopt, std::move(message), false}; };
  enum class Place { Unset, Root, Window };
  Place place = Place::Unset;
  bool explicitWindowId = false, sawCommand = false;
  // Options that only mean something when the saver shows views, and the
  // first of them seen, for the message when they come with a command.
  std::string windowOption;
  bool sawDisplay = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // Help and the version stand alone: whatever came before them means
    // nothing (and may not hold together).
    if (a == "-h") return {standAlone(Mode::Help), "", false};
    if (!sawCommand && a == "configure") {
      o.mode = Mode::Configure;
      sawCommand = true;
      continue;
    }
    if (!sawCommand && a == "render-png") {
      if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1][0] == '-') return fail("render-png needs an output file");
      o.mode = Mode::RenderPNG;
      o.pngPath = args[++i];
      sawCommand = true;
      continue;
    }
    if (!sawCommand && a == "defaults") {
      o.mode = Mode::Defaults;
      o.defaultsArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      if (!windowOption.empty() || sawDisplay) return fail("window options do not go with defaults");
      return {o, "", false};
    }
    const std::optional<OptionWord> word = optionWord(a);
    if (!word) return {std::nullopt, "unknown argument '" + shown(a) + "'", true};
    const std::string& name = word->name;
    // The option's value: after '=' or the next word. An empty value counts
    // as missing.
    auto value = [&]() -> std::optional<std::string> {
      if (word->inlineValue) {
        if (word->inlineValue->empty()) return std::nullopt;
        return word->inlineValue;
      }
      if (i + 1 >= args.size() || args[i + 1].empty()) return std::nullopt;
      return args[++i];
    };
    auto flag = [&]() { return !word->inlineValue; };
    auto noValue = [&]() { return fail("-" + shown(name) + " takes no value"); };
    auto noteWindowOption = [&]() {
      if (windowOption.empty()) windowOption = "-" + name;
    };

    if (name == "help") return {standAlone(Mode::Help), "", false};
    if (name == "version") return {standAlone(Mode::Version), "", false};
    if (name == "bundle") {
      auto v = value();
      if (!v) return fail("--bundle needs a path");
      o.bundlePath = *v;
    } else if (name == "verbose") {
      if (!flag()) return noValue();
      o.verbose = true;
    } else if (name == "fullscreen" || name == "preview") {
      if (!flag()) return noValue();
      (name == "fullscreen" ? o.fullscreen : o.preview) = true;
      noteWindowOption();
    } else if (name == "root" || name == "window") {
      if (!flag()) return noValue();
      place = name == "root" ? Place::Root : Place::Window;
      noteWindowOption();
    } else if (name == "window-id") {
      auto v = value();
      if (!v) return fail("-window-id needs a window id");
      auto id = parseWindowId(*v);
      if (!id) return fail("not a window id: '" + shown(*v) + "' (decimal or 0x-hex)");
      o.windowId = *id;
      explicitWindowId = true;
      noteWindowOption();
    } else if (name == "display") {
      auto v = value();
      if (!v) return fail("-display needs a display name, e.g. :0");
      o.display = *v;
      sawDisplay = true;
    } else if (name == "visual") {
      auto v = value();
      if (!v) return fail("-visual needs a visual (the EGL config chooses it; any name is accepted)");
      o.visual = *v;
      noteWindowOption();
    } else if (name == "fps" || name == "no-fps") {
      if (!flag()) return noValue();
      o.fps = name == "fps";
      noteWindowOption();
    } else if (name == "install" || name == "mono") {
      if (!flag()) return noValue();
      noteWindowOption();
    } else if (name == "frames") {
      if (o.mode != Mode::RenderPNG) return fail("--frames belongs to render-png");
      auto v = value();
      char* end = nullptr;
      errno = 0;
      long long n = v ? std::strtoll(v->c_str(), &end, 10) : 0;
      // Any whole number goes through: the diagnostic entry itself renders
      // one frame for zero or a negative count.
      if (!v || *end != '\0' || errno != 0) return fail("--frames needs a whole number");
      o.frames = n;
    } else {
      return {std::nullopt, "unknown option '" + shown(a) + "'", true};
    }
  }

  if (o.mode == Mode::RenderPNG && sawDisplay) return fail("-display does not go with render-png");
  if (o.mode != Mode::OwnWindow && !windowOption.empty()) {
    return fail(windowOption + " does not go with a command");
  }
  if (o.fullscreen && o.preview) return fail("--fullscreen and --preview exclude each other");
  if (o.mode != Mode::OwnWindow) return {o, "", false};

  std::optional<unsigned long> envWindow;
  if (xscreensaverWindow && *xscreensaverWindow) {
    envWindow = parseWindowId(xscreensaverWindow);
    if (!envWindow && !explicitWindowId) {
      return fail("XSCREENSAVER_WINDOW is not a window id: '" + shown(xscreensaverWindow) + "'");
    }
  }
  if (explicitWindowId) {
    o.mode = Mode::Hack;
  } else if (envWindow) {
    if (o.fullscreen || o.preview) return fail("--fullscreen and --preview do not go with XSCREENSAVER_WINDOW");
    o.mode = Mode::Hack;
    o.windowId = *envWindow;
  } else if (place == Place::Root) {
    if (o.fullscreen || o.preview) return fail("--fullscreen and --preview do not go with -root");
    o.mode = Mode::Hack;
    o.hackRoot = true;
  }
  if (o.mode == Mode::Hack && (o.fullscreen || o.preview)) {
    return fail("--fullscreen and --preview do not go with -window-id");
  }
  return {o, "", false};
}

std::string usageText() {
  return "Usage: quelltrine-saver [OPTIONS] [COMMAND]\n"
         "\n"
         "With no command, shows the saver in a window of its own until it is\n"
         "closed or Escape or q is pressed.\n"
         "  --fullscreen          one full-screen view per monitor\n"
         "  --preview             a small window with a preview view\n"
         "  --bundle PATH         the saver bundle to load (else $QUELLTRINE_BUNDLE)\n"
         "  --verbose             also report each picture that is skipped, with the reason,\n"
         "                        and a damaged preferences file\n"
         "  --help, --version\n"
         "\n"
         "The options every xscreensaver hack takes:\n"
         "  --display DISPLAY     the X display to open (else $DISPLAY)\n"
         "  --visual VISUAL       accepted; with EGL the visual is chosen by the EGL config\n"
         "  --window              a window of its own (the default)\n"
         "  --root                draw into the root window (or $XSCREENSAVER_WINDOW)\n"
         "  --window-id ID        draw into the existing window ID (decimal or 0x-hex);\n"
         "                        wins over --root and --window\n"
         "  --install             accepted; there is no colour map to install\n"
         "  --fps, --no-fps       show the frame rate and CPU load in a corner, or not\n"
         "  --mono                accepted; has no effect\n"
         "Every option takes one dash or two, and its value after a space or '='\n"
         "(--window-id=0x400005, -display :1).\n"
         "\n"
         "Commands:\n"
         "  configure                         show the options window\n"
         "  render-png FILE [--frames N]      render N frames offscreen, write the last to FILE\n"
         "                                    (a progress bar on stderr when it is a terminal)\n"
         "  defaults read|write|delete KEY [VALUE]\n"
         "                                    read or change the stored preferences\n"
         "\n"
         "Inside xscreensaver ($XSCREENSAVER_WINDOW set) the saver draws into that window.\n";
}

}  // namespace quelltrine::engine
