// The two preferences with their fallbacks, read and written through the
// real store in a private folder.
#include <cmath>
#include <fcntl.h>
#include <limits>

#include <gtest/gtest.h>

#include "host/settings.h"
#include "platform/store/screen_saver_defaults.h"
#include "store/store_fixture.h"

namespace quelltrine::settings {
namespace {

using plat::store::ScreenSaverDefaults;

class SettingsTest : public qtest::StoreTest {
 protected:
  std::shared_ptr<ScreenSaverDefaults> store() { return ScreenSaverDefaults::defaultsForModuleWithName(kModuleName); }
  std::string fallbackFolder() const { return tmp_ / "home/Pictures/Quelltrine Screensaver"; }
  // Points the store at a folder that cannot be created.
  void writeFileBlocker() {
    const int fd = ::open((tmp_ / "plainfile").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    env_.set("XDG_CONFIG_HOME", tmp_ / "plainfile/sub");
  }
};

TEST_F(SettingsTest, FreshStoreGivesTheDefaults) {
  EXPECT_EQ(effectiveInterval(), 14.0);
  EXPECT_EQ(imageFolderPath(), fallbackFolder());
}

TEST_F(SettingsTest, IntervalFallsBackUnlessAboveTwo) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct { double stored; double effective; } cases[] = {
      {2.0, 14.0}, {2.0000001, 2.0000001}, {2.5, 2.5}, {3.5, 3.5}, {600.0, 600.0}, {0.0, 14.0},
      {-5.0, 14.0}, {nan, 14.0}, {-inf, 14.0}, {inf, 14.0}};
  for (const auto& c : cases) {
    storeInterval(c.stored);
    EXPECT_EQ(effectiveInterval(), c.effective) << c.stored;
  }
  // Stored as text, the key is no number.
  auto s = store();
  s->setObject("30", kIntervalKey);
  EXPECT_EQ(effectiveInterval(), 14.0);
}

TEST_F(SettingsTest, StoredValuesAreFlushedAtOnce) {
  storeInterval(42.5);
  storeImageFolder(tmp_ / "pics");
  EXPECT_TRUE(asOtherProcess([this] {
    return effectiveInterval() == 42.5 && imageFolderPath() == tmp_ / "pics";
  }));
}

TEST_F(SettingsTest, ImageFolderResolution) {
  storeImageFolder("~/Fotos/Urlaub");
  EXPECT_EQ(imageFolderPath(), tmp_ / "home/Fotos/Urlaub");
  storeImageFolder("");
  EXPECT_EQ(imageFolderPath(), fallbackFolder());
  storeImageFolder("   ");
  EXPECT_EQ(imageFolderPath(), "   ");
  storeImageFolder("/srv/bilder/");
  EXPECT_EQ(imageFolderPath(), "/srv/bilder/");
  auto s = store();
  s->setDouble(1.0, kImageFolderKey);  // wrong type: as if absent
  EXPECT_EQ(imageFolderPath(), fallbackFolder());
}

TEST_F(SettingsTest, ChangeByAnotherViewCountsFromTheNextRead) {
  EXPECT_EQ(effectiveInterval(), 14.0);
  ASSERT_TRUE(asOtherProcess([] {
    storeInterval(5.0);
    return true;
  }));
  EXPECT_EQ(effectiveInterval(), 5.0);
}

TEST_F(SettingsTest, StoreThatCannotBeOpened) {
  storeInterval(33.0);
  storeImageFolder("/elsewhere");
  writeFileBlocker();
  EXPECT_EQ(effectiveInterval(), 14.0);
  EXPECT_EQ(imageFolderPath(), fallbackFolder());
  storeInterval(50.0);  // skipped quietly
  storeImageFolder("/x");
  EXPECT_EQ(effectiveInterval(), 14.0);
}

}  // namespace
}  // namespace quelltrine::settings
