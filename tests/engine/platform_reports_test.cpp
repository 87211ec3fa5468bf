// What the engine makes of the platform layer's reports: the state of the
// pictures from the folder listing and each picture's fate, the line said
// once per change, the German notice, the failure that ends a session, the
// cause of a failed render, and --verbose.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "engine/platform_reports.h"
#include "engine/program_name.h"

namespace plat {
// Failure messages show the error, not its bytes.
inline void PrintTo(const Error& e, std::ostream* os) {
  *os << kindName(e.kind) << " [" << e.origin << "] " << e.text();
}
}  // namespace plat

namespace {

using quelltrine::engine::PictureState;
using quelltrine::engine::PlatformReports;
using ::testing::HasSubstr;
using plat::Error;
using plat::ErrorKind;

const std::string kFolder = "/home/anna/Bilder";

Error folderError(int code, const std::string& message) {
  return Error{ErrorKind::Folder, "folder", message, kFolder, code};
}
Error pictureError(const std::string& name, const std::string& reason) {
  return Error{ErrorKind::Picture, "jpeg", reason, kFolder + "/" + name};
}

std::vector<std::string> lines(const std::ostringstream& out) {
  std::vector<std::string> result;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

TEST(PlatformReports, EachPictureStateNamesTheFolderAndWhatWasFound) {
  const struct {
    const char* name;
    void (*feed)(PlatformReports&);
    PictureState state;
    const char* line;    // part of the English line
    const char* notice;  // part of the German notice
  } cases[] = {
      {"missing", [](PlatformReports& r) { r.failed(folderError(ENOENT, "the folder does not exist")); },
       PictureState::FolderMissing, "the folder /home/anna/Bilder does not exist",
       "Den Ordner /home/anna/Bilder gibt es nicht"},
      {"a file", [](PlatformReports& r) { r.failed(folderError(ENOTDIR, "not a folder")); }, PictureState::NotAFolder,
       "/home/anna/Bilder is not a folder", "ist kein Ordner"},
      {"unreadable",
       [](PlatformReports& r) { r.failed(folderError(EACCES, "cannot read the folder: Permission denied")); },
       PictureState::FolderUnreadable, "/home/anna/Bilder: cannot read the folder: Permission denied", "nicht lesbar"},
      {"empty", [](PlatformReports& r) { r.listedFolder(kFolder, 0); }, PictureState::FolderEmpty,
       "the folder /home/anna/Bilder is empty", "Keine Bilder in /home/anna/Bilder: Der Ordner ist leer"},
      {"no picture files", [](PlatformReports& r) { r.listedFolder(kFolder, 3); }, PictureState::NoPictureFiles,
       "no pictures in /home/anna/Bilder: 3 entries, none of them a .jpg", "Keine Datei vom Typ"},
      {"all broken",
       [](PlatformReports& r) {
         r.listedFolder(kFolder, 2);
         r.failed(pictureError("a.jpg", "Not a JPEG file"));
         r.failed(pictureError("b.jpg", "Premature end"));
         r.failed(pictureError("a.jpg", "Not a JPEG file"));  // tried twice in a call: one picture
       },
       PictureState::NoneLoaded,
       "from /home/anna/Bilder: 2 pictures tried, none could be read (first: a.jpg: jpeg: Not a JPEG file)",
       "Keines der Bilder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out;
    PlatformReports reports(out, false);
    c.feed(reports);
    EXPECT_EQ(reports.pictureState(), c.state);
    EXPECT_THAT(reports.pictureLine().value_or("(none)"), HasSubstr(c.line));
    EXPECT_THAT(reports.pictureNotice().value_or("(none)"), HasSubstr(c.notice));
    EXPECT_EQ(out.str(), "") << "nothing is said before the engine asks";
  }
}

TEST(PlatformReports, OnePictureShownSilencesTheNoticeUntilTheNextListing) {
  std::ostringstream out;
  PlatformReports reports(out, false);
  EXPECT_EQ(reports.pictureState(), PictureState::Unknown);
  EXPECT_EQ(reports.pictureLine(), std::nullopt) << "nothing listed yet";
  reports.listedFolder(kFolder, 5);
  reports.failed(pictureError("a.jpg", "bad"));
  reports.madeTextureFromPicture(kFolder + "/b.jpg");
  reports.failed(pictureError("c.jpg", "bad"));  // a later failure leaves the picture on screen
  EXPECT_EQ(reports.pictureState(), PictureState::Shown);
  EXPECT_EQ(reports.pictureLine(), std::nullopt);
  EXPECT_EQ(reports.pictureNotice(), std::nullopt);
  reports.listedFolder(kFolder, 0);  // another folder chosen, or another view's scan
  EXPECT_EQ(reports.pictureState(), PictureState::FolderEmpty);
  // A failure before any listing belongs to no folder.
  PlatformReports fresh(out, false);
  fresh.failed(pictureError("a.jpg", "bad"));
  EXPECT_EQ(fresh.pictureState(), PictureState::Unknown);
}

TEST(PlatformReports, ThePictureLineIsSaidOnceAndAgainOnlyWhenItChanges) {
  quelltrine::engine::setProgramName("/usr/libexec/xscreensaver/quelltrine");
  std::ostringstream out;
  PlatformReports reports(out, false);
  EXPECT_FALSE(reports.sayPicturesIfChanged()) << "nothing listed";
  reports.listedFolder(kFolder, 0);
  EXPECT_TRUE(reports.sayPicturesIfChanged());
  EXPECT_FALSE(reports.sayPicturesIfChanged()) << "every tick asks; the line is said once";
  reports.listedFolder(kFolder, 0);  // the second monitor's view scans the same folder
  EXPECT_FALSE(reports.sayPicturesIfChanged());
  reports.listedFolder(kFolder, 2);
  EXPECT_TRUE(reports.sayPicturesIfChanged()) << "empty -> no picture files";
  reports.listedFolder("/elsewhere", 2);
  EXPECT_TRUE(reports.sayPicturesIfChanged()) << "the same state in another folder";
  reports.madeTextureFromPicture("/elsewhere/a.png");
  EXPECT_FALSE(reports.sayPicturesIfChanged()) << "pictures shown: nothing to say";
  reports.listedFolder("/elsewhere", 2);
  EXPECT_TRUE(reports.sayPicturesIfChanged()) << "the problem back after pictures were shown";
  const auto said = lines(out);
  ASSERT_EQ(said.size(), 4u);
  EXPECT_EQ(said[0], "quelltrine: no pictures: the folder /home/anna/Bilder is empty");
  EXPECT_THAT(said[1], HasSubstr("no pictures in /home/anna/Bilder: 2 entries"));
  EXPECT_THAT(said[2], HasSubstr("no pictures in /elsewhere: 2 entries"));
  EXPECT_EQ(said[3], said[2]);
  quelltrine::engine::setProgramName("quelltrine-saver");
}

TEST(PlatformReports, TheFirstFailureThatLeavesNothingToDrawIsTheOneTold) {
  std::ostringstream out;
  PlatformReports reports(out, true);
  reports.failed(Error{ErrorKind::Gpu, "drawable", "no drawable", {}});
  reports.failed(Error{ErrorKind::Picture, "png", "bad", "/p/a.png"});
  EXPECT_EQ(reports.fatal(), std::nullopt) << "a refused object or a skipped picture leaves the saver running";
  reports.failed(Error{ErrorKind::Device, "egl", "no GPU device: eglInitialize failed: EGL_NOT_INITIALIZED", {}});
  reports.failed(Error{ErrorKind::ShaderLibrary, "pipeline", "the pipeline lacks a fragment function", {}});
  ASSERT_TRUE(reports.fatal());
  EXPECT_EQ(PlatformReports::fatalText(*reports.fatal()), "no GPU device: eglInitialize failed: EGL_NOT_INITIALIZED");
  EXPECT_THAT(out.str(), ::testing::Not(HasSubstr("eglInitialize"))) << "the engine says it, once, not the sink";

  PlatformReports library(out, false);
  library.failed(Error{ErrorKind::ShaderLibrary, "library", "malformed shader library: line 3: unknown marker //@x",
                       "/b/Contents/Resources/default.glsllib"});
  library.failed(Error{ErrorKind::Bundle, "bundle", "the bundle has no resource default.glsllib", "/b"});
  ASSERT_TRUE(library.fatal());
  EXPECT_EQ(PlatformReports::fatalText(*library.fatal()),
            "/b/Contents/Resources/default.glsllib: malformed shader library: line 3: unknown marker //@x");
}

TEST(PlatformReports, AFailedRenderIsExplainedByTheMostTellingReport) {
  std::ostringstream out;
  PlatformReports reports(out, false);
  EXPECT_EQ(reports.renderFailureCause(), std::nullopt);
  const Error gpu{ErrorKind::Gpu, "texture", "a texture of 0 x 800 is outside 1 ... 16384", {}};
  const Error write{ErrorKind::FileWrite, "png", "the folder /x does not exist", "/x/out.png", ENOENT};
  const Error device{ErrorKind::Device, "egl", "no GPU device: eglGetDisplay failed: EGL_BAD_PARAMETER", {}};
  reports.failed(gpu);
  EXPECT_EQ(reports.renderFailureCause(), gpu);
  reports.failed(write);
  reports.failed(gpu);
  EXPECT_EQ(reports.renderFailureCause(), write) << "a failed write says more than a refused object";
  reports.failed(device);
  EXPECT_EQ(reports.renderFailureCause(), device);
}

TEST(PlatformReports, VerboseTellsEachSkippedPictureWithItsReasonAndOtherFailuresOnce) {
  std::ostringstream quiet, verbose;
  PlatformReports silent(quiet, false), talking(verbose, true);
  for (PlatformReports* r : {&silent, &talking}) {
    r->listedFolder(kFolder, 2);
    r->failed(pictureError("a.jpg", "Not a JPEG file: starts with 0x89 0x50"));
    r->failed(pictureError("a.jpg", "Not a JPEG file: starts with 0x89 0x50"));
    for (int frame = 0; frame < 3; ++frame) r->failed(Error{ErrorKind::Gpu, "drawable", "no drawable", {}});
  }
  EXPECT_EQ(quiet.str(), "");
  const auto said = lines(verbose);
  ASSERT_EQ(said.size(), 3u);
  EXPECT_EQ(said[0], "quelltrine-saver: skipped /home/anna/Bilder/a.jpg: jpeg: Not a JPEG file: starts with 0x89 0x50");
  EXPECT_EQ(said[1], said[0]) << "each attempt is told";
  EXPECT_EQ(said[2], "quelltrine-saver: drawable: no drawable") << "a failure of every frame is told once";
}

TEST(PlatformReports, ALibrarysOwnMessageIsANoteForVerboseOnlyAndNoSkip) {
  std::ostringstream quiet, verbose;
  PlatformReports silent(quiet, false), talking(verbose, true);
  const Error note{ErrorKind::Picture, "heif", "SPS error: transform hierarchy depth (inter) > CTB size - min TB size",
                   kFolder + "/a.heic"};
  for (PlatformReports* r : {&silent, &talking}) {
    r->listedFolder(kFolder, 1);
    r->noted(note);
  }
  EXPECT_EQ(quiet.str(), "");
  EXPECT_THAT(lines(verbose), ::testing::ElementsAre("quelltrine-saver: note: /home/anna/Bilder/a.heic: heif: SPS "
                                                     "error: transform hierarchy depth (inter) > CTB size - min TB "
                                                     "size"));
  EXPECT_EQ(talking.pictureState(), PictureState::NoPictureFiles) << "a note is no failed picture";
}

}  // namespace
