// Keyed archive encoding and parsing.
#include "platform/ui/coder.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "platform/error_sink.h"

namespace plat::ui {
namespace {

std::string formatDouble(double v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::optional<double> parseDouble(std::string_view s) {
  double v = 0.0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

void appendEscaped(std::string& out, std::string_view s) {
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '=': out += "\\e"; break;
      default: out += c;
    }
  }
}

std::optional<std::string> unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i == s.size()) return std::nullopt;
    switch (s[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'e': out += '='; break;
      default: return std::nullopt;
    }
  }
  return out;
}

}  // namespace

void Coder::encodeDouble(const std::string& key, double value) { values_[key] = formatDouble(value); }

void Coder::encodeBool(const std::string& key, bool value) { values_[key] = std::string(value ? "1" : "0"); }

void Coder::encodeRect(const std::string& key, const Rect& r) {
  values_[key] = formatDouble(r.origin.x) + " " + formatDouble(r.origin.y) + " " + formatDouble(r.size.width) + " " +
                 formatDouble(r.size.height);
}

std::optional<std::string> Coder::decodeString(const std::string& key) const {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<double> Coder::decodeDouble(const std::string& key) const {
  auto s = decodeString(key);
  return s ? parseDouble(*s) : std::nullopt;
}

std::optional<bool> Coder::decodeBool(const std::string& key) const {
  auto s = decodeString(key);
  if (!s) return std::nullopt;
  if (*s == "1" || *s == "true") return true;
  if (*s == "0" || *s == "false") return false;
  return std::nullopt;
}

std::optional<Rect> Coder::decodeRect(const std::string& key) const {
  auto s = decodeString(key);
  if (!s) return std::nullopt;
  double v[4];
  std::string_view rest = *s;
  for (int i = 0; i < 4; ++i) {
    auto space = rest.find(' ');
    if ((i < 3) != (space != std::string_view::npos)) return std::nullopt;
    auto part = parseDouble(rest.substr(0, space));
    if (!part) return std::nullopt;
    v[i] = *part;
    if (i < 3) rest.remove_prefix(space + 1);
  }
  if (v[2] < 0.0 || v[3] < 0.0) return std::nullopt;
  return makeRect(v[0], v[1], v[2], v[3]);
}

std::string Coder::archivedData() const {
  std::string out;
  for (const auto& [key, value] : values_) {
    appendEscaped(out, key);
    out += '=';
    appendEscaped(out, value);
    out += '\n';
  }
  return out;
}

ErrorOr<Coder> Coder::fromArchivedData(std::string_view data) {
  Coder coder;
  std::size_t lineNo = 0;
  while (!data.empty()) {
    ++lineNo;
    auto nl = data.find('\n');
    std::string_view line = data.substr(0, nl);
    data.remove_prefix(nl == std::string_view::npos ? data.size() : nl + 1);
    if (line.empty()) continue;
    auto eq = line.find('=');
    auto key = eq == std::string_view::npos ? std::nullopt : unescape(line.substr(0, eq));
    auto value = eq == std::string_view::npos ? std::nullopt : unescape(line.substr(eq + 1));
    if (!key || !value) {
      return plat::detail::report(Error{ErrorKind::Archive, "coder",
                                        "archive line " + std::to_string(lineNo) + " is not an escaped key=value pair",
                                        {}});
    }
    coder.values_[*key] = *value;
  }
  return coder;
}

}  // namespace plat::ui
