// Command-line parsing.
#include "engine/command_line.h"

#include <cerrno>
#include <cstdlib>

namespace quelltrine::engine {
namespace {

// Accepts both "-name" and "--name" for the xscreensaver-style options.
bool isFlag(const std::string& arg, const char* name) { return arg == std::string("-") + name || arg == std::string("--") + name; }

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
  auto fail = [](std::string message) { return ParseResult{std::nullopt, std::move(message)}; };
  bool explicitWindowId = false, ownWindow = false, sawCommand = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* what) -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      (void)what;
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.mode = Mode::Help;
      return {o, ""};
    }
    if (a == "--version") {
      o.mode = Mode::Version;
      return {o, ""};
    }
    if (a == "--bundle" || a.rfind("--bundle=", 0) == 0) {
      auto v = a == "--bundle" ? value("--bundle") : std::optional<std::string>(a.substr(9));
      if (!v || v->empty()) return fail("--bundle needs a path");
      o.bundlePath = *v;
    } else if (isFlag(a, "verbose")) {
      o.verbose = true;
    } else if (a == "--fullscreen") {
      o.fullscreen = true;
    } else if (a == "--preview") {
      o.preview = true;
    } else if (isFlag(a, "root")) {
      o.hackRoot = true;
    } else if (isFlag(a, "window")) {
      ownWindow = true;
    } else if (isFlag(a, "window-id")) {
      auto v = value("--window-id");
      if (!v) return fail(a + " needs a window id");
      auto id = parseWindowId(*v);
      if (!id) return fail("not a window id: '" + *v + "' (decimal or 0x-hex)");
      o.windowId = *id;
      explicitWindowId = true;
    } else if (a == "--frames") {
      if (o.mode != Mode::RenderPNG) return fail("--frames belongs to render-png");
      auto v = value("--frames");
      char* end = nullptr;
      errno = 0;
      long long n = v ? std::strtoll(v->c_str(), &end, 10) : 0;
      // Any whole number goes through: the diagnostic entry itself renders
      // one frame for zero or a negative count.
      if (!v || v->empty() || *end != '\0' || errno != 0) return fail("--frames needs a whole number");
      o.frames = n;
    } else if (!sawCommand && a == "configure") {
      o.mode = Mode::Configure;
      sawCommand = true;
    } else if (!sawCommand && a == "render-png") {
      auto v = value("render-png");
      if (!v || v->empty() || (*v)[0] == '-') return fail("render-png needs an output file");
      o.mode = Mode::RenderPNG;
      o.pngPath = *v;
      sawCommand = true;
    } else if (!sawCommand && a == "defaults") {
      o.mode = Mode::Defaults;
      o.defaultsArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      return {o, ""};
    } else {
      return fail("unknown argument '" + a + "' (try --help)");
    }
  }

  bool hackOption = o.hackRoot || explicitWindowId || ownWindow;
  if (o.mode != Mode::OwnWindow && (hackOption || o.fullscreen || o.preview)) {
    return fail("window options do not go with a command");
  }
  if (o.fullscreen && o.preview) return fail("--fullscreen and --preview exclude each other");
  if (static_cast<int>(o.hackRoot) + static_cast<int>(explicitWindowId) + static_cast<int>(ownWindow) > 1) {
    return fail("choose one of -root, -window and -window-id");
  }
  if (o.mode != Mode::OwnWindow) return {o, ""};

  std::optional<unsigned long> envWindow;
  if (xscreensaverWindow && *xscreensaverWindow) {
    envWindow = parseWindowId(xscreensaverWindow);
    if (!envWindow && !explicitWindowId) {
      return fail(std::string("XSCREENSAVER_WINDOW is not a window id: '") + xscreensaverWindow + "'");
    }
  }
  if (explicitWindowId) {
    o.mode = Mode::Hack;
  } else if (envWindow) {
    if (o.fullscreen || o.preview) return fail("--fullscreen and --preview do not go with XSCREENSAVER_WINDOW");
    o.mode = Mode::Hack;
    o.windowId = *envWindow;
    o.hackRoot = false;
  } else if (o.hackRoot) {
    if (o.fullscreen || o.preview) return fail("--fullscreen and --preview do not go with -root");
    o.mode = Mode::Hack;
  }
  if (o.mode == Mode::Hack && (o.fullscreen || o.preview)) {
    return fail("--fullscreen and --preview do not go with -window-id");
  }
  return {o, ""};
}

std::string usageText() {
  return "Usage: quelltrine-saver [OPTIONS] [COMMAND]\n"
         "\n"
         "With no command, shows the saver in a window of its own until it is\n"
         "closed or Escape or q is pressed.\n"
         "  --fullscreen          one full-screen view per monitor\n"
         "  --preview             a small window with a preview view\n"
         "  -root, --root         draw into the root window (or $XSCREENSAVER_WINDOW)\n"
         "  -window, --window     a window of its own (the default)\n"
         "  -window-id ID         draw into the existing window ID (decimal or 0x-hex)\n"
         "  --bundle PATH         the saver bundle to load (else $QUELLTRINE_BUNDLE)\n"
         "  --verbose             also report each picture that is skipped, with the reason\n"
         "  --help, --version\n"
         "\n"
         "Commands:\n"
         "  configure                         show the options window\n"
         "  render-png FILE [--frames N]      render N frames offscreen, write the last to FILE\n"
         "  defaults read|write|delete KEY [VALUE]\n"
         "                                    read or change the stored preferences\n"
         "\n"
         "Inside xscreensaver ($XSCREENSAVER_WINDOW set) the saver draws into that window.\n";
}

}  // namespace quelltrine::engine
