// The engine's command line and its tick schedule (on a fake clock).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/command_line.h"
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
  return r.error;
}

unsigned long hackWindow(const Options& o) { return o.mode == Mode::Hack ? o.windowId : ~0ul; }

TEST(CommandLine, HelpStandsAloneAndCommandsTakeTheirArguments) {
  const Options help = ok({"--fullscreen", "-preview", "-h", "--bogus"});
  EXPECT_EQ(help.mode, Mode::Help);
  EXPECT_FALSE(help.fullscreen);
  EXPECT_FALSE(help.preview);

  const Options render = ok({"--bundle", "/b", "render-png", "/tmp/out.png", "--frames", "90"});
  EXPECT_EQ(render.mode, Mode::RenderPNG);
  EXPECT_EQ(render.pngPath, "/tmp/out.png");
  EXPECT_EQ(render.frames, 90);
  EXPECT_EQ(ok({"defaults", "write", "interval", "--7"}).defaultsArgs,
            (std::vector<std::string>{"write", "interval", "--7"})) << "a value that looks like an option";
  EXPECT_EQ(ok({"configure"}, "0x10").mode, Mode::Configure) << "commands work inside xscreensaver";

  for (auto n : {"abc", "3x", "99999999999999999999"}) fails({"render-png", "a.png", "--frames", n});
  for (const auto& args : Args{{"--fullscreen", "--preview"}, {"render-png"}, {"render-png", "a.png", "--frames"},
                               {"configure", "configure"}, {"--bundle="}, {"-window-id", "zebra"}})
    fails(args);
}

// An error shows the word it is about, but never a newline or a terminal control sequence from it.
TEST(CommandLine, ErrorsWriteOutControlCharacters) {
  EXPECT_EQ(fails({"two\nlines"}), "unknown argument 'two\\nlines'");
  EXPECT_EQ(fails({"--\x1b[2Jclear"}), "unknown option '--\\x1b[2Jclear'");
  EXPECT_EQ(fails({}, "\x7f\x01"), "XSCREENSAVER_WINDOW is not a window id: '\\x7f\\x01'");
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
  EXPECT_EQ(ok({"-display=:7"}).display, ":7");
  EXPECT_EQ(ok({"configure", "--display", "host:1.0"}).display, "host:1.0");

  for (auto bad : {"0", "0x", "12a", "-5", "0x1ffffffff", " 12"}) EXPECT_FALSE(parseWindowId(bad)) << bad;
  fails({}, "not-a-window");

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

}  // namespace
