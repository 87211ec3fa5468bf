// The preferences file format (see key_file_format.h).
#include "platform/store/key_file_format.h"

#include <cerrno>
#include <cstring>

#include <glib.h>

namespace plat::store::format {

namespace {

// One group per stored type, so that a string "14" and the double 14 stay
// apart. Strings that a key file cannot hold as text (not UTF-8, or with a
// NUL) go base64-encoded into their own group.
constexpr const char* kStringGroup = "string";
constexpr const char* kDoubleGroup = "double";
constexpr const char* kBytesGroup = "bytes";

bool parseDouble(const char* text, double& out) {
  if (text == nullptr || *text == '\0' || g_ascii_isspace(*text)) return false;
  char* end = nullptr;
  errno = 0;
  const double v = g_ascii_strtod(text, &end);
  // Overflow gives ±HUGE_VAL with ERANGE: still the nearest double, keep it.
  if (end == text || *end != '\0') return false;
  out = v;
  return true;
}

bool isBase64(const char* s) {
  std::size_t n = 0;
  for (; s[n] != '\0'; ++n) {
    const char c = s[n];
    if (!(g_ascii_isalnum(c) || c == '+' || c == '/' || c == '=')) return false;
  }
  return n % 4 == 0;
}

}  // namespace

void Parsed::markDamaged(std::string why) {
  if (!damaged) damage = std::move(why);
  damaged = true;
}

// Text from a damaged file made fit for a one-line message: control bytes
// and bytes that are not UTF-8 become '?', and it is cut short.
std::string printable(std::string_view text, std::size_t limit) {
  std::string out;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end && out.size() < limit) {
    const gunichar c = g_utf8_get_char_validated(p, end - p);
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
      out += '?';
      ++p;
      continue;
    }
    const char* next = p + g_unichar_to_utf8(c, nullptr);  // the length of a validated character
    if (g_unichar_iscntrl(c)) {
      out += '?';
    } else {
      out.append(p, next);
    }
    p = next;
  }
  if (p < end) out += "...";
  return out;
}

bool isStorableKey(const std::string& key) {
  if (key.empty() || key.front() == ' ' || key.back() == ' ' || key.front() == '#') return false;
  if (!g_utf8_validate(key.data(), static_cast<gssize>(key.size()), nullptr)) return false;
  for (unsigned char c : key) {
    if (c < 0x20 || c == 0x7f || c == '=' || c == '[' || c == ']') return false;
  }
  return true;
}

Parsed parse(std::string_view data) {
  Parsed out;
  GKeyFile* kf = g_key_file_new();
  GError* err = nullptr;
  if (!g_key_file_load_from_data(kf, data.data(), data.size(), G_KEY_FILE_KEEP_COMMENTS, &err)) {
    out.markDamaged("not a key file: " + printable(err != nullptr ? err->message : "", 100));
    g_clear_error(&err);
    g_key_file_free(kf);
    return out;
  }
  gsize ngroups = 0;
  gchar** groups = g_key_file_get_groups(kf, &ngroups);
  for (gsize g = 0; g < ngroups; ++g) {
    const char* group = groups[g];
    const bool isString = std::strcmp(group, kStringGroup) == 0;
    const bool isDouble = std::strcmp(group, kDoubleGroup) == 0;
    const bool isBytes = std::strcmp(group, kBytesGroup) == 0;
    if (!isString && !isDouble && !isBytes) {
      out.markDamaged("unknown group [" + printable(group) + "]");
      continue;
    }
    gsize nkeys = 0;
    gchar** keys = g_key_file_get_keys(kf, group, &nkeys, nullptr);
    for (gsize k = 0; k < nkeys && keys != nullptr; ++k) {
      const std::string key = keys[k];
      std::optional<Value> value;
      if (isString) {
        if (gchar* s = g_key_file_get_string(kf, group, keys[k], nullptr)) {
          value = std::string(s);
          g_free(s);
        }
      } else if (isDouble) {
        gchar* raw = g_key_file_get_value(kf, group, keys[k], nullptr);
        double d = 0.0;
        if (parseDouble(raw, d)) value = d;
        g_free(raw);
      } else {
        gchar* raw = g_key_file_get_value(kf, group, keys[k], nullptr);
        if (raw != nullptr && isBase64(raw)) {
          gsize len = 0;
          guchar* bytes = g_base64_decode(raw, &len);
          value = std::string(reinterpret_cast<const char*>(bytes), len);
          g_free(bytes);
        }
        g_free(raw);
      }
      if (!value || out.values.count(key) != 0 || !isStorableKey(key)) {
        // Wrong type, text that is not UTF-8, or one key in two groups:
        // readers do without it, and the file counts as damaged.
        const std::string where = "'" + printable(key) + "' in [" + group + "]";
        if (!isStorableKey(key)) {
          out.markDamaged("a key that cannot be stored: " + where);
        } else if (value) {
          out.markDamaged("the key '" + printable(key) + "' in two groups");
        } else {
          out.markDamaged(where + (isDouble ? " is not a number" : isBytes ? " is not base64" : " is not UTF-8 text"));
        }
        continue;
      }
      out.values.emplace(key, std::move(*value));
    }
    g_strfreev(keys);
  }
  g_strfreev(groups);
  g_key_file_free(kf);
  return out;
}


std::string serialise(const std::map<std::string, Value>& values, const std::string& moduleName) {
  auto isText = [](const std::string& s) {
    return s.find('\0') == std::string::npos && g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr);
  };
  auto groupOf = [&](const Value& value) {
    if (const auto* s = std::get_if<std::string>(&value)) return isText(*s) ? kStringGroup : kBytesGroup;
    return kDoubleGroup;
  };
  GKeyFile* kf = g_key_file_new();
  // GLib reads a key "Encoding" in the file's first group as the file's
  // encoding and refuses the whole file unless it says UTF-8: such a key
  // goes after an empty group of another type, where it is a plain key.
  if (const auto encoding = values.find("Encoding"); encoding != values.end()) {
    const char* first = groupOf(encoding->second) == kStringGroup ? kDoubleGroup : kStringGroup;
    g_key_file_set_value(kf, first, "placeholder", "");
    g_key_file_remove_key(kf, first, "placeholder", nullptr);
  }
  for (const auto& [key, value] : values) {
    if (const auto* s = std::get_if<std::string>(&value)) {
      if (isText(*s)) {
        g_key_file_set_string(kf, kStringGroup, key.c_str(), s->c_str());
      } else {
        gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(s->data()), s->size());
        g_key_file_set_value(kf, kBytesGroup, key.c_str(), b64);
        g_free(b64);
      }
    } else {
      // %.17g round-trips every double exactly, NaN and infinities included.
      char buf[G_ASCII_DTOSTR_BUF_SIZE];
      g_ascii_formatd(buf, sizeof buf, "%.17g", std::get<double>(value));
      g_key_file_set_value(kf, kDoubleGroup, key.c_str(), buf);
    }
  }
  const std::string comment = " Preferences of " + moduleName + ". Written by the screen saver;\n"
                              " [string] holds text, [double] numbers, [bytes] base64 of text\n"
                              " that is not UTF-8.";
  if (!values.empty()) g_key_file_set_comment(kf, nullptr, nullptr, comment.c_str(), nullptr);
  gsize len = 0;
  gchar* data = g_key_file_to_data(kf, &len, nullptr);
  std::string out(data != nullptr ? data : "", data != nullptr ? len : 0);
  g_free(data);
  g_key_file_free(kf);
  return out;
}

}  // namespace plat::store::format
