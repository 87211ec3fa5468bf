// The error value's one-line text and the process-wide sink (error.h,
// error_sink.h).
#include <mutex>
#include <ostream>

#include "platform/error.h"
#include "platform/error_sink.h"

namespace plat {
namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<ErrorSink>& installedSink() {
  static std::shared_ptr<ErrorSink> sink;
  return sink;
}

// A copy, so that the sink runs without the lock held and may itself call
// into the layer (or replace the sink).
std::shared_ptr<ErrorSink> currentSink() {
  std::lock_guard lock(sinkMutex());
  return installedSink();
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Line breaks, and the blanks around them, become "; "; blanks at either
// end go.
std::string oneLine(const std::string& s) {
  std::string out;
  bool pendingBreak = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\n' || s[i] == '\r') {
      while (!out.empty() && isBlank(out.back())) out.pop_back();
      pendingBreak = !out.empty();
      while (i + 1 < s.size() && isBlank(s[i + 1])) ++i;
      continue;
    }
    // "link:\n  0:3 error" reads "link: 0:3 error"; other lines are joined by "; ".
    if (pendingBreak) out += out.back() == ':' ? " " : "; ";
    pendingBreak = false;
    out += s[i];
  }
  while (!out.empty() && isBlank(out.back())) out.pop_back();
  std::size_t start = 0;
  while (start < out.size() && isBlank(out[start])) ++start;
  return out.substr(start);
}

}  // namespace

const char* kindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Device: return "device";
    case ErrorKind::ShaderLibrary: return "shader library";
    case ErrorKind::Bundle: return "bundle";
    case ErrorKind::Gpu: return "gpu";
    case ErrorKind::Folder: return "folder";
    case ErrorKind::Picture: return "picture";
    case ErrorKind::FileWrite: return "file write";
    case ErrorKind::Preferences: return "preferences";
    case ErrorKind::Runtime: return "runtime";
    case ErrorKind::Archive: return "archive";
  }
  return "?";
}

std::ostream& operator<<(std::ostream& out, ErrorKind kind) { return out << kindName(kind); }

std::string Error::text() const { return oneLine(path.empty() ? message : path + ": " + message); }

std::shared_ptr<ErrorSink> setErrorSink(std::shared_ptr<ErrorSink> sink) {
  std::lock_guard lock(sinkMutex());
  std::swap(installedSink(), sink);
  return sink;
}

namespace detail {

Error report(Error error) {
  if (auto sink = currentSink()) sink->failed(error);
  return error;
}

void noteFolderListed(const std::string& folder, std::size_t entries) {
  if (auto sink = currentSink()) sink->listedFolder(folder, entries);
}

void noteTextureFromPicture(const std::string& path) {
  if (auto sink = currentSink()) sink->madeTextureFromPicture(path);
}

void note(const Error& note) {
  if (auto sink = currentSink()) sink->noted(note);
}

}  // namespace detail
}  // namespace plat
