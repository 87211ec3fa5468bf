// What a person hears of the platform layer's failures. The engine installs
// one PlatformReports as the error sink for the modes that show pictures (a
// window, full screen, preview, xscreensaver's window, the offscreen PNG)
// and asks it, after each step that may have failed, what to say:
//   - a failure that leaves nothing to draw (no GPU device, no shader
//     library, a bundle or resource that cannot be had): one line, and the
//     engine exits 1;
//   - no pictures shown: one line naming the folder and what was found in
//     it, at start and again only when that changes; the same in German
//     for a notice over the view;
//   - with --verbose, each skipped picture with the decoder's reason as it
//     happens, every other failure once, and what the decoding libraries
//     said by themselves (warnings, lines they would have printed) as notes.
// What is shown is worked out from what the platform layer saw (the folder
// listed, each picture failing or made into a texture), not from the
// module's rules. Nothing here draws.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>

#include "platform/error_sink.h"

namespace quelltrine::engine {

// How the pictures stand since the folder was last listed.
enum class PictureState {
  Unknown,         // no folder listed yet
  Shown,           // a picture was made into a texture
  FolderMissing,   // the folder does not exist
  NotAFolder,      // the path is something else
  FolderUnreadable,
  FolderEmpty,
  NoPictureFiles,  // entries, but none that the saver tried as a picture
  NoneLoaded,      // every picture tried failed
};

class PlatformReports final : public plat::ErrorSink {
 public:
  // Lines go to `err`, each starting with programName().
  PlatformReports(std::ostream& err, bool verbose) : err_(err), verbose_(verbose) {}

  void failed(const plat::Error& error) override;
  void listedFolder(const std::string& folder, std::size_t entries) override;
  void madeTextureFromPicture(const std::string& path) override;
  void noted(const plat::Error& note) override;

  // The first failure that leaves nothing to draw, or none.
  std::optional<plat::Error> fatal() const;
  // Its one line, without the program name and the newline.
  static std::string fatalText(const plat::Error& error);

  // Why an offscreen render failed, as far as the layer reported it: the
  // fatal failure, else the last failed file write, else the last refused
  // GPU object; none when nothing was reported.
  std::optional<plat::Error> renderFailureCause() const;

  PictureState pictureState() const;
  // The line on the pictures (without the program name), or none when
  // pictures are shown or nothing has been listed yet.
  std::optional<std::string> pictureLine() const;
  // The same for a notice over the view, in German, e.g.
  // „Keine Bilder in /home/anna/Bilder: der Ordner ist leer“.
  std::optional<std::string> pictureNotice() const;
  // Prints pictureLine() when the state or the folder differs from the last
  // one printed; a return to Shown prints nothing but lets the next problem
  // be told again. True when a line was printed.
  bool sayPicturesIfChanged();

 private:
  struct Pictures {
    std::optional<std::string> folder;
    std::optional<plat::Error> listingError;
    std::size_t entries = 0;
    bool shown = false;
    std::set<std::string> failedPaths;
    std::optional<plat::Error> firstFailure;
  };

  void say(const std::string& line);
  PictureState stateLocked() const;
  std::optional<std::string> lineLocked(bool german) const;

  std::ostream& err_;
  const bool verbose_;
  mutable std::mutex mutex_;
  std::optional<plat::Error> fatal_;
  std::optional<plat::Error> lastWriteFailure_;
  std::optional<plat::Error> lastGpuFailure_;
  std::set<std::string> toldOnce_;  // --verbose: failures other than pictures, each told once
  Pictures pictures_;
  std::optional<std::pair<PictureState, std::string>> lastSaid_;
};

}  // namespace quelltrine::engine
