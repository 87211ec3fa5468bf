// The error sink: how a host program hears of every failure of the platform
// layer where it happens, also when the code that called the layer drops the
// error (as module code does by design). The host installs one sink for the
// process; without one, failures go unheard, which is what tests and
// benchmarks get. Beside failures the sink hears two successes that a count
// of failures cannot tell from silence: a folder listed (with its number of
// entries) and a picture file made into a texture; and notes: what a library
// said by itself (a decoder's warning, a line it would have printed to
// stderr) without failing the operation. What a person sees of it is the
// host's decision; nothing here prints.
//
// Module code never includes this header: it neither reports nor listens.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/error.h"

namespace plat {

class ErrorSink {
 public:
  virtual ~ErrorSink() = default;
  // A failure, at the moment the platform layer makes its Error. Called on
  // the thread that failed, with no lock of the layer held.
  virtual void failed(const Error& error) = 0;
  // listDirectoryNames read `folder` to the end: `entries` names, hidden
  // ones left out.
  virtual void listedFolder(const std::string& folder, std::size_t entries) {
    (void)folder;
    (void)entries;
  }
  // The texture loader made a texture from the picture file at `path`.
  virtual void madeTextureFromPicture(const std::string& path) { (void)path; }
  // A library's own message that did not fail the operation by itself: the
  // note's kind and origin say whose (a Picture note from "heif"), its path
  // which file, its message what the library said.
  virtual void noted(const Error& note) { (void)note; }
};

// Installs `sink` for the whole process (nullptr: none) and returns the
// one it replaces.
std::shared_ptr<ErrorSink> setErrorSink(std::shared_ptr<ErrorSink> sink);

// Installs a sink for as long as it lives and puts the previous one back.
class ScopedErrorSink {
 public:
  explicit ScopedErrorSink(std::shared_ptr<ErrorSink> sink) : previous_(setErrorSink(std::move(sink))) {}
  ~ScopedErrorSink() { setErrorSink(std::move(previous_)); }
  ScopedErrorSink(const ScopedErrorSink&) = delete;
  ScopedErrorSink& operator=(const ScopedErrorSink&) = delete;

 private:
  std::shared_ptr<ErrorSink> previous_;
};

// For the platform layer's own code: each failure is reported once, by the
// operation that makes its Error; an operation that passes on an Error it
// got from another reporting operation does not report it again.
namespace detail {
// Hands `error` to the sink and returns it: `return report(Error{...});`.
Error report(Error error);
template <class T>
ErrorOr<T> reportFailure(ErrorOr<T> result) {
  if (!result) report(result.error());
  return result;
}
void noteFolderListed(const std::string& folder, std::size_t entries);
void noteTextureFromPicture(const std::string& path);
void note(const Error& note);
}  // namespace detail

}  // namespace plat
