// The engine's error sink and what it makes of the failures it hears (see
// platform_reports.h).
#include "engine/platform_reports.h"

#include <cerrno>

#include "engine/program_name.h"

namespace quelltrine::engine {
namespace {

bool leavesNothingToDraw(plat::ErrorKind kind) {
  return kind == plat::ErrorKind::Device || kind == plat::ErrorKind::ShaderLibrary || kind == plat::ErrorKind::Bundle;
}

// The name of a picture inside the folder, the whole path otherwise.
std::string shortName(const std::string& path, const std::string& folder) {
  if (!folder.empty() && path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
      path[folder.size()] == '/') {
    return path.substr(folder.size() + 1);
  }
  return path;
}

// "path: origin: message" on one line: a decoder's reason with its name.
std::string withOrigin(const plat::Error& error) {
  plat::Error e = error;
  if (!e.origin.empty()) e.message = e.origin + ": " + e.message;
  return e.text();
}

}  // namespace

void PlatformReports::say(const std::string& line) { err_ << programName() << ": " << line << "\n" << std::flush; }

void PlatformReports::failed(const plat::Error& error) {
  std::lock_guard lock(mutex_);
  using plat::ErrorKind;
  if (leavesNothingToDraw(error.kind)) {
    // The engine says the first one and exits; the rest follow from it.
    if (!fatal_) fatal_ = error;
    return;
  }
  switch (error.kind) {
    case ErrorKind::Folder:
      pictures_ = Pictures{};
      pictures_.folder = error.path;
      pictures_.listingError = error;
      return;
    case ErrorKind::Picture:
      if (verbose_) say("skipped " + (error.path.empty() ? std::string("a picture") : withOrigin(error)));
      if (pictures_.folder) {
        pictures_.failedPaths.insert(error.path);
        if (!pictures_.firstFailure) pictures_.firstFailure = error;
      }
      return;
    case ErrorKind::FileWrite:
      lastWriteFailure_ = error;
      break;
    case ErrorKind::Gpu:
      lastGpuFailure_ = error;
      break;
    default:
      break;
  }
  // A failure of a frame or an object may come back every frame: told once.
  if (verbose_ && toldOnce_.insert(withOrigin(error)).second) say(withOrigin(error));
}

// A library's word on a picture that may still be shown: only for those
// who asked, and marked as a note so that it is not read as a skip.
void PlatformReports::noted(const plat::Error& note) {
  std::lock_guard lock(mutex_);
  if (verbose_) say("note: " + withOrigin(note));
}

void PlatformReports::listedFolder(const std::string& folder, std::size_t entries) {
  std::lock_guard lock(mutex_);
  pictures_ = Pictures{};
  pictures_.folder = folder;
  pictures_.entries = entries;
}

void PlatformReports::madeTextureFromPicture(const std::string& /*path*/) {
  std::lock_guard lock(mutex_);
  pictures_.shown = true;
}

std::optional<plat::Error> PlatformReports::fatal() const {
  std::lock_guard lock(mutex_);
  return fatal_;
}

std::string PlatformReports::fatalText(const plat::Error& error) { return error.text(); }

std::optional<plat::Error> PlatformReports::renderFailureCause() const {
  std::lock_guard lock(mutex_);
  if (fatal_) return fatal_;
  if (lastWriteFailure_) return lastWriteFailure_;
  return lastGpuFailure_;
}

PictureState PlatformReports::stateLocked() const {
  const Pictures& p = pictures_;
  if (!p.folder) return PictureState::Unknown;
  if (p.listingError) {
    if (p.listingError->code == ENOENT) return PictureState::FolderMissing;
    if (p.listingError->code == ENOTDIR) return PictureState::NotAFolder;
    return PictureState::FolderUnreadable;
  }
  if (p.shown) return PictureState::Shown;
  if (p.entries == 0) return PictureState::FolderEmpty;
  // Every picture the saver picks is tried at once; none tried means none
  // of the entries is one it picks.
  if (p.failedPaths.empty()) return PictureState::NoPictureFiles;
  return PictureState::NoneLoaded;
}

PictureState PlatformReports::pictureState() const {
  std::lock_guard lock(mutex_);
  return stateLocked();
}

std::optional<std::string> PlatformReports::lineLocked(bool german) const {
  const Pictures& p = pictures_;
  const std::string folder = p.folder.value_or("");
  switch (stateLocked()) {
    case PictureState::Unknown:
    case PictureState::Shown:
      return std::nullopt;
    case PictureState::FolderMissing:
      return german ? "Keine Bilder: Den Ordner " + folder + " gibt es nicht"
                    : "no pictures: the folder " + folder + " does not exist";
    case PictureState::NotAFolder:
      return german ? "Keine Bilder: " + folder + " ist kein Ordner" : "no pictures: " + folder + " is not a folder";
    case PictureState::FolderUnreadable:
      return german ? "Keine Bilder: Der Ordner " + folder + " ist nicht lesbar"
                    : "no pictures: " + p.listingError->text();
    case PictureState::FolderEmpty:
      return german ? "Keine Bilder in " + folder + ": Der Ordner ist leer"
                    : "no pictures: the folder " + folder + " is empty";
    case PictureState::NoPictureFiles: {
      if (german) return "Keine Bilder in " + folder + ": Keine Datei vom Typ JPG, JPEG, PNG, HEIC, TIFF oder BMP";
      const std::string count = std::to_string(p.entries) + (p.entries == 1 ? " entry" : " entries");
      return "no pictures in " + folder + ": " + count +
             ", none of them a .jpg, .jpeg, .png, .heic, .tiff or .bmp file";
    }
    case PictureState::NoneLoaded: {
      if (german) return "Keine Bilder in " + folder + ": Keines der Bilder l\u00e4sst sich \u00f6ffnen";
      plat::Error first = *p.firstFailure;
      first.path = shortName(first.path, folder);
      const std::size_t n = p.failedPaths.size();
      return "no pictures shown from " + folder + ": " + std::to_string(n) + (n == 1 ? " picture" : " pictures") +
             " tried, none could be read (first: " + withOrigin(first) + ")";
    }
  }
  return std::nullopt;
}

std::optional<std::string> PlatformReports::pictureLine() const {
  std::lock_guard lock(mutex_);
  return lineLocked(false);
}

std::optional<std::string> PlatformReports::pictureNotice() const {
  std::lock_guard lock(mutex_);
  return lineLocked(true);
}

bool PlatformReports::sayPicturesIfChanged() {
  std::lock_guard lock(mutex_);
  const PictureState state = stateLocked();
  if (state == PictureState::Unknown) return false;
  if (state == PictureState::Shown) {
    lastSaid_.reset();
    return false;
  }
  auto key = std::make_pair(state, pictures_.folder.value_or(""));
  if (lastSaid_ == key) return false;
  lastSaid_ = key;
  say(*lineLocked(false));
  return true;
}

}  // namespace quelltrine::engine
