// The two preferences with their fallbacks, and the `defaults` command that
// reads and writes them, through the real store.
#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>

#include <gtest/gtest.h>

#include "engine/defaults_command.h"
#include "host/settings.h"
#include "platform/store/screen_saver_defaults.h"
#include "store/store_fixture.h"

namespace quelltrine {
namespace {

using namespace settings;
using plat::store::ScreenSaverDefaults;
using SettingsTest = qtest::StoreTest;

TEST_F(SettingsTest, IntervalFallsBackToFourteenUnlessAFiniteNumberAboveTwo) {
  EXPECT_EQ(effectiveInterval(), 14.0);
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& [stored, effective] : std::vector<std::pair<double, double>>{
           {2.0, 14.0}, {2.0000001, 2.0000001}, {600.0, 600.0}, {0.0, 14.0}, {-5.0, 14.0},
           {std::numeric_limits<double>::quiet_NaN(), 14.0}, {-inf, 14.0}, {inf, 14.0}, {3.5, 3.5}}) {
    storeInterval(stored);
    EXPECT_EQ(effectiveInterval(), effective) << stored;
  }
  EXPECT_TRUE(asOtherProcess([] { return effectiveInterval() == 3.5; }));  // flushed at once
  ScreenSaverDefaults::defaultsForModuleWithName(kModuleName)->setObject("30", kIntervalKey);
  EXPECT_EQ(effectiveInterval(), 14.0);  // text is no number
}

TEST_F(SettingsTest, ImageFolderExpandsTheTildeAndFallsBack) {
  const std::string fallback = tmp_ / "home/Pictures/Quelltrine Screensaver";
  EXPECT_EQ(imageFolderPath(), fallback);
  for (const auto& [stored, path] : std::vector<std::pair<std::string, std::string>>{
           {"", fallback}, {"   ", "   "}, {"/srv/bilder/", "/srv/bilder/"}, {"~/Fotos/Urlaub", tmp_ / "home/Fotos/Urlaub"}}) {
    storeImageFolder(stored);
    EXPECT_EQ(imageFolderPath(), path) << stored;
  }
  EXPECT_TRUE(asOtherProcess([&] { return imageFolderPath() == tmp_ / "home/Fotos/Urlaub"; }));
  ScreenSaverDefaults::defaultsForModuleWithName(kModuleName)->setDouble(1.0, kImageFolderKey);
  EXPECT_EQ(imageFolderPath(), fallback);  // wrong type: as if absent
  // A store that cannot be opened gives the fallbacks, and writes are skipped.
  storeInterval(33.0);
  std::ofstream(tmp_ / "plainfile") << "";
  env_.set("XDG_CONFIG_HOME", tmp_ / "plainfile/sub");
  storeInterval(50.0);
  storeImageFolder("/x");
  EXPECT_EQ(effectiveInterval(), 14.0);
  EXPECT_EQ(imageFolderPath(), fallback);
}

class DefaultsCommandTest : public qtest::StoreTest {
 protected:
  int run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return runDefaultsCommand(args, out_, err_);
  }
  std::ostringstream out_, err_;
};

TEST_F(DefaultsCommandTest, WriteReadDeleteRoundTripWithNumbersPrintedAsWritten) {
  EXPECT_EQ(run({"write", "imageFolder", "/srv/Bilder mit Leerzeichen"}), 0) << err_.str();
  for (const char* number : {"0.1", "14", "600", "7.25", "22.5"}) {
    EXPECT_EQ(run({"write", "interval", number}), 0) << err_.str();
    EXPECT_EQ(run({"read", "interval"}), 0);
    EXPECT_EQ(out_.str(), std::string(number) + "\n");
  }
  EXPECT_EQ(run({"read"}), 0);
  EXPECT_EQ(out_.str(), "imageFolder = /srv/Bilder mit Leerzeichen\ninterval = 22.5\n");
  EXPECT_TRUE(asOtherProcess([] { return effectiveInterval() == 22.5; }));
  EXPECT_EQ(run({"delete", "interval"}), 0) << err_.str();
  EXPECT_EQ(run({"read", "interval"}), 1);
  EXPECT_TRUE(out_.str().empty());
  EXPECT_NE(err_.str().find("interval"), std::string::npos);
  EXPECT_TRUE(asOtherProcess([] { return effectiveInterval() == 14.0; }));
  EXPECT_EQ(run({"write", "interval", "1e1"}), 0);
  EXPECT_EQ(effectiveInterval(), 10.0);
}

TEST_F(DefaultsCommandTest, BadNumbersAndUsageExitTwoWithOneLineAndWriteNothing) {
  ASSERT_EQ(run({"write", "interval", "30"}), 0);
  for (const char* bad : {"abc", "12abc", " 12", "", "nan", "inf", "0x10", "1e999"}) {
    EXPECT_EQ(run({"write", "interval", bad}), 2) << bad;
    const std::string message = err_.str();
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << bad;
  }
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"frobnicate"}, {"read", "colour"}, {"read", "interval", "x"},
                                                                {"write", "interval"}, {"write", "colour", "red"}, {"delete"}}) {
    EXPECT_EQ(run(args), 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(err_.str().empty());
    EXPECT_TRUE(out_.str().empty());
  }
  EXPECT_EQ(effectiveInterval(), 30.0);
  env_.set("XDG_CONFIG_HOME", "/proc/self/nonexistent-config");  // the store fails: exit 1
  EXPECT_EQ(run({"write", "interval", "20"}), 1);
  EXPECT_NE(err_.str().find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace quelltrine
