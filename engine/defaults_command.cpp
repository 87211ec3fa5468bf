#include "engine/defaults_command.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <variant>

#include "host/preference_keys.h"
#include "platform/store/screen_saver_defaults.h"

namespace quelltrine {

namespace {

using plat::store::ScreenSaverDefaults;
using plat::store::Value;

constexpr const char* kUsage =
    "usage: defaults read [KEY] | write interval SECONDS | write imageFolder PATH | delete KEY";

bool isKnownKey(const std::string& key) {
  return key == settings::kIntervalKey || key == settings::kImageFolderKey;
}

// The shortest decimal text that reads back as the same double ("20", not
// "2e+01"; "7.25"; "0.1").
std::string formatDouble(double v) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  if (ec != std::errc()) return "nan";
  return std::string(buf, end);
}

std::string formatValue(const Value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return formatDouble(std::get<double>(v));
}

// Whole text, decimal, finite; no blanks, no trailing junk.
bool parseSeconds(const std::string& text, double& out) {
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = first + text.size();
  if (*first == '+') ++first;  // from_chars takes no plus sign
  auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last && std::isfinite(out);
}

int usageError(std::ostream& err, const std::string& message) {
  err << "defaults: " << message << '\n';
  return 2;
}

std::shared_ptr<ScreenSaverDefaults> openStore(std::ostream& err) {
  auto store = ScreenSaverDefaults::defaultsForModuleWithName(settings::kModuleName);
  if (!store) err << "defaults: cannot open the preferences store of " << settings::kModuleName << '\n';
  return store;
}

// The values count as read once they reached the reader: a pipe whose
// reader went away (SIGPIPE is ignored) or a full disk is a failure.
int flushOutput(std::ostream& out, std::ostream& err) {
  errno = 0;
  if (out.flush()) return 0;
  err << "defaults: cannot write to standard output" << (errno != 0 ? std::string(": ") + std::strerror(errno) : "")
      << '\n';
  return 1;
}

int flush(ScreenSaverDefaults& store, std::ostream& err) {
  if (store.synchronize()) return 0;
  err << "defaults: could not write " << store.path() << '\n';
  return 1;
}

}  // namespace

int runDefaultsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return usageError(err, kUsage);
  const std::string& verb = args[0];

  if (verb == "read") {
    if (args.size() > 2) return usageError(err, "read takes at most one key");
    if (args.size() == 2 && !isKnownKey(args[1])) return usageError(err, "unknown key '" + args[1] + "'");
    auto store = openStore(err);
    if (!store) return 1;
    // A damaged file reads as far as it can be understood; without this
    // line a value lost to the damage would just look unset.
    if (const auto damage = store->fileDamage()) {
      err << "defaults: " << store->path() << " is damaged (" << *damage
          << "); what could be read is shown, and the next write keeps the file aside\n";
    }
    const auto all = store->dictionaryRepresentation();
    if (args.size() == 1) {
      for (const auto& [key, value] : all) out << key << " = " << formatValue(value) << '\n';
      return flushOutput(out, err);
    }
    auto it = all.find(args[1]);
    if (it == all.end()) {
      err << "defaults: the key '" << args[1] << "' is not set\n";
      return 1;
    }
    out << formatValue(it->second) << '\n';
    return flushOutput(out, err);
  }

  if (verb == "write") {
    if (args.size() != 3) return usageError(err, "write takes a key and one value");
    const std::string& key = args[1];
    if (!isKnownKey(key)) return usageError(err, "unknown key '" + key + "'");
    double seconds = 0.0;
    if (key == settings::kIntervalKey && !parseSeconds(args[2], seconds)) {
      return usageError(err, "interval must be a finite number of seconds, not '" + args[2] + "'");
    }
    auto store = openStore(err);
    if (!store) return 1;
    if (key == settings::kIntervalKey) {
      store->setDouble(seconds, key);
    } else {
      store->setObject(args[2], key);
    }
    const int status = flush(*store, err);
    // Stored as asked, like any other value; but say that the saver will
    // not use it, rather than let a 1-second setting look like it failed.
    if (status == 0 && key == settings::kIntervalKey && !(seconds > settings::kMinimumUsableInterval)) {
      err << "defaults: note: the saver shows each picture for " << formatDouble(settings::kDefaultInterval)
          << " seconds while interval is " << formatDouble(settings::kMinimumUsableInterval) << " or less\n";
    }
    return status;
  }

  if (verb == "delete") {
    if (args.size() != 2) return usageError(err, "delete takes one key");
    if (!isKnownKey(args[1])) return usageError(err, "unknown key '" + args[1] + "'");
    auto store = openStore(err);
    if (!store) return 1;
    store->removeObjectForKey(args[1]);
    return flush(*store, err);
  }

  return usageError(err, "unknown command '" + verb + "'; " + kUsage);
}

}  // namespace quelltrine
