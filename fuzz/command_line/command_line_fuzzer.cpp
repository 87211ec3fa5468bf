// libFuzzer target over the engine's command line. The input is a flag byte
// and then the words, each ended by a NUL byte (the last one may go without);
// when the flag is 'E' the first word is the value of XSCREENSAVER_WINDOW. Any words parse without a crash to
// either options or one error line without control characters, and the
// options hold together: a window to draw into in hack mode, never
// fullscreen and preview at once, an output file for render-png, the words
// after "defaults" handed on as they were.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "engine/command_line.h"

namespace {

using namespace quelltrine::engine;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "command_line_fuzzer: %s\n", what);
  std::abort();
}

bool hasControlCharacters(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<std::string> words;
  std::string word;
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(std::move(word));
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  std::optional<std::string> environment;
  if (data[0] == 'E' && !words.empty()) {
    environment = words.front();
    words.erase(words.begin());
  }

  const ParseResult r = parseCommandLine(words, environment ? environment->c_str() : nullptr);
  if (!r.options) {
    check(!r.error.empty(), "no options and no error");
    check(!hasControlCharacters(r.error), "an error with control characters (more than one line)");
    return 0;
  }
  check(r.error.empty(), "options and an error");
  check(!r.showUsage, "options with the usage");
  const Options& o = *r.options;
  check(!(o.fullscreen && o.preview), "fullscreen and preview at once");
  if (o.mode == Mode::Hack) {
    check(o.windowId != 0 || o.hackRoot, "hack mode without a window");
    check(!(o.windowId != 0 && o.hackRoot), "hack mode with a window id and the root window");
    check(o.windowId <= 0x1FFFFFFF, "a window id wider than X allows");
    check(!o.fullscreen && !o.preview, "hack mode with a window of its own");
  } else if (o.mode == Mode::OwnWindow) {
    check(o.windowId == 0, "a window of its own with a window id");
  }
  if (o.mode == Mode::RenderPNG) check(!o.pngPath.empty() && o.pngPath[0] != '-', "render-png without a file");
  if (o.mode == Mode::Defaults) {
    check(o.defaultsArgs.size() < words.size(), "defaults words that were not given");
    check(std::equal(o.defaultsArgs.rbegin(), o.defaultsArgs.rend(), words.rbegin()),
          "defaults words that are not the end of the command line");
  }
  for (const std::string& word : words) {
    if (const auto id = parseWindowId(word)) check(*id != 0 && *id <= 0x1FFFFFFF, "a window id out of range");
  }
  return 0;
}
