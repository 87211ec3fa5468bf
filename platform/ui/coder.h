// A small keyed archive: the stand-in for the archive a view is loaded from.
// Values are kept as strings under string keys; typed accessors encode
// doubles exactly (shortest round-trip form), rectangles as four doubles and
// Booleans as "1"/"0". archivedData()/fromArchivedData() turn the archive
// into one text blob and back (one "key=value" line each, with \\, \n and =
// escaped). A missing or malformed value decodes as std::nullopt; what that
// means is up to the reader. Malformed archive data is an Error of kind
// Archive, told to the error sink.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/ui/geometry.h"

namespace plat::ui {

class Coder {
 public:
  void encodeString(const std::string& key, const std::string& value) { values_[key] = value; }
  void encodeDouble(const std::string& key, double value);
  void encodeBool(const std::string& key, bool value);
  void encodeRect(const std::string& key, const Rect& rect);

  bool containsValueForKey(const std::string& key) const { return values_.count(key) != 0; }
  std::optional<std::string> decodeString(const std::string& key) const;
  // Only finite numbers decode.
  std::optional<double> decodeDouble(const std::string& key) const;
  std::optional<bool> decodeBool(const std::string& key) const;
  // Four finite numbers "x y width height"; a negative width or height fails.
  std::optional<Rect> decodeRect(const std::string& key) const;

  std::string archivedData() const;
  // An Error naming the line for a line without '=' or a bad escape.
  static ErrorOr<Coder> fromArchivedData(std::string_view data);

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace plat::ui
