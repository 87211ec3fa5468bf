// The install under each prefix, staged into a DESTDIR folder: its files, manifest and hack link, and the
// installed engine rendering with its own bundle and platform library.
#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "install/installed_tree.h"

namespace {

namespace fs = std::filesystem;
using namespace qtest;
using ::testing::AllOf;
using ::testing::ContainerEq;
using ::testing::Contains;
using ::testing::EndsWith;
using ::testing::StartsWith;

TEST(InstalledTree, HoldsEveryExpectedFileAndNothingElse) {
  for (const auto& prefix : installPrefixes()) {
    SCOPED_TRACE("prefix " + prefix);
    std::set<std::string> expected;
    for (const auto& file : expectedFiles()) expected.insert(prefix + "/" + file);
    // Below the DESTDIR folder, not the prefix: nothing lands outside it.
    EXPECT_THAT(filesBelow(stageRoot(prefix)), ContainerEq(expected));
  }
}

TEST(InstalledTree, ManifestListsExactlyWhatWasInstalled) {
  for (const auto& prefix : installPrefixes()) {
    SCOPED_TRACE("prefix " + prefix);
    std::set<std::string> listed;
    for (auto line : lines(readFile(stageRoot(prefix) + ".manifest"))) {
      if (line.rfind(stageRoot(prefix), 0) == 0) line.erase(0, stageRoot(prefix).size());
      if (!line.empty()) listed.insert(line);
    }
    EXPECT_THAT(listed, ContainerEq(filesBelow(stageRoot(prefix))));
  }
}

TEST(InstalledTree, HackLinkIsRelativeAndReachesTheEngine) {
  for (const auto& prefix : installPrefixes()) {
    SCOPED_TRACE("prefix " + prefix);
    const fs::path link = stagedPrefix(prefix) + "/libexec/xscreensaver/quelltrine";
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::read_symlink(link).is_relative()) << fs::read_symlink(link);
    std::error_code ec;
    EXPECT_EQ(fs::canonical(link, ec), fs::canonical(stagedPrefix(prefix) + "/bin/quelltrine-saver"));
  }
}

// Runs an installed program on the installed demo pictures with no display; notes the objects the loader started.
class InstalledEngine : public ::testing::Test {
 protected:
  struct Render {
    Ran ran;
    bool pngWritten = false;
    std::set<std::string> initialised;  // canonical paths of the objects the loader started
  };

  Render render(const std::string& program, const std::string& samples) {
    const std::string env = "env -u DISPLAY -u QUELLTRINE_BUNDLE LIBGL_ALWAYS_SOFTWARE=1 HOME=" +
                            shellQuote(dir_ / "home") + " XDG_CONFIG_HOME=" + shellQuote(dir_ / "config") + " ";
    fs::create_directories(dir_ / "home");
    Ran stored = run(env + shellQuote(program) + " defaults write imageFolder " + shellQuote(samples));
    EXPECT_EQ(stored.status, 0) << stored.err;

    const std::string png = dir_ / "frame.png", log = dir_ / "ld";
    fs::remove(png);
    Render r;
    r.ran = run(env + "LD_DEBUG=libs LD_DEBUG_OUTPUT=" + shellQuote(log) + " " + shellQuote(program) +
                " render-png " + shellQuote(png) + " --frames 2");
    r.pngWritten = fs::is_regular_file(png) && fs::file_size(png) > 0;
    // The loader writes log.<pid>, one per process.
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      if (entry.path().filename().string().rfind("ld.", 0) != 0) continue;
      for (const auto& line : lines(readFile(entry.path()))) {
        auto at = line.find("calling init: ");
        if (at == std::string::npos) continue;
        std::error_code ec;
        r.initialised.insert(fs::weakly_canonical(line.substr(at + 14), ec).string());
      }
      fs::remove(entry.path());
    }
    return r;
  }

  TempDir dir_;
};

TEST_F(InstalledEngine, RendersWithItsOwnBundleAndLibraryUnderEveryPrefixAndThroughTheHackLink) {
  for (const auto& prefix : installPrefixes()) {
    const std::string root = fs::canonical(stageRoot(prefix)).string() + "/";
    for (const char* program : {"/bin/quelltrine-saver", "/libexec/xscreensaver/quelltrine"}) {
      SCOPED_TRACE(prefix + program);
      Render r = render(stagedPrefix(prefix) + program, stagedPrefix(prefix) + "/share/quelltrine/samples");
      EXPECT_EQ(r.ran.status, 0) << r.ran.err;
      EXPECT_TRUE(r.pngWritten);
      // Once each, and neither the build tree's nor another prefix's copy.
      for (const std::string name : {"/libquelltrine-platform.so.0", "/QuelltrineSaver"}) {
        EXPECT_THAT(r.initialised, Contains(EndsWith(name)).Times(1)) << name;
        EXPECT_THAT(r.initialised, Contains(AllOf(StartsWith(root), EndsWith(name))));
      }
    }
  }
}

}  // namespace
