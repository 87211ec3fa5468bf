// The engine's command line, its tick schedule (on a fake clock) and its picture line on standard error.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "engine/command_line.h"
#include "engine/platform_reports.h"
#include "engine/tick_scheduler.h"

using namespace quelltrine::engine;
using Args = std::vector<std::vector<std::string>>;

namespace {

Options ok(std::vector<std::string> args, const char* env = nullptr) {
  auto r = parseCommandLine(args, env);
  EXPECT_TRUE(r.options) << r.error;
  return r.options.value_or(Options{});
}

std::string fails(std::vector<std::string> args, const char* env = nullptr) {
  auto r = parseCommandLine(args, env);
  SCOPED_TRACE(::testing::PrintToString(args));
  EXPECT_FALSE(r.options);
  EXPECT_THAT(r.error, ::testing::Not(::testing::IsEmpty()));
  EXPECT_THAT(r.error, ::testing::Not(::testing::HasSubstr("\n")));
  EXPECT_THAT(r.error, ::testing::Not(::testing::HasSubstr("\x1b"))) << "a terminal control sequence";
  return r.error;
}

unsigned long hackWindow(const Options& o) { return o.mode == Mode::Hack ? o.windowId : ~0ul; }

TEST(CommandLine, HelpStandsAloneAndCommandsTakeTheirArguments) {
  const Options help = ok({"--fullscreen", "-preview", "-h", "--bogus"});
  EXPECT_EQ(help.mode, Mode::Help);

  const Options render = ok({"--bundle", "/b", "render-png", "/tmp/out.png", "--frames", "90"});
  EXPECT_EQ(render.mode, Mode::RenderPNG);
  EXPECT_EQ(render.pngPath, "/tmp/out.png");
  EXPECT_EQ(render.frames, 90);
  EXPECT_EQ(ok({"defaults", "write", "interval", "--7"}).defaultsArgs,
            (std::vector<std::string>{"write", "interval", "--7"})) << "a value that looks like an option";
  EXPECT_EQ(ok({"configure"}, "0x10").mode, Mode::Configure) << "commands work inside xscreensaver";

  for (auto n : {"abc", "3x", "99999999999999999999"}) fails({"render-png", "a.png", "--frames", n});
  for (const auto& args : Args{{"--fullscreen", "--preview"}, {"render-png"}, {"render-png", "a.png", "--frames"},
                               {"configure", "configure"}, {"--bundle="}, {"-window-id", "zebra"},
                               {"two\nlines"}, {"--\x1b[2Jclear"}})
    fails(args);
}

// What xscreensaver, its settings tool and the hack man pages pass.
TEST(CommandLine, TakesTheOptionsEveryXscreensaverHackShares) {
  struct Case {
    std::vector<std::string> args;
    const char* env;
    unsigned long window;
  };
  for (const Case& c : {Case{{"--window-id", "44040199"}, nullptr, 44040199ul},
                        // Inside xscreensaver the environment names the window, whatever -root says.
                        Case{{"--root"}, "0x1e00003", 0x1e00003ul}, Case{{"-window-id", "0x20"}, "0x10", 0x20ul},
                        Case{{"-root"}, nullptr, 0ul},
                        // The settings tool's preview pane passes both: the window id wins, in any order.
                        Case{{"-window-id", "0x400EE5", "-root"}, nullptr, 0x400EE5ul},
                        Case{{"--window-id=4198117"}, nullptr, 0x400EE5ul},
                        // Between -root and -window the last counts.
                        Case{{"-window", "-root"}, nullptr, 0ul},
                        Case{{"-root", "--visual", "default", "--install", "--mono", "--fps"}, nullptr, 0ul}}) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(hackWindow(ok(c.args, c.env)), c.window);
  }
  EXPECT_TRUE(ok({"-root"}).hackRoot);
  EXPECT_FALSE(ok({"-window-id", "0x400EE5", "-root"}).hackRoot);
  EXPECT_EQ(ok({"-root", "--window"}).mode, Mode::OwnWindow);
  EXPECT_FALSE(ok({"-fps", "--no-fps"}).fps);
  EXPECT_TRUE(ok({"-no-fps", "--fps"}).fps);
  EXPECT_EQ(ok({"configure", "--display", "host:1.0"}).display, "host:1.0");

  for (auto bad : {"0", "0x", "12a", "-5", "0x1ffffffff", " 12"}) EXPECT_FALSE(parseWindowId(bad)) << bad;
  fails({}, "\x1b[2Jnot-a-window");

  // Values missing or where none belongs, and window options with a command: one line, no usage.
  for (const auto& args : Args{{"--display"}, {"--fps=yes"}, {"-root=1"}, {"configure", "-root"},
                               {"render-png", "a.png", "--display", ":1"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_FALSE(parseCommandLine(args, nullptr).showUsage);
    fails(args);
  }
  // Unknown options and stray words get the usage after the error.
  for (const auto& args : Args{{"-geometry", "10x10"}, {"stray"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_TRUE(parseCommandLine(args, nullptr).showUsage);
    EXPECT_THAT(fails(args), ::testing::HasSubstr(args[0]));
  }
}

TEST(TickScheduler, KeepsTheGridAndNeverCatchesUp) {
  constexpr TickScheduler::Nanos kP = 1'000'000'000 / 30;
  TickScheduler s(kP);
  // Woken 1 ms late every time: still 300 ticks in ten seconds.
  int ticks = 0;
  s.start(0);
  for (TickScheduler::Nanos now = 0; now < 10'000'000'000; now = s.due() + 1'000'000, ++ticks) s.ticked(now);
  EXPECT_EQ(ticks, 300);
  // Stopped for a second: one tick at the resume time, the next a period later, no burst.
  s.ticked(20'000'000'000);
  EXPECT_EQ(s.due(), 20'000'000'000 + kP);
}

TEST(PlatformReports, ThePictureLineIsSaidOnceAndAgainOnlyWhenItChanges) {
  std::ostringstream out;
  PlatformReports reports(out, false);
  reports.listedFolder("/home/anna/Bilder", 0);
  EXPECT_TRUE(reports.sayPicturesIfChanged());
  EXPECT_FALSE(reports.sayPicturesIfChanged()) << "every tick asks; the line is said once";
  reports.listedFolder("/home/anna/Bilder", 0);  // the second monitor's view scans the same folder
  EXPECT_FALSE(reports.sayPicturesIfChanged()) << "the same state in the same folder";
  reports.listedFolder("/elsewhere", 0);
  EXPECT_TRUE(reports.sayPicturesIfChanged()) << "the same state in another folder";
  reports.madeTextureFromPicture("/elsewhere/a.png");
  EXPECT_FALSE(reports.sayPicturesIfChanged()) << "pictures shown: nothing to say";
  reports.listedFolder("/elsewhere", 0);
  EXPECT_TRUE(reports.sayPicturesIfChanged()) << "the problem back after pictures were shown";
  const std::string said = out.str();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 3) << said;
}

}  // namespace
