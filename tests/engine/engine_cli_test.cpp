// The engine's pure parts: the command line, the tick schedule (with a fake
// clock) and the bundle search order.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/bundle_locator.h"
#include "engine/command_line.h"
#include "engine/tick_scheduler.h"

using namespace quelltrine::engine;

namespace {

Options parseOk(std::vector<std::string> args, const char* env = nullptr) {
  auto r = parseCommandLine(args, env);
  EXPECT_TRUE(r.options) << r.error;
  return r.options.value_or(Options{});
}

std::string parseFails(std::vector<std::string> args, const char* env = nullptr) {
  auto r = parseCommandLine(args, env);
  EXPECT_FALSE(r.options);
  EXPECT_FALSE(r.error.empty());
  EXPECT_EQ(r.error.find('\n'), std::string::npos);
  return r.error;
}

TEST(CommandLine, WindowModes) {
  Options o = parseOk({});
  EXPECT_EQ(o.mode, Mode::OwnWindow);
  EXPECT_FALSE(o.fullscreen || o.preview);
  EXPECT_TRUE(parseOk({"--fullscreen"}).fullscreen);
  EXPECT_TRUE(parseOk({"--preview"}).preview);
  EXPECT_EQ(parseOk({"-window"}).mode, Mode::OwnWindow);
  EXPECT_EQ(parseOk({"--bundle", "/b.saver"}).bundlePath, "/b.saver");
  EXPECT_EQ(parseOk({"--bundle=/c.saver", "--preview"}).bundlePath, "/c.saver");
  parseFails({"--fullscreen", "--preview"});
}

TEST(CommandLine, HackModeWindowIds) {
  Options o = parseOk({"-window-id", "0x2a00007"});
  EXPECT_EQ(o.mode, Mode::Hack);
  EXPECT_EQ(o.windowId, 0x2a00007ul);
  EXPECT_EQ(parseOk({"--window-id", "44040199"}).windowId, 44040199ul);
  // Inside xscreensaver the environment names the window, whatever -root says.
  o = parseOk({"--root"}, "0x1e00003");
  EXPECT_EQ(o.mode, Mode::Hack);
  EXPECT_EQ(o.windowId, 0x1e00003ul);
  o = parseOk({}, "31457283");
  EXPECT_EQ(o.mode, Mode::Hack);
  EXPECT_EQ(o.windowId, 31457283ul);
  EXPECT_EQ(parseOk({"-window"}, "0x10").windowId, 0x10ul);
  // An explicit id wins over the environment.
  EXPECT_EQ(parseOk({"-window-id", "0x20"}, "0x10").windowId, 0x20ul);
  // -root alone: the root window.
  o = parseOk({"-root"});
  EXPECT_EQ(o.mode, Mode::Hack);
  EXPECT_TRUE(o.hackRoot);
  EXPECT_EQ(o.windowId, 0ul);

  for (const char* bad : {"", "0", "0x", "12a", "0xZZ", "-5", "0x1ffffffff", "99999999999999999999", " 12"}) {
    EXPECT_FALSE(parseWindowId(bad)) << bad;
  }
  parseFails({"-window-id"});
  parseFails({"-window-id", "zebra"});
  parseFails({}, "not-a-window");
  parseFails({"-root", "-window-id", "5"});
  parseFails({"--fullscreen"}, "0x10");
}

TEST(CommandLine, Commands) {
  Options o = parseOk({"render-png", "/tmp/out.png"});
  EXPECT_EQ(o.mode, Mode::RenderPNG);
  EXPECT_EQ(o.pngPath, "/tmp/out.png");
  EXPECT_EQ(o.frames, 1);
  EXPECT_EQ(parseOk({"render-png", "x.png", "--frames", "90"}).frames, 90);
  // Zero and negative counts are the entry's to interpret (one frame).
  EXPECT_EQ(parseOk({"render-png", "x.png", "--frames", "0"}).frames, 0);
  EXPECT_EQ(parseOk({"render-png", "x.png", "--frames", "-1"}).frames, -1);
  // Commands work inside xscreensaver's environment too.
  EXPECT_EQ(parseOk({"configure"}, "0x10").mode, Mode::Configure);
  o = parseOk({"--bundle", "/b", "defaults", "write", "interval", "--7"});
  EXPECT_EQ(o.mode, Mode::Defaults);
  EXPECT_EQ(o.defaultsArgs, (std::vector<std::string>{"write", "interval", "--7"}));
  EXPECT_EQ(parseOk({"defaults"}).defaultsArgs.size(), 0u);
  EXPECT_EQ(parseOk({"--help"}).mode, Mode::Help);
  EXPECT_EQ(parseOk({"-h", "--bogus"}).mode, Mode::Help);
  EXPECT_EQ(parseOk({"--version"}).mode, Mode::Version);

  parseFails({"render-png"});
  parseFails({"render-png", "--frames", "3"});
  for (const char* n : {"abc", "3x", "", "99999999999999999999"}) parseFails({"render-png", "a.png", "--frames", n});
  parseFails({"render-png", "a.png", "--frames"});
  parseFails({"--frames", "3"});
  parseFails({"configure", "--fullscreen"});
  parseFails({"configure", "configure"});
  parseFails({"--bundle"});
  parseFails({"--bundle="});
  EXPECT_NE(parseFails({"--colour"}).find("--colour"), std::string::npos);
}

constexpr TickScheduler::Nanos kP = 1'000'000'000 / 30;

TEST(TickScheduler, KeepsTheGridWhenTicksAreSlightlyLate) {
  TickScheduler s(kP);
  s.start(1000);
  EXPECT_TRUE(s.isDue(1000));
  s.ticked(1000);
  EXPECT_FALSE(s.isDue(1000 + kP - 1));
  EXPECT_EQ(s.waitFrom(1000 + 10), kP - 10);
  // Woken 2 ms late: the next tick is still due on the grid, not 2 ms later.
  s.ticked(1000 + kP + 2'000'000);
  EXPECT_EQ(s.due(), 1000 + 2 * kP);
  // 300 ticks each woken 1 ms late stay 30 a second on average.
  TickScheduler t(kP);
  t.start(0);
  int ticks = 0;
  for (TickScheduler::Nanos now = 0; now < 10'000'000'000; now = t.due() + 1'000'000) {
    t.ticked(now);
    ++ticks;
  }
  EXPECT_EQ(ticks, 300);
}

TEST(TickScheduler, AStallNeverCausesACatchUpBurst) {
  TickScheduler s(kP);
  s.start(0);
  s.ticked(0);
  // Stopped (SIGSTOP) for a whole second: one tick at the resume time, then
  // the next a full period later.
  TickScheduler::Nanos resume = 1'000'000'000;
  ASSERT_TRUE(s.isDue(resume));
  s.ticked(resume);
  EXPECT_FALSE(s.isDue(resume + 1));
  EXPECT_EQ(s.due(), resume + kP);
  // Frames slower than a period: ticks follow each other but never queue up.
  TickScheduler slow(kP);
  slow.start(0);
  TickScheduler::Nanos now = 0;
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(slow.isDue(now));
    slow.ticked(now);
    // Never due before the tick that just ran: at most one tick is owed.
    EXPECT_GT(slow.due(), now);
    now += 40'000'000;  // each frame takes 40 ms
  }
}

class BundleSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("qt-locate-" + std::to_string(::getpid()));
    for (auto b : {"given.saver", "build/Quelltrine.saver", "prefix/lib/quelltrine/Quelltrine.saver"}) {
      std::filesystem::create_directories(root_ / b / "Contents");
      std::ofstream(root_ / b / "Contents/Info.ini") << "Executable=X\n";
    }
    std::filesystem::create_directories(root_ / "build/engine");
    std::filesystem::create_directories(root_ / "prefix/bin");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  std::string p(const std::string& rel) { return (root_ / rel).string(); }
  BundleSearch search(const std::string& exeDir) {
    BundleSearch s;
    s.executableDir = exeDir;
    s.buildTreeDir = p("build");
    s.buildTreeBundle = p("build/Quelltrine.saver");
    return s;
  }
  std::filesystem::path root_;
};

TEST_F(BundleSearchTest, OrderOfTheSearch) {
  std::string error;
  auto s = search(p("prefix/bin"));
  EXPECT_EQ(locateBundle(s, &error), std::filesystem::canonical(p("prefix/lib/quelltrine/Quelltrine.saver")).string());
  s = search(p("build/engine"));
  EXPECT_EQ(locateBundle(s, &error), p("build/Quelltrine.saver"));
  s.environment = p("given.saver");
  EXPECT_EQ(locateBundle(s, &error), p("given.saver"));
  s.option = p("build/Quelltrine.saver");
  EXPECT_EQ(locateBundle(s, &error), p("build/Quelltrine.saver"));
}

TEST_F(BundleSearchTest, AWrongGivenPathIsReportedNotReplaced) {
  std::string error;
  auto s = search(p("build/engine"));
  s.environment = p("nowhere.saver");
  EXPECT_FALSE(locateBundle(s, &error));
  EXPECT_NE(error.find("QUELLTRINE_BUNDLE"), std::string::npos);
  s = search("/usr/bin");  // neither in the build tree nor installed
  EXPECT_FALSE(locateBundle(s, &error));
  EXPECT_NE(error.find("--bundle"), std::string::npos);
}

}  // namespace
