// The preferences file's format: a GLib key file with one group per stored
// type ([string] text, [double] numbers, [bytes] base64 of text that is not
// UTF-8). Parsing is lenient: what can be understood is kept, and the first
// problem found is named for a person to read. Serialising writes every
// value so that it parses back exactly. Knows nothing of files, locks or
// caching (screen_saver_defaults.h does those).
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "platform/store/screen_saver_defaults.h"

namespace plat::store::format {

struct Parsed {
  std::map<std::string, Value> values;
  bool damaged = false;  // present but not fully understood
  std::string damage;    // the first thing found wrong, one line

  // Keeps the first reason only.
  void markDamaged(std::string why);
};

// Any bytes; never fails.
Parsed parse(std::string_view data);

// The file for `values` (keys must be storable), with a comment naming the
// module when there is anything to write.
std::string serialise(const std::map<std::string, Value>& values, const std::string& moduleName);

// Whether a key file can hold `key` as a key (see ScreenSaverDefaults::setObject).
bool isStorableKey(const std::string& key);

// Text made fit for a one-line message: control characters and bytes that
// are not UTF-8 become '?', and more than `limit` bytes end in "...".
std::string printable(std::string_view text, std::size_t limit = 60);

}  // namespace plat::store::format
