// Where the engine finds the saver bundle: in an installed tree, in the
// build tree, or where the user says; on made-up folder trees.
#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/bundle_locator.h"
#include "sys/temp_env.h"

namespace {

// The bundle found, or "" when the search failed.
std::string found(const plat::ErrorOr<std::string>& r) { return r.ok() ? r.value() : std::string(); }
// The reason of a failed search, or "" when it found a bundle.
std::string reason(const plat::ErrorOr<std::string>& r) { return r.ok() ? std::string() : r.error().message; }

namespace fs = std::filesystem;
using quelltrine::engine::BundleSearch;
using quelltrine::engine::locateBundle;
using ::testing::HasSubstr;

class BundleLocator : public ::testing::Test {
 protected:
  // A bundle folder with its manifest.
  std::string bundle(const std::string& relative) {
    std::string path = dir_ / relative;
    fs::create_directories(path + "/Contents");
    std::ofstream(path + "/Contents/Info.ini") << "[Bundle]\nExecutable=X\nPrincipalClass=Y\n";
    return fs::canonical(path).string();
  }
  std::string folder(const std::string& relative) {
    fs::create_directories(dir_ / relative);
    return dir_ / relative;
  }
  // A search for an engine in `exeDir`, with a build tree at build/ whose bundle exists.
  BundleSearch search(const std::string& exeDir) {
    BundleSearch s;
    s.executableDir = folder(exeDir);
    s.buildTreeDir = folder("build");
    s.buildTreeBundle = bundle("build/Quelltrine.saver");
    s.installedRelative = "../lib/quelltrine/Quelltrine.saver";
    return s;
  }
  qtest::TempDir dir_;
};

TEST_F(BundleLocator, InstalledBundleBesideTheEngineWinsOverTheBuildTree) {
  const std::string installed = bundle("usr/lib/quelltrine/Quelltrine.saver");
  EXPECT_EQ(found(locateBundle(search("usr/bin"))), installed);
}

TEST_F(BundleLocator, BuildTreeBundleOnlyForAnEngineInTheBuildTree) {
  EXPECT_EQ(found(locateBundle(search("build/engine"))), search("build/engine").buildTreeBundle);

  // An installed engine must not run whatever build tree it was made in.
  EXPECT_THAT(reason(locateBundle(search("opt/bin"))), HasSubstr("--bundle"));
  // A folder whose name merely starts with the build tree's is not inside it.
  EXPECT_EQ(found(locateBundle(search("build-other/engine"))), "");
}

TEST_F(BundleLocator, PathGivenByTheUserIsUsedAloneAndAWrongOneIsReported) {
  bundle("usr/lib/quelltrine/Quelltrine.saver");
  const std::string own = bundle("mine/Other.saver");
  BundleSearch s = search("usr/bin");
  s.option = own;
  s.environment = dir_ / "nowhere";
  EXPECT_EQ(found(locateBundle(s)), own) << "--bundle comes before the environment";

  s.option = folder("empty.saver");  // a folder without a manifest
  EXPECT_THAT(reason(locateBundle(s)), HasSubstr(s.option));
  EXPECT_THAT(reason(locateBundle(s)), HasSubstr("(from --bundle)"));

  s.option.clear();
  EXPECT_THAT(reason(locateBundle(s)), HasSubstr("(from QUELLTRINE_BUNDLE)")) << "not replaced by the installed bundle";
}

}  // namespace
