// The engine's command line and its tick schedule (on a fake clock).
#include <gtest/gtest.h>

#include "engine/command_line.h"
#include "engine/tick_scheduler.h"

using namespace quelltrine::engine;

namespace {

Options ok(std::vector<std::string> args, const char* env = nullptr) {
  auto r = parseCommandLine(args, env);
  EXPECT_TRUE(r.options) << r.error;
  return r.options.value_or(Options{});
}

std::string fails(std::vector<std::string> args, const char* env = nullptr) {
  auto r = parseCommandLine(args, env);
  EXPECT_TRUE(!r.options && !r.error.empty() && r.error.find('\n') == std::string::npos)
      << ::testing::PrintToString(args);
  return r.error;
}

TEST(CommandLine, EveryModeItsArgumentsAndWindowIds) {
  EXPECT_TRUE(ok({"-window"}).mode == Mode::OwnWindow && ok({"--fullscreen"}).fullscreen && ok({"--preview"}).preview);
  EXPECT_EQ(ok({"--bundle=/c.saver", "--preview"}).bundlePath, "/c.saver");
  Options o = ok({"--bundle", "/b", "render-png", "/tmp/out.png", "--frames", "90"});
  EXPECT_TRUE(o.mode == Mode::RenderPNG && o.bundlePath == "/b" && o.pngPath == "/tmp/out.png" && o.frames == 90);
  EXPECT_EQ(ok({"render-png", "x.png", "--frames", "-1"}).frames, -1);  // the entry treats it as one
  EXPECT_EQ(ok({"configure"}, "0x10").mode, Mode::Configure);        // commands work inside xscreensaver
  o = ok({"defaults", "write", "interval", "--7"});
  EXPECT_TRUE(o.mode == Mode::Defaults && o.defaultsArgs == (std::vector<std::string>{"write", "interval", "--7"}));
  EXPECT_TRUE(ok({"-h", "--bogus"}).mode == Mode::Help && ok({"--version"}).mode == Mode::Version);

  for (auto n : {"abc", "3x", "", "99999999999999999999"}) fails({"render-png", "a.png", "--frames", n});
  for (auto args : std::vector<std::vector<std::string>>{{"--fullscreen", "--preview"}, {"render-png"},
           {"render-png", "--frames", "3"}, {"render-png", "a.png", "--frames"}, {"--frames", "3"},
           {"configure", "--fullscreen"}, {"configure", "configure"}, {"--bundle"}, {"--bundle="}, {"-window-id"},
           {"-window-id", "zebra"}, {"-root", "-window-id", "5"}})
    fails(args);
  EXPECT_NE(fails({"--colour"}).find("--colour"), std::string::npos);

  auto hack = [](const Options& x) { return x.mode == Mode::Hack ? x.windowId : ~0ul; };
  EXPECT_EQ(hack(ok({"--window-id", "44040199"})), 44040199ul);
  // Inside xscreensaver the environment names the window, whatever -root says; an explicit id wins over it.
  EXPECT_EQ(hack(ok({"--root"}, "0x1e00003")), 0x1e00003ul);
  EXPECT_EQ(hack(ok({"-window-id", "0x20"}, "0x10")), 0x20ul);
  EXPECT_TRUE(hack(ok({"-root"})) == 0ul && ok({"-root"}).hackRoot);

  for (auto bad : {"", "0", "0x", "12a", "0xZZ", "-5", "0x1ffffffff", "99999999999999999999", " 12"})
    EXPECT_FALSE(parseWindowId(bad)) << bad;
  fails({}, "not-a-window"), fails({"--fullscreen"}, "0x10");
}

TEST(TickScheduler, KeepsTheGridAndNeverCatchesUp) {
  constexpr TickScheduler::Nanos kP = 1'000'000'000 / 30;
  TickScheduler s(kP);
  s.start(1000), s.ticked(1000);
  EXPECT_FALSE(s.isDue(1000 + kP - 1));
  EXPECT_EQ(s.waitFrom(1000 + 10), kP - 10);
  s.ticked(1000 + kP + 2'000'000);  // woken 2 ms late: the next tick stays on the grid
  EXPECT_EQ(s.due(), 1000 + 2 * kP);
  // Stopped for a second: one tick at the resume time, the next a period later.
  s.ticked(1'000'000'000);
  EXPECT_EQ(s.due(), 1'000'000'000 + kP);

  // Woken 1 ms late every time: still 300 ticks in ten seconds.
  int ticks = 0;
  s.start(0);
  for (TickScheduler::Nanos now = 0; now < 10'000'000'000; now = s.due() + 1'000'000, ++ticks) s.ticked(now);
  EXPECT_EQ(ticks, 300);
  // Frames of 40 ms: ticks follow each other but never queue up.
  for (TickScheduler::Nanos now = s.due(), end = now + 4'000'000'000; now < end; now += 40'000'000) {
    ASSERT_TRUE(s.isDue(now));
    s.ticked(now);
    ASSERT_GT(s.due(), now);
  }
}

}  // namespace
