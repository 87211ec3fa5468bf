// The `defaults` command: round trips through the real store, and the
// usage errors with their exit status.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/defaults_command.h"
#include "host/settings.h"
#include "store/store_fixture.h"

namespace quelltrine {
namespace {

class DefaultsCommandTest : public qtest::StoreTest {
 protected:
  int run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return runDefaultsCommand(args, out_, err_);
  }
  std::ostringstream out_, err_;
};

TEST_F(DefaultsCommandTest, WriteReadDeleteRoundTrip) {
  EXPECT_EQ(run({"write", "interval", "22.5"}), 0) << err_.str();
  EXPECT_EQ(run({"write", "imageFolder", "/srv/Bilder mit Leerzeichen"}), 0) << err_.str();
  EXPECT_EQ(run({"read", "interval"}), 0);
  EXPECT_EQ(out_.str(), "22.5\n");
  EXPECT_EQ(run({"read", "imageFolder"}), 0);
  EXPECT_EQ(out_.str(), "/srv/Bilder mit Leerzeichen\n");
  EXPECT_EQ(run({"read"}), 0);
  EXPECT_EQ(out_.str(), "imageFolder = /srv/Bilder mit Leerzeichen\ninterval = 22.5\n");
  // Written through to disk: another process sees it.
  EXPECT_TRUE(asOtherProcess([] { return settings::effectiveInterval() == 22.5; }));

  EXPECT_EQ(run({"delete", "interval"}), 0) << err_.str();
  EXPECT_EQ(run({"read", "interval"}), 1);
  EXPECT_TRUE(out_.str().empty());
  EXPECT_NE(err_.str().find("interval"), std::string::npos);
  EXPECT_TRUE(asOtherProcess([] { return settings::effectiveInterval() == 14.0; }));
}

TEST_F(DefaultsCommandTest, NumbersPrintSoTheyReadBackExactly) {
  EXPECT_EQ(run({"write", "interval", "0.1"}), 0);
  EXPECT_EQ(run({"read", "interval"}), 0);
  EXPECT_EQ(out_.str(), "0.1\n");
  EXPECT_EQ(run({"write", "interval", "14"}), 0);
  EXPECT_EQ(run({"read", "interval"}), 0);
  EXPECT_EQ(out_.str(), "14\n");
  for (const char* plain : {"20", "600", "7.25"}) {
    EXPECT_EQ(run({"write", "interval", plain}), 0);
    EXPECT_EQ(run({"read", "interval"}), 0);
    EXPECT_EQ(out_.str(), std::string(plain) + "\n") << "as written, not in exponent form";
  }
  EXPECT_EQ(run({"write", "interval", "1e1"}), 0);
  EXPECT_EQ(settings::effectiveInterval(), 10.0);
}

TEST_F(DefaultsCommandTest, BadNumbersAreRejectedAndNothingIsWritten) {
  ASSERT_EQ(run({"write", "interval", "30"}), 0);
  for (const char* bad : {"abc", "12abc", " 12", "12 ", "", "nan", "inf", "-inf", "0x10", "1e999", "--1"}) {
    EXPECT_EQ(run({"write", "interval", bad}), 2) << bad;
    const std::string message = err_.str();
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << bad;  // one line
  }
  EXPECT_EQ(settings::effectiveInterval(), 30.0);
}

TEST_F(DefaultsCommandTest, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases{
      {},
      {"frobnicate"},
      {"read", "colour"},
      {"read", "interval", "extra"},
      {"write", "interval"},
      {"write", "imageFolder"},
      {"write", "colour", "red"},
      {"write", "interval", "5", "6"},
      {"delete"},
      {"delete", "colour"}};
  for (const auto& args : cases) {
    EXPECT_EQ(run(args), 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(err_.str().empty());
    EXPECT_TRUE(out_.str().empty());
  }
}

TEST_F(DefaultsCommandTest, StoreThatCannotBeOpenedExitsOne) {
  env_.set("XDG_CONFIG_HOME", "/proc/self/nonexistent-config");
  EXPECT_EQ(run({"read", "interval"}), 1);
  EXPECT_EQ(run({"write", "interval", "20"}), 1);
  EXPECT_NE(err_.str().find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace quelltrine
