#include "shaders/amount_constants.h"

#include <charconv>

namespace quelltrine {

namespace {

std::string_view trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::string glslFloat(float value) {
  char buffer[128];  // fixed notation of the smallest float takes 47 places after the point
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  std::string text(buffer, ec == std::errc() ? end : buffer);
  if (text.find('.') == std::string::npos) text += ".0";
  return text;
}

std::optional<std::string> withAmountConstants(std::string_view library, std::span<const SlotAmount> amounts,
                                               std::string& why) {
  std::string constants;
  for (const SlotAmount& a : amounts)
    constants += "const float " + std::string(a.field) + "Full = " + glslFloat(a.full) + ";\n";

  std::string out;
  int markers = 0;
  std::size_t at = 0;
  while (at < library.size()) {
    std::size_t end = library.find('\n', at);
    end = end == std::string_view::npos ? library.size() : end + 1;
    const std::string_view line = library.substr(at, end - at);
    if (trimmed(line) == kAmountsMarker) {
      ++markers;
      out += constants;
    } else {
      out += line;
    }
    at = end;
  }
  if (markers != 1) {
    why = markers == 0 ? "no " + std::string(kAmountsMarker) + " line for the slot amounts"
                       : std::to_string(markers) + " " + std::string(kAmountsMarker) + " lines; one is wanted";
    return std::nullopt;
  }
  return out;
}

}  // namespace quelltrine
