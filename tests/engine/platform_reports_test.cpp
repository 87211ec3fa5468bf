// What the engine makes of the platform layer's reports: the state of the
// pictures, the line said once per change, the German notice, the failure
// that ends a session, and --verbose.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "engine/platform_reports.h"
#include "engine/program_name.h"

namespace plat {
// Failure messages show the error, not its bytes.
inline void PrintTo(const Error& e, std::ostream* os) { *os << kindName(e.kind) << " [" << e.origin << "] " << e.text(); }
}  // namespace plat

namespace {

using quelltrine::engine::PictureState;
using quelltrine::engine::PlatformReports;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using plat::Error;
using plat::ErrorKind;

const std::string kFolder = "/home/anna/Bilder";

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
  std::ostringstream out;
  PlatformReports missing(out, false), noPictures(out, false), broken(out, false);
  missing.failed(Error{ErrorKind::Folder, "folder", "the folder does not exist", kFolder, ENOENT});
  noPictures.listedFolder(kFolder, 3);
  broken.listedFolder(kFolder, 2);
  broken.failed(pictureError("a.jpg", "Not a JPEG file"));
  broken.failed(pictureError("b.jpg", "Premature end"));
  broken.failed(pictureError("a.jpg", "Not a JPEG file"));  // tried twice in a call: one picture

  EXPECT_EQ(missing.pictureState(), PictureState::FolderMissing);
  EXPECT_THAT(missing.pictureNotice().value_or(""), HasSubstr("Den Ordner /home/anna/Bilder gibt es nicht"));
  EXPECT_EQ(noPictures.pictureState(), PictureState::NoPictureFiles);
  EXPECT_THAT(noPictures.pictureLine().value_or(""), HasSubstr("3 entries, none of them a .jpg"));
  EXPECT_EQ(broken.pictureState(), PictureState::NoneLoaded);
  EXPECT_THAT(broken.pictureLine().value_or(""), HasSubstr("2 pictures tried, none could be read (first: a.jpg"));
  EXPECT_EQ(out.str(), "") << "nothing is said before the engine asks";
}

TEST(PlatformReports, OnePictureShownSilencesTheNoticeUntilTheNextListing) {
  std::ostringstream out;
  PlatformReports reports(out, false);
  reports.listedFolder(kFolder, 5);
  reports.failed(pictureError("a.jpg", "bad"));
  reports.madeTextureFromPicture(kFolder + "/b.jpg");
  reports.failed(pictureError("c.jpg", "bad"));  // a later failure leaves the picture on screen
  EXPECT_EQ(reports.pictureState(), PictureState::Shown);
  EXPECT_EQ(reports.pictureNotice(), std::nullopt);
  reports.listedFolder(kFolder, 0);  // another folder chosen, or another view's scan
  EXPECT_EQ(reports.pictureState(), PictureState::FolderEmpty);
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
  EXPECT_FALSE(reports.sayPicturesIfChanged()) << "the same state in the same folder";
  reports.listedFolder("/elsewhere", 0);
  EXPECT_TRUE(reports.sayPicturesIfChanged()) << "the same state in another folder";
  reports.madeTextureFromPicture("/elsewhere/a.png");
  EXPECT_FALSE(reports.sayPicturesIfChanged()) << "pictures shown: nothing to say";
  reports.listedFolder("/elsewhere", 0);
  EXPECT_TRUE(reports.sayPicturesIfChanged()) << "the problem back after pictures were shown";
  EXPECT_THAT(lines(out), ElementsAre("quelltrine: no pictures: the folder /home/anna/Bilder is empty",
                                      HasSubstr("/elsewhere"), HasSubstr("/elsewhere")));
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
}

TEST(PlatformReports, VerboseTellsEachSkippedPictureWithItsReasonAndOtherFailuresOnce) {
  std::ostringstream quiet, verbose;
  PlatformReports silent(quiet, false), talking(verbose, true);
  for (PlatformReports* r : {&silent, &talking}) {
    r->listedFolder(kFolder, 2);
    r->failed(pictureError("a.jpg", "Not a JPEG file"));
    r->failed(pictureError("a.jpg", "Not a JPEG file"));
    for (int frame = 0; frame < 3; ++frame) r->failed(Error{ErrorKind::Gpu, "drawable", "no drawable", {}});
  }
  EXPECT_EQ(quiet.str(), "");
  const std::string skipped = "quelltrine-saver: skipped /home/anna/Bilder/a.jpg: jpeg: Not a JPEG file";
  EXPECT_THAT(lines(verbose), ElementsAre(skipped, skipped, "quelltrine-saver: drawable: no drawable"))
      << "each attempt at a picture is told, a failure of every frame once";
}

}  // namespace
