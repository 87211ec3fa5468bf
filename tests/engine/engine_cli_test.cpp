// The engine's command line and its tick schedule (on a fake clock).
#include <gmock/gmock.h>
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
  SCOPED_TRACE(::testing::PrintToString(args));
  EXPECT_FALSE(r.options);
  EXPECT_THAT(r.error, ::testing::AllOf(::testing::Not(::testing::IsEmpty()), ::testing::Not(::testing::HasSubstr("\n"))));
  return r.error;
}

TEST(CommandLine, EveryModeItsArgumentsAndWindowIds) {
  EXPECT_EQ(ok({"-window"}).mode, Mode::OwnWindow);
  EXPECT_TRUE(ok({"--fullscreen"}).fullscreen);
  EXPECT_TRUE(ok({"--preview"}).preview);
  EXPECT_EQ(ok({"--bundle=/c.saver", "--preview"}).bundlePath, "/c.saver");
  Options o = ok({"--bundle", "/b", "render-png", "/tmp/out.png", "--frames", "90"});
  EXPECT_EQ(o.mode, Mode::RenderPNG);
  EXPECT_EQ(o.bundlePath, "/b");
  EXPECT_EQ(o.pngPath, "/tmp/out.png");
  EXPECT_EQ(o.frames, 90);
  EXPECT_EQ(ok({"render-png", "x.png", "--frames", "-1"}).frames, -1);  // the entry treats it as one
  EXPECT_EQ(ok({"configure"}, "0x10").mode, Mode::Configure);        // commands work inside xscreensaver
  o = ok({"defaults", "write", "interval", "--7"});
  EXPECT_EQ(o.mode, Mode::Defaults);
  EXPECT_EQ(o.defaultsArgs, (std::vector<std::string>{"write", "interval", "--7"}));
  EXPECT_EQ(ok({"-h", "--bogus"}).mode, Mode::Help);
  o = ok({"--fullscreen", "-preview", "-h"});  // help stands alone: what came before it is dropped
  EXPECT_EQ(o.mode, Mode::Help);
  EXPECT_FALSE(o.fullscreen);
  EXPECT_FALSE(o.preview);
  EXPECT_EQ(ok({"--version"}).mode, Mode::Version);

  for (auto n : {"abc", "3x", "", "99999999999999999999"}) fails({"render-png", "a.png", "--frames", n});
  for (auto args : std::vector<std::vector<std::string>>{{"--fullscreen", "--preview"}, {"render-png"},
           {"render-png", "--frames", "3"}, {"render-png", "a.png", "--frames"}, {"--frames", "3"},
           {"configure", "--fullscreen"}, {"configure", "configure"}, {"--bundle"}, {"--bundle="}, {"-window-id"},
           {"-window-id", "zebra"}})
    fails(args);

  auto hack = [](const Options& x) { return x.mode == Mode::Hack ? x.windowId : ~0ul; };
  EXPECT_EQ(hack(ok({"--window-id", "44040199"})), 44040199ul);
  // Inside xscreensaver the environment names the window, whatever -root says; an explicit id wins over it.
  EXPECT_EQ(hack(ok({"--root"}, "0x1e00003")), 0x1e00003ul);
  EXPECT_EQ(hack(ok({"-window"}, "0x1e00003")), 0x1e00003ul);
  EXPECT_EQ(hack(ok({"-window-id", "0x20"}, "0x10")), 0x20ul);
  EXPECT_EQ(hack(ok({"-root"})), 0ul);
  EXPECT_TRUE(ok({"-root"}).hackRoot);

  for (auto bad : {"", "0", "0x", "12a", "0xZZ", "-5", "0x1ffffffff", "99999999999999999999", " 12"})
    EXPECT_FALSE(parseWindowId(bad)) << bad;
  fails({}, "not-a-window"), fails({"--fullscreen"}, "0x10");
}

// An error shows the word it is about, but never a newline or a terminal control sequence from it.
TEST(CommandLine, ErrorsShowControlCharactersOfTheirWordsWrittenOut) {
  EXPECT_EQ(fails({"two\nlines"}), "unknown argument 'two\\nlines'");
  EXPECT_EQ(fails({"--\x1b[2Jclear"}), "unknown option '--\\x1b[2Jclear'");
  EXPECT_EQ(fails({"--window-id", "0x1\t2"}), "not a window id: '0x1\\t2' (decimal or 0x-hex)");
  EXPECT_EQ(fails({}, "\x7f\x01"), "XSCREENSAVER_WINDOW is not a window id: '\\x7f\\x01'");
  EXPECT_EQ(fails({"--fps=\n"}), "-fps takes no value");
  EXPECT_EQ(fails({"--colour-\u00e4"}), "unknown option '--colour-\u00e4'") << "text that is not a control stays";
}

// What xscreensaver, its settings tool and the hack man pages pass.
TEST(CommandLine, TakesTheOptionsEveryXscreensaverHackShares) {
  auto hack = [](const Options& x) { return x.mode == Mode::Hack ? x.windowId : ~0ul; };
  // The settings tool's preview pane passes both; the window id wins, in either order and every spelling.
  for (auto args : std::vector<std::vector<std::string>>{{"--root", "--window-id", "0x400EE5"},
           {"-window-id", "0x400EE5", "-root"}, {"--window-id=0x400EE5"}, {"-window-id=4198117"},
           {"-window", "--window-id", "0x400ee5"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Options o = ok(args);
    EXPECT_EQ(hack(o), 0x400EE5ul);
    EXPECT_FALSE(o.hackRoot);
  }
  // Between -root and -window the last counts, as with xscreensaver's own hacks.
  EXPECT_EQ(ok({"-window", "-root"}).mode, Mode::Hack);
  EXPECT_EQ(ok({"-root", "--window"}).mode, Mode::OwnWindow);

  EXPECT_TRUE(ok({"--fps"}).fps);
  EXPECT_TRUE(ok({"-root", "-fps"}).fps);
  EXPECT_FALSE(ok({"-fps", "--no-fps"}).fps);
  EXPECT_TRUE(ok({"-no-fps", "--fps"}).fps);
  EXPECT_FALSE(ok({"--root"}).fps);

  for (auto args : std::vector<std::vector<std::string>>{
           {"--display", ":7"}, {"-display", ":7"}, {"--display=:7"}, {"-display=:7"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(ok(args).display, ":7");
  }
  EXPECT_EQ(ok({"configure", "--display", "host:1.0"}).display, "host:1.0");  // the options window too
  EXPECT_EQ(ok({}).display, "");

  // Accepted without effect, each in every form.
  for (auto args : std::vector<std::vector<std::string>>{{"--visual", "default"}, {"-visual", "TrueColor"},
           {"--visual=0x21"}, {"--install"}, {"-install"}, {"--mono"}, {"-mono"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(ok(args).mode, Mode::OwnWindow);
  }
  EXPECT_EQ(ok({"-root", "--visual", "default", "--install", "--fps"}).mode, Mode::Hack);

  // Values missing or where none belongs, and window options with a command: one line, no usage.
  for (auto args : std::vector<std::vector<std::string>>{{"--display"}, {"--display="}, {"--visual"},
           {"--window-id="}, {"--fps=yes"}, {"-root=1"}, {"--install=no"}, {"render-png", "a.png", "--fps"},
           {"configure", "-root"}, {"--fps", "configure"}, {"render-png", "a.png", "--display", ":1"},
           {"--display", ":1", "defaults", "read", "interval"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_FALSE(parseCommandLine(args, nullptr).showUsage);
    fails(args);
  }
  // Unknown options and stray words get the usage after the error.
  for (auto args : std::vector<std::vector<std::string>>{{"--colour"}, {"-geometry", "10x10"}, {"--"}, {"stray"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ParseResult r = parseCommandLine(args, nullptr);
    EXPECT_FALSE(r.options);
    EXPECT_TRUE(r.showUsage);
    EXPECT_NE(r.error.find(args[0]), std::string::npos) << r.error;
  }
}

TEST(CommandLine, UsageListsEveryOptionItTakes) {
  const std::string usage = usageText();
  for (auto option : {"--display", "--visual", "--window", "--root", "--window-id", "--install", "--fps", "--no-fps",
                      "--mono", "--fullscreen", "--preview", "--bundle", "--verbose", "--help", "--version",
                      "configure", "render-png", "defaults"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
  EXPECT_NE(usage.find("chosen by the EGL config"), std::string::npos);
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
